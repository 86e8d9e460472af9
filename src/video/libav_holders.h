#pragma once

// Owning holders for FFmpeg's objects, their error words, and the few places
// where FFmpeg's versions differ, so the pipeline itself reads the same on all.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/display.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <QString>
#include <cmath>
#include <memory>

namespace libav {

struct InputDeleter {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
// Closes the file (when one was opened) before freeing the context.
struct OutputDeleter {
    void operator()(AVFormatContext* context) const
    {
        if (context->pb && !(context->oformat->flags & AVFMT_NOFILE))
            avio_closep(&context->pb);
        avformat_free_context(context);
    }
};
struct CodecDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ScaleDeleter {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
struct ResampleDeleter {
    void operator()(SwrContext* context) const { swr_free(&context); }
};
struct GraphDeleter {
    void operator()(AVFilterGraph* graph) const { avfilter_graph_free(&graph); }
};
struct FifoDeleter {
    void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};

using InputPtr = std::unique_ptr<AVFormatContext, InputDeleter>;
using OutputPtr = std::unique_ptr<AVFormatContext, OutputDeleter>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using ScalePtr = std::unique_ptr<SwsContext, ScaleDeleter>;
using ResamplePtr = std::unique_ptr<SwrContext, ResampleDeleter>;
using FifoPtr = std::unique_ptr<AVAudioFifo, FifoDeleter>;
using GraphPtr = std::unique_ptr<AVFilterGraph, GraphDeleter>;

// FFmpeg's own words for an error code (av_err2str is a C compound literal).
inline QString errorText(int code)
{
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(code, buffer, sizeof buffer) < 0)
        return QStringLiteral("error %1").arg(code);
    return QString::fromUtf8(buffer);
}

// A frame with its own buffers, or null when memory ran out.
inline FramePtr allocateFrame(AVPixelFormat format, int width, int height)
{
    FramePtr frame(av_frame_alloc());
    if (!frame)
        return {};
    frame->format = format;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        return {};
    return frame;
}

// How long a decoded frame stays on screen, in its stream's time base.
inline int64_t frameDuration(const AVFrame* frame)
{
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(57, 30, 100)
    return frame->duration;
#else
    return frame->pkt_duration;
#endif
}

// Whether the decoder says the picture holds two fields.
inline bool interlaced(const AVFrame* frame)
{
#ifdef AV_FRAME_FLAG_INTERLACED
    return frame->flags & AV_FRAME_FLAG_INTERLACED;
#else
    return frame->interlaced_frame;
#endif
}

// Clockwise quarter turns that make the stream's picture upright: phones record
// sideways and say so in a display matrix instead of turning the pixels.
inline int uprightQuarterTurns(const AVStream* stream)
{
    const uint8_t* matrix = nullptr;
#if LIBAVFORMAT_VERSION_INT >= AV_VERSION_INT(60, 15, 100)
    const AVPacketSideData* data =
        av_packet_side_data_get(stream->codecpar->coded_side_data,
                                stream->codecpar->nb_coded_side_data, AV_PKT_DATA_DISPLAYMATRIX);
    if (data && data->size >= 9 * sizeof(int32_t))
        matrix = data->data;
#else
    size_t size = 0;
    matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (size < 9 * sizeof(int32_t))
        matrix = nullptr;
#endif
    if (!matrix)
        return 0;
    const double degrees = -av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
    if (std::isnan(degrees))
        return 0;
    const long turns = std::lround(degrees / 90.0) % 4;
    return int(turns < 0 ? turns + 4 : turns);
}

} // namespace libav
