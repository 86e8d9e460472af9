#include "portal_request.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QRandomGenerator>

namespace {

const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
// Reading the portal's properties activates it if it is not running yet;
// that takes a moment, but never this long.
constexpr int kPropertiesTimeoutMs = 5000;
// A portal takes a Close at once; one that does not still lets us go.
constexpr int kCloseTimeoutMs = 2000;

} // namespace

namespace portal {

QString newHandleToken()
{
    static quint64 counter = 0;
    return QStringLiteral("quorvel%1_%2")
        .arg(++counter)
        .arg(QRandomGenerator::global()->generate());
}

QString predictedRequestPath(const QDBusConnection& bus, const QString& token)
{
    QString sender = bus.baseService();
    if (sender.startsWith(QLatin1Char(':')))
        sender.remove(0, 1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QLatin1String(kPath) + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
}

QDBusPendingCall call(const QDBusConnection& bus, const QDBusMessage& message, int timeoutMs)
{
    if (!bus.isConnected())
        return QDBusPendingCall::fromError(
            QDBusError(QDBusError::Disconnected, QStringLiteral("not connected to a bus")));
    return bus.asyncCall(message, timeoutMs);
}

void readProperties(const QDBusConnection& bus, const QString& interface, QObject* context,
                    std::function<void(const QDBusPendingReply<QVariantMap>&)> read)
{
    QDBusMessage getAll = QDBusMessage::createMethodCall(
        QLatin1String(kService), QLatin1String(kPath),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"));
    getAll << interface;
    auto* watcher = new QDBusPendingCallWatcher(call(bus, getAll, kPropertiesTimeoutMs), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [read = std::move(read)](QDBusPendingCallWatcher* finished) {
                         finished->deleteLater();
                         read(*finished);
                     });
}

QString describe(const QDBusError& error, const Wording& words)
{
    switch (error.type()) {
    case QDBusError::Disconnected:
        return QStringLiteral("there is no session bus to reach the desktop's ") + words.name;
    case QDBusError::AccessDenied:
        return QStringLiteral("the desktop does not allow Quorvel to ") + words.allowsTo;
    case QDBusError::ServiceUnknown:
        return QStringLiteral("the desktop's %1 is not running").arg(words.name);
    case QDBusError::UnknownObject:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownMethod:
    case QDBusError::InvalidArgs:
        return QStringLiteral("the desktop's portal offers no ") + words.offers;
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
        return QStringLiteral("the desktop's %1 did not answer").arg(words.name);
    default:
        break;
    }
    return QStringLiteral("the desktop's %1 could not take the request").arg(words.name);
}

} // namespace portal

PortalRequest::PortalRequest(const QDBusConnection& bus, portal::Wording words, QObject* parent)
    : QObject(parent), m_bus(bus), m_words(std::move(words))
{
}

PortalRequest::~PortalRequest()
{
    stopListening();
}

void PortalRequest::ask(const QString& interface, const QString& method,
                        const QList<QVariant>& arguments, QVariantMap options)
{
    const QString token = portal::newHandleToken();
    options.insert(QStringLiteral("handle_token"), token);
    const QString predicted = portal::predictedRequestPath(m_bus, token);
    if (!listenOn(predicted))
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QLatin1String(portal::kService), QLatin1String(portal::kPath), interface, method);
    call.setArguments(arguments + QList<QVariant>{options});
    auto* watcher = new QDBusPendingCallWatcher(portal::call(m_bus, call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, predicted](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                if (m_over)
                    return;
                const QDBusPendingReply<QDBusObjectPath> reply = *finished;
                if (reply.isError()) {
                    failLater(portal::describe(reply.error(), m_words));
                    return;
                }
                // Portals older than the handle_token option pick their own path.
                const QString handle = reply.value().path();
                if (handle.isEmpty())
                    failLater(QStringLiteral("the desktop's %1 gave no request to wait on")
                                  .arg(m_words.name));
                else if (handle != predicted)
                    listenOn(handle);
            });
}

void PortalRequest::close(QObject* context, std::function<void()> closed)
{
    const QString path = m_path;
    m_over = true;
    stopListening();
    if (path.isEmpty()) {
        if (closed)
            QMetaObject::invokeMethod(context ? context : this, std::move(closed),
                                      Qt::QueuedConnection);
        return;
    }
    // The portal takes our calls in order, so Close never comes before the
    // call it closes.
    const QDBusMessage close = QDBusMessage::createMethodCall(
        QLatin1String(portal::kService), path, kRequestInterface, QStringLiteral("Close"));
    if (!closed) {
        m_bus.send(close);
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(portal::call(m_bus, close, kCloseTimeoutMs),
                                                context ? context : this);
    connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
            [closed = std::move(closed)](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                closed();
            });
}

void PortalRequest::handleResponse(uint response, const QVariantMap& results)
{
    if (m_over)
        return;
    m_over = true;
    stopListening();
    Q_EMIT answered(response, results);
}

bool PortalRequest::listenOn(const QString& path)
{
    stopListening();
    // Without the match rule the answer would never reach us, and the person
    // would wait for ever.
    if (!m_bus.connect(QLatin1String(portal::kService), path, kRequestInterface,
                       QStringLiteral("Response"), this, SLOT(handleResponse(uint, QVariantMap)))) {
        failLater(QStringLiteral("could not listen for the %1's answer").arg(m_words.name));
        return false;
    }
    m_path = path;
    m_listening = true;
    return true;
}

void PortalRequest::stopListening()
{
    if (!m_listening)
        return;
    m_listening = false;
    m_bus.disconnect(QLatin1String(portal::kService), m_path, kRequestInterface,
                     QStringLiteral("Response"), this, SLOT(handleResponse(uint, QVariantMap)));
}

// Queued, so no answer comes while ask() runs.
void PortalRequest::failLater(const QString& reason)
{
    if (m_over)
        return;
    m_over = true;
    stopListening();
    QMetaObject::invokeMethod(
        this, [this, reason] { Q_EMIT failed(reason); }, Qt::QueuedConnection);
}
