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
// A client-side-decorated window (GTK 3/4, libadwaita) is the exception: its
// X window holds a transparent shadow margin that it names in
// _GTK_FRAME_EXTENTS, and its rectangle is the window less that margin, so a
// capture has no shadow around it and a click on the shadow goes to the
// window below, as it does on the desktop. Its rounded corners come out as
// the screen shows them: over what lies behind when a compositor runs (we cut
// from the root window, which is the composited picture). GTK draws no
// margin and sets no extents without a compositor; a program that sets them
// anyway gets the same rectangle, its transparent pixels being whatever the
// uncomposited screen shows there (usually black).
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

    // The rectangle of the topmost application window holding `rootPoint`.
    std::optional<QRect> frameAt(QPoint rootPoint) const;

    // That window's rectangle and its top-level X window (the window
    // manager's frame), which a recording follows as it moves.
    struct Found {
        QRect frame;
        quint32 window;
    };
    std::optional<Found> windowAt(QPoint rootPoint) const;

    // Rectangles from the top of the stack down.
    const QList<QRect>& frames() const { return m_frames; }

private:
    QList<QRect> m_frames;
    QList<quint32> m_windows; // m_frames' top-level windows, index for index
};
