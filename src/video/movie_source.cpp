#include "movie_source.h"

#include <QFile>

namespace {

template <typename T> Result<T> failure(int code)
{
    return Result<T>::failure(libav::errorText(code));
}

double seconds(int64_t value, AVRational base)
{
    return double(value) * av_q2d(base);
}

} // namespace

Result<std::unique_ptr<MovieSource>> MovieSource::open(const QString& path)
{
    using Opened = std::unique_ptr<MovieSource>;
    std::unique_ptr<MovieSource> source(new MovieSource);
    AVFormatContext* input = nullptr;
    int code = avformat_open_input(&input, QFile::encodeName(path).constData(), nullptr, nullptr);
    if (code < 0)
        return failure<Opened>(code);
    source->m_input.reset(input);
    if ((code = avformat_find_stream_info(input, nullptr)) < 0)
        return failure<Opened>(code);

    for (unsigned i = 0; i < input->nb_streams; ++i) {
        AVStream* stream = input->streams[i];
        const AVMediaType type = stream->codecpar->codec_type;
        // Cover art comes as a one-picture video stream; it is not the movie.
        if (type == AVMEDIA_TYPE_VIDEO && !source->m_video &&
            !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            source->m_video = stream;
        else if (type == AVMEDIA_TYPE_AUDIO && !source->m_audio)
            source->m_audio = stream;
        else
            stream->discard = AVDISCARD_ALL;
    }
    if (!source->m_video)
        return Opened(std::move(source));
    if (auto opened = source->openVideoDecoder(); !opened.ok())
        return Result<Opened>::failure(opened.error());

    source->m_packet.reset(av_packet_alloc());
    source->m_frame.reset(av_frame_alloc());
    if (!source->m_packet || !source->m_frame)
        return failure<Opened>(AVERROR(ENOMEM));
    return Opened(std::move(source));
}

Result<void> MovieSource::openVideoDecoder()
{
    const AVCodec* codec = avcodec_find_decoder(m_video->codecpar->codec_id);
    if (!codec)
        return failure<void>(AVERROR_DECODER_NOT_FOUND);
    m_decoder.reset(avcodec_alloc_context3(codec));
    if (!m_decoder)
        return failure<void>(AVERROR(ENOMEM));
    int code = avcodec_parameters_to_context(m_decoder.get(), m_video->codecpar);
    if (code < 0)
        return failure<void>(code);
    m_decoder->pkt_timebase = m_video->time_base;
    m_decoder->thread_count = 0; // as many as the machine has
    if ((code = avcodec_open2(m_decoder.get(), codec, nullptr)) < 0)
        return failure<void>(code);
    if (m_video->codecpar->width <= 0 || m_video->codecpar->height <= 0)
        return failure<void>(AVERROR_INVALIDDATA);

    m_quarterTurns = libav::uprightQuarterTurns(m_video);
    m_origin = m_input->start_time != AV_NOPTS_VALUE ? m_input->start_time : 0;
    const AVRational base = m_video->time_base;
    if (m_video->duration > 0) {
        const int64_t start = m_video->start_time != AV_NOPTS_VALUE
                                  ? av_rescale_q(m_video->start_time, base, AV_TIME_BASE_Q)
                                  : m_origin;
        m_duration = seconds(start - m_origin, AV_TIME_BASE_Q) + seconds(m_video->duration, base);
    } else if (m_input->duration > 0) {
        m_duration = seconds(m_input->duration, AV_TIME_BASE_Q);
    }
    return {};
}

QSize MovieSource::size() const
{
    const QSize decoded(m_video->codecpar->width, m_video->codecpar->height);
    return m_quarterTurns % 2 ? decoded.transposed() : decoded;
}

MovieSource::Item MovieSource::pictureItem()
{
    const AVRational base = m_video->time_base;
    const int64_t stamp = m_frame->best_effort_timestamp;
    const double time = stamp != AV_NOPTS_VALUE
                            ? seconds(stamp, base) - seconds(m_origin, AV_TIME_BASE_Q)
                            : m_nextTime;
    const int64_t length = libav::frameDuration(m_frame.get());
    double end = time + (length > 0 ? seconds(length, base) : 1.0 / 30);
    if (length <= 0 && m_video->avg_frame_rate.num > 0)
        end = time + 1 / av_q2d(m_video->avg_frame_rate);
    m_nextTime = end;
    Item item;
    item.kind = Item::Kind::picture;
    item.picture = m_frame.get();
    item.time = time;
    item.end = end;
    return item;
}

Result<MovieSource::Item> MovieSource::next()
{
    av_packet_unref(m_packet.get());
    for (;;) {
        int code = avcodec_receive_frame(m_decoder.get(), m_frame.get());
        if (code == 0)
            return pictureItem();
        if (code == AVERROR_EOF)
            return Item{};
        if (code != AVERROR(EAGAIN))
            return failure<Item>(code);

        code = av_read_frame(m_input.get(), m_packet.get());
        if (code == AVERROR_EOF) {
            // Everything read: the decoder gives up the pictures it still holds.
            if ((code = avcodec_send_packet(m_decoder.get(), nullptr)) < 0)
                return failure<Item>(code);
            continue;
        }
        if (code < 0)
            return failure<Item>(code);
        if (m_audio && m_packet->stream_index == m_audio->index) {
            Item item;
            item.kind = Item::Kind::audio;
            item.packet = m_packet.get();
            return item;
        }
        if (m_packet->stream_index == m_video->index) {
            code = avcodec_send_packet(m_decoder.get(), m_packet.get());
            if (code < 0 && code != AVERROR(EAGAIN))
                return failure<Item>(code);
        }
        av_packet_unref(m_packet.get());
    }
}
