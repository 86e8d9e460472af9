#include "movie_frame_reader.h"

#include "libav_holders.h"

#include <QFile>

namespace {

// How far past the shown picture decoding on is still cheaper than a seek.
constexpr qint64 kDecodeAhead = 3'000'000;
// Qt's times and ours are rounded differently; a picture due within this is
// due now.
constexpr qint64 kSlack = 1000;

} // namespace

struct MovieFrameReader::State {
    libav::InputPtr input;
    libav::CodecPtr decoder;
    libav::PacketPtr packet;
    libav::FramePtr shown;
    libav::FramePtr next;
    AVStream* stream = nullptr;
    bool hasShown = false;
    bool hasNext = false;
    bool draining = false;
    bool ended = false;
};

MovieFrameReader::MovieFrameReader() : m(std::make_unique<State>()) {}
MovieFrameReader::~MovieFrameReader() = default;

Result<std::unique_ptr<MovieFrameReader>> MovieFrameReader::open(const QString& path)
{
    using Opened = std::unique_ptr<MovieFrameReader>;
    const auto failure = [](int code) { return Result<Opened>::failure(libav::errorText(code)); };
    Opened reader(new MovieFrameReader);
    State& m = *reader->m;

    AVFormatContext* input = nullptr;
    int code = avformat_open_input(&input, QFile::encodeName(path).constData(), nullptr, nullptr);
    if (code < 0)
        return failure(code);
    m.input.reset(input);
    if ((code = avformat_find_stream_info(input, nullptr)) < 0)
        return failure(code);
    const AVCodec* codec = nullptr;
    code = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (code < 0)
        return failure(code);
    m.stream = input->streams[code];
    for (unsigned i = 0; i < input->nb_streams; ++i)
        if (input->streams[i] != m.stream)
            input->streams[i]->discard = AVDISCARD_ALL;

    m.decoder.reset(avcodec_alloc_context3(codec));
    m.packet.reset(av_packet_alloc());
    m.shown.reset(av_frame_alloc());
    m.next.reset(av_frame_alloc());
    if (!m.decoder || !m.packet || !m.shown || !m.next)
        return failure(AVERROR(ENOMEM));
    if ((code = avcodec_parameters_to_context(m.decoder.get(), m.stream->codecpar)) < 0)
        return failure(code);
    m.decoder->thread_count = 0; // as many as the machine has
    if ((code = avcodec_open2(m.decoder.get(), codec, nullptr)) < 0)
        return failure(code);
    return reader;
}

int MovieFrameReader::pixelFormat() const
{
    return m->decoder->pix_fmt;
}

qint64 MovieFrameReader::timeOf(const AVFrame& frame) const
{
    const int64_t stamp = frame.best_effort_timestamp;
    if (stamp == AV_NOPTS_VALUE)
        return 0;
    return av_rescale_q(stamp, m->stream->time_base, AV_TIME_BASE_Q);
}

Result<void> MovieFrameReader::seek(qint64 microseconds)
{
    const int64_t target = av_rescale_q(microseconds, AV_TIME_BASE_Q, m->stream->time_base);
    const int code = av_seek_frame(m->input.get(), m->stream->index, target, AVSEEK_FLAG_BACKWARD);
    if (code < 0)
        return Result<void>::failure(libav::errorText(code));
    avcodec_flush_buffers(m->decoder.get());
    av_frame_unref(m->shown.get());
    av_frame_unref(m->next.get());
    m->hasShown = m->hasNext = m->draining = m->ended = false;
    return {};
}

Result<bool> MovieFrameReader::decodeNext()
{
    State& s = *m;
    while (true) {
        int code = avcodec_receive_frame(s.decoder.get(), s.next.get());
        if (code >= 0)
            return true;
        if (code == AVERROR_EOF)
            return false;
        if (code != AVERROR(EAGAIN))
            return Result<bool>::failure(libav::errorText(code));

        code = av_read_frame(s.input.get(), s.packet.get());
        if (code == AVERROR_EOF || (code < 0 && s.input->pb && avio_feof(s.input->pb))) {
            if (s.draining)
                return false;
            s.draining = true;
            avcodec_send_packet(s.decoder.get(), nullptr);
            continue;
        }
        if (code < 0)
            return Result<bool>::failure(libav::errorText(code));
        if (s.packet->stream_index == s.stream->index)
            // A damaged packet is skipped, as players do.
            avcodec_send_packet(s.decoder.get(), s.packet.get());
        av_packet_unref(s.packet.get());
    }
}

Result<const AVFrame*> MovieFrameReader::pictureAt(qint64 microseconds)
{
    State& s = *m;
    const bool behind = s.hasShown && microseconds + kSlack < timeOf(*s.shown);
    const bool farAhead = s.hasShown && microseconds > timeOf(*s.shown) + kDecodeAhead;
    if (behind || farAhead) {
        if (auto sought = seek(microseconds); !sought.ok())
            return Result<const AVFrame*>::failure(sought.error());
    }

    while (!s.ended) {
        if (!s.hasNext) {
            const Result<bool> decoded = decodeNext();
            if (!decoded.ok())
                return Result<const AVFrame*>::failure(decoded.error());
            s.hasNext = decoded.value();
            s.ended = !s.hasNext;
            continue;
        }
        // The first picture stands in for anything before it.
        if (s.hasShown && timeOf(*s.next) > microseconds + kSlack)
            break;
        av_frame_unref(s.shown.get());
        av_frame_move_ref(s.shown.get(), s.next.get());
        s.hasShown = true;
        s.hasNext = false;
    }
    if (!s.hasShown)
        return Result<const AVFrame*>::failure(tr("The movie has no pictures."));
    return static_cast<const AVFrame*>(s.shown.get());
}
