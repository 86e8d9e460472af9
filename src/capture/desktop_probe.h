#pragma once

#include "screenshot_types.h"

#include <QByteArray>
#include <QString>
#include <optional>

class QDBusConnection;

// Small questions about this desktop, each asked of one service, so
// `quorvel doctor` can say why capture or the tray may not work here and the
// tests can ask them of a private bus and a private X server. None of them
// needs a QGuiApplication: they talk D-Bus and xcb directly.

// How the desktop's screenshot portal lets a person choose what an
// interactive request takes: a dialog of its own (GNOME, KDE), or a drag
// straight on the screen (wlroots: slurp, with no window picking).
enum class PortalPicker { unknown, dialog, drag };

// What the desktop's screenshot portal (org.freedesktop.portal.Screenshot)
// says of itself.
struct ScreenshotPortalFacts {
    // 0 when the portal runs but offers no screenshots (its backend for this
    // desktop is missing or could not start).
    uint version = 0;
    // Bits of what it can be asked to take: 1 screen, 2 window, 4 area.
    // Portals before version 3 do not say; their own dialog lets the person choose.
    std::optional<uint> availableTargets;
    // The running backend that implements screenshots, e.g. "wlr" for
    // org.freedesktop.impl.portal.desktop.wlr; empty when none could be told.
    QString backend;
    PortalPicker picker = PortalPicker::unknown;
};
// Empty when no portal answers on `bus` within a few seconds. Blocks: never
// call it on the GUI thread.
std::optional<ScreenshotPortalFacts> probeScreenshotPortal(const QDBusConnection& bus);

// What a portal backend shows for an interactive request, by its bus name's
// last part ("wlr", "gnome", "kde", ...).
PortalPicker pickerOfPortalBackend(const QString& backend);

// What asking this portal for `kind` shows the person, as a phrase for
// `quorvel doctor` and for the line `quorvel capture` prints before asking.
QString portalShows(ScreenshotTypes kind, const ScreenshotPortalFacts& facts);

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
