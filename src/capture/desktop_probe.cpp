#include "desktop_probe.h"

#include "portal_capture_backend.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QFile>
#include <cstdlib>
#include <memory>
#include <xcb/xcb.h>

namespace {

// Long enough for a portal to be started on demand, short enough for a
// command a person waits on.
constexpr int kBusTimeoutMs = 3000;

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");

QDBusMessage getProperty(const QDBusConnection& bus, const QString& service, const QString& path,
                         const QString& interface, const QString& name)
{
    QDBusMessage get = QDBusMessage::createMethodCall(
        service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << interface << name;
    return bus.call(get, QDBus::Block, kBusTimeoutMs);
}

std::optional<QVariant> propertyValue(const QDBusMessage& reply)
{
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    return qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant();
}

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;
template <typename T> Reply<T> reply(T* raw)
{
    return Reply<T>(raw, &std::free);
}

bool selectionOwned(xcb_connection_t* c, const QByteArray& selection)
{
    auto atom = reply(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, true, uint16_t(selection.size()), selection.constData()), nullptr));
    // An atom nobody ever named cannot have an owner.
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return false;
    auto owner =
        reply(xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr));
    return owner && owner->owner != XCB_WINDOW_NONE;
}

// A question for the bus itself. Asked with a message rather than through
// QDBusConnectionInterface, whose object belongs to the main thread: these
// questions may be asked from a worker.
QDBusMessage busDaemonCall(const QString& method)
{
    return QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), method);
}

// Whether the backend's description (NAME.portal) names one of this session's
// desktops in its UseIn line, as xdg-desktop-portal reads it.
bool madeForThisDesktop(const QString& backend)
{
    const QString folder = qEnvironmentVariableIsEmpty("XDG_DESKTOP_PORTAL_DIR")
                               ? QStringLiteral("/usr/share/xdg-desktop-portal/portals")
                               : qEnvironmentVariable("XDG_DESKTOP_PORTAL_DIR");
    QFile description(folder + u'/' + backend + QStringLiteral(".portal"));
    if (!description.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    const QStringList desktops =
        qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':', Qt::SkipEmptyParts);
    while (!description.atEnd()) {
        const QString line = QString::fromUtf8(description.readLine()).trimmed();
        if (!line.startsWith(QLatin1String("UseIn=")))
            continue;
        for (const QString& desktop : line.mid(6).split(u';', Qt::SkipEmptyParts))
            if (desktops.contains(desktop.trimmed(), Qt::CaseInsensitive))
                return true;
    }
    return false;
}

// The portal hands each request to a backend of its own
// (org.freedesktop.impl.portal.desktop.NAME), which the portal started when it
// started. The one that implements screenshots decides what a person sees; the
// portal's own interface does not say. Empty when none or several answer.
QString screenshotBackend(const QDBusConnection& bus)
{
    const QString prefix = QStringLiteral("org.freedesktop.impl.portal.desktop.");
    const QString implementation = QStringLiteral("\"org.freedesktop.impl.portal.Screenshot\"");
    const QDBusReply<QStringList> names = bus.call(busDaemonCall(QStringLiteral("ListNames")),
                                                   QDBus::Block, kBusTimeoutMs);
    if (!names.isValid())
        return {};
    QStringList found;
    for (const QString& name : names.value()) {
        if (!name.startsWith(prefix))
            continue;
        const QDBusMessage introspect = QDBusMessage::createMethodCall(
            name, QString::fromLatin1(portal::kPath),
            QStringLiteral("org.freedesktop.DBus.Introspectable"), QStringLiteral("Introspect"));
        const QDBusMessage reply = bus.call(introspect, QDBus::Block, kBusTimeoutMs);
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
            reply.arguments().constFirst().toString().contains(implementation))
            found << name.mid(prefix.size());
    }
    // Another desktop's backend may run beside this one's (the portal starts
    // it for an interface this desktop's lacks); screenshots go to the one
    // made for this desktop.
    if (found.size() > 1) {
        QStringList own;
        for (const QString& backend : std::as_const(found))
            if (madeForThisDesktop(backend))
                own << backend;
        found = own;
    }
    return found.size() == 1 ? found.constFirst() : QString();
}

} // namespace

std::optional<ScreenshotPortalFacts> probeScreenshotPortal(const QDBusConnection& bus)
{
    if (!bus.isConnected())
        return std::nullopt;
    const QString service = QString::fromLatin1(portal::kService);
    const QString path = QString::fromLatin1(portal::kPath);
    const QString interface = QString::fromLatin1(portal::kScreenshotInterface);
    // A portal without screenshots answers the version with an error.
    const std::optional<QVariant> version =
        propertyValue(getProperty(bus, service, path, interface, QStringLiteral("version")));
    if (!version || version->toUInt() < 1) {
        // Asking started the portal if it can be started at all, so a portal
        // that runs now is one whose backend offers no screenshots.
        if (!nameOwnedOnBus(bus, service))
            return std::nullopt;
        return ScreenshotPortalFacts{};
    }
    ScreenshotPortalFacts facts{version->toUInt(), std::nullopt, {}, PortalPicker::unknown};
    if (facts.version >= 3) {
        if (const auto targets = propertyValue(
                getProperty(bus, service, path, interface, QStringLiteral("AvailableTargets"))))
            facts.availableTargets = targets->toUInt();
    }
    facts.backend = screenshotBackend(bus);
    facts.picker = pickerOfPortalBackend(facts.backend);
    return facts;
}

PortalPicker pickerOfPortalBackend(const QString& backend)
{
    // xdg-desktop-portal-wlr runs slurp for an interactive request: a drag
    // over the screen, whatever kind was asked for.
    if (backend == QLatin1String("wlr"))
        return PortalPicker::drag;
    for (const char* withDialog : {"gnome", "kde", "gtk", "lxqt", "xapp"})
        if (backend == QLatin1String(withDialog))
            return PortalPicker::dialog;
    return PortalPicker::unknown;
}

QString portalShows(ScreenshotTypes kind, const ScreenshotPortalFacts& facts)
{
    if (kind == ScreenshotTypes::full)
        return QStringLiteral("the whole screen at once, with nothing to choose (the desktop may "
                              "ask once whether Quorvel may take screenshots)");
    switch (facts.picker) {
    case PortalPicker::drag:
        return kind == ScreenshotTypes::window
                   ? QStringLiteral("a drag on the screen over the window, as for an area (this "
                                    "portal cannot pick a window by a click); Escape cancels")
                   : QStringLiteral("a drag on the screen over the area; Escape cancels");
    case PortalPicker::dialog:
        return QStringLiteral("the desktop's own screenshot dialog, where you choose what to "
                              "take; its Cancel button cancels");
    case PortalPicker::unknown:
        break;
    }
    return QStringLiteral("whatever the desktop's screenshot portal shows to choose what to take");
}

StatusNotifierTray probeStatusNotifierTray(const QDBusConnection& bus)
{
    if (!nameOwnedOnBus(bus, kWatcherService))
        return StatusNotifierTray::absent;
    const std::optional<QVariant> host = propertyValue(
        getProperty(bus, kWatcherService, QStringLiteral("/StatusNotifierWatcher"), kWatcherService,
                    QStringLiteral("IsStatusNotifierHostRegistered")));
    return host && host->toBool() ? StatusNotifierTray::present
                                  : StatusNotifierTray::watcherWithoutHost;
}

bool nameOwnedOnBus(const QDBusConnection& bus, const QString& name)
{
    if (!bus.isConnected())
        return false;
    const QDBusReply<bool> owned =
        bus.call(busDaemonCall(QStringLiteral("NameHasOwner")) << name, QDBus::Block, kBusTimeoutMs);
    return owned.isValid() && owned.value();
}

std::optional<X11DisplayFacts> probeX11Display(const QByteArray& name)
{
    if (name.isEmpty())
        return std::nullopt;
    int screenNumber = 0;
    std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> c(
        xcb_connect(name.constData(), &screenNumber), &xcb_disconnect);
    if (!c || xcb_connection_has_error(c.get()))
        return std::nullopt;
    return X11DisplayFacts{
        selectionOwned(c.get(), "_NET_SYSTEM_TRAY_S" + QByteArray::number(screenNumber)),
        selectionOwned(c.get(), "CLIPBOARD_MANAGER")};
}
