#include "colour_tags.h"
#include "deinterlacer.h"
#include "fuzz_entries.h"
#include "libav_holders.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <utility>

// MovieSource opens files by name, so this reads the bytes through a custom
// AVIOContext and makes the calls MovieSource makes, in its order: the same
// demuxers, decoders, colour tags, turns and deinterlacer see the bytes.

namespace {

// Work one input may cost: enough for a few seconds of a small movie, so a
// damaged length cannot turn one input into minutes.
constexpr int kMaxSteps = 4000;
// Pictures larger than this only cost time and memory: decoders check sizes
// before they allocate, and that check is what a huge size exercises.
constexpr int64_t kMaxPixels = 4096 * 4096;

struct Bytes {
    const uint8_t* data;
    int64_t size;
    int64_t at = 0;
};

int readBytes(void* opaque, uint8_t* into, int wanted)
{
    Bytes& bytes = *static_cast<Bytes*>(opaque);
    const int64_t left = bytes.size - bytes.at;
    if (left <= 0)
        return AVERROR_EOF;
    const int count = int(std::min<int64_t>(wanted, left));
    std::memcpy(into, bytes.data + bytes.at, size_t(count));
    bytes.at += count;
    return count;
}

int64_t seekBytes(void* opaque, int64_t offset, int whence)
{
    Bytes& bytes = *static_cast<Bytes*>(opaque);
    int64_t to = 0;
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return bytes.size;
    case SEEK_SET:
        to = offset;
        break;
    case SEEK_CUR:
        to = bytes.at + offset;
        break;
    case SEEK_END:
        to = bytes.size + offset;
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (to < 0 || to > bytes.size)
        return AVERROR(EINVAL);
    bytes.at = to;
    return to;
}

// Playlists and references name other files or URLs; a fuzz run opens none.
int refuseOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**)
{
    return AVERROR(EPERM);
}

struct IoDeleter {
    void operator()(AVIOContext* io) const
    {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
};

// What MovieSource::size() and the movie's length come to, worked out as it
// does: a damaged header must not make them undefined.
void checkShape(AVFormatContext* input, AVStream* video)
{
    const AVCodecParameters& codec = *video->codecpar;
    const AVRational aspect = av_guess_sample_aspect_ratio(input, video, nullptr);
    if (aspect.num > 0 && aspect.den > 0 && aspect.num != aspect.den) {
        const double width = std::clamp(codec.width * av_q2d(aspect), 2.0, 1e6);
        expect(2 * std::lround(width / 2) >= 2, "a widened picture without width");
    }
    const int turns = libav::uprightQuarterTurns(video);
    expect(turns >= 0 && turns < 4, "a turn that is not a quarter turn");
    const ColourTags tags = ColourTags::of(codec);
    expect(av_color_primaries_name(tags.primaries) && av_color_transfer_name(tags.transfer) &&
               av_color_space_name(tags.space) && av_color_range_name(tags.range),
           "a colour tag FFmpeg has no name for");
}

class Decoding {
public:
    Decoding(AVFormatContext* input, AVStream* video, AVCodecContext* decoder)
        : m_input(input), m_video(video), m_decoder(decoder), m_frame(av_frame_alloc())
    {
    }

    // MovieSource::next() until the end, the step budget or a failure.
    void run()
    {
        for (int step = 0; step < kMaxSteps && m_frame; ++step) {
            if (m_deinterlacer) {
                auto whole = m_deinterlacer->receive();
                if (!whole.ok())
                    return;
                if (whole.value()) {
                    checkPicture(*whole.value());
                    continue;
                }
            }
            if (m_decoderDone)
                return;
            if (!decodeStep())
                return;
        }
    }

private:
    void checkPicture(const AVFrame& picture)
    {
        expect(picture.width > 0 && picture.height > 0 && picture.data[0],
               "a decoded picture without pixels");
    }

    bool takePicture()
    {
        libav::FramePtr picture = std::exchange(m_frame, libav::FramePtr(av_frame_alloc()));
        picture->pts = picture->best_effort_timestamp;
        const AVFieldOrder order = m_video->codecpar->field_order;
        if (!m_deinterlacer && Deinterlacer::needed(*picture, order)) {
            auto opened = Deinterlacer::open(*picture, m_video->time_base, order);
            if (!opened.ok())
                return false;
            m_deinterlacer = std::move(opened).value();
        }
        if (!m_deinterlacer) {
            checkPicture(*picture);
            return true;
        }
        return m_deinterlacer->send(std::move(picture)).ok();
    }

    // One round of the decoder's send/receive, as MovieSource::next() takes it.
    bool decodeStep()
    {
        int code = avcodec_receive_frame(m_decoder, m_frame.get());
        if (code == 0)
            return takePicture();
        if (code == AVERROR_EOF || (code == AVERROR(EAGAIN) && m_draining)) {
            m_decoderDone = true;
            return !m_deinterlacer || m_deinterlacer->send(nullptr).ok();
        }
        if (code != AVERROR(EAGAIN))
            return code != AVERROR(ENOMEM);
        if (!m_pending) {
            libav::PacketPtr packet(av_packet_alloc());
            code = av_read_frame(m_input, packet.get());
            if (code == AVERROR_EOF) {
                m_draining = true;
                avcodec_send_packet(m_decoder, nullptr);
                return true;
            }
            if (code < 0)
                return false;
            if (packet->stream_index != m_video->index)
                return true;
            m_pending = std::move(packet);
        }
        code = avcodec_send_packet(m_decoder, m_pending.get());
        if (code != AVERROR(EAGAIN))
            m_pending.reset();
        return code != AVERROR(ENOMEM);
    }

    AVFormatContext* m_input;
    AVStream* m_video;
    AVCodecContext* m_decoder;
    libav::FramePtr m_frame;
    libav::PacketPtr m_pending;
    std::unique_ptr<Deinterlacer> m_deinterlacer;
    bool m_draining = false;
    bool m_decoderDone = false;
};

} // namespace

void readMovieBytes(const uint8_t* data, size_t size)
{
    Bytes bytes{data, int64_t(size)};
    constexpr int kBufferSize = 4096;
    auto* buffer = static_cast<uint8_t*>(av_malloc(kBufferSize));
    if (!buffer)
        return;
    std::unique_ptr<AVIOContext, IoDeleter> io(
        avio_alloc_context(buffer, kBufferSize, 0, &bytes, readBytes, nullptr, seekBytes));
    if (!io) {
        av_free(buffer);
        return;
    }

    AVFormatContext* opened = avformat_alloc_context();
    if (!opened)
        return;
    opened->pb = io.get();
    opened->io_open = refuseOpen;
    if (avformat_open_input(&opened, nullptr, nullptr, nullptr) < 0)
        return; // frees the context
    const libav::InputPtr input(opened);
    if (avformat_find_stream_info(input.get(), nullptr) < 0)
        return;

    AVStream* video = nullptr;
    AVStream* audio = nullptr;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        AVStream* stream = input->streams[i];
        const AVMediaType type = stream->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_VIDEO && !video &&
            !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            video = stream;
        else if (type == AVMEDIA_TYPE_AUDIO && !audio)
            audio = stream;
        else
            stream->discard = AVDISCARD_ALL;
    }
    if (!video || (audio && !avcodec_find_decoder(audio->codecpar->codec_id)))
        return;

    const AVCodec* codec = avcodec_find_decoder(video->codecpar->codec_id);
    if (!codec)
        return;
    const libav::CodecPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), video->codecpar) < 0)
        return;
    decoder->pkt_timebase = video->time_base;
    // One thread: the same input must take the same path every time.
    decoder->thread_count = 1;
    decoder->max_pixels = kMaxPixels;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0)
        return;
    if (video->codecpar->width <= 0 || video->codecpar->height <= 0)
        return;
    checkShape(input.get(), video);
    Decoding(input.get(), video, decoder.get()).run();
}
