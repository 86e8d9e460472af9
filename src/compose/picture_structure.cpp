#include "picture_structure.h"

#include "tiff_structure.h"

#include <QtEndian>
#include <cstring>
#include <optional>
#include <utility>

namespace {

using Verdict = PictureStructure::Verdict;

std::optional<quint16> readBigEndian16(ByteReader& reader)
{
    uchar bytes[2];
    if (!reader.read(bytes, 2))
        return std::nullopt;
    return qFromBigEndian<quint16>(bytes);
}

// The next marker code: past any 0xff fill bytes, or -1 at the end.
int markerCode(ByteReader& reader)
{
    int code = 0;
    do {
        code = reader.next();
    } while (code == 0xff);
    return code;
}

bool isStartOfFrame(int marker)
{
    return marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
}

// SOI, then segments with lengths; each SOS (several in a progressive file)
// is followed by entropy-coded data that ends at the first marker which is
// neither a stuffed 0xff00 nor a restart marker. Done at EOI.
Verdict checkJpeg(ByteReader& reader, QSize& size)
{
    uchar soi[2];
    if (!reader.read(soi, 2))
        return Verdict::cutShort;
    if (soi[0] != 0xff || soi[1] != 0xd8)
        return Verdict::damaged;
    int pending = -1; // a marker the entropy-data scan has already read
    for (;;) {
        int marker = std::exchange(pending, -1);
        if (marker < 0) {
            // libjpeg skips stray bytes between segments, and so do we.
            if (!reader.skipPast(0xff) || (marker = markerCode(reader)) < 0)
                return Verdict::cutShort;
        }
        if (marker == 0xd9)
            return Verdict::complete;
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7))
            continue;
        if (marker == 0xd8)
            return Verdict::damaged;
        const auto length = readBigEndian16(reader);
        if (!length)
            return Verdict::cutShort;
        if (*length < 2)
            return Verdict::damaged;
        qint64 rest = *length - 2;
        if (isStartOfFrame(marker) && rest >= 5 && !size.isValid()) {
            uchar frame[5]; // precision, height, width
            if (!reader.read(frame, sizeof frame))
                return Verdict::cutShort;
            size = QSize(qFromBigEndian<quint16>(frame + 3), qFromBigEndian<quint16>(frame + 1));
            rest -= 5;
        }
        if (!reader.skip(rest))
            return Verdict::cutShort;
        if (marker != 0xda)
            continue;
        while (pending < 0) {
            if (!reader.skipPast(0xff))
                return Verdict::cutShort;
            const int code = markerCode(reader);
            if (code < 0)
                return Verdict::cutShort;
            if (code != 0x00 && !(code >= 0xd0 && code <= 0xd7))
                pending = code;
        }
    }
}

// The signature, then chunks (length, type, data, CRC) from IHDR to IEND.
Verdict checkPng(ByteReader& reader, QSize& size)
{
    uchar start[8 + 8 + 8]; // signature, IHDR's length and type, width and height
    if (!reader.read(start, sizeof start))
        return Verdict::cutShort;
    if (std::memcmp(start + 12, "IHDR", 4) != 0 || qFromBigEndian<quint32>(start + 8) < 8)
        return Verdict::damaged;
    size = QSize(int(qMin<quint32>(qFromBigEndian<quint32>(start + 16), INT_MAX)),
                 int(qMin<quint32>(qFromBigEndian<quint32>(start + 20), INT_MAX)));
    if (!reader.skip(qFromBigEndian<quint32>(start + 8) - 8 + 4))
        return Verdict::cutShort;
    for (;;) {
        uchar header[8];
        if (!reader.read(header, 8))
            return Verdict::cutShort;
        const quint32 length = qFromBigEndian<quint32>(header);
        if (length > 0x7fffffffu)
            return Verdict::damaged;
        if (!reader.skip(qint64(length) + 4))
            return Verdict::cutShort;
        if (std::memcmp(header + 4, "IEND", 4) == 0)
            return Verdict::complete;
    }
}

bool skipColorTable(ByteReader& reader, uchar flags)
{
    return !(flags & 0x80) || reader.skip(3 << ((flags & 7) + 1));
}

// Data sub-blocks: a length byte, that many bytes, until a zero length.
bool skipSubBlocks(ByteReader& reader)
{
    for (;;) {
        const int length = reader.next();
        if (length <= 0)
            return length == 0;
        if (!reader.skip(length))
            return false;
    }
}

// Header, screen descriptor and colour table, then extensions and images,
// each ending with its sub-blocks, up to the trailer.
Verdict checkGif(ByteReader& reader, QSize& size)
{
    uchar header[13];
    if (!reader.read(header, sizeof header))
        return Verdict::cutShort;
    size = QSize(qFromLittleEndian<quint16>(header + 6), qFromLittleEndian<quint16>(header + 8));
    if (!skipColorTable(reader, header[10]))
        return Verdict::cutShort;
    bool sawImage = false;
    for (;;) {
        const int block = reader.next();
        if (block < 0)
            return Verdict::cutShort;
        if (block == 0x21) {
            if (reader.next() < 0 || !skipSubBlocks(reader))
                return Verdict::cutShort;
        } else if (block == 0x2c) {
            uchar descriptor[9];
            if (!reader.read(descriptor, sizeof descriptor) ||
                !skipColorTable(reader, descriptor[8]) || reader.next() < 0 ||
                !skipSubBlocks(reader))
                return Verdict::cutShort;
            sawImage = true;
        } else {
            // The trailer, or bytes after the last frame that no reader uses.
            return sawImage ? Verdict::complete : Verdict::damaged;
        }
    }
}

// Run-length pixel data: pairs, escapes for end of line, delta and literal
// runs (padded to two bytes), up to the end-of-bitmap escape.
Verdict checkBmpRunLengths(ByteReader& reader, bool fourBit)
{
    for (;;) {
        uchar pair[2];
        if (!reader.read(pair, 2))
            return Verdict::cutShort;
        if (pair[0] != 0 || pair[1] == 0)
            continue;
        if (pair[1] == 1)
            return Verdict::complete;
        const qint64 literal = fourBit ? (pair[1] + 1) / 2 : pair[1];
        if (!reader.skip(pair[1] == 2 ? 2 : literal + (literal & 1)))
            return Verdict::cutShort;
    }
}

// The headers say where the pixels start and how many rows of what stride
// follow; run-length files are walked to their end.
Verdict checkBmp(ByteReader& reader, QSize& size)
{
    uchar header[14 + 20] = {};
    if (!reader.read(header, 18))
        return Verdict::cutShort;
    const quint32 dataOffset = qFromLittleEndian<quint32>(header + 10);
    const quint32 infoSize = qFromLittleEndian<quint32>(header + 14);
    if (infoSize < 12)
        return Verdict::damaged;
    if (!reader.read(header + 18, std::min<quint32>(infoSize, 20) - 4))
        return Verdict::cutShort;
    const uchar* info = header + 14;
    qint64 width = 0, height = 0;
    int bitsPerPixel = 0;
    quint32 compression = 0;
    if (infoSize == 12) {
        width = qFromLittleEndian<quint16>(info + 4);
        height = qFromLittleEndian<quint16>(info + 6);
        bitsPerPixel = qFromLittleEndian<quint16>(info + 10);
    } else {
        width = qFromLittleEndian<qint32>(info + 4);
        height = qAbs(qint64(qFromLittleEndian<qint32>(info + 8)));
        bitsPerPixel = qFromLittleEndian<quint16>(info + 14);
        if (infoSize >= 20)
            compression = qFromLittleEndian<quint32>(info + 16);
    }
    if (width <= 0 || height <= 0 || height > INT_MAX || bitsPerPixel <= 0)
        return Verdict::damaged;
    size = QSize(int(width), int(height));
    const qint64 start = dataOffset ? dataOffset : 14 + qint64(infoSize);
    switch (compression) {
    case 0: // uncompressed
    case 3: // bit fields
    case 6: // bit fields with alpha
    {
        const qint64 stride = (width * bitsPerPixel + 31) / 32 * 4;
        if (start > reader.size() || (reader.size() - start) / stride < height)
            return Verdict::cutShort;
        return Verdict::complete;
    }
    case 1:
    case 2:
        if (!reader.seek(start))
            return Verdict::cutShort;
        return checkBmpRunLengths(reader, compression == 2);
    default: // kinds Qt's reader judges for itself
        return Verdict::complete;
    }
}

// Top-level boxes up to the end of 'meta', which says where every item's
// data lies; libheif checks those extents against the file itself.
Verdict checkHeif(ByteReader& reader)
{
    for (;;) {
        uchar header[16];
        if (!reader.read(header, 8))
            return Verdict::cutShort;
        quint64 size = qFromBigEndian<quint32>(header);
        qint64 headerSize = 8;
        if (size == 1) {
            if (!reader.read(header + 8, 8))
                return Verdict::cutShort;
            size = qFromBigEndian<quint64>(header + 8);
            headerSize = 16;
        }
        if (size == 0) // the box runs to the end of the file
            size = quint64(reader.size() - reader.position() + headerSize);
        if (size < quint64(headerSize))
            return Verdict::damaged;
        if (size - headerSize > quint64(reader.size() - reader.position()))
            return Verdict::cutShort;
        if (!reader.skip(qint64(size) - headerSize))
            return Verdict::cutShort;
        if (std::memcmp(header + 4, "meta", 4) == 0)
            return Verdict::complete;
    }
}

} // namespace

PictureStructure checkPictureStructure(PictureFormat format, ByteReader& reader)
{
    PictureStructure result;
    switch (format) {
    case PictureFormat::jpeg:
        result.verdict = checkJpeg(reader, result.claimedSize);
        break;
    case PictureFormat::png:
        result.verdict = checkPng(reader, result.claimedSize);
        break;
    case PictureFormat::gif:
        result.verdict = checkGif(reader, result.claimedSize);
        break;
    case PictureFormat::bmp:
        result.verdict = checkBmp(reader, result.claimedSize);
        break;
    case PictureFormat::tiff:
        result.verdict = checkTiffStructure(reader, result.claimedSize);
        break;
    case PictureFormat::heif:
        result.verdict = checkHeif(reader);
        break;
    case PictureFormat::unknown:
        break;
    }
    return result;
}
