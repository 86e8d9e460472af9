#pragma once

#include <QString>

class QDBusConnection;

// Whether this session lets us see the screen. On X11 anyone may grab it. On
// Wayland (isWaylandSession(), XWayland included) only the desktop's
// screenshot portal may, so access means the portal answers on the session
// bus and offers screenshots. Takes at most a couple of seconds (the portal
// may need starting); call it off any hot path.
bool checkScreenCaptureAccess();
// The same check on `bus`, for a session that is (or is not) Wayland.
bool checkScreenCaptureAccess(const QDBusConnection& bus, bool wayland);

// The line the product prints after checking: "Permission check: true".
QString permissionCheckLine(bool granted);
