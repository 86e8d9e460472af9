#pragma once

#include <QString>
#include <cstdint>
#include <functional>

// Interleaved signed 16-bit stereo at 48 kHz, the format every sound source
// delivers, so the writer sets up its encoder before the first sample.
struct SoundChunk {
    const int16_t* samples = nullptr; // frames × 2 values
    int frames = 0;
    int64_t time = 0;                 // µs of the first frame, on av_gettime_relative()'s clock
};

struct SoundSink {
    std::function<void(const SoundChunk&)> chunk;
    std::function<void(const QString& reason)> failed;
};

// What the default output plays (its monitor), while the screen is recorded.
// Same threading as FrameSource: calls come from the source's own thread
// between start() and the return of stop().
class SoundSource {
public:
    static constexpr int sampleRate = 48000;
    static constexpr int channels = 2;

    virtual ~SoundSource() = default;
    virtual bool start(SoundSink sink, QString* error) = 0;
    virtual void stop() = 0;
};
