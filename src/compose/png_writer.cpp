#include "png_writer.h"

#include "parallel_rows.h"
#include "pending_file.h"

#include <QFile>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>
#include <zlib.h>

namespace {

// Run-length deflate after a per-row filter choice: on screenshots (flat
// areas, text) and on photographs alike it comes within a few percent of
// zlib's default level, often below it, in a fraction of the time.
constexpr int kDeflateLevel = 1;
constexpr int kDeflateStrategy = Z_RLE;
constexpr size_t kFeedBytes = 256 * 1024;
// Well under the 8 MB per chunk that libpng accepts without complaint.
constexpr size_t kMaxChunkData = 1 << 20;
// Raw bytes per band deflated on its own: large enough that restarting the
// deflate stream costs nothing measurable, small enough to share among cores.
constexpr size_t kBandBytes = 4 << 20;

enum Filter : uchar { None = 0, Sub = 1, Up = 2, Average = 3, Paeth = 4 };

void appendBigEndian(QByteArray& out, quint32 value)
{
    const char bytes[4] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    out.append(bytes, 4);
}

void appendChunk(QByteArray& out, const char type[4], const uchar* data, size_t length)
{
    appendBigEndian(out, static_cast<quint32>(length));
    const qsizetype start = out.size();
    out.append(type, 4);
    if (length)
        out.append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(length));
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(out.constData() + start),
                            static_cast<uInt>(length + 4));
    appendBigEndian(out, static_cast<quint32>(crc));
}

// Straight (not premultiplied) 8-bit samples of one row.
void rowToSamples(const quint32* pixels, int width, bool withAlpha, uchar* out)
{
    if (!withAlpha) {
        for (int x = 0; x < width; ++x, out += 3) {
            const quint32 p = pixels[x];
            out[0] = uchar(p >> 16);
            out[1] = uchar(p >> 8);
            out[2] = uchar(p);
        }
        return;
    }
    for (int x = 0; x < width; ++x, out += 4) {
        const quint32 p = qUnpremultiply(pixels[x]);
        out[0] = uchar(p >> 16);
        out[1] = uchar(p >> 8);
        out[2] = uchar(p);
        out[3] = uchar(p >> 24);
    }
}

// Sum of the filtered bytes read as signed values: the usual estimate of how
// well a row will compress. Written so the compiler can vectorise it.
inline unsigned absoluteSum(const uchar* data, size_t n)
{
    unsigned sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += unsigned(std::abs(int(static_cast<signed char>(data[i]))));
    return sum;
}

// Filters one row with whichever of None, Sub, Up and Paeth leaves the
// smallest absolute sum, writing the filter byte and the filtered data.
class RowFilter {
public:
    RowFilter(size_t rowBytes, int bytesPerPixel)
        : m_rowBytes(rowBytes), m_bpp(size_t(bytesPerPixel)), m_zeros(rowBytes, 0)
    {
        for (auto& candidate : m_candidates)
            candidate.resize(rowBytes);
    }

    // `previous` is null for the image's first row.
    void filter(const uchar* row, const uchar* previous, uchar* out)
    {
        const uchar* up = previous ? previous : m_zeros.data();
        const size_t n = m_rowBytes;
        const size_t bpp = std::min(m_bpp, n);
        uchar* sub = m_candidates[0].data();
        uchar* upf = m_candidates[1].data();
        uchar* paeth = m_candidates[2].data();
        for (size_t i = 0; i < bpp; ++i) {
            sub[i] = row[i];
            upf[i] = uchar(row[i] - up[i]);
            paeth[i] = uchar(row[i] - up[i]); // with no left neighbour Paeth predicts from above
        }
        for (size_t i = bpp; i < n; ++i)
            sub[i] = uchar(row[i] - row[i - bpp]);
        for (size_t i = bpp; i < n; ++i)
            upf[i] = uchar(row[i] - up[i]);
        for (size_t i = bpp; i < n; ++i) {
            const int a = row[i - bpp], b = up[i], c = up[i - bpp];
            const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
            const int predicted = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
            paeth[i] = uchar(row[i] - predicted);
        }
        const uchar* best = row;
        uchar type = None;
        unsigned bestScore = absoluteSum(row, n);
        auto consider = [&](const uchar* data, uchar t) {
            const unsigned s = absoluteSum(data, n);
            if (s < bestScore) {
                bestScore = s;
                best = data;
                type = t;
            }
        };
        consider(upf, Up);
        consider(sub, Sub);
        consider(paeth, Paeth);
        out[0] = type;
        std::memcpy(out + 1, best, n);
    }

private:
    size_t m_rowBytes;
    size_t m_bpp;
    std::vector<uchar> m_zeros;
    std::array<std::vector<uchar>, 3> m_candidates;
};

// One band of rows deflated on its own: raw deflate data ending on a byte
// boundary (sync flush) so the next band's data can follow it directly, or
// with the final block for the last band.
struct DeflatedBand {
    std::vector<uchar> data;
    uLong adler = adler32(0, nullptr, 0);
    uLong rawLength = 0;
    bool ok = true;
};

class BandDeflater {
public:
    BandDeflater()
    {
        m_ok = deflateInit2(&m_stream, kDeflateLevel, Z_DEFLATED, -15, 9, kDeflateStrategy) == Z_OK;
    }
    ~BandDeflater()
    {
        if (m_ok)
            deflateEnd(&m_stream);
    }
    BandDeflater(const BandDeflater&) = delete;
    BandDeflater& operator=(const BandDeflater&) = delete;

    void feed(DeflatedBand& band, const uchar* data, size_t length, int flush)
    {
        if (!m_ok) {
            band.ok = false;
            return;
        }
        band.adler = adler32(band.adler, data, static_cast<uInt>(length));
        band.rawLength += length;
        m_stream.next_in = const_cast<Bytef*>(data);
        m_stream.avail_in = static_cast<uInt>(length);
        do {
            if (band.data.size() - m_written < 64 * 1024)
                band.data.resize(std::max<size_t>(band.data.size() * 2, 256 * 1024));
            m_stream.next_out = band.data.data() + m_written;
            m_stream.avail_out = static_cast<uInt>(band.data.size() - m_written);
            const int status = deflate(&m_stream, flush);
            m_written = band.data.size() - m_stream.avail_out;
            if (status == Z_STREAM_ERROR) {
                band.ok = false;
                return;
            }
            if (status == Z_STREAM_END)
                break;
        } while (m_stream.avail_out == 0 || m_stream.avail_in > 0);
        if (flush != Z_NO_FLUSH)
            band.data.resize(m_written);
    }

private:
    z_stream m_stream{};
    bool m_ok = false;
    size_t m_written = 0;
};

bool isOpaque(const QImage& image)
{
    if (!image.hasAlphaChannel())
        return true;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const quint32*>(image.constScanLine(y));
        quint32 all = 0xffffffffu;
        for (int x = 0; x < image.width(); ++x)
            all &= row[x];
        if ((all >> 24) != 0xff)
            return false;
    }
    return true;
}

// The picture as rows of PNG samples: straight RGB, or RGBA when any pixel
// is not opaque.
struct Samples {
    QImage image; // ARGB32_Premultiplied or RGB32
    bool withAlpha = false;
    int bytesPerPixel = 3;
    size_t rowBytes = 0;

    explicit Samples(const QImage& input)
        : image(input.format() == QImage::Format_ARGB32_Premultiplied ||
                        input.format() == QImage::Format_RGB32
                    ? input
                    : input.convertToFormat(QImage::Format_ARGB32_Premultiplied)),
          withAlpha(!isOpaque(image)), bytesPerPixel(withAlpha ? 4 : 3),
          rowBytes(size_t(image.width()) * size_t(bytesPerPixel))
    {
    }

    void row(int y, uchar* out) const
    {
        rowToSamples(reinterpret_cast<const quint32*>(image.constScanLine(y)), image.width(),
                     withAlpha, out);
    }
};

// Filters and deflates rows [first, last). Each row is filtered against the
// one above it, even across the band's start, as a decoder will unfilter it.
DeflatedBand deflateRows(const Samples& samples, int first, int last, bool isLast)
{
    DeflatedBand band;
    RowFilter filter(samples.rowBytes, samples.bytesPerPixel);
    BandDeflater deflater;
    std::vector<uchar> previous(samples.rowBytes), current(samples.rowBytes);
    std::vector<uchar> feed;
    feed.reserve(kFeedBytes + samples.rowBytes + 1);
    if (first > 0)
        samples.row(first - 1, previous.data());
    for (int y = first; y < last; ++y) {
        samples.row(y, current.data());
        const size_t at = feed.size();
        feed.resize(at + samples.rowBytes + 1);
        filter.filter(current.data(), y > 0 ? previous.data() : nullptr, feed.data() + at);
        std::swap(previous, current);
        const bool end = y + 1 == last;
        if (feed.size() >= kFeedBytes || end) {
            const int flush = !end ? Z_NO_FLUSH : isLast ? Z_FINISH : Z_SYNC_FLUSH;
            deflater.feed(band, feed.data(), feed.size(), flush);
            feed.clear();
        }
    }
    return band;
}

// The rows in bands of about kBandBytes, deflated side by side within the
// process's thread budget. The bands depend on the picture alone, never on
// the threads, so a picture always encodes to the same bytes.
std::vector<DeflatedBand> deflateBands(const Samples& samples)
{
    const int height = samples.image.height();
    const size_t bytes = size_t(height) * samples.rowBytes;
    const int count = int(std::clamp<size_t>(bytes / kBandBytes, 1, size_t(height)));
    std::vector<DeflatedBand> bands(static_cast<size_t>(count));
    const long long bytesPerBand = static_cast<long long>(bytes / size_t(count));
    parallelRows(count, bytesPerBand, [&](int first, int last) {
        for (int band = first; band < last; ++band)
            bands[size_t(band)] =
                deflateRows(samples, int(qint64(height) * band / count),
                            int(qint64(height) * (band + 1) / count), band == count - 1);
    });
    return bands;
}

// The zlib checksum of all the bands' raw data, or nothing if a band failed.
std::optional<uLong> combinedAdler(const std::vector<DeflatedBand>& bands)
{
    uLong adler = bands[0].adler;
    for (size_t i = 0; i < bands.size(); ++i) {
        if (!bands[i].ok)
            return std::nullopt;
        if (i > 0)
            adler = adler32_combine(adler, bands[i].adler, z_off_t(bands[i].rawLength));
    }
    return adler;
}

void putBigEndian(uchar* out, quint32 value)
{
    for (int b = 0; b < 4; ++b)
        out[b] = uchar(value >> (24 - 8 * b));
}

// IHDR, then sRGB and the density: 72 dpi times the device pixel ratio.
void appendHeader(QByteArray& out, const Samples& samples)
{
    out.append("\x89PNG\r\n\x1a\n", 8);
    uchar header[13];
    putBigEndian(header, quint32(samples.image.width()));
    putBigEndian(header + 4, quint32(samples.image.height()));
    header[8] = 8;                         // bits per sample
    header[9] = samples.withAlpha ? 6 : 2; // RGBA or RGB
    header[10] = header[11] = header[12] = 0;
    appendChunk(out, "IHDR", header, sizeof header);

    const uchar srgb[1] = {0}; // perceptual
    appendChunk(out, "sRGB", srgb, 1);

    const double ratio =
        samples.image.devicePixelRatio() > 0 ? samples.image.devicePixelRatio() : 1.0;
    const quint32 perMetre = quint32(std::lround(72.0 * ratio / 0.0254));
    uchar phys[9];
    putBigEndian(phys, perMetre);
    putBigEndian(phys + 4, perMetre);
    phys[8] = 1; // unit: metre
    appendChunk(out, "pHYs", phys, sizeof phys);
}

// The zlib stream in IDAT chunks: header, the bands' deflate data in order,
// checksum. Each band's data is let go once copied.
void appendImageData(QByteArray& out, std::vector<DeflatedBand>& bands, uLong adler)
{
    std::vector<uchar> stream;
    auto flushIdat = [&](bool force) {
        if (stream.size() >= kMaxChunkData || (force && !stream.empty())) {
            appendChunk(out, "IDAT", stream.data(), stream.size());
            stream.clear();
        }
    };
    stream = {0x78, 0x01};
    for (auto& band : bands) {
        for (size_t at = 0, n = 0; at < band.data.size(); at += n) {
            n = std::min(kMaxChunkData - stream.size(), band.data.size() - at);
            stream.insert(stream.end(), band.data.begin() + at, band.data.begin() + at + n);
            flushIdat(false);
        }
        std::vector<uchar>().swap(band.data);
    }
    uchar checksum[4];
    putBigEndian(checksum, quint32(adler));
    stream.insert(stream.end(), checksum, checksum + 4);
    flushIdat(true);
}

} // namespace

QByteArray encodePng(const QImage& input)
{
    if (input.isNull())
        return {};
    const Samples samples(input);
    std::vector<DeflatedBand> bands = deflateBands(samples);
    const std::optional<uLong> adler = combinedAdler(bands);
    if (!adler)
        return {};

    QByteArray out;
    size_t deflatedSize = 0;
    for (const auto& band : bands)
        deflatedSize += band.data.size();
    out.reserve(qsizetype(deflatedSize + 256));
    appendHeader(out, samples);
    appendImageData(out, bands, *adler);
    appendChunk(out, "IEND", nullptr, 0);
    return out;
}

Result<void> writePng(const QImage& image, const QString& path)
{
    if (image.isNull())
        return Result<void>::failure(QStringLiteral("there is no picture to write"));
    const QByteArray png = encodePng(image);
    if (png.isEmpty())
        return Result<void>::failure(QStringLiteral("the picture could not be encoded as PNG"));
    return replaceFileContents(QFile::encodeName(path), png);
}
