#include "png_reader.h"

#include <QColorSpace>
#include <QPointF>
#include <QSysInfo>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <png.h>
#include <vector>

namespace {

// What the callbacks leave for the reader. Plain data only: libpng leaves
// through longjmp, which must not skip a destructor.
struct PngState {
    QIODevice* device = nullptr;
    bool cutShort = false;
    char message[160] = {};
};

void onError(png_structp png, png_const_charp message)
{
    auto* state = static_cast<PngState*>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", message ? message : "");
    png_longjmp(png, 1);
}

// Warnings are about damage libpng has stepped round; the picture still loads.
void onWarning(png_structp, png_const_charp) {}

void readFromDevice(png_structp png, png_bytep data, size_t length)
{
    auto* state = static_cast<PngState*>(png_get_io_ptr(png));
    if (state->device->read(reinterpret_cast<char*>(data), qint64(length)) != qint64(length)) {
        state->cutShort = true;
        png_error(png, "cut short");
    }
}

struct Header {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int depth = 0;
    bool alpha = false;
};

// The header, and the transforms that bring every kind of PNG to four
// channels of 8 or 16 bits. Nothing here may own memory: see PngState.
bool readHeader(png_structp png, png_infop info, Header& header)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_benign_errors(png, 1);
    // Files some encoders write with a wrong window size in their zlib header.
    png_set_option(png, PNG_MAXIMUM_INFLATE_WINDOW, PNG_OPTION_ON);
    png_read_info(png, info);
    const int type = png_get_color_type(png, info);
    header.alpha = (type & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
    // Palettes to RGB, grey under 8 bits to 8, a colour key (any depth) to alpha.
    png_set_expand(png);
    if (!(type & PNG_COLOR_MASK_COLOR))
        png_set_gray_to_rgb(png);
    header.depth = png_get_bit_depth(png, info) == 16 ? 16 : 8;
    if (header.depth == 16) {
        if (QSysInfo::ByteOrder == QSysInfo::LittleEndian)
            png_set_swap(png); // RGBA64 holds native 16-bit numbers
    } else if (QSysInfo::ByteOrder == QSysInfo::LittleEndian) {
        png_set_bgr(png); // B, G, R, A in memory is ARGB32 here
    }
    png_set_filler(png, 0xffff, PNG_FILLER_AFTER); // only where there is no alpha
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    header.width = png_get_image_width(png, info);
    header.height = png_get_image_height(png, info);
    return true;
}

bool readPixels(png_structp png, png_infop info, png_bytepp rows)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_image(png, rows);
    png_read_end(png, info);
    return true;
}

// As browsers do: a profile first, then the sRGB chunk, then gAMA with the
// primaries cHRM names (sRGB's without it).
QColorSpace colorSpaceOf(png_structp png, png_infop info)
{
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 length = 0;
    if (png_get_iCCP(png, info, &name, &compression, &profile, &length) && profile) {
        const QColorSpace space = QColorSpace::fromIccProfile(
            QByteArray(reinterpret_cast<const char*>(profile), qsizetype(length)));
        if (space.isValid())
            return space;
    }
    if (png_get_valid(png, info, PNG_INFO_sRGB))
        return QColorSpace::SRgb;
    double gamma = 0;
    if (!png_get_gAMA(png, info, &gamma) || !(gamma > 0))
        return {};
    double wx, wy, rx, ry, gx, gy, bx, by;
    if (png_get_cHRM(png, info, &wx, &wy, &rx, &ry, &gx, &gy, &bx, &by)) {
        const QColorSpace space(QPointF(wx, wy), QPointF(rx, ry), QPointF(gx, gy), QPointF(bx, by),
                                QColorSpace::TransferFunction::Gamma, float(1 / gamma));
        if (space.isValid())
            return space;
    }
    return QColorSpace(QColorSpace::Primaries::SRgb, QColorSpace::TransferFunction::Gamma,
                       float(1 / gamma));
}

void setDensity(png_structp png, png_infop info, QImage& image)
{
    png_uint_32 x = 0, y = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &x, &y, &unit) && unit == PNG_RESOLUTION_METER && x && y &&
        x <= INT_MAX && y <= INT_MAX) {
        image.setDotsPerMeterX(int(x));
        image.setDotsPerMeterY(int(y));
    }
}

Result<QImage> failure(const PngState& state)
{
    if (state.cutShort)
        return Result<QImage>::failure(QStringLiteral("the file is cut short"));
    if (!state.message[0])
        return Result<QImage>::failure(QStringLiteral("the picture is damaged"));
    return Result<QImage>::failure(QStringLiteral("the picture is damaged: %1")
                                       .arg(QString::fromUtf8(state.message).simplified()));
}

} // namespace

Result<QImage> readPng(QIODevice& device)
{
    PngState state;
    state.device = &device;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, onError, onWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    // Frees what libpng made, on every way out.
    struct Destroy {
        png_structp& png;
        png_infop& info;
        ~Destroy() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
    } destroy{png, info};
    if (!png || !info)
        return Result<QImage>::failure(QStringLiteral("not enough memory for the picture"));
    png_set_read_fn(png, &state, readFromDevice);

    Header header;
    if (!readHeader(png, info, header))
        return failure(state);
    const QImage::Format format =
        header.depth == 16 ? (header.alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64)
        : QSysInfo::ByteOrder == QSysInfo::LittleEndian
            ? (header.alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32)
            : (header.alpha ? QImage::Format_RGBA8888 : QImage::Format_RGBX8888);
    QImage image(int(header.width), int(header.height), format);
    if (image.isNull())
        return Result<QImage>::failure(QStringLiteral("not enough memory for the picture"));
    std::vector<png_bytep> rows(header.height);
    for (png_uint_32 y = 0; y < header.height; ++y)
        rows[y] = image.scanLine(int(y));
    if (!readPixels(png, info, rows.data()))
        return failure(state);
    image.setColorSpace(colorSpaceOf(png, info));
    setDensity(png, info, image);
    return image;
}
