#include "upright_converter.h"

#include <utility>

UprightConverter::UprightConverter(QSize size, int quarterTurns, const ColourTags& source)
    : m_size(size), m_quarterTurns(quarterTurns), m_source(source)
{
}

Result<const AVFrame*> UprightConverter::convert(const AVFrame& decoded)
{
    const QSize unturned = m_quarterTurns % 2 ? m_size.transposed() : m_size;
    const AVFrame* picture = &decoded;
    ColourTags tags = ColourTags::of(decoded, m_source);
    if (ColourConverter::needed(decoded.format, tags)) {
        auto converted = m_colourConverter.convert(decoded, tags);
        if (!converted.ok())
            return converted;
        picture = converted.value();
        tags = ColourTags();
    }
    // The ordinary screen recording, yuv420p BT.709 in limited range, costs no pass.
    const ColourTags output;
    if (picture->format != AV_PIX_FMT_YUV420P || picture->width != unturned.width() ||
        picture->height != unturned.height() || tags.space != output.space ||
        tags.range != output.range) {
        auto scaled = scale(*picture, tags, unturned);
        if (!scaled.ok())
            return scaled;
        picture = scaled.value();
    }
    if (m_quarterTurns == 0)
        return picture;
    if (!m_rotated) {
        m_rotated = libav::allocateFrame(AV_PIX_FMT_YUV420P, m_size.width(), m_size.height());
        if (!m_rotated)
            return Result<const AVFrame*>::failure(libav::errorText(AVERROR(ENOMEM)));
    }
    rotate(*picture, *m_rotated);
    return static_cast<const AVFrame*>(m_rotated.get());
}

Result<const AVFrame*> UprightConverter::scale(const AVFrame& decoded, const ColourTags& tags,
                                               QSize size)
{
    using Failure = Result<const AVFrame*>;
    const AVFrame* from = &decoded;
    if (decoded.format == AV_PIX_FMT_PAL8) {
        auto expanded = expandPalette(decoded);
        if (!expanded.ok())
            return expanded;
        from = expanded.value();
    }
    const auto format = AVPixelFormat(from->format);
    // The cached context is rebuilt only when the decoded format or size changes.
    SwsContext* context = sws_getCachedContext(m_scale.release(), from->width, from->height, format,
                                               size.width(), size.height(), AV_PIX_FMT_YUV420P,
                                               SWS_BICUBIC, nullptr, nullptr, nullptr);
    m_scale.reset(context);
    if (!context)
        return Failure::failure(QStringLiteral("cannot convert %1 pictures")
                                    .arg(QLatin1String(av_get_pix_fmt_name(format))));
    // The output's BT.709 matrix and limited range make the YUV numbers. RGB
    // is full range and needs no matrix to be read; YUV is read by its tags.
    const ColourTags output;
    const int* table = sws_getCoefficients(output.space);
    const int* sourceTable = table;
    bool sourceFull = true;
    if (!ColourTags::holdsRgb(format)) {
        sourceTable = sws_getCoefficients(tags.space);
        sourceFull = tags.range == AVCOL_RANGE_JPEG;
    }
    if (sws_setColorspaceDetails(context, sourceTable, sourceFull, table, 0, 0, 1 << 16, 1 << 16) <
        0)
        return Failure::failure(QStringLiteral("cannot convert the colours of %1 pictures")
                                    .arg(QLatin1String(av_get_pix_fmt_name(format))));
    if (!m_scaled) {
        m_scaled = libav::allocateFrame(AV_PIX_FMT_YUV420P, size.width(), size.height());
        if (!m_scaled)
            return Failure::failure(libav::errorText(AVERROR(ENOMEM)));
    }
    const int rows = sws_scale(context, from->data, from->linesize, 0, from->height, m_scaled->data,
                               m_scaled->linesize);
    if (rows < 0)
        return Failure::failure(libav::errorText(rows));
    return static_cast<const AVFrame*>(m_scaled.get());
}

// swscale reads palettes as BT.601 whatever it is told, so the picture is
// looked up into RGB first, which it converts by the output's matrix.
Result<const AVFrame*> UprightConverter::expandPalette(const AVFrame& decoded)
{
    if (!m_expanded || m_expanded->width != decoded.width || m_expanded->height != decoded.height) {
        // The palette's entries are native-endian 0xAARRGGBB words, which is RGB32.
        m_expanded = libav::allocateFrame(AV_PIX_FMT_RGB32, decoded.width, decoded.height);
        if (!m_expanded)
            return Result<const AVFrame*>::failure(libav::errorText(AVERROR(ENOMEM)));
    }
    const auto* palette = reinterpret_cast<const uint32_t*>(decoded.data[1]);
    for (int y = 0; y < decoded.height; ++y) {
        const uint8_t* index = decoded.data[0] + ptrdiff_t(y) * decoded.linesize[0];
        auto* row = reinterpret_cast<uint32_t*>(m_expanded->data[0] +
                                                ptrdiff_t(y) * m_expanded->linesize[0]);
        for (int x = 0; x < decoded.width; ++x)
            row[x] = palette[index[x]];
    }
    return static_cast<const AVFrame*>(m_expanded.get());
}

void UprightConverter::rotate(const AVFrame& from, AVFrame& to) const
{
    for (int plane = 0; plane < 3; ++plane) {
        const int shift = plane ? 1 : 0;
        const int width = (to.width + shift) >> shift;
        const int height = (to.height + shift) >> shift;
        const int fromWidth = (from.width + shift) >> shift;
        const int fromHeight = (from.height + shift) >> shift;
        const uint8_t* source = from.data[plane];
        const int stride = from.linesize[plane];
        for (int y = 0; y < height; ++y) {
            uint8_t* row = to.data[plane] + ptrdiff_t(y) * to.linesize[plane];
            for (int x = 0; x < width; ++x) {
                int sx = 0, sy = 0;
                switch (m_quarterTurns) {
                case 1: // clockwise: the left column becomes the top row
                    sx = y, sy = fromHeight - 1 - x;
                    break;
                case 2:
                    sx = fromWidth - 1 - x, sy = fromHeight - 1 - y;
                    break;
                default:
                    sx = fromWidth - 1 - y, sy = x;
                    break;
                }
                row[x] = source[ptrdiff_t(sy) * stride + sx];
            }
        }
    }
}
