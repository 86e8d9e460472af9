#include "movie_writer.h"

#include "encoded_packets.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <cmath>
#include <initializer_list>
#include <utility>

namespace {

const char* const encoderName = "libx264";

// H.264's largest level, 6.2, allows 139 264 blocks of 16 × 16 pixels a
// picture (8192 × 4352); libx264 refuses longer sides than 16 384 pixels.
constexpr double maxBlocks = 139264;
constexpr double maxSide = 16384;

Result<void> failure(int code)
{
    return Result<void>::failure(libav::errorText(code));
}

// Sets every option, stopping at the first that cannot be stored.
int setOptions(AVDictionary** options,
               std::initializer_list<std::pair<const char*, const char*>> values)
{
    for (const auto& [key, value] : values) {
        if (const int code = av_dict_set(options, key, value, 0); code < 0)
            return code;
    }
    return 0;
}

} // namespace

bool MovieWriter::hasEncoder()
{
    return avcodec_find_encoder_by_name(encoderName) != nullptr;
}

Result<void> MovieWriter::checkFrameSize(QSizeF size)
{
    // Sizes round up to even pixels and H.264 codes whole blocks; rounding to
    // 16 first gives the same blocks. Not-a-number fails every test.
    const auto blocks = [](double length) { return std::ceil(length / 16); };
    if (size.width() <= maxSide && size.height() <= maxSide &&
        blocks(size.width()) * blocks(size.height()) <= maxBlocks)
        return {};
    const auto even = [](double length) {
        const double pixels = 2 * std::ceil(length / 2);
        return pixels < 1e9 ? QString::number(pixels, 'f', 0) : QString::number(pixels, 'g', 3);
    };
    return Result<void>::failure(
        QStringLiteral("the framed movie would be %1 × %2 pixels; H.264 allows at most "
                       "8192 × 4352 (35 651 584 pixels) and 16 384 pixels a side")
            .arg(even(size.width()), even(size.height())));
}

Result<std::unique_ptr<MovieWriter>> MovieWriter::open(const QByteArray& destination,
                                                       const Setup& setup)
{
    using Opened = std::unique_ptr<MovieWriter>;
    if (auto fits = checkFrameSize(QSizeF(setup.size)); !fits.ok())
        return Result<Opened>::failure(fits.error());
    auto file = PendingFile::create(destination);
    if (!file.ok())
        return Result<Opened>::failure(file.error());
    std::unique_ptr<MovieWriter> writer(new MovieWriter);
    writer->m_file = std::move(file).value();
    auto step = writer->openOutput();
    if (step.ok())
        step = writer->openVideo(setup);
    if (step.ok() && setup.audio)
        step = writer->openAudio(*setup.audio);
    if (step.ok() && setup.audio)
        writer->m_audioShift = av_rescale_q(setup.origin, AV_TIME_BASE_Q, setup.audio->time_base);
    if (!step.ok())
        return Result<Opened>::failure(step.error());

    AVFormatContext* output = writer->m_output.get();
    int code = avio_open(&output->pb, writer->m_file->path().constData(), AVIO_FLAG_WRITE);
    if (code < 0)
        return Result<Opened>::failure(libav::errorText(code));
    AVDictionary* options = nullptr;
    // The index goes first, so players can start before the whole file is
    // read. The muxer reopens the file by its path to move the pictures up.
    code = setOptions(&options, {{"movflags", "+faststart"}});
    if (code >= 0)
        code = avformat_write_header(output, &options);
    av_dict_free(&options);
    if (code < 0)
        return Result<Opened>::failure(libav::errorText(code));
    return Opened(std::move(writer));
}

MovieWriter::~MovieWriter()
{
    // The output writes to the file, so it closes first.
    m_transcoder.reset();
    m_output.reset();
}

Result<void> MovieWriter::openOutput()
{
    AVFormatContext* output = nullptr;
    const int code =
        avformat_alloc_output_context2(&output, nullptr, "mp4", m_file->path().constData());
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
    // What the converter and the background turned every picture into.
    const ColourTags output;
    encoder.color_primaries = output.primaries;
    encoder.color_trc = output.transfer;
    encoder.colorspace = output.space;
    encoder.color_range = output.range;
    encoder.thread_count = 0; // libx264 picks its own
    if (m_output->oformat->flags & AVFMT_GLOBALHEADER)
        encoder.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    int code = setOptions(&options, {{"preset", "medium"}, {"crf", "18"}, {"profile", "high"}});
    if (code >= 0)
        code = avcodec_open2(&encoder, codec, &options);
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
    // Every picture lasts one frame; without it MP4 guesses the last one's.
    return writeEncodedPackets(*m_encoder, *m_output, *m_video, *m_packet, 1);
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
    return m_file->publish();
}
