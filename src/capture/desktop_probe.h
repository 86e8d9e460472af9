#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

class QDBusConnection;

// Small questions about this desktop, each asked of one service, so
// `quorvel doctor` can say why capture or the tray may not work here and the
// tests can ask them of a private bus and a private X server. None of them
// needs a QGuiApplication: they talk D-Bus and xcb directly.

// What the desktop's screenshot portal (org.freedesktop.portal.Screenshot)
// says of itself.
struct ScreenshotPortalFacts {
    uint version = 0;
    // Bits of what it can be asked to take: 1 screen, 2 window, 4 area.
    // Portals before version 3 do not say; their own dialog lets the person choose.
    std::optional<uint> availableTargets;
};
// Empty when no portal with screenshots answers on `bus` within a few seconds.
std::optional<ScreenshotPortalFacts> probeScreenshotPortal(const QDBusConnection& bus);

// Whether a StatusNotifierItem tray is there: the watcher
// (org.kde.StatusNotifierWatcher) on the session bus, and a host that shows
// the items (IsStatusNotifierHostRegistered). Qt's tray icon uses it when both are.
enum class StatusNotifierTray { absent, watcherWithoutHost, present };
StatusNotifierTray probeStatusNotifierTray(const QDBusConnection& bus);

// Whether some program owns `name` on `bus`.
bool nameOwnedOnBus(const QDBusConnection& bus, const QString& name);

// What an X server's selections say: an XEmbed system tray owns
// _NET_SYSTEM_TRAY_S<screen>, a clipboard manager CLIPBOARD_MANAGER.
struct X11DisplayFacts {
    bool xembedTray = false;
    bool clipboardManager = false;
};
// Empty when the display `name` (as in DISPLAY) cannot be opened.
std::optional<X11DisplayFacts> probeX11Display(const QByteArray& name);
