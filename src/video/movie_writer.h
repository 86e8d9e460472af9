#pragma once

#include "audio_transcoder.h"
#include "colour_tags.h"
#include "libav_holders.h"
#include "pending_file.h"
#include "result.h"

#include <QByteArray>
#include <QSize>
#include <QSizeF>
#include <memory>

// The MPEG-4 file being made: H.264 pictures at 30 per second and the
// source's sound, written as a PendingFile and put in place of the destination
// by finish(). Dropped unfinished, it leaves nothing behind.
class MovieWriter {
public:
    static constexpr int framesPerSecond = 30;

    struct Setup {
        QSize size;                      // even width and height
        const AVStream* audio = nullptr; // the source's sound, if any
        int64_t origin = 0;              // source instant of picture 0, AV_TIME_BASE units
    };

    static bool hasEncoder();
    // Why H.264 cannot carry pictures of `size` (before rounding up to even
    // pixels); fine when it can.
    static Result<void> checkFrameSize(QSizeF size);
    // `destination` is the system's bytes for the name.
    static Result<std::unique_ptr<MovieWriter>> open(const QByteArray& destination,
                                                     const Setup& setup);
    ~MovieWriter();
    MovieWriter(const MovieWriter&) = delete;
    MovieWriter& operator=(const MovieWriter&) = delete;

    // Encodes the next picture; its time is its index over 30.
    Result<void> writePicture(AVFrame& frame);
    // Takes one packet of the source's sound.
    Result<void> writeAudio(AVPacket& packet);
    // Flushes, closes and puts the movie in place of the destination.
    Result<void> finish();
    // Whether the last failure was the source's sound not decoding: the
    // input's fault, not the output's.
    bool soundFailed() const { return m_transcoder && m_transcoder->sourceFailed(); }

private:
    MovieWriter() = default;
    Result<void> openOutput();
    Result<void> openVideo(const Setup& setup);
    Result<void> openAudio(const AVStream& source);
    Result<void> drainVideo();

    std::unique_ptr<PendingFile> m_file; // outlives the output writing to it
    libav::OutputPtr m_output;
    libav::CodecPtr m_encoder;
    libav::PacketPtr m_packet;
    AVStream* m_video = nullptr;
    AVStream* m_audio = nullptr;
    const AVStream* m_audioSource = nullptr;
    std::unique_ptr<AudioTranscoder> m_transcoder;
    int64_t m_audioShift = 0; // source time base
    int64_t m_nextPts = 0;
};
