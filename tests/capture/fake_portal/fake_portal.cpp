// A stand-in for the desktop's screenshot portal on a private bus. It answers
// every Screenshot call the way its command line says and prints what it was
// asked, one JSON line per call, so a test can check the request.
//
//   fake_portal <mode> <version> <available targets> [picture path]
//   mode: picture, cancel, end, refuse, old-handle (a picture on a path of
//   its own choosing, as portals before handle_token did), vanish (exits
//   without answering)

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <QUrl>
#include <cstdio>

class FakeScreenshotPortal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Screenshot")
    Q_PROPERTY(uint version READ version)
    Q_PROPERTY(uint AvailableTargets READ availableTargets)

public:
    FakeScreenshotPortal(QString mode, uint version, uint targets, QString picture)
        : m_mode(std::move(mode)), m_version(version), m_targets(targets),
          m_picture(std::move(picture))
    {
    }

    uint version() const { return m_version; }
    uint availableTargets() const { return m_targets; }

public Q_SLOTS:
    QDBusObjectPath Screenshot(const QString& parentWindow, const QVariantMap& options)
    {
        report(parentWindow, options);
        if (m_mode == QLatin1String("refuse")) {
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("Screenshots are not allowed"));
            return {};
        }
        if (m_mode == QLatin1String("vanish"))
            QTimer::singleShot(50, qApp, &QCoreApplication::quit);

        QString sender = message().service().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
        QString token = options.value(QStringLiteral("handle_token")).toString();
        if (m_mode == QLatin1String("old-handle"))
            token = QStringLiteral("chosen_by_the_portal");
        const QString handle =
            QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);

        uint response = 0;
        if (m_mode == QLatin1String("cancel"))
            response = 1;
        else if (m_mode == QLatin1String("end"))
            response = 2;
        if (m_mode != QLatin1String("vanish")) {
            // After the reply, as a real portal answers once the person is done.
            QTimer::singleShot(100, this, [handle, response, this] {
                QDBusMessage signal = QDBusMessage::createSignal(
                    handle, QStringLiteral("org.freedesktop.portal.Request"),
                    QStringLiteral("Response"));
                QVariantMap results;
                if (response == 0)
                    results.insert(QStringLiteral("uri"),
                                   QUrl::fromLocalFile(m_picture).toString());
                signal << response << results;
                QDBusConnection::sessionBus().send(signal);
            });
        }
        return QDBusObjectPath(handle);
    }

private:
    static void report(const QString& parentWindow, const QVariantMap& options)
    {
        QJsonObject line{{QStringLiteral("parent_window"), parentWindow}};
        for (auto it = options.begin(); it != options.end(); ++it) {
            // Say the D-Bus type too: a target sent as "i" would be refused.
            line.insert(it.key(), it.value().toString() + QLatin1Char(':') + it.value().typeName());
        }
        std::fputs(QJsonDocument(line).toJson(QJsonDocument::Compact).append('\n').constData(),
                   stdout);
        std::fflush(stdout);
    }

    QString m_mode;
    uint m_version;
    uint m_targets;
    QString m_picture;
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4)
        return 2;
    FakeScreenshotPortal portal(args.at(1), args.at(2).toUInt(), args.at(3).toUInt(),
                                args.value(4));
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                            QDBusConnection::ExportAllSlots |
                                QDBusConnection::ExportAllProperties) ||
        !bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")))
        return 1;
    return app.exec();
}

#include "fake_portal.moc"
