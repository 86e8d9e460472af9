#include "portal_request.h"

#include <QRandomGenerator>

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

QString describe(const QDBusError& error, const Wording& words)
{
    switch (error.type()) {
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
