#pragma once

#include <QImage>
#include <QMimeData>

// A picture on the clipboard. Programs that paste get a PNG from our own
// encoder, density included, so a capture at ratio 2 pastes with all its
// pixels; this process gets the QImage itself, device pixel ratio and all.
// The PNG is made on the first request (a paste, or a clipboard manager
// taking a copy), not on the copy, which then costs no more than the compose.
//
// The clipboard owns it; it holds its own share of the pixels, so nothing
// the editor frees (the window closing) takes them away.
class PictureMimeData : public QMimeData {
    Q_OBJECT

public:
    explicit PictureMimeData(const QImage& picture);

    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    const QImage m_picture;
    mutable QByteArray m_png;
};
