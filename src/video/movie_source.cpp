#include "movie_source.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// Decoder answers in a row that neither took a packet nor gave a picture,
// before the decoder counts as stuck rather than busy.
constexpr int stallLimit = 100;

template <typename T> Result<T> failure(int code)
{
    return Result<T>::failure(libav::errorText(code));
}

// Some decoders give a bare -1 for damaged data, which reads as EPERM
// ("Operation not permitted"); no decoder means that.
int decoderError(int code)
{
    return code == AVERROR(EPERM) ? AVERROR_INVALIDDATA : code;
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
    // The sound is decoded for the output unless it goes in as it is; a
    // codec FFmpeg does not know (a damaged tag, say) cannot go either way.
    if (source->m_audio && !avcodec_find_decoder(source->m_audio->codecpar->codec_id))
        return Result<Opened>::failure(
            QStringLiteral("the sound cannot be decoded: no decoder for its codec"));
    if (auto opened = source->openVideoDecoder(); !opened.ok())
        return Result<Opened>::failure(opened.error());

    source->m_frame.reset(av_frame_alloc());
    if (!source->m_frame)
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
    const AVCodecParameters& codec = *m_video->codecpar;
    QSize shown(codec.width, codec.height);
    // The stream's word first, then the codec's, as players read it.
    const AVRational aspect = av_guess_sample_aspect_ratio(m_input.get(), m_video, nullptr);
    if (aspect.num > 0 && aspect.den > 0 && aspect.num != aspect.den) {
        // Widened like ffmpeg's scale=iw*sar:ih, to an even width.
        const double width = std::clamp(codec.width * av_q2d(aspect), 2.0, 1e6);
        shown.setWidth(2 * int(std::lround(width / 2)));
    }
    return m_quarterTurns % 2 ? shown.transposed() : shown;
}

MovieSource::Item MovieSource::pictureItem(libav::FramePtr picture)
{
    const AVRational base = m_video->time_base;
    const int64_t stamp = picture->pts;
    const double time = stamp != AV_NOPTS_VALUE
                            ? seconds(stamp, base) - seconds(m_origin, AV_TIME_BASE_Q)
                            : m_nextTime;
    const int64_t length = libav::frameDuration(picture.get());
    double end = time + (length > 0 ? seconds(length, base) : 1.0 / 30);
    if (length <= 0 && m_video->avg_frame_rate.num > 0)
        end = time + 1 / av_q2d(m_video->avg_frame_rate);
    m_nextTime = end;
    ++m_pictures;
    Item item;
    item.kind = Item::Kind::picture;
    item.picture = std::move(picture);
    item.time = time;
    item.end = end;
    return item;
}

// A damaged packet costs its own pictures, not the movie: the decoder hides
// what it can and the rest plays on, as in players and the ffmpeg program.
Result<void> MovieSource::skip(int code)
{
    if (code == AVERROR(ENOMEM))
        return failure<void>(code);
    ++m_skipped;
    m_lastError = decoderError(code);
    return {};
}

// Interlaced pictures go through a deinterlacer from the first one on.
Result<void> MovieSource::prepareDeinterlacer(const AVFrame& picture)
{
    const AVFieldOrder order = m_video->codecpar->field_order;
    if (m_deinterlacer || !Deinterlacer::needed(picture, order))
        return {};
    auto opened = Deinterlacer::open(picture, m_video->time_base, order);
    if (!opened.ok())
        return Result<void>::failure(opened.error());
    m_deinterlacer = std::move(opened).value();
    return {};
}

Result<MovieSource::Item> MovieSource::ended() const
{
    // Nothing but damage: the decoder's words say why.
    if (m_pictures == 0 && m_skipped > 0)
        return failure<Item>(m_lastError);
    return Item{};
}

Result<MovieSource::Item> MovieSource::next()
{
    for (;;) {
        if (m_deinterlacer) {
            auto whole = m_deinterlacer->receive();
            if (!whole.ok())
                return Result<Item>::failure(whole.error());
            if (whole.value())
                return pictureItem(std::move(whole).value());
        }
        if (m_decoderDone)
            return ended();

        int code = avcodec_receive_frame(m_decoder.get(), m_frame.get());
        if (code == 0) {
            m_stalls = 0;
            libav::FramePtr picture = std::exchange(m_frame, libav::FramePtr(av_frame_alloc()));
            if (!m_frame)
                return failure<Item>(AVERROR(ENOMEM));
            picture->pts = picture->best_effort_timestamp;
            if (auto prepared = prepareDeinterlacer(*picture); !prepared.ok())
                return Result<Item>::failure(prepared.error());
            if (!m_deinterlacer)
                return pictureItem(std::move(picture));
            if (auto sent = m_deinterlacer->send(std::move(picture)); !sent.ok())
                return Result<Item>::failure(sent.error());
            continue;
        }
        if (code == AVERROR_EOF || (code == AVERROR(EAGAIN) && m_draining)) {
            m_decoderDone = true;
            if (m_deinterlacer)
                if (auto sent = m_deinterlacer->send(nullptr); !sent.ok())
                    return Result<Item>::failure(sent.error());
            continue;
        }
        if (code != AVERROR(EAGAIN)) {
            if (++m_stalls > stallLimit)
                return failure<Item>(decoderError(code));
            if (auto skipped = skip(code); !skipped.ok())
                return Result<Item>::failure(skipped.error());
            continue;
        }

        // The decoder wants data: the packet it refused before, else the next.
        if (!m_pending) {
            libav::PacketPtr packet(av_packet_alloc());
            if (!packet)
                return failure<Item>(AVERROR(ENOMEM));
            code = av_read_frame(m_input.get(), packet.get());
            if (code == AVERROR_EOF) {
                // Everything read: the decoder gives up the pictures it still holds.
                m_draining = true;
                // The decoder takes the end either way; an error here is
                // about a picture it was still decoding, so it is skipped
                // like any other.
                if ((code = avcodec_send_packet(m_decoder.get(), nullptr)) < 0)
                    if (auto skipped = skip(code); !skipped.ok())
                        return Result<Item>::failure(skipped.error());
                continue;
            }
            if (code < 0)
                return failure<Item>(code);
            if (m_audio && packet->stream_index == m_audio->index) {
                Item item;
                item.kind = Item::Kind::audio;
                item.packet = std::move(packet);
                return item;
            }
            if (packet->stream_index != m_video->index)
                continue;
            m_pending = std::move(packet);
        }
        code = avcodec_send_packet(m_decoder.get(), m_pending.get());
        if (code == AVERROR(EAGAIN)) {
            // Full: its pictures come out first, then the same packet again.
            if (++m_stalls > stallLimit)
                return failure<Item>(code);
            continue;
        }
        m_pending.reset();
        m_stalls = 0;
        if (code < 0)
            if (auto skipped = skip(code); !skipped.ok())
                return Result<Item>::failure(skipped.error());
    }
}
