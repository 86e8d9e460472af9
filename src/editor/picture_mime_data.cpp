#include "picture_mime_data.h"

#include "png_writer.h"

namespace {

const QString kPng = QStringLiteral("image/png");
// What QMimeData::hasImage() and imageData() ask for.
const QString kQtImage = QStringLiteral("application/x-qt-image");

} // namespace

PictureMimeData::PictureMimeData(const QImage& picture) : m_picture(picture) {}

QStringList PictureMimeData::formats() const
{
    // PNG first: it is what a program pasting should take.
    return {kPng, kQtImage};
}

bool PictureMimeData::hasFormat(const QString& mimeType) const
{
    return mimeType == kPng || mimeType == kQtImage;
}

QVariant PictureMimeData::retrieveData(const QString& mimeType, QMetaType type) const
{
    if (mimeType == kQtImage)
        return m_picture;
    if (mimeType != kPng)
        return QMimeData::retrieveData(mimeType, type);
    if (m_png.isEmpty())
        m_png = encodePng(m_picture);
    return m_png;
}
