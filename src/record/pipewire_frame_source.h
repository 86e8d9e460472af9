#pragma once

#include "screen_frame.h"

#include <QSize>
#include <cstdint>
#include <functional>
#include <memory>

// Frames from a PipeWire video node the desktop's screen-cast portal shares,
// read from shared memory on a PipeWire thread loop of the source's own.
// The stream offers BGRx, BGRA, RGBx and RGBA; what the buffers show is read
// by PipeWireBufferReader (crop region, cursor metadata, skipped buffers).
//
// start() waits (a few seconds at most) for the first picture, so a stream
// that shows nothing fails there with a reason, and frameSize() is the real
// size of every frame from then on; before that it is what the portal said.
class PipeWireFrameSource : public FrameSource {
public:
    struct Stream {
        int fd = -1;             // the portal's PipeWire connection; the source owns it
        uint32_t node = 0;       // the shared node on it
        QSize size;              // what the portal said the stream's size is
        bool drawCursor = false; // the cursor comes as metadata and is ours to draw
    };

    // `release` runs once the source no longer needs the stream, so whoever
    // opened it (the portal's session) can close it.
    PipeWireFrameSource(Stream stream, std::function<void()> release);
    ~PipeWireFrameSource() override;

    QSize frameSize() const override;
    bool start(FrameSink sink, QString* error) override;
    void stop() override;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
