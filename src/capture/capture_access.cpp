#include "capture_access.h"

#include "portal_capture_backend.h"
#include "session_kind.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
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

namespace {

QDBusMessage versionQuery()
{
    QDBusMessage get = QDBusMessage::createMethodCall(
        QString::fromLatin1(portal::kService), QString::fromLatin1(portal::kPath),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QString::fromLatin1(portal::kScreenshotInterface) << QStringLiteral("version");
    return get;
}

// Reading the interface's version proves both that the portal runs and that
// it offers screenshots: a portal without them answers with an error.
bool offersScreenshots(const QDBusMessage& reply)
{
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    return qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant().toUInt() >= 1;
}

} // namespace

void checkScreenCaptureAccessAsync(QObject* context, std::function<void(bool)> answer)
{
    if (!isWaylandSession()) {
        QMetaObject::invokeMethod(
            context, [answer = std::move(answer)] { answer(true); }, Qt::QueuedConnection);
        return;
    }
    checkScreenCaptureAccessAsync(QDBusConnection::sessionBus(), true, context, std::move(answer));
}

void checkScreenCaptureAccessAsync(const QDBusConnection& bus, bool wayland, QObject* context,
                                   std::function<void(bool)> answer)
{
    if (!wayland || !bus.isConnected()) {
        QMetaObject::invokeMethod(
            context, [answer = std::move(answer), wayland] { answer(!wayland); },
            Qt::QueuedConnection);
        return;
    }
    QDBusConnection connection(bus);
    const QDBusPendingCall call = connection.asyncCall(versionQuery(), kPortalCheckTimeoutMs);
    auto* watcher = new QDBusPendingCallWatcher(call, context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [answer = std::move(answer)](QDBusPendingCallWatcher* done) {
                         done->deleteLater();
                         answer(offersScreenshots(done->reply()));
                     });
}

bool checkScreenCaptureAccess(const QDBusConnection& bus, bool wayland)
{
    if (!wayland)
        return true;
    if (!bus.isConnected())
        return false;
    return offersScreenshots(bus.call(versionQuery(), QDBus::Block, kPortalCheckTimeoutMs));
}

QString permissionCheckLine(bool granted)
{
    return granted ? QStringLiteral("Permission check: true")
                   : QStringLiteral("Permission check: false");
}
