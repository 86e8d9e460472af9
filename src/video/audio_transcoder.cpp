#include "audio_transcoder.h"

#include "encoded_packets.h"

#include <algorithm>

namespace {

Result<void> failure(int code)
{
    return Result<void>::failure(libav::errorText(code));
}

// A bare -1 from a decoder means damaged data, not EPERM.
QString soundUndecodable(int code)
{
    return QStringLiteral("the sound cannot be decoded: %1")
        .arg(libav::errorText(code == AVERROR(EPERM) ? AVERROR_INVALIDDATA : code));
}

// The source's rate when AAC has it, else 48 kHz.
int rateFor(const AVCodec& encoder, int wanted)
{
    if (!encoder.supported_samplerates)
        return wanted;
    for (const int* rate = encoder.supported_samplerates; *rate; ++rate)
        if (*rate == wanted)
            return wanted;
    return 48000;
}

// The source's channel count when AAC has a layout for it, else stereo.
AVChannelLayout layoutFor(const AVCodec& encoder, int channels)
{
    AVChannelLayout layout{};
    av_channel_layout_default(&layout, channels);
    for (const AVChannelLayout* known = encoder.ch_layouts; known && known->nb_channels; ++known)
        if (!av_channel_layout_compare(known, &layout))
            return layout;
    av_channel_layout_uninit(&layout);
    av_channel_layout_default(&layout, channels == 1 ? 1 : 2);
    return layout;
}

} // namespace

Result<std::unique_ptr<AudioTranscoder>> AudioTranscoder::open(const AVStream& source,
                                                               AVFormatContext& output)
{
    using Opened = std::unique_ptr<AudioTranscoder>;
    std::unique_ptr<AudioTranscoder> transcoder(new AudioTranscoder);
    transcoder->m_sourceBase = source.time_base;
    transcoder->m_output = &output;

    const AVCodec* codec = avcodec_find_decoder(source.codecpar->codec_id);
    if (!codec)
        return Result<Opened>::failure(
            QStringLiteral("the sound cannot be decoded: no decoder for its codec"));
    transcoder->m_decoder.reset(avcodec_alloc_context3(codec));
    if (!transcoder->m_decoder)
        return Result<Opened>::failure(libav::errorText(AVERROR(ENOMEM)));
    int code = avcodec_parameters_to_context(transcoder->m_decoder.get(), source.codecpar);
    if (code >= 0) {
        transcoder->m_decoder->pkt_timebase = source.time_base;
        code = avcodec_open2(transcoder->m_decoder.get(), codec, nullptr);
    }
    if (code < 0)
        return Result<Opened>::failure(soundUndecodable(code));
    if (auto opened = transcoder->openEncoder(*source.codecpar, output); !opened.ok())
        return Result<Opened>::failure(opened.error());
    return Opened(std::move(transcoder));
}

Result<void> AudioTranscoder::openEncoder(const AVCodecParameters& source, AVFormatContext& output)
{
    const AVCodec* codec = avcodec_find_encoder_by_name("aac");
    if (!codec)
        return failure(AVERROR_ENCODER_NOT_FOUND);
    m_encoder.reset(avcodec_alloc_context3(codec));
    m_decoded.reset(av_frame_alloc());
    m_converted.reset(av_frame_alloc());
    m_chunk.reset(av_frame_alloc());
    m_packet.reset(av_packet_alloc());
    if (!m_encoder || !m_decoded || !m_converted || !m_chunk || !m_packet)
        return failure(AVERROR(ENOMEM));
    AVCodecContext& encoder = *m_encoder;
    encoder.sample_fmt = AV_SAMPLE_FMT_FLTP;
    encoder.sample_rate = rateFor(*codec, source.sample_rate > 0 ? source.sample_rate : 48000);
    AVChannelLayout layout = layoutFor(*codec, std::max(1, source.ch_layout.nb_channels));
    int code = av_channel_layout_copy(&encoder.ch_layout, &layout);
    av_channel_layout_uninit(&layout);
    if (code < 0)
        return failure(code);
    encoder.bit_rate = 96000 * std::min(encoder.ch_layout.nb_channels, 2);
    encoder.time_base = {1, encoder.sample_rate};
    if (output.oformat->flags & AVFMT_GLOBALHEADER)
        encoder.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if ((code = avcodec_open2(&encoder, codec, nullptr)) < 0)
        return failure(code);

    m_stream = avformat_new_stream(&output, nullptr);
    if (!m_stream)
        return failure(AVERROR(ENOMEM));
    if ((code = avcodec_parameters_from_context(m_stream->codecpar, &encoder)) < 0)
        return failure(code);
    m_stream->time_base = encoder.time_base;

    m_fifo.reset(av_audio_fifo_alloc(encoder.sample_fmt, encoder.ch_layout.nb_channels,
                                     std::max(encoder.frame_size, 1024) * 4));
    if (!m_fifo)
        return failure(AVERROR(ENOMEM));
    m_chunk->format = encoder.sample_fmt;
    m_chunk->nb_samples = encoder.frame_size;
    m_chunk->sample_rate = encoder.sample_rate;
    if ((code = av_channel_layout_copy(&m_chunk->ch_layout, &encoder.ch_layout)) < 0 ||
        (code = av_frame_get_buffer(m_chunk.get(), 0)) < 0)
        return failure(code);
    return {};
}

Result<void> AudioTranscoder::write(const AVPacket& packet, int64_t shift)
{
    m_shift = shift;
    const int code = avcodec_send_packet(m_decoder.get(), &packet);
    if (code < 0 && code != AVERROR_INVALIDDATA)
        return sourceFailure(code);
    return drainDecoder();
}

Result<void> AudioTranscoder::sourceFailure(int code)
{
    m_sourceFailed = true;
    return Result<void>::failure(soundUndecodable(code));
}

Result<void> AudioTranscoder::drainDecoder()
{
    for (;;) {
        const int code = avcodec_receive_frame(m_decoder.get(), m_decoded.get());
        if (code == AVERROR(EAGAIN) || code == AVERROR_EOF)
            return {};
        if (code < 0)
            return sourceFailure(code);
        auto resampled = resample(m_decoded.get());
        av_frame_unref(m_decoded.get());
        if (!resampled.ok())
            return resampled;
        if (auto encoded = encodeQueued(false); !encoded.ok())
            return encoded;
    }
}

Result<void> AudioTranscoder::resample(const AVFrame* decoded)
{
    const AVCodecContext& encoder = *m_encoder;
    if (!m_resample && decoded) {
        SwrContext* context = nullptr;
        // FFmpeg 5.1 declares the layouts non-const; it only reads them.
        int code = swr_alloc_set_opts2(
            &context, const_cast<AVChannelLayout*>(&encoder.ch_layout), encoder.sample_fmt,
            encoder.sample_rate, const_cast<AVChannelLayout*>(&decoded->ch_layout),
            AVSampleFormat(decoded->format), decoded->sample_rate, 0, nullptr);
        m_resample.reset(context);
        if (code >= 0)
            code = swr_init(context);
        if (code < 0)
            return failure(code);
    }
    if (!m_resample)
        return {};
    if (m_nextPts == AV_NOPTS_VALUE) {
        // The sound starts where its first sample sits relative to the picture.
        const int64_t stamp = decoded && decoded->best_effort_timestamp != AV_NOPTS_VALUE
                                  ? decoded->best_effort_timestamp - m_shift
                                  : 0;
        m_nextPts = av_rescale_q(stamp, m_sourceBase, encoder.time_base);
    }
    const int room = swr_get_out_samples(m_resample.get(), decoded ? decoded->nb_samples : 0);
    if (room < 0)
        return failure(room);
    if (m_converted->nb_samples < room) {
        av_frame_unref(m_converted.get());
        m_converted->format = encoder.sample_fmt;
        m_converted->nb_samples = room;
        int code = av_channel_layout_copy(&m_converted->ch_layout, &encoder.ch_layout);
        if (code < 0 || (code = av_frame_get_buffer(m_converted.get(), 0)) < 0)
            return failure(code);
    }
    const int samples =
        swr_convert(m_resample.get(), m_converted->data, room,
                    decoded ? const_cast<const uint8_t**>(decoded->extended_data) : nullptr,
                    decoded ? decoded->nb_samples : 0);
    if (samples < 0)
        return failure(samples);
    const int written =
        av_audio_fifo_write(m_fifo.get(), reinterpret_cast<void**>(m_converted->data), samples);
    return written < 0 ? failure(written) : Result<void>();
}

Result<void> AudioTranscoder::encodeQueued(bool all)
{
    const int size = m_encoder->frame_size;
    while (av_audio_fifo_size(m_fifo.get()) >= size || (all && av_audio_fifo_size(m_fifo.get()))) {
        int code = av_frame_make_writable(m_chunk.get());
        if (code < 0)
            return failure(code);
        const int samples = std::min(size, av_audio_fifo_size(m_fifo.get()));
        m_chunk->nb_samples = samples;
        if ((code = av_audio_fifo_read(m_fifo.get(), reinterpret_cast<void**>(m_chunk->data),
                                       samples)) < 0)
            return failure(code);
        m_chunk->pts = m_nextPts;
        m_nextPts += samples;
        if ((code = avcodec_send_frame(m_encoder.get(), m_chunk.get())) < 0)
            return failure(code);
        if (auto drained = drainEncoder(); !drained.ok())
            return drained;
    }
    return {};
}

Result<void> AudioTranscoder::drainEncoder()
{
    return writeEncodedPackets(*m_encoder, *m_output, *m_stream, *m_packet);
}

Result<void> AudioTranscoder::finish()
{
    int code = avcodec_send_packet(m_decoder.get(), nullptr);
    if (code < 0 && code != AVERROR_EOF)
        return sourceFailure(code);
    if (auto drained = drainDecoder(); !drained.ok())
        return drained;
    if (auto flushed = resample(nullptr); !flushed.ok())
        return flushed;
    if (auto encoded = encodeQueued(true); !encoded.ok())
        return encoded;
    if ((code = avcodec_send_frame(m_encoder.get(), nullptr)) < 0)
        return failure(code);
    return drainEncoder();
}
