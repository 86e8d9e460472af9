#pragma once

#include "result.h"
#include "screen_frame.h"

#include <QRect>
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

// The X screen, or part of it, 30 times a second: a connection of its own,
// MIT-SHM GetImage of the root window into one shared segment, on a thread of
// its own paced by the monotonic clock. A followed window is looked up again
// every frame, so a recording keeps it as it moves; the frame keeps the size
// it started with, and what lies outside the screen or the window is black.
// The pointer is drawn in from XFixes, as X never puts it in the screen's
// pixels.
class X11FrameSource : public FrameSource {
public:
    struct Target {
        QRect area;           // root coordinates; for a window, its rectangle when picked
        uint32_t window = 0;  // followed when not 0: a top-level window (its frame)
        bool cursor = true;
    };
    static constexpr int framesPerSecond = 30;

    // Connects to the display named by DISPLAY and checks it can serve
    // shared-memory images of a depth we can read; fails saying why. The
    // area is clipped to the screen; nothing of it on the screen is a failure.
    static Result<std::unique_ptr<X11FrameSource>> open(const Target& target);
    ~X11FrameSource() override;

    QSize frameSize() const override;
    bool start(FrameSink sink, QString* error) override;
    void stop() override;

    // Frame times the clock reached while a grab was still going on: frames
    // the screen had that the recording will not, for tests and the benchmark.
    int64_t missedFrames() const { return m_missed.load(); }

private:
    struct Private;
    explicit X11FrameSource(std::unique_ptr<Private> d);
    void run(FrameSink sink);

    std::unique_ptr<Private> d;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
    std::atomic<int64_t> m_missed{0};
};
