#pragma once

#include "result.h"

#include <QList>
#include <QPoint>
#include <QRect>
#include <optional>

struct xcb_connection_t;

// The application windows on the X server, found the way a window manager
// sees them: a top-level window counts when it (or a window inside its frame)
// holds WM_STATE, and its rectangle is the whole frame, decorations included.
// Without a window manager every mapped top-level window is an application's.
//
// Rectangles are in X root coordinates, that is device pixels of the virtual
// desktop; Qt's logical coordinates differ from them under a scale factor.
class X11WindowFinder {
public:
    // Remembers the stacking order and frames at this moment, so the picked
    // window matches the frozen picture. Windows in `ignored` (our overlay)
    // and windows not mapped are left out. Fails when the server will not
    // list its windows at all.
    static Result<X11WindowFinder> snapshot(xcb_connection_t* connection,
                                            const QList<quint32>& ignored = {});

    // The frame of the topmost application window holding `rootPoint`.
    std::optional<QRect> frameAt(QPoint rootPoint) const;

    // Frames from the top of the stack down.
    const QList<QRect>& frames() const { return m_frames; }

private:
    QList<QRect> m_frames;
};
