#pragma once

#include "screen_frame.h"

#include <QImage>
#include <QPoint>
#include <QSize>
#include <cstdint>
#include <vector>

struct spa_buffer;

// Turns the buffers of a screen-cast stream into frames: the picture inside
// the crop region the compositor marks (a window cast is often a larger
// buffer with the window in it), the cursor drawn in from the buffer's cursor
// metadata when asked to, and nothing at all for buffers that carry no
// picture (marked corrupted, empty, or only moving the cursor).
//
// Every frame has the size of the first one: a recording cannot change size
// midway, so a later picture of another size is placed at the top left and
// the rest left black.
class PipeWireBufferReader {
public:
    // The stream's negotiated format (an SPA video format) and size; false for
    // a format we cannot take.
    bool setFormat(uint32_t spaFormat, QSize size);
    // Draw the cursor from SPA_META_Cursor (the portal's metadata cursor mode).
    void setDrawCursor(bool draw) { m_drawCursor = draw; }

    // The frame to deliver for `buffer`, valid until the next call, or null
    // when the buffer brings nothing new to show.
    const ScreenFrame* read(const spa_buffer& buffer, int64_t time);

    // The first frame's size; empty until one came.
    QSize frameSize() const { return m_frameSize; }

private:
    // Takes the buffer's cursor metadata; true when what shows changed.
    bool takeCursor(const spa_buffer& buffer);
    const ScreenFrame* compose(int64_t time);

    AVPixelFormat m_format = AV_PIX_FMT_NONE;
    QSize m_size;
    QSize m_frameSize;
    bool m_drawCursor = false;

    // The cursor as the stream last described it, in stream coordinates.
    QImage m_cursor; // premultiplied RGBA8888
    QPoint m_cursorPosition;
    QPoint m_hotspot;
    bool m_cursorShown = false;
    QPoint m_cropOrigin;

    // Copies, needed only when the stream's pixels cannot go out as they are:
    // the picture without the cursor (kept for cursor-only updates) and what
    // is delivered.
    std::vector<uint8_t> m_picture;
    std::vector<uint8_t> m_delivered;
    bool m_havePicture = false;
    ScreenFrame m_frame;
};
