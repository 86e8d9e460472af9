#pragma once

#include <QString>

// What kind of desktop session we run in, which decides who may see the
// screen: on X11 we grab it ourselves, on Wayland only the desktop's
// screenshot portal can.
enum class SessionKind { x11, wayland, other };

// What the answer is decided from: Qt's platform plugin and the session's
// WAYLAND_DISPLAY and XDG_SESSION_TYPE.
struct SessionFacts {
    QString qtPlatform;
    QString waylandDisplay;
    QString sessionType;
};

// A Wayland compositor in the session makes it Wayland, whatever Qt runs on:
// under XWayland a Qt app on xcb only sees other X clients, so X11 grabs come
// out black or show our own windows, and the portal is the right way there.
// Otherwise Qt on xcb means X11, and anything else (offscreen, eglfs) neither.
SessionKind sessionKind(const SessionFacts& facts);
// The same for this process.
SessionKind sessionKind();
bool isWaylandSession();
