#include "upright_converter.h"

#include <utility>

UprightConverter::UprightConverter(QSize size, int quarterTurns, const ColourTags& tags)
    : m_size(size), m_quarterTurns(quarterTurns), m_tags(tags)
{
}

Result<const AVFrame*> UprightConverter::convert(const AVFrame& decoded)
{
    const QSize unturned = m_quarterTurns % 2 ? m_size.transposed() : m_size;
    const AVFrame* picture = &decoded;
    if (decoded.format != AV_PIX_FMT_YUV420P || decoded.width != unturned.width() ||
        decoded.height != unturned.height()) {
        auto scaled = scale(decoded, unturned);
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

Result<const AVFrame*> UprightConverter::scale(const AVFrame& decoded, QSize size)
{
    using Failure = Result<const AVFrame*>;
    // The cached context is rebuilt only when the decoded format or size changes.
    SwsContext* context = sws_getCachedContext(
        m_scale.release(), decoded.width, decoded.height, AVPixelFormat(decoded.format),
        size.width(), size.height(), AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
    m_scale.reset(context);
    if (!context)
        return Failure::failure(libav::errorText(AVERROR(EINVAL)));
    const AVColorSpace sourceSpace =
        decoded.colorspace == AVCOL_SPC_UNSPECIFIED || decoded.colorspace == AVCOL_SPC_RGB
            ? m_tags.space
            : decoded.colorspace;
    const AVColorRange sourceRange =
        decoded.color_range == AVCOL_RANGE_UNSPECIFIED ? m_tags.range : decoded.color_range;
    sws_setColorspaceDetails(context, sws_getCoefficients(sourceSpace),
                             sourceRange == AVCOL_RANGE_JPEG, sws_getCoefficients(m_tags.space),
                             m_tags.range == AVCOL_RANGE_JPEG, 0, 1 << 16, 1 << 16);
    if (!m_scaled) {
        m_scaled = libav::allocateFrame(AV_PIX_FMT_YUV420P, size.width(), size.height());
        if (!m_scaled)
            return Failure::failure(libav::errorText(AVERROR(ENOMEM)));
    }
    const int rows = sws_scale(context, decoded.data, decoded.linesize, 0, decoded.height,
                               m_scaled->data, m_scaled->linesize);
    if (rows < 0)
        return Failure::failure(libav::errorText(rows));
    return static_cast<const AVFrame*>(m_scaled.get());
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
