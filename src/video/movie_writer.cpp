#include "movie_writer.h"

#include <QFile>
#include <QFileInfo>

extern "C" {
#include <libavutil/opt.h>
}

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const encoderName = "libx264";

Result<void> failure(int code)
{
    return Result<void>::failure(libav::errorText(code));
}

Result<void> systemFailure(int error)
{
    return Result<void>::failure(QString::fromLocal8Bit(std::strerror(error)));
}

} // namespace

bool MovieWriter::hasEncoder()
{
    return avcodec_find_encoder_by_name(encoderName) != nullptr;
}

Result<std::unique_ptr<MovieWriter>> MovieWriter::open(const QString& destination,
                                                       const Setup& setup)
{
    using Opened = std::unique_ptr<MovieWriter>;
    std::unique_ptr<MovieWriter> writer(new MovieWriter);
    auto step = writer->createTemporary(destination);
    if (step.ok())
        step = writer->openVideo(setup);
    if (step.ok() && setup.audio)
        step = writer->openAudio(*setup.audio);
    if (step.ok() && setup.audio)
        writer->m_audioShift = av_rescale_q(setup.origin, AV_TIME_BASE_Q, setup.audio->time_base);
    if (!step.ok())
        return Result<Opened>::failure(step.error());

    AVFormatContext* output = writer->m_output.get();
    int code = avio_open(&output->pb, writer->m_temporary.constData(), AVIO_FLAG_WRITE);
    if (code < 0)
        return Result<Opened>::failure(libav::errorText(code));
    AVDictionary* options = nullptr;
    // The index goes first, so players can start before the whole file is read.
    av_dict_set(&options, "movflags", "+faststart", 0);
    code = avformat_write_header(output, &options);
    av_dict_free(&options);
    if (code < 0)
        return Result<Opened>::failure(libav::errorText(code));
    return Opened(std::move(writer));
}

MovieWriter::~MovieWriter()
{
    m_transcoder.reset();
    m_output.reset();
    if (!m_temporary.isEmpty())
        ::unlink(m_temporary.constData());
}

namespace {

mode_t permissionsFor(const QByteArray& destination)
{
    struct stat existing {};
    if (::stat(destination.constData(), &existing) == 0)
        return existing.st_mode & 07777;
    // The process's umask, read without changing it (umask() would, for a moment,
    // for every thread).
    mode_t mask = 022;
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("Umask:"))
                mask = mode_t(line.mid(6).trimmed().toUInt(nullptr, 8));
        }
    }
    return 0666 & ~mask;
}

} // namespace

Result<void> MovieWriter::createTemporary(const QString& destination)
{
    const QFileInfo info(destination);
    m_destination = QFile::encodeName(info.absoluteFilePath());
    // A unique name in the destination's folder, so the final rename() is atomic.
    QByteArray name = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") +
                                        info.fileName() + QStringLiteral(".XXXXXX.part"));
    const int descriptor = ::mkstemps(name.data(), 5);
    if (descriptor < 0)
        return systemFailure(errno);
    // mkstemps makes the file private; the movie gets the permissions of the
    // file it replaces, or those of any new file.
    ::fchmod(descriptor, permissionsFor(m_destination));
    ::close(descriptor);
    m_temporary = name;

    AVFormatContext* output = nullptr;
    const int code = avformat_alloc_output_context2(&output, nullptr, "mp4", name.constData());
    if (code < 0)
        return failure(code);
    m_output.reset(output);
    m_packet.reset(av_packet_alloc());
    return m_packet ? Result<void>() : failure(AVERROR(ENOMEM));
}

Result<void> MovieWriter::openVideo(const Setup& setup)
{
    const AVCodec* codec = avcodec_find_encoder_by_name(encoderName);
    if (!codec)
        return failure(AVERROR_ENCODER_NOT_FOUND);
    m_encoder.reset(avcodec_alloc_context3(codec));
    if (!m_encoder)
        return failure(AVERROR(ENOMEM));
    AVCodecContext& encoder = *m_encoder;
    encoder.width = setup.size.width();
    encoder.height = setup.size.height();
    encoder.pix_fmt = AV_PIX_FMT_YUV420P;
    encoder.time_base = {1, framesPerSecond};
    encoder.framerate = {framesPerSecond, 1};
    encoder.sample_aspect_ratio = {1, 1};
    encoder.color_primaries = setup.colours.primaries;
    encoder.color_trc = setup.colours.transfer;
    encoder.colorspace = setup.colours.space;
    encoder.color_range = setup.colours.range;
    encoder.thread_count = 0; // libx264 picks its own
    if (m_output->oformat->flags & AVFMT_GLOBALHEADER)
        encoder.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "preset", "medium", 0);
    av_dict_set(&options, "crf", "18", 0);
    av_dict_set(&options, "profile", "high", 0);
    int code = avcodec_open2(&encoder, codec, &options);
    av_dict_free(&options);
    if (code < 0)
        return failure(code);

    m_video = avformat_new_stream(m_output.get(), nullptr);
    if (!m_video)
        return failure(AVERROR(ENOMEM));
    if ((code = avcodec_parameters_from_context(m_video->codecpar, &encoder)) < 0)
        return failure(code);
    m_video->time_base = encoder.time_base;
    return {};
}

Result<void> MovieWriter::openAudio(const AVStream& source)
{
    m_audioSource = &source;
    if (avformat_query_codec(m_output->oformat, source.codecpar->codec_id, FF_COMPLIANCE_NORMAL) !=
        1) {
        auto transcoder = AudioTranscoder::open(source, *m_output);
        if (!transcoder.ok())
            return Result<void>::failure(transcoder.error());
        m_transcoder = std::move(transcoder).value();
        return {};
    }
    m_audio = avformat_new_stream(m_output.get(), nullptr);
    if (!m_audio)
        return failure(AVERROR(ENOMEM));
    const int code = avcodec_parameters_copy(m_audio->codecpar, source.codecpar);
    if (code < 0)
        return failure(code);
    m_audio->codecpar->codec_tag = 0; // the MP4 muxer picks its own
    m_audio->time_base = source.time_base;
    return {};
}

Result<void> MovieWriter::writePicture(AVFrame& frame)
{
    frame.pts = m_nextPts++;
    const int code = avcodec_send_frame(m_encoder.get(), &frame);
    if (code < 0)
        return failure(code);
    return drainVideo();
}

Result<void> MovieWriter::drainVideo()
{
    for (;;) {
        int code = avcodec_receive_packet(m_encoder.get(), m_packet.get());
        if (code == AVERROR(EAGAIN) || code == AVERROR_EOF)
            return {};
        if (code < 0)
            return failure(code);
        m_packet->stream_index = m_video->index;
        // Every picture lasts one frame; without it MP4 guesses the last one's.
        if (m_packet->duration <= 0)
            m_packet->duration = 1;
        av_packet_rescale_ts(m_packet.get(), m_encoder->time_base, m_video->time_base);
        if ((code = av_interleaved_write_frame(m_output.get(), m_packet.get())) < 0)
            return failure(code);
    }
}

Result<void> MovieWriter::writeAudio(AVPacket& packet)
{
    if (m_transcoder)
        return m_transcoder->write(packet, m_audioShift);
    if (!m_audio)
        return {};
    if (packet.pts != AV_NOPTS_VALUE)
        packet.pts -= m_audioShift;
    if (packet.dts != AV_NOPTS_VALUE)
        packet.dts -= m_audioShift;
    packet.stream_index = m_audio->index;
    packet.pos = -1;
    av_packet_rescale_ts(&packet, m_audioSource->time_base, m_audio->time_base);
    const int code = av_interleaved_write_frame(m_output.get(), &packet);
    return code < 0 ? failure(code) : Result<void>();
}

Result<void> MovieWriter::finish()
{
    int code = avcodec_send_frame(m_encoder.get(), nullptr);
    if (code < 0)
        return failure(code);
    if (auto drained = drainVideo(); !drained.ok())
        return drained;
    if (m_transcoder) {
        if (auto drained = m_transcoder->finish(); !drained.ok())
            return drained;
    }
    if ((code = av_write_trailer(m_output.get())) < 0)
        return failure(code);
    // Closing writes what is still buffered: a full disk shows up here.
    if ((code = avio_closep(&m_output->pb)) < 0)
        return failure(code);
    if (::rename(m_temporary.constData(), m_destination.constData()) != 0)
        return systemFailure(errno);
    m_temporary.clear();
    return {};
}
