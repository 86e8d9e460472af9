#pragma once

#include "audio_transcoder.h"
#include "colour_tags.h"
#include "libav_holders.h"
#include "result.h"

#include <QByteArray>
#include <QSize>
#include <QString>
#include <memory>

// The MPEG-4 file being made: H.264 pictures at 30 per second and the
// source's sound, written under a temporary name beside the destination and
// renamed over it by finish(). Dropped unfinished, it removes its file.
class MovieWriter {
public:
    static constexpr int framesPerSecond = 30;

    struct Setup {
        QSize size; // even width and height
        ColourTags colours;
        const AVStream* audio = nullptr; // the source's sound, if any
        int64_t origin = 0;              // source instant of picture 0, AV_TIME_BASE units
    };

    static bool hasEncoder();
    static Result<std::unique_ptr<MovieWriter>> open(const QString& destination,
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

private:
    MovieWriter() = default;
    Result<void> createTemporary(const QString& destination);
    Result<void> openVideo(const Setup& setup);
    Result<void> openAudio(const AVStream& source);
    Result<void> drainVideo();

    QByteArray m_destination;
    QByteArray m_temporary; // removed unless finish() renamed it
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
