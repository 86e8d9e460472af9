// A stand-in screenshot portal: answers as its command line says and prints
// each request, and each Close of one, as one JSON line.
//   fake_portal <mode> <version> <available targets> [picture path]
//   mode: picture, cancel, end (response 2, no picture), refuse, old-handle (a
//   handle of its own, as portals before handle_token), vanish (exits without
//   answering), wait (answers only a Close), no-screenshot (a portal without
//   the Screenshot interface)

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

static void printJson(const QJsonObject& line)
{
    std::puts(QJsonDocument(line).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

// The request object the portal exports for each call, so it can be closed.
class FakeRequest : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Request")

public:
    QString path;

public Q_SLOTS:
    void Close() { printJson({{QStringLiteral("closed"), path}}); }
};

class FakeScreenshotPortal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Screenshot")
    Q_PROPERTY(uint version MEMBER version)
    Q_PROPERTY(uint AvailableTargets MEMBER targets)

public:
    QString mode, picture;
    uint version = 0, targets = 0;

public Q_SLOTS:
    QDBusObjectPath Screenshot(const QString& parentWindow, const QVariantMap& options)
    {
        QJsonObject line{{QStringLiteral("parent_window"), parentWindow}};
        for (auto it = options.begin(); it != options.end(); ++it) // with the D-Bus type
            line.insert(it.key(), it.value().toString() + QLatin1Char(':') + it.value().typeName());
        printJson(line);

        if (mode == QLatin1String("refuse")) {
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("Screenshots are not allowed"));
            return {};
        }
        const QString sender = message().service().mid(1).replace(QLatin1Char('.'), u'_');
        const QString handle = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                   .arg(sender, mode == QLatin1String("old-handle")
                                                    ? QStringLiteral("chosen_by_the_portal")
                                                    : options.value("handle_token").toString());
        auto* request = new FakeRequest;
        request->setParent(this);
        request->path = handle;
        QDBusConnection::sessionBus().registerObject(handle, request,
                                                     QDBusConnection::ExportAllSlots);
        const uint response = mode == QLatin1String("cancel") ? 1u
                              : mode == QLatin1String("end")  ? 2u
                                                              : 0u;
        if (mode == QLatin1String("wait"))
            return QDBusObjectPath(handle);
        // After the reply, as a real portal answers once the person is done.
        QTimer::singleShot(100, this, [=, this] {
            if (mode == QLatin1String("vanish"))
                return QCoreApplication::quit();
            QDBusMessage signal =
                QDBusMessage::createSignal(handle, QStringLiteral("org.freedesktop.portal.Request"),
                                           QStringLiteral("Response"));
            QVariantMap results;
            if (response == 0)
                results.insert(QStringLiteral("uri"), QUrl::fromLocalFile(picture).toString());
            QDBusConnection::sessionBus().send(signal << response << results);
        });
        return QDBusObjectPath(handle);
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4)
        return 2;
    FakeScreenshotPortal portal;
    portal.mode = args.at(1);
    portal.version = args.at(2).toUInt();
    portal.targets = args.at(3).toUInt();
    portal.picture = args.value(4);
    // Without screenshots the portal runs, but its version cannot be read.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if ((portal.mode != QLatin1String("no-screenshot") &&
         !bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                             QDBusConnection::ExportAllSlots |
                                 QDBusConnection::ExportAllProperties)) ||
        !bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")))
        return 1;
    return app.exec();
}

#include "fake_portal.moc"
