#pragma once

#include <QImage>
#include <QUrl>
#include <QWidget>

// Plays a movie file inside the editor: starts at once, stretches the
// picture to the widget's bounds (aspect ratio not kept), clips its own
// corners to `cornerRadius`, and shows floating play/pause, position and time
// controls while the pointer is over it. A movie that cannot be played shows
// a plain message instead of a picture.
class VideoPlayerView : public QWidget {
    Q_OBJECT

public:
    VideoPlayerView(const QUrl& url, double cornerRadius, QWidget* parent = nullptr);
    ~VideoPlayerView() override;

    QUrl url() const { return m_url; }
    double cornerRadius() const { return m_cornerRadius; }

    // The view made again with new values: a different movie replaces the
    // player and plays from its start; the same movie goes on playing.
    void setUrl(const QUrl& url);
    void setCornerRadius(double radius);

    // The last frame shown, null before the first.
    QImage currentFrame() const { return m_frame; }
    // Empty while all is well; otherwise what the preview says.
    QString errorText() const { return m_errorText; }

Q_SIGNALS:
    void frameShown();
    void playbackFailed(const QString& reason);

private:
    QUrl m_url;
    double m_cornerRadius;
    QImage m_frame;
    QString m_errorText;
};
