#include "doctor_command.h"

#include "exit_status.h"
#include "console.h"
#include "desktop_probe.h"
#include "session_kind.h"

#include <QDBusConnection>
#include <QStandardPaths>

namespace {

// Everything the report is made from, gathered once.
struct DoctorFacts {
    QString display;                    // DISPLAY
    QString waylandDisplay;             // WAYLAND_DISPLAY
    QString sessionType;                // XDG_SESSION_TYPE
    QString desktop;                    // XDG_CURRENT_DESKTOP, e.g. "GNOME" or "ubuntu:GNOME"
    std::optional<X11DisplayFacts> x11; // empty when DISPLAY cannot be opened
    bool sessionBus = false;
    std::optional<ScreenshotPortalFacts> portal;
    StatusNotifierTray statusNotifier = StatusNotifierTray::absent;
    bool klipper = false;
    bool wlClipboard = false; // wl-copy and wl-paste, which copies on Wayland go through
};

struct DoctorReport {
    QStringList lines;
    bool captureWorks = false;

    // Findings quote the environment, which may hold anything.
    void say(const QString& label, const QString& finding)
    {
        lines << oneLine(label + QStringLiteral(": ") + finding);
    }
    void advise(const QString& what) { lines << QStringLiteral("  → ") + what; }
};

DoctorFacts gatherFacts()
{
    DoctorFacts facts;
    facts.display = qEnvironmentVariable("DISPLAY");
    facts.waylandDisplay = qEnvironmentVariable("WAYLAND_DISPLAY");
    facts.sessionType = qEnvironmentVariable("XDG_SESSION_TYPE");
    facts.desktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    if (facts.display.isEmpty() && facts.waylandDisplay.isEmpty())
        return facts; // nothing on this desktop can be asked
    facts.x11 = probeX11Display(facts.display.toLocal8Bit());
    const QDBusConnection bus = QDBusConnection::sessionBus();
    facts.sessionBus = bus.isConnected();
    facts.portal = probeScreenshotPortal(bus);
    facts.statusNotifier = probeStatusNotifierTray(bus);
    facts.klipper = nameOwnedOnBus(bus, QStringLiteral("org.kde.klipper"));
    facts.wlClipboard = !QStandardPaths::findExecutable(QStringLiteral("wl-copy")).isEmpty() &&
                        !QStandardPaths::findExecutable(QStringLiteral("wl-paste")).isEmpty();
    return facts;
}

bool onDesktop(const DoctorFacts& facts, QLatin1String name)
{
    return facts.desktop.contains(name, Qt::CaseInsensitive);
}

QString kindsIn(uint targets)
{
    QStringList kinds;
    if (targets & 4)
        kinds << QStringLiteral("area");
    if (targets & 2)
        kinds << QStringLiteral("window");
    if (targets & 1)
        kinds << QStringLiteral("full screen");
    return kinds.join(QStringLiteral(", "));
}

void reportSession(const DoctorFacts& facts, SessionKind kind, DoctorReport& report)
{
    const QString desktop = facts.desktop.isEmpty() ? QStringLiteral("desktop unknown")
                                                    : QStringLiteral("desktop ") + facts.desktop;
    if (kind == SessionKind::wayland) {
        const QString where = facts.waylandDisplay.isEmpty()
                                  ? QString()
                                  : QStringLiteral(" (%1)").arg(facts.waylandDisplay);
        report.say(QStringLiteral("Session"), QStringLiteral("Wayland%1, %2").arg(where, desktop));
    } else if (facts.x11) {
        report.say(QStringLiteral("Session"),
                   QStringLiteral("X11 (display %1), %2").arg(facts.display, desktop));
    } else {
        report.say(QStringLiteral("Session"),
                   QStringLiteral("X11, but display %1 cannot be opened").arg(facts.display));
        report.advise(QStringLiteral(
            "check that DISPLAY names your running desktop and XAUTHORITY lets you in"));
    }
}

void reportPortal(const DoctorFacts& facts, DoctorReport& report)
{
    const QString label = QStringLiteral("Screenshot portal");
    if (!facts.sessionBus) {
        report.say(label, QStringLiteral("no session bus"));
        return;
    }
    if (!facts.portal) {
        report.say(label, QStringLiteral("not running"));
        return;
    }
    if (facts.portal->version == 0) {
        report.say(label, QStringLiteral("the desktop portal runs, but offers no screenshots"));
        return;
    }
    QString finding = QStringLiteral("version %1").arg(facts.portal->version);
    if (facts.portal->availableTargets)
        finding += QStringLiteral(", can take ") + kindsIn(*facts.portal->availableTargets);
    if (!facts.portal->backend.isEmpty())
        finding += QStringLiteral(", through xdg-desktop-portal-") + facts.portal->backend;
    report.say(label, finding);
}

void reportCapture(const DoctorFacts& facts, SessionKind kind, DoctorReport& report)
{
    reportPortal(facts, report);
    if (kind == SessionKind::wayland) {
        report.captureWorks = facts.portal && facts.portal->version >= 1;
        if (!facts.sessionBus)
            report.advise(QStringLiteral("start your desktop with a D-Bus session bus "
                                         "(DBUS_SESSION_BUS_ADDRESS is not set)"));
        else if (!facts.portal)
            report.advise(
                QStringLiteral("install xdg-desktop-portal and your desktop's backend for it "
                               "(xdg-desktop-portal-gnome, -kde or -wlr), then log in again"));
        else if (!report.captureWorks)
            // Installed, but its backend is gone: it crashed, or (wlroots) PipeWire is not running.
            report.advise(QStringLiteral(
                "your desktop's portal backend (xdg-desktop-portal-gnome, -kde or -wlr) is not "
                "answering; on sway and other wlroots desktops it needs PipeWire running; log "
                "out and in again"));
        if (!report.captureWorks) {
            report.say(
                QStringLiteral("Capture"),
                QStringLiteral("not possible: on Wayland only the portal may see the screen"));
            return;
        }
        for (const auto& [kindName, screenshotKind] :
             {std::pair{"full", ScreenshotTypes::full}, std::pair{"area", ScreenshotTypes::area},
              std::pair{"window", ScreenshotTypes::window}})
            report.say(QStringLiteral("Capture %1").arg(QLatin1String(kindName)),
                       portalShows(screenshotKind, *facts.portal));
        return;
    }
    report.captureWorks = true;
    report.say(QStringLiteral("Capture"),
               QStringLiteral("area, window and full screen, with Quorvel's own overlay"));
}

void reportTray(const DoctorFacts& facts, SessionKind kind, DoctorReport& report)
{
    const QString label = QStringLiteral("Tray");
    // Qt's tray icon prefers a StatusNotifier host and falls back to XEmbed on X11.
    if (facts.statusNotifier == StatusNotifierTray::present) {
        report.say(label, QStringLiteral("StatusNotifier host found, the Quorvel icon will show"));
        return;
    }
    if (kind != SessionKind::wayland && facts.x11 && facts.x11->xembedTray) {
        report.say(label, QStringLiteral("XEmbed system tray found, the Quorvel icon will show"));
        return;
    }
    report.say(label,
               facts.statusNotifier == StatusNotifierTray::watcherWithoutHost
                   ? QStringLiteral("a StatusNotifierWatcher runs, but nothing shows its icons; "
                                    "Quorvel runs as a window of its own")
                   : QStringLiteral("none found; Quorvel runs as a window of its own"));
    if (onDesktop(facts, QLatin1String("GNOME")))
        report.advise(QStringLiteral("enable the AppIndicator extension (Debian package "
                                     "gnome-shell-extension-appindicator), then log in again"));
    else
        report.advise(
            QStringLiteral("add a system tray (notification area) to your desktop's panel"));
}

void reportClipboard(const DoctorFacts& facts, SessionKind kind, DoctorReport& report)
{
    const QString label = QStringLiteral("Clipboard manager");
    if (facts.klipper) {
        report.say(label,
                   QStringLiteral("Klipper, captures stay on the clipboard after Quorvel quits"));
    } else if (kind == SessionKind::wayland && facts.wlClipboard) {
        report.say(label, QStringLiteral("wl-copy, copies from the command line stay on the "
                                         "clipboard after Quorvel quits"));
    } else if (kind == SessionKind::wayland) {
        report.say(label, QStringLiteral("wl-copy not found, copies from the command line "
                                         "cannot reach the clipboard"));
        report.advise(QStringLiteral("install wl-clipboard"));
    } else if (facts.x11 && facts.x11->clipboardManager) {
        report.say(label,
                   QStringLiteral("running, captures stay on the clipboard after Quorvel quits"));
    } else {
        report.say(label,
                   QStringLiteral("none, a capture leaves the clipboard when Quorvel quits"));
        report.advise(QStringLiteral("keep Quorvel running, or start a clipboard manager "
                                     "(for example xfce4-clipman or parcellite)"));
    }
}

void reportShortcuts(const DoctorFacts& facts, DoctorReport& report)
{
    QString where;
    if (onDesktop(facts, QLatin1String("GNOME")))
        where = QStringLiteral(" in Settings > Keyboard > Custom Shortcuts");
    else if (onDesktop(facts, QLatin1String("KDE")))
        where = QStringLiteral(" in System Settings > Shortcuts > Custom Shortcuts");
    else if (onDesktop(facts, QLatin1String("XFCE")))
        where = QStringLiteral(" in Keyboard > Application Shortcuts");
    report.say(
        QStringLiteral("Shortcuts"),
        QStringLiteral("bind keys to \"quorvel capture area\" and \"quorvel capture window\"") +
            where);
}

DoctorReport reportOn(const DoctorFacts& facts)
{
    DoctorReport report;
    if (facts.display.isEmpty() && facts.waylandDisplay.isEmpty()) {
        report.say(QStringLiteral("Session"),
                   QStringLiteral("no display (neither DISPLAY nor WAYLAND_DISPLAY is set)"));
        report.advise(QStringLiteral("run quorvel doctor in a terminal of your desktop session"));
        report.say(QStringLiteral("Capture"), QStringLiteral("not possible without a display"));
        return report;
    }
    // An X display we can open counts as X11 unless a Wayland compositor runs the session.
    const SessionKind kind =
        sessionKind({facts.display.isEmpty() ? QString() : QStringLiteral("xcb"),
                     facts.waylandDisplay, facts.sessionType});
    reportSession(facts, kind, report);
    // Without the X server nothing else here can be known.
    if (kind != SessionKind::wayland && !facts.x11) {
        report.say(QStringLiteral("Capture"), QStringLiteral("not possible without the display"));
        return report;
    }
    reportCapture(facts, kind, report);
    reportTray(facts, kind, report);
    reportClipboard(facts, kind, report);
    reportShortcuts(facts, report);
    return report;
}

} // namespace

int runDoctorCommand(const QStringList& arguments)
{
    if (arguments == QStringList{QStringLiteral("--help")} ||
        arguments == QStringList{QStringLiteral("-h")}) {
        printLine(QStringLiteral(
            "Usage: quorvel doctor\n"
            "Says whether capture, the tray and the clipboard can work on this desktop,\n"
            "and what to do where they cannot. Exits 1 when capture cannot work."));
        return exitSuccess;
    }
    if (!arguments.isEmpty()) {
        printErrorLine(oneLine(
            QStringLiteral("quorvel doctor: unexpected argument '%1'").arg(arguments.first())));
        return exitUsage;
    }
    const DoctorReport report = reportOn(gatherFacts());
    for (const QString& line : report.lines)
        printLine(line);
    return report.captureWorks ? exitSuccess : exitFailure;
}
