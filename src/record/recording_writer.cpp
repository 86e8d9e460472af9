#include "recording_writer.h"

#include "colour_tags.h"
#include "movie_writer.h"
#include "pending_file.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/time.h>
}

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Real time on two cores at 1080p30 beside the capture: about 14 ms of one
// core a moving 1080p picture, conversion included (superfast: 20 ms, for a
// file a third smaller; the recording is an intermediate the export encodes
// again). zerolatency holds no picture back, so what the screen showed a
// second ago is already in the file, and a still screen leaves nothing waiting.
const char* const preset = "ultrafast";
const char* const quality = "20";
// A key frame at least every two seconds of moving content, for seeking.
constexpr int keyInterval = 60;
// Matroska counts in milliseconds: pictures closer than that would share a time.
constexpr int64_t minimumGap = 1000;
// How far the sound may stray from where its time puts it before it is cut or
// padded with silence: well inside a frame.
constexpr int64_t soundSlack = RecordingWriter::soundRate / 50;
// Sound that comes before the first picture is kept this long, to be cut to it.
constexpr size_t earlyLimit = RecordingWriter::soundRate * 2;
constexpr int ioBufferSize = 1 << 16;

// swscale's path for BGR0 and RGB0 into YUV keeps BT.601's matrix whatever it
// is told; the same bytes read as BGRA and RGBA take the one it is told, and
// the fourth byte is not looked at either way.
AVPixelFormat withAlpha(AVPixelFormat format)
{
    switch (format) {
    case AV_PIX_FMT_BGR0:
        return AV_PIX_FMT_BGRA;
    case AV_PIX_FMT_RGB0:
        return AV_PIX_FMT_RGBA;
    default:
        return format;
    }
}

} // namespace

Result<std::unique_ptr<RecordingWriter>> RecordingWriter::create(const QString& path, bool sound)
{
    using Created = std::unique_ptr<RecordingWriter>;
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        const int error = errno;
        return Result<Created>::failure(
            error == EEXIST
                ? QStringLiteral("%1 is there already, left from an earlier recording").arg(path)
                : QStringLiteral("cannot write %1: %2").arg(path, systemErrorText(error)));
    }
    Created writer(new RecordingWriter);
    writer->m_fd = fd;
    writer->m_wantSound = sound;
    return Created(std::move(writer));
}

RecordingWriter::~RecordingWriter()
{
    // Our own I/O context: FFmpeg's holder would close it as one of its files.
    if (m_output && m_output->pb) {
        av_freep(&m_output->pb->buffer);
        avio_context_free(&m_output->pb);
    }
    m_output.reset();
    sws_freeContext(m_scale);
    if (m_fd >= 0)
        ::close(m_fd);
}

#if LIBAVFORMAT_VERSION_MAJOR >= 61
#define QUORVEL_IO_CONST const
#else
#define QUORVEL_IO_CONST
#endif

int RecordingWriter::writePacket(void* opaque, uint8_t* buffer, int size)
{
    auto* writer = static_cast<RecordingWriter*>(opaque);
    int done = 0;
    while (done < size) {
        const ssize_t written = ::write(writer->m_fd, buffer + done, size_t(size - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0) {
            if (errno == ENOSPC || errno == EDQUOT)
                writer->m_diskFull = true;
            return AVERROR(errno);
        }
        done += int(written);
    }
    return done;
}

int64_t RecordingWriter::seek(void* opaque, int64_t offset, int whence)
{
    auto* writer = static_cast<RecordingWriter*>(opaque);
    if (whence == AVSEEK_SIZE) {
        struct stat status {};
        return fstat(writer->m_fd, &status) < 0 ? AVERROR(errno) : int64_t(status.st_size);
    }
    const off_t at = lseek(writer->m_fd, offset, whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : int64_t(at);
}

Result<void> RecordingWriter::failure(int code)
{
    if (m_diskFull || code == AVERROR(ENOSPC) || code == AVERROR(EDQUOT)) {
        m_diskFull = true;
        return Result<void>::failure(QStringLiteral("the disk is full"));
    }
    return Result<void>::failure(
        QStringLiteral("cannot write the recording: %1").arg(libav::errorText(code)));
}

Result<void> RecordingWriter::open(const ScreenFrame& first)
{
    // Odd sides lose their last row or column; a side of one pixel is doubled.
    m_size = QSize(std::max(2, first.size.width() & ~1), std::max(2, first.size.height() & ~1));
    if (auto fits = MovieWriter::checkFrameSize(QSizeF(m_size)); !fits.ok())
        return fits;
    AVFormatContext* output = nullptr;
    int code = avformat_alloc_output_context2(&output, nullptr, "matroska", nullptr);
    if (code < 0)
        return failure(code);
    m_output.reset(output);
    auto* buffer = static_cast<uint8_t*>(av_malloc(ioBufferSize));
    if (buffer)
        output->pb = avio_alloc_context(buffer, ioBufferSize, 1, this, nullptr,
                                        reinterpret_cast<int (*)(void*, QUORVEL_IO_CONST uint8_t*, int)>(
                                            &RecordingWriter::writePacket),
                                        &RecordingWriter::seek);
    if (!output->pb) {
        av_free(buffer);
        return failure(AVERROR(ENOMEM));
    }
    output->flags |= AVFMT_FLAG_CUSTOM_IO;
    // Sound waits for pictures at most this long in the muxer's queue.
    output->max_interleave_delta = AV_TIME_BASE;
    m_packet.reset(av_packet_alloc());
    if (!m_packet)
        return failure(AVERROR(ENOMEM));
    m_origin = first.time;

    if (auto opened = openVideo(m_size); !opened.ok())
        return opened;
    if (m_wantSound) {
        if (auto opened = openSound(); !opened.ok())
            return opened;
    }
    AVDictionary* options = nullptr;
    // A cluster a second at most, so what a flush writes is whole clusters.
    code = av_dict_set(&options, "cluster_time_limit", "1000", 0);
    if (code >= 0)
        code = avformat_write_header(output, &options);
    av_dict_free(&options);
    if (code < 0)
        return failure(code);
    m_headerWritten = true;
    return {};
}

Result<void> RecordingWriter::openVideo(QSize size)
{
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec)
        return failure(AVERROR_ENCODER_NOT_FOUND);
    m_video.reset(avcodec_alloc_context3(codec));
    m_picture = libav::allocateFrame(AV_PIX_FMT_YUV420P, size.width(), size.height());
    if (!m_video || !m_picture)
        return failure(AVERROR(ENOMEM));
    AVCodecContext& encoder = *m_video;
    encoder.width = size.width();
    encoder.height = size.height();
    encoder.pix_fmt = AV_PIX_FMT_YUV420P;
    encoder.time_base = {1, 1000000};
    encoder.framerate = {MovieWriter::framesPerSecond, 1};
    encoder.sample_aspect_ratio = {1, 1};
    encoder.gop_size = keyInterval;
    const ColourTags tags;
    encoder.color_primaries = m_picture->color_primaries = tags.primaries;
    encoder.color_trc = m_picture->color_trc = tags.transfer;
    encoder.colorspace = m_picture->colorspace = tags.space;
    encoder.color_range = m_picture->color_range = tags.range;
    encoder.thread_count = 0;
    encoder.flags |= AV_CODEC_FLAG_GLOBAL_HEADER; // Matroska keeps SPS and PPS in its header
    AVDictionary* options = nullptr;
    int code = av_dict_set(&options, "preset", preset, 0);
    if (code >= 0)
        code = av_dict_set(&options, "tune", "zerolatency", 0);
    if (code >= 0)
        code = av_dict_set(&options, "crf", quality, 0);
    if (code >= 0)
        code = avcodec_open2(&encoder, codec, &options);
    av_dict_free(&options);
    if (code < 0)
        return failure(code);
    return addStream(encoder, {1, 1000}, m_videoStream);
}

Result<void> RecordingWriter::addStream(const AVCodecContext& encoder, AVRational timeBase,
                                        AVStream*& stream)
{
    stream = avformat_new_stream(m_output.get(), nullptr);
    if (!stream)
        return failure(AVERROR(ENOMEM));
    if (const int code = avcodec_parameters_from_context(stream->codecpar, &encoder); code < 0)
        return failure(code);
    stream->time_base = timeBase;
    return {};
}

Result<void> RecordingWriter::openSound()
{
    const AVCodec* codec = avcodec_find_encoder_by_name("aac");
    if (!codec)
        return failure(AVERROR_ENCODER_NOT_FOUND);
    m_sound.reset(avcodec_alloc_context3(codec));
    m_soundFrame.reset(av_frame_alloc());
    if (!m_sound || !m_soundFrame)
        return failure(AVERROR(ENOMEM));
    AVCodecContext& encoder = *m_sound;
    encoder.sample_fmt = AV_SAMPLE_FMT_FLTP;
    encoder.sample_rate = soundRate;
    av_channel_layout_default(&encoder.ch_layout, 2);
    encoder.bit_rate = 160000;
    encoder.time_base = {1, soundRate};
    encoder.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int code = avcodec_open2(&encoder, codec, nullptr);
    if (code < 0)
        return failure(code);
    if (auto added = addStream(encoder, encoder.time_base, m_soundStream); !added.ok())
        return added;
    m_fifo.reset(av_audio_fifo_alloc(encoder.sample_fmt, 2, soundRate));
    if (!m_fifo)
        return failure(AVERROR(ENOMEM));
    m_soundFrame->format = encoder.sample_fmt;
    m_soundFrame->nb_samples = encoder.frame_size;
    m_soundFrame->sample_rate = soundRate;
    if ((code = av_channel_layout_copy(&m_soundFrame->ch_layout, &encoder.ch_layout)) < 0 ||
        (code = av_frame_get_buffer(m_soundFrame.get(), 0)) < 0)
        return failure(code);
    return {};
}

void RecordingWriter::placePictures(QSize source)
{
    // A picture of another size than the first (a window resized) is scaled
    // to fit, centred on black, rather than stretched.
    m_placed = QRect(QPoint(), m_size);
    if (source == m_size)
        return;
    const double scale = std::min(double(m_size.width()) / source.width(),
                                  double(m_size.height()) / source.height());
    const int width = std::clamp(int(std::lround(source.width() * scale / 2)) * 2, 2, m_size.width());
    const int height =
        std::clamp(int(std::lround(source.height() * scale / 2)) * 2, 2, m_size.height());
    m_placed = QRect(((m_size.width() - width) / 4) * 2, ((m_size.height() - height) / 4) * 2,
                     width, height);
    // Limited-range black.
    for (int plane = 0; plane < 3; ++plane) {
        const int rows = plane ? m_size.height() / 2 : m_size.height();
        for (int y = 0; y < rows; ++y)
            std::memset(m_picture->data[plane] + y * m_picture->linesize[plane], plane ? 128 : 16,
                        size_t(plane ? m_size.width() / 2 : m_size.width()));
    }
}

Result<void> RecordingWriter::writePicture(const ScreenFrame& picture)
{
    const bool first = !m_output;
    if (first) {
        if (auto opened = open(picture); !opened.ok())
            return opened;
    }
    if (!started())
        return failure(AVERROR(EINVAL));
    // Even sides, as for the first picture.
    const QSize source(picture.size.width() >= 2 ? picture.size.width() & ~1 : 1,
                       picture.size.height() >= 2 ? picture.size.height() & ~1 : 1);
    int code = av_frame_make_writable(m_picture.get());
    if (code < 0)
        return failure(code);
    if (source != m_placedFor || picture.format != m_scaledFormat) {
        sws_freeContext(m_scale);
        m_scale = nullptr;
        placePictures(source);
        m_scale = sws_getContext(source.width(), source.height(), withAlpha(picture.format),
                                 m_placed.width(), m_placed.height(), AV_PIX_FMT_YUV420P,
                                 SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!m_scale)
            return failure(AVERROR(EINVAL));
        // Screen RGB (full range) into BT.709's YUV, limited range, as tagged.
        sws_setColorspaceDetails(m_scale, sws_getCoefficients(SWS_CS_ITU709), 1,
                                 sws_getCoefficients(SWS_CS_ITU709), 0, 0, 1 << 16, 1 << 16);
        m_placedFor = source;
        m_scaledFormat = picture.format;
    }
    const uint8_t* planes[4] = {picture.pixels, nullptr, nullptr, nullptr};
    const int strides[4] = {picture.stride, 0, 0, 0};
    uint8_t* into[4] = {};
    for (int plane = 0; plane < 3; ++plane) {
        const int shift = plane ? 1 : 0;
        into[plane] = m_picture->data[plane] +
                      (m_placed.y() >> shift) * m_picture->linesize[plane] + (m_placed.x() >> shift);
    }
    sws_scale(m_scale, planes, strides, 0, source.height(), into, m_picture->linesize);
    if (auto encoded = encodePicture(picture.time); !encoded.ok())
        return encoded;
    if (first) {
        // Sound that came before the picture, cut to where the picture starts.
        std::deque<Early> early;
        early.swap(m_early);
        m_earlyFrames = 0;
        for (const Early& chunk : early) {
            auto written =
                writeSound(chunk.samples.data(), int(chunk.samples.size() / 2), chunk.time);
            if (!written.ok())
                return written;
        }
    }
    return {};
}

Result<void> RecordingWriter::repeatPicture(int64_t time)
{
    if (!started())
        return {};
    return encodePicture(time);
}

Result<void> RecordingWriter::encodePicture(int64_t time)
{
    int64_t pts = time - m_origin;
    if (m_lastPts >= 0 && pts < m_lastPts + minimumGap)
        pts = m_lastPts + minimumGap;
    m_picture->pts = m_lastPts = pts;
    m_lastTime = time;
    const int code = avcodec_send_frame(m_video.get(), m_picture.get());
    if (code < 0)
        return failure(code);
    return drain(*m_video, *m_videoStream);
}

Result<void> RecordingWriter::drain(AVCodecContext& encoder, AVStream& stream)
{
    for (;;) {
        int code = avcodec_receive_packet(&encoder, m_packet.get());
        if (code == AVERROR(EAGAIN) || code == AVERROR_EOF)
            break;
        if (code < 0)
            return failure(code);
        m_packet->stream_index = stream.index;
        av_packet_rescale_ts(m_packet.get(), encoder.time_base, stream.time_base);
        if ((code = av_interleaved_write_frame(m_output.get(), m_packet.get())) < 0)
            return failure(code);
    }
    if (m_output->pb->error < 0)
        return failure(m_output->pb->error);
    return {};
}

Result<void> RecordingWriter::writeSound(const int16_t* samples, int frames, int64_t time)
{
    if (!m_wantSound || frames <= 0)
        return {};
    if (!started()) {
        m_early.push_back({std::vector<int16_t>(samples, samples + 2 * size_t(frames)), time});
        m_earlyFrames += size_t(frames);
        while (m_earlyFrames > earlyLimit) {
            m_earlyFrames -= m_early.front().samples.size() / 2;
            m_early.pop_front();
        }
        return {};
    }
    const int64_t at = av_rescale(time - m_origin, soundRate, AV_TIME_BASE);
    // A time more than a second ahead of the clock is the source's mistake:
    // the sound goes on where the track is rather than after hours of silence.
    const int64_t now = av_rescale(av_gettime_relative() - m_origin, soundRate, AV_TIME_BASE);
    const int64_t drift = at > now + soundRate ? 0 : at - m_soundNext;
    // The first sound is put exactly where its time says; later ones may stray
    // a little, so the track is not cut and padded at every report's jitter.
    const int64_t slack = m_soundNext == 0 ? 0 : soundSlack;
    if (drift > slack) {
        if (auto padded = writeSilence(drift); !padded.ok())
            return padded;
    } else if (drift < -slack) {
        const int64_t cut = std::min<int64_t>(-drift, frames);
        samples += 2 * cut;
        frames -= int(cut);
    }
    return writeSamples(samples, frames);
}

Result<void> RecordingWriter::padSound(int64_t time)
{
    if (!m_wantSound || !started())
        return {};
    return writeSilence(av_rescale(time - m_origin, soundRate, AV_TIME_BASE) - m_soundNext);
}

Result<void> RecordingWriter::writeSilence(int64_t frames)
{
    static const std::vector<int16_t> silence(2 * 1024, 0);
    while (frames > 0) {
        const int now = int(std::min<int64_t>(frames, 1024));
        if (auto written = writeSamples(silence.data(), now); !written.ok())
            return written;
        frames -= now;
    }
    return {};
}

Result<void> RecordingWriter::writeSamples(const int16_t* samples, int frames)
{
    if (frames <= 0)
        return {};
    std::vector<float> left(static_cast<size_t>(frames)), right(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        left[size_t(i)] = samples[2 * i] / 32768.0f;
        right[size_t(i)] = samples[2 * i + 1] / 32768.0f;
    }
    void* planes[2] = {left.data(), right.data()};
    const int code = av_audio_fifo_write(m_fifo.get(), planes, frames);
    if (code < 0)
        return failure(code);
    m_soundNext += frames;
    return encodeSound(false);
}

Result<void> RecordingWriter::encodeSound(bool all)
{
    const int size = m_sound->frame_size;
    while (av_audio_fifo_size(m_fifo.get()) >= size || (all && av_audio_fifo_size(m_fifo.get()))) {
        int code = av_frame_make_writable(m_soundFrame.get());
        if (code < 0)
            return failure(code);
        const int samples = std::min(size, av_audio_fifo_size(m_fifo.get()));
        m_soundFrame->nb_samples = samples;
        code = av_audio_fifo_read(m_fifo.get(), reinterpret_cast<void**>(m_soundFrame->data),
                                  samples);
        if (code < 0)
            return failure(code);
        m_soundFrame->pts = m_soundEncoded;
        m_soundEncoded += samples;
        if ((code = avcodec_send_frame(m_sound.get(), m_soundFrame.get())) < 0)
            return failure(code);
        if (auto drained = drain(*m_sound, *m_soundStream); !drained.ok())
            return drained;
    }
    return {};
}

Result<void> RecordingWriter::flush()
{
    if (!started())
        return {};
    // The muxer's queue, then its open cluster, then our buffer, then the disk.
    int code = av_interleaved_write_frame(m_output.get(), nullptr);
    if (code >= 0)
        code = av_write_frame(m_output.get(), nullptr);
    if (code < 0)
        return failure(code);
    avio_flush(m_output->pb);
    if (m_output->pb->error < 0)
        return failure(m_output->pb->error);
    if (fdatasync(m_fd) < 0 && errno != EINVAL)
        return failure(AVERROR(errno));
    return {};
}

Result<void> RecordingWriter::finish(int64_t end)
{
    if (!started())
        return {};
    if (end - m_origin >= m_lastPts + minimumGap) {
        if (auto held = encodePicture(end); !held.ok())
            return held;
    }
    int code = avcodec_send_frame(m_video.get(), nullptr);
    if (code < 0)
        return failure(code);
    if (auto drained = drain(*m_video, *m_videoStream); !drained.ok())
        return drained;
    if (m_sound) {
        if (auto encoded = encodeSound(true); !encoded.ok())
            return encoded;
        if ((code = avcodec_send_frame(m_sound.get(), nullptr)) < 0)
            return failure(code);
        if (auto drained = drain(*m_sound, *m_soundStream); !drained.ok())
            return drained;
    }
    if ((code = av_write_trailer(m_output.get())) < 0)
        return failure(code);
    avio_flush(m_output->pb);
    if (m_output->pb->error < 0)
        return failure(m_output->pb->error);
    if (fdatasync(m_fd) < 0 && errno != EINVAL)
        return failure(AVERROR(errno));
    return {};
}

namespace {

// A packet held until the next of its stream says how long it lasts.
struct Held {
    libav::PacketPtr packet;
    int64_t gap = 0; // the last known distance between two packets
};

int64_t timeOf(const AVPacket& packet)
{
    return packet.dts != AV_NOPTS_VALUE ? packet.dts : packet.pts;
}

} // namespace

Result<void> RecordingWriter::remux(const QString& intermediate, const QByteArray& destination)
{
    const auto fail = [](const QString& why) { return Result<void>::failure(why); };
    const auto failCode = [](int code) {
        return Result<void>::failure(code == AVERROR(ENOSPC) || code == AVERROR(EDQUOT)
                                         ? QStringLiteral("the disk is full")
                                         : libav::errorText(code));
    };
    AVFormatContext* opened = nullptr;
    const QByteArray source = QFile::encodeName(intermediate);
    int code = avformat_open_input(&opened, source.constData(), nullptr, nullptr);
    if (code < 0)
        return fail(QStringLiteral("cannot read %1: %2").arg(intermediate, libav::errorText(code)));
    libav::InputPtr input(opened);
    if ((code = avformat_find_stream_info(input.get(), nullptr)) < 0)
        return fail(QStringLiteral("cannot read %1: %2").arg(intermediate, libav::errorText(code)));

    auto file = PendingFile::create(destination);
    if (!file.ok())
        return fail(file.error());
    std::unique_ptr<PendingFile> pending = std::move(file).value();
    AVFormatContext* made = nullptr;
    if ((code = avformat_alloc_output_context2(&made, nullptr, "mp4", pending->path().constData())) <
        0)
        return failCode(code);
    libav::OutputPtr output(made);
    std::vector<int> map(input->nb_streams, -1);
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* in = input->streams[i];
        const AVMediaType type = in->codecpar->codec_type;
        if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO)
            continue;
        AVStream* out = avformat_new_stream(output.get(), nullptr);
        if (!out)
            return failCode(AVERROR(ENOMEM));
        if ((code = avcodec_parameters_copy(out->codecpar, in->codecpar)) < 0)
            return failCode(code);
        out->codecpar->codec_tag = 0;
        out->time_base = in->time_base;
        map[i] = out->index;
    }
    if ((code = avio_open(&output->pb, pending->path().constData(), AVIO_FLAG_WRITE)) < 0)
        return failCode(code);
    AVDictionary* options = nullptr;
    // The index first, so the editor and players start without reading it all.
    code = av_dict_set(&options, "movflags", "+faststart", 0);
    if (code >= 0)
        code = avformat_write_header(output.get(), &options);
    av_dict_free(&options);
    if (code < 0)
        return failCode(code);

    std::vector<Held> held(output->nb_streams);
    const auto put = [&](AVPacket& packet, int in) -> int {
        av_packet_rescale_ts(&packet, input->streams[in]->time_base,
                             output->streams[packet.stream_index]->time_base);
        packet.pos = -1;
        return av_interleaved_write_frame(output.get(), &packet);
    };
    std::vector<int> inputOf(output->nb_streams, 0);
    for (size_t i = 0; i < map.size(); ++i)
        if (map[i] >= 0)
            inputOf[size_t(map[i])] = int(i);
    libav::PacketPtr packet(av_packet_alloc());
    if (!packet)
        return failCode(AVERROR(ENOMEM));
    int64_t packets = 0;
    for (;;) {
        code = av_read_frame(input.get(), packet.get());
        // A file cut off by a kill or a full disk ends in the middle of a cluster.
        if (code == AVERROR_EOF || code == AVERROR_INVALIDDATA)
            break;
        if (code < 0)
            return fail(QStringLiteral("cannot read %1: %2").arg(intermediate, libav::errorText(code)));
        const int in = packet->stream_index;
        if (in < 0 || size_t(in) >= map.size() || map[size_t(in)] < 0 ||
            timeOf(*packet) == AV_NOPTS_VALUE) {
            av_packet_unref(packet.get());
            continue;
        }
        packet->stream_index = map[size_t(in)];
        Held& slot = held[size_t(packet->stream_index)];
        if (slot.packet) {
            const int64_t gap = timeOf(*packet) - timeOf(*slot.packet);
            if (gap > 0)
                slot.gap = slot.packet->duration = gap;
            if ((code = put(*slot.packet, in)) < 0)
                return failCode(code);
        } else {
            slot.packet.reset(av_packet_alloc());
            if (!slot.packet)
                return failCode(AVERROR(ENOMEM));
        }
        av_packet_move_ref(slot.packet.get(), packet.get());
        ++packets;
    }
    if (packets == 0)
        return fail(QStringLiteral("%1 holds no picture").arg(intermediate));
    for (size_t s = 0; s < held.size(); ++s) {
        Held& slot = held[s];
        if (!slot.packet)
            continue;
        const int in = inputOf[s];
        if (slot.packet->duration <= 0) {
            // The last picture shows for a frame at most: the recording ends
            // where the clock stopped, with that picture.
            const AVRational base = input->streams[in]->time_base;
            const int64_t frame = av_rescale_q(1, {1, MovieWriter::framesPerSecond}, base);
            const bool video = output->streams[s]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
            slot.packet->duration =
                video ? (slot.gap > 0 ? std::min(slot.gap, frame) : frame) : slot.gap;
        }
        if ((code = put(*slot.packet, in)) < 0)
            return failCode(code);
    }
    if ((code = av_write_trailer(output.get())) < 0)
        return failCode(code);
    if ((code = avio_closep(&output->pb)) < 0)
        return failCode(code);
    return pending->publish();
}
