#include "colour_converter.h"

#include "filter_source.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

#include <QByteArray>
#include <QString>

namespace {

template <typename T> Result<T> failure(int code)
{
    return Result<T>::failure(libav::errorText(code));
}

// zscale takes the tags by their H.273 numbers, which FFmpeg's enumerations
// share. SDR curves (sRGB's, BT.601's, gamma 2.2) are all read as BT.709's, as
// players read them, so that only the gamut changes; HDR curves are the point.
int transferFor(const ColourTags& tags)
{
    return tags.highDynamicRange() ? tags.transfer : AVCOL_TRC_BT709;
}

// Likewise BT.601's primaries are read as BT.709's (see ColourTags::wideGamut).
// A matrix zimg has no path for reads as BT.709's rather than stopping the export.
int matrixFor(AVColorSpace space)
{
    switch (space) {
    case AVCOL_SPC_FCC:
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
    case AVCOL_SPC_SMPTE240M:
    case AVCOL_SPC_YCGCO:
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
        return space;
    default:
        return AVCOL_SPC_BT709;
    }
}

// The filters between the decoded picture and the output's colours.
QByteArray chainFor(const AVFrame& picture, const ColourTags& tags)
{
    const bool rgb = ColourTags::holdsRgb(picture.format);
    // zimg takes only whole chroma samples: a subsampled picture with an odd
    // side is first spread to 4:4:4 by swscale, which keeps its matrix and
    // range; and an odd-sided picture comes out in 4:4:4 for swscale to
    // subsample after.
    const AVPixFmtDescriptor* layout = av_pix_fmt_desc_get(AVPixelFormat(picture.format));
    const int across = layout ? 1 << layout->log2_chroma_w : 1;
    const int down = layout ? 1 << layout->log2_chroma_h : 1;
    const bool full = rgb || tags.range == AVCOL_RANGE_JPEG;
    const bool odd = picture.width % 2 || picture.height % 2;
    QString chain;
    if (picture.width % across || picture.height % down)
        chain = QStringLiteral("scale=in_range=%1:out_range=%1,format=yuv444p16le,")
                    .arg(QLatin1String(full ? "pc" : "tv"));
    chain += QStringLiteral("zscale=tin=%1:pin=%2:min=%3:rin=%4")
                 .arg(transferFor(tags))
                 .arg(tags.wideGamut() ? int(tags.primaries) : int(AVCOL_PRI_BT709))
                 .arg(rgb ? int(AVCOL_SPC_RGB) : matrixFor(tags.space))
                 .arg(QLatin1String(full ? "pc" : "tv"));
    if (tags.highDynamicRange())
        // Linear light with SDR white (100 cd/m²) at 1, the picture's peak
        // taken from its light-level metadata by the tonemap filter; in
        // BT.709's gamut before the curve, so that it sees the colours it writes.
        chain += QLatin1String(":t=linear:npl=100,format=gbrpf32le,zscale=p=709,"
                               "tonemap=tonemap=mobius:desat=0,zscale=");
    else
        chain += ':';
    // Ordered dither keeps the smooth gradients of a 10-bit source from
    // banding at 8 bits, at next to no cost.
    chain += QLatin1String("t=709:p=709:m=709:r=tv:d=ordered,format=") +
             QLatin1String(odd ? "yuv444p" : "yuv420p");
    return chain.toLatin1();
}

} // namespace

bool ColourConverter::needed(int format, const ColourTags& tags)
{
    return tags.highDynamicRange() || tags.wideGamut() ||
           (!ColourTags::holdsRgb(format) && tags.space != ColourTags().space);
}

Result<void> ColourConverter::build(const AVFrame& picture, const ColourTags& tags)
{
    m_graph.reset(avfilter_graph_alloc());
    m_source = m_sink = nullptr;
    m_width = 0;
    AVFilterGraph* graph = m_graph.get();
    if (!graph)
        return failure<void>(AVERROR(ENOMEM));
    // Every core: tone mapping a 1080p picture takes about 40 ms on one, and
    // it runs on the composing thread, which the encoder waits for; zscale
    // and tonemap work in slices.
    graph->nb_threads = 0;

    const QByteArray sourceArguments = bufferSourceArguments(picture, {1, AV_TIME_BASE});
    int code = avfilter_graph_create_filter(&m_source, avfilter_get_by_name("buffer"), "in",
                                            sourceArguments.constData(), nullptr, graph);
    if (code >= 0)
        code = avfilter_graph_create_filter(&m_sink, avfilter_get_by_name("buffersink"), "out",
                                            nullptr, nullptr, graph);
    if (code < 0)
        return failure<void>(code);

    AVFilterInOut* outputs = avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter_inout_alloc();
    if (outputs && inputs) {
        outputs->name = av_strdup("in");
        outputs->filter_ctx = m_source;
        inputs->name = av_strdup("out");
        inputs->filter_ctx = m_sink;
        const QByteArray chain = chainFor(picture, tags);
        code = avfilter_graph_parse_ptr(graph, chain.constData(), &inputs, &outputs, nullptr);
    } else {
        code = AVERROR(ENOMEM);
    }
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    if (code >= 0)
        code = avfilter_graph_config(graph, nullptr);
    if (code < 0) {
        m_graph.reset();
        return Result<void>::failure(
            QStringLiteral("cannot convert the colours of %1 pictures: %2")
                .arg(QLatin1String(av_get_pix_fmt_name(AVPixelFormat(picture.format))),
                     libav::errorText(code)));
    }
    m_width = picture.width;
    m_height = picture.height;
    m_format = picture.format;
    m_tags = tags;
    return {};
}

Result<const AVFrame*> ColourConverter::convert(const AVFrame& picture, const ColourTags& tags)
{
    using Converted = Result<const AVFrame*>;
    if (!m_graph || picture.width != m_width || picture.height != m_height ||
        picture.format != m_format || tags.primaries != m_tags.primaries ||
        tags.transfer != m_tags.transfer || tags.space != m_tags.space ||
        tags.range != m_tags.range) {
        if (auto built = build(picture, tags); !built.ok())
            return Converted::failure(built.error());
    }
    if (!m_input)
        m_input.reset(av_frame_alloc());
    if (!m_converted)
        m_converted.reset(av_frame_alloc());
    if (!m_input || !m_converted)
        return failure<const AVFrame*>(AVERROR(ENOMEM));
    // The source takes a reference of its own; the decoder's picture stays as it is.
    int code = av_frame_ref(m_input.get(), &picture);
    if (code >= 0)
        code = av_buffersrc_add_frame(m_source, m_input.get());
    av_frame_unref(m_input.get());
    if (code < 0)
        return failure<const AVFrame*>(code);
    av_frame_unref(m_converted.get());
    code = av_buffersink_get_frame(m_sink, m_converted.get());
    if (code < 0)
        return failure<const AVFrame*>(code);
    return static_cast<const AVFrame*>(m_converted.get());
}
