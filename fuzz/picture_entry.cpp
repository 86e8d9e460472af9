#include "fuzz_entries.h"
#include "image_loader.h"

#include <QBuffer>
#include <QByteArray>

void readPictureBytes(const uint8_t* data, size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    const Result<QImage> read = loadImage(buffer);
    if (!read.ok()) {
        // The command line prints the reason after the file's name: one line.
        const QString& reason = read.error();
        expect(!reason.trimmed().isEmpty(), "a failure without a reason");
        expect(!reason.contains(QLatin1Char('\n')) && !reason.contains(QLatin1Char('\r')),
               "a reason on more than one line");
        return;
    }
    const QImage& image = read.value();
    expect(!image.isNull(), "a null picture counted as read");
    expect(image.format() == QImage::Format_RGB32 ||
               image.format() == QImage::Format_ARGB32_Premultiplied,
           "a picture in a format the compositor does not take");
    expect(qint64(image.width()) * image.height() <= kMaxImagePixels,
           "a picture larger than the loader's limit");
    const qreal ratio = image.devicePixelRatio();
    expect(ratio == 1 || ratio == 2 || ratio == 3, "a device pixel ratio other than 1, 2 or 3");
}
