#pragma once

#include <QSize>
#include <QString>
#include <cstdint>
#include <functional>

extern "C" {
#include <libavutil/pixfmt.h>
}

// One picture of the screen as a source delivered it. The pixels belong to the
// source and are valid only during the call that hands the frame over.
struct ScreenFrame {
    const uint8_t* pixels = nullptr;
    int stride = 0;                           // bytes per row
    QSize size;                               // in device pixels
    AVPixelFormat format = AV_PIX_FMT_BGR0;   // BGR0, BGRA, RGB0 or RGBA
    int64_t time = 0;                         // µs on av_gettime_relative()'s clock
};

// Where a source sends what it sees, and how it says it can go on no longer.
// Both are called on the source's own thread.
struct FrameSink {
    std::function<void(const ScreenFrame&)> frame;
    std::function<void(const QString& reason)> failed;
};

// A running capture of part of the screen: X11 shared memory or a PipeWire
// stream from the desktop's screen-cast portal. start() delivers frames from a
// thread of the source's own until stop(); after stop() returns no call comes.
class FrameSource {
public:
    virtual ~FrameSource() = default;
    // The size every frame will have (the first frame's for streams that
    // cannot know before).
    virtual QSize frameSize() const = 0;
    virtual bool start(FrameSink sink, QString* error) = 0;
    virtual void stop() = 0;
};
