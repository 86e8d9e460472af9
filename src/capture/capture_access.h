#pragma once

#include <QString>
#include <functional>

class QDBusConnection;
class QObject;

// Whether this session lets us see the screen. On X11 anyone may grab it. On
// Wayland (isWaylandSession(), XWayland included) only the desktop's
// screenshot portal may, so access means the portal answers on the session
// bus and offers screenshots. Takes at most a couple of seconds (the portal
// may need starting); call it off any hot path.
bool checkScreenCaptureAccess();
// The same check on `bus`, for a session that is (or is not) Wayland.
bool checkScreenCaptureAccess(const QDBusConnection& bus, bool wayland);

// The same check without waiting: `answer` runs later on `context`'s thread
// (never within this call, never after `context` is gone). A portal that is
// slow to answer keeps no window from drawing meanwhile.
void checkScreenCaptureAccessAsync(QObject* context, std::function<void(bool)> answer);
void checkScreenCaptureAccessAsync(const QDBusConnection& bus, bool wayland, QObject* context,
                                   std::function<void(bool)> answer);

// The line the product prints after checking: "Permission check: true".
QString permissionCheckLine(bool granted);
