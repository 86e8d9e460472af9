#include "capture_access.h"

#include "portal_capture_backend.h"
#include "session_kind.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>

namespace {

// Long enough for the portal to be started on demand, short enough that a
// missing one does not hold up the window.
constexpr int kPortalCheckTimeoutMs = 2000;

} // namespace

bool checkScreenCaptureAccess()
{
    if (!isWaylandSession())
        return true;
    return checkScreenCaptureAccess(QDBusConnection::sessionBus(), true);
}

bool checkScreenCaptureAccess(const QDBusConnection& bus, bool wayland)
{
    if (!wayland)
        return true;
    if (!bus.isConnected())
        return false;
    // Reading the interface's version proves both that the portal runs and
    // that it offers screenshots: a portal without them answers with an error.
    QDBusMessage get = QDBusMessage::createMethodCall(
        QString::fromLatin1(portal::kService), QString::fromLatin1(portal::kPath),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QString::fromLatin1(portal::kScreenshotInterface) << QStringLiteral("version");
    const QDBusMessage reply = bus.call(get, QDBus::Block, kPortalCheckTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    return qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant().toUInt() >= 1;
}

QString permissionCheckLine(bool granted)
{
    return granted ? QStringLiteral("Permission check: true")
                   : QStringLiteral("Permission check: false");
}
