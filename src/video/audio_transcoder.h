#pragma once

#include "libav_holders.h"
#include "result.h"

#include <memory>

// Sound MPEG-4 cannot carry as it is (PCM, for one), decoded, resampled and
// encoded to AAC into a new stream of the output, in step with the picture.
class AudioTranscoder {
public:
    // Adds the AAC stream to `output`; call before its header is written.
    static Result<std::unique_ptr<AudioTranscoder>> open(const AVStream& source,
                                                         AVFormatContext& output);

    // Decodes one packet of the source stream and writes whatever AAC it
    // yields; `shift` is subtracted from its times (source time base).
    Result<void> write(const AVPacket& packet, int64_t shift);
    // Writes out everything still held by the decoder, resampler and encoder.
    Result<void> finish();
    // Whether the last failure was the source's sound not decoding.
    bool sourceFailed() const { return m_sourceFailed; }

private:
    AudioTranscoder() = default;
    Result<void> openEncoder(const AVCodecParameters& source, AVFormatContext& output);
    Result<void> sourceFailure(int code);
    Result<void> drainDecoder();
    Result<void> resample(const AVFrame* decoded);
    Result<void> encodeQueued(bool all);
    Result<void> drainEncoder();

    libav::CodecPtr m_decoder;
    libav::CodecPtr m_encoder;
    libav::ResamplePtr m_resample;
    libav::FifoPtr m_fifo;
    libav::FramePtr m_decoded;
    libav::FramePtr m_converted;
    libav::FramePtr m_chunk;
    libav::PacketPtr m_packet;
    AVFormatContext* m_output = nullptr;
    AVStream* m_stream = nullptr;
    AVRational m_sourceBase{1, 1};
    int64_t m_shift = 0;
    int64_t m_nextPts = AV_NOPTS_VALUE; // encoder samples
    bool m_sourceFailed = false;
};
