#include "deinterlacer.h"

#include "filter_source.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

namespace {

bool fieldsTagged(AVFieldOrder order)
{
    return order == AV_FIELD_TT || order == AV_FIELD_BB || order == AV_FIELD_TB ||
           order == AV_FIELD_BT;
}

template <typename T> Result<T> failure(int code)
{
    return Result<T>::failure(libav::errorText(code));
}

} // namespace

bool Deinterlacer::needed(const AVFrame& picture, AVFieldOrder fieldOrder)
{
    return libav::interlaced(&picture) || fieldsTagged(fieldOrder);
}

Result<std::unique_ptr<Deinterlacer>> Deinterlacer::open(const AVFrame& first, AVRational timeBase,
                                                         AVFieldOrder fieldOrder)
{
    using Opened = std::unique_ptr<Deinterlacer>;
    std::unique_ptr<Deinterlacer> deinterlacer(new Deinterlacer);
    deinterlacer->m_timeBase = timeBase;
    deinterlacer->m_width = first.width;
    deinterlacer->m_height = first.height;
    deinterlacer->m_format = first.format;
    deinterlacer->m_graph.reset(avfilter_graph_alloc());
    AVFilterGraph* graph = deinterlacer->m_graph.get();
    if (!graph)
        return failure<Opened>(AVERROR(ENOMEM));
    // Not the machine's every core: the decoder already has them.
    graph->nb_threads = 1;

    const QByteArray sourceArguments = bufferSourceArguments(first, timeBase);
    // Pictures that say they hold fields say in which order, and only those
    // are woven; a stream that only tags its fields gets every picture woven.
    const bool flagged = libav::interlaced(&first);
    const char* parity = flagged                                                  ? "auto"
                         : fieldOrder == AV_FIELD_BB || fieldOrder == AV_FIELD_TB ? "bff"
                                                                                  : "tff";
    const QByteArray weaveArguments = QStringLiteral("mode=send_frame:parity=%1:deint=%2")
                                          .arg(QLatin1String(parity))
                                          .arg(QLatin1String(flagged ? "interlaced" : "all"))
                                          .toLatin1();

    AVFilterContext* weave = nullptr;
    int code = avfilter_graph_create_filter(&deinterlacer->m_source, avfilter_get_by_name("buffer"),
                                            "in", sourceArguments.constData(), nullptr, graph);
    if (code >= 0)
        code = avfilter_graph_create_filter(&weave, avfilter_get_by_name("bwdif"), "weave",
                                            weaveArguments.constData(), nullptr, graph);
    if (code >= 0)
        code =
            avfilter_graph_create_filter(&deinterlacer->m_sink, avfilter_get_by_name("buffersink"),
                                         "out", nullptr, nullptr, graph);
    if (code >= 0)
        code = avfilter_link(deinterlacer->m_source, 0, weave, 0);
    if (code >= 0)
        code = avfilter_link(weave, 0, deinterlacer->m_sink, 0);
    if (code >= 0)
        code = avfilter_graph_config(graph, nullptr);
    if (code < 0)
        return failure<Opened>(code);
    return Opened(std::move(deinterlacer));
}

Result<void> Deinterlacer::send(libav::FramePtr picture)
{
    // The buffer source only warns about a change of shape, and bwdif then
    // reads past the new picture's planes.
    if (picture &&
        (picture->width != m_width || picture->height != m_height || picture->format != m_format))
        return Result<void>::failure(
            QStringLiteral("the interlaced pictures change size or pixel format partway through"));
    // The source takes the picture's buffers over; the emptied frame goes.
    const int code = av_buffersrc_add_frame(m_source, picture.get());
    if (code < 0)
        return failure<void>(code);
    return {};
}

Result<libav::FramePtr> Deinterlacer::receive()
{
    libav::FramePtr picture(av_frame_alloc());
    if (!picture)
        return failure<libav::FramePtr>(AVERROR(ENOMEM));
    const int code = av_buffersink_get_frame(m_sink, picture.get());
    if (code == AVERROR(EAGAIN) || code == AVERROR_EOF)
        return libav::FramePtr();
    if (code < 0)
        return failure<libav::FramePtr>(code);
    // bwdif counts in half steps, so that it could also give one picture per field.
    if (picture->pts != AV_NOPTS_VALUE)
        picture->pts = av_rescale_q(picture->pts, av_buffersink_get_time_base(m_sink), m_timeBase);
    return picture;
}
