#include "image_loader.h"

#include "byte_reader.h"
#include "heif_reader.h"
#include "picture_format.h"
#include "picture_structure.h"
#include "png_reader.h"

#include <QColorSpace>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QScopeGuard>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <system_error>
#include <tiffio.h>

namespace {

constexpr int kMaxImageSide = 16384;
static_assert(qint64(kMaxImageSide) * kMaxImageSide == kMaxImagePixels);

Result<QImage> failure(QString reason)
{
    return Result<QImage>::failure(std::move(reason));
}

bool isTooLarge(QSize size)
{
    return qint64(size.width()) * size.height() > kMaxImagePixels;
}

QString tooLargeReason(QSize size)
{
    return QStringLiteral("picture too large: %1 × %2 pixels (at most %3 × %3)")
        .arg(size.width())
        .arg(size.height())
        .arg(kMaxImageSide);
}

// QImageReader's allocation limit is one setting for the whole process, and
// Qt's default refuses pictures far smaller than the largest we take. It is
// raised once, to what that largest picture needs at 16 bits per channel;
// the header check keeps anything larger from reaching a decoder.
void raiseAllocationLimit()
{
    static const bool raised = [] {
        const int needed = int((kMaxImagePixels * 8) >> 20) + 1;
        const int current = QImageReader::allocationLimit();
        if (current != 0 && current < needed)
            QImageReader::setAllocationLimit(needed);
        return true;
    }();
    (void)raised;
}

// Walked before any reader sees the file: Qt's readers print their own
// complaints about a short file before failing, and libjpeg does not fail.
Result<void> checkStructure(QIODevice& file, PictureFormat format)
{
    ByteReader bytes(file);
    const PictureStructure structure = checkPictureStructure(format, bytes);
    if (bytes.failed())
        return Result<void>::failure(bytes.errorString());
    if (structure.claimedSize.isValid() && isTooLarge(structure.claimedSize))
        return Result<void>::failure(tooLargeReason(structure.claimedSize));
    switch (structure.verdict) {
    case PictureStructure::Verdict::complete:
        break;
    case PictureStructure::Verdict::cutShort:
        return Result<void>::failure(QStringLiteral("the file is cut short"));
    case PictureStructure::Verdict::damaged:
        return Result<void>::failure(QStringLiteral("the picture is damaged"));
    }
    if (!file.seek(0))
        return Result<void>::failure(file.errorString());
    return {};
}

// libtiff, inside Qt's TIFF reader, prints its errors and warnings on the
// terminal unless given handlers, which are process-wide. Qt decodes on the
// calling thread, so each thread keeps the first error of the load it runs.
thread_local QString* t_tiffError = nullptr;

void keepTiffError(const char*, const char* format, va_list arguments)
{
    if (!t_tiffError || !t_tiffError->isEmpty())
        return;
    char text[200];
    std::vsnprintf(text, sizeof text, format, arguments);
    *t_tiffError = QString::fromUtf8(text).simplified();
}

void quietenLibtiff()
{
    static const bool quiet = [] {
        TIFFSetErrorHandler(keepTiffError);
        TIFFSetWarningHandler(nullptr); // about damage it steps round
        return true;
    }();
    (void)quiet;
}

Result<QImage> readWithQt(QIODevice& file, PictureFormat format)
{
    quietenLibtiff();
    QString libraryError;
    t_tiffError = &libraryError;
    const auto stopKeeping = qScopeGuard([] { t_tiffError = nullptr; });

    const QByteArray name = qtFormatName(format);
    {
        // Qt's own view of the header, in case it differs from our walk:
        // a picture too large is refused before anything its size is
        // allocated.
        QImageReader header(&file, name);
        const QSize size = header.size();
        if (size.isValid() && isTooLarge(size))
            return failure(tooLargeReason(size));
    }
    raiseAllocationLimit();
    if (!file.seek(0))
        return failure(file.errorString());
    QImageReader reader(&file, name);
    reader.setAutoTransform(true); // EXIF orientation
    QImage image;
    if (reader.read(&image))
        return image;
    if (reader.error() == QImageReader::UnsupportedFormatError) // a plugin not installed
        return failure(QStringLiteral("not a picture Quorvel can read (no %1 reader installed)")
                           .arg(QString::fromLatin1(name)));
    if (!libraryError.isEmpty())
        return failure(QStringLiteral("the picture is damaged: %1").arg(libraryError));
    return failure(QStringLiteral("the picture is damaged"));
}

Result<QImage> readHeif(QIODevice& file)
{
    const QByteArray bytes = file.readAll();
    if (bytes.size() < file.size())
        return failure(file.errorString());
    HeifReader reader(bytes);
    const Result<QSize> size = reader.size();
    if (!size.ok())
        return failure(size.error());
    if (isTooLarge(size.value()))
        return failure(tooLargeReason(size.value()));
    return reader.read();
}

// Whether converting to sRGB changes anything. ImageMagick and other tools
// mark plain sRGB PNGs with gAMA 1/2.2 and sRGB's primaries rather than an
// sRGB chunk; converting those would only shift their shadows a little, at
// the cost of a pass over every pixel.
bool needsConversion(const QColorSpace& space)
{
    if (!space.isValid() || space == QColorSpace::SRgb)
        return false;
    return !(space.transferFunction() == QColorSpace::TransferFunction::Gamma &&
             std::abs(space.gamma() - 2.2f) < 0.05f &&
             space.withTransferFunction(QColorSpace::TransferFunction::SRgb) == QColorSpace::SRgb);
}

// Into sRGB and the compositor's two formats, in place wherever Qt can.
void toDisplayForm(QImage& image)
{
    const bool convertColours = needsConversion(image.colorSpace());
    const QImage::Format format = image.format();
    // Qt transforms colours in these formats in place and converts any other
    // to one of them and back; so those others are brought to the target
    // format first.
    const bool transformsInPlace = format == QImage::Format_RGB32 ||
                                   format == QImage::Format_ARGB32 ||
                                   format == QImage::Format_ARGB32_Premultiplied;
    if (convertColours && transformsInPlace)
        image.convertToColorSpace(QColorSpace::SRgb);
    image.convertTo(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                            : QImage::Format_RGB32);
    if (convertColours && !transformsInPlace)
        image.convertToColorSpace(QColorSpace::SRgb);
}

// 72 dpi is a point per pixel, so 144 and 216 dpi mark pictures made at 2×
// and 3×. Readers leave a file without density at QImage's default, which
// follows the screen's dpi; on a 144 dpi screen that must not read as 2×.
qreal ratioFromDensity(const QImage& image)
{
    const QImage unmarked(1, 1, QImage::Format_RGB32);
    if (image.dotsPerMeterX() == unmarked.dotsPerMeterX() &&
        image.dotsPerMeterY() == unmarked.dotsPerMeterY())
        return 1;
    const double dpiX = image.dotsPerMeterX() * 0.0254;
    const double dpiY = image.dotsPerMeterY() * 0.0254;
    for (const int ratio : {2, 3}) {
        if (std::abs(dpiX - 72.0 * ratio) <= 1 && std::abs(dpiY - 72.0 * ratio) <= 1)
            return ratio;
    }
    return 1;
}

} // namespace

Result<QImage> loadImageFile(const QString& path)
{
    if (QFileInfo(path).isDir())
        return failure(
            QString::fromStdString(std::make_error_code(std::errc::is_a_directory).message()));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return failure(file.errorString());
    return loadImage(file);
}

Result<QImage> loadImage(QIODevice& file)
{
    if (file.size() == 0)
        return failure(QStringLiteral("the file is empty"));

    const QByteArray head = file.peek(kPictureFormatHeadBytes);
    if (head.isEmpty())
        return failure(file.errorString());
    const PictureFormat format = pictureFormatOf(head);
    if (format == PictureFormat::unknown)
        return failure(QStringLiteral("not a picture Quorvel can read"));
    if (const Result<void> whole = checkStructure(file, format); !whole.ok())
        return failure(whole.error());
    Result<QImage> read = format == PictureFormat::heif  ? readHeif(file)
                          : format == PictureFormat::png ? readPng(file)
                                                         : readWithQt(file, format);
    if (!read.ok())
        return read;
    QImage image = std::move(read).value();
    toDisplayForm(image);
    if (image.isNull())
        return failure(QStringLiteral("not enough memory for the picture"));
    image.setDevicePixelRatio(ratioFromDensity(image));
    return image;
}
