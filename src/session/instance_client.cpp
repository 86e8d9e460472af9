#include "instance_client.h"

#include <QDBusConnection>

namespace {

// A running app answers at once; one that does not within these is as good
// as gone, and the command goes on without it.
constexpr int kQuickCallMs = 5000;
// Opening checks every file, and a movie is decoded up to its first picture.
constexpr int kOpenCallMs = 60000;

} // namespace

std::optional<QDBusMessage> InstanceClient::call(const QString& method,
                                                 const QVariantList& arguments, int timeoutMs)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return std::nullopt;
    QDBusMessage message = QDBusMessage::createMethodCall(
        QLatin1String(kInstanceService), QLatin1String(kInstancePath),
        QLatin1String(kInstanceInterface), method);
    message.setArguments(arguments);
    message.setAutoStartService(false);
    QDBusMessage reply = bus.call(message, QDBus::Block, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return std::nullopt;
    return reply;
}

bool InstanceClient::activate()
{
    return call(QStringLiteral("Activate"), {}, kQuickCallMs).has_value();
}

std::optional<QStringList> InstanceClient::open(const QStringList& absolutePaths)
{
    const auto reply = call(QStringLiteral("Open"), {absolutePaths}, kOpenCallMs);
    if (!reply || reply->arguments().size() != 1)
        return std::nullopt;
    return reply->arguments().first().toStringList();
}

std::optional<QString> InstanceClient::capture(const QString& kind)
{
    const auto reply = call(QStringLiteral("Capture"), {kind}, kQuickCallMs);
    if (!reply || reply->arguments().size() != 1)
        return std::nullopt;
    return reply->arguments().first().toString();
}

std::optional<QString> InstanceClient::record(const QString& kind, bool sound, bool pointer)
{
    const auto reply = call(QStringLiteral("Record"), {kind, sound, pointer}, kQuickCallMs);
    if (!reply || reply->arguments().size() != 1)
        return std::nullopt;
    return reply->arguments().first().toString();
}

std::optional<QString> InstanceClient::copyPicture(const QByteArray& png)
{
    const auto reply = call(QStringLiteral("CopyPicture"), {png}, kQuickCallMs);
    if (!reply || reply->arguments().size() != 1)
        return std::nullopt;
    return reply->arguments().first().toString();
}
