#include "picture_format.h"

#include "heif_reader.h"

#include <QtEndian>
#include <algorithm>

namespace {

// True when `head` starts with `signature`, or is a start of it at least two
// bytes long (the whole file, cut short).
bool startsWith(QByteArrayView head, QByteArrayView signature)
{
    if (head.size() >= signature.size())
        return head.first(signature.size()) == signature;
    return head.size() >= 2 && signature.first(head.size()) == head;
}

bool isBmp(QByteArrayView head)
{
    if (!startsWith(head, "BM"))
        return false;
    if (head.size() < 18)
        return true;
    // "BM" alone is too common a start for text; the info header's size is
    // one of a handful of values in every BMP.
    const quint32 infoSize = qFromLittleEndian<quint32>(head.data() + 14);
    static constexpr quint32 kInfoSizes[] = {12, 16, 40, 52, 56, 64, 108, 124};
    return std::find(std::begin(kInfoSizes), std::end(kInfoSizes), infoSize) !=
           std::end(kInfoSizes);
}

} // namespace

PictureFormat pictureFormatOf(QByteArrayView head)
{
    if (startsWith(head, "\xff\xd8\xff"))
        return PictureFormat::jpeg;
    if (startsWith(head, "\x89PNG\r\n\x1a\n"))
        return PictureFormat::png;
    if (startsWith(head, "GIF87a") || startsWith(head, "GIF89a"))
        return PictureFormat::gif;
    if (startsWith(head, QByteArrayView("II*\0", 4)) ||
        startsWith(head, QByteArrayView("MM\0*", 4)) ||
        startsWith(head, QByteArrayView("II+\0", 4)) ||
        startsWith(head, QByteArrayView("MM\0+", 4)))
        return PictureFormat::tiff;
    if (isBmp(head))
        return PictureFormat::bmp;
    if (isHeifPicture(head.first(std::min<qsizetype>(head.size(), kPictureFormatHeadBytes))))
        return PictureFormat::heif;
    return PictureFormat::unknown;
}

QByteArray qtFormatName(PictureFormat format)
{
    switch (format) {
    case PictureFormat::jpeg:
        return QByteArrayLiteral("jpeg");
    case PictureFormat::png:
        return QByteArrayLiteral("png");
    case PictureFormat::gif:
        return QByteArrayLiteral("gif");
    case PictureFormat::bmp:
        return QByteArrayLiteral("bmp");
    case PictureFormat::tiff:
        return QByteArrayLiteral("tiff");
    case PictureFormat::heif:
    case PictureFormat::unknown:
        break;
    }
    return {};
}
