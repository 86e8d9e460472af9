// Revealing a finished file: through the file manager's D-Bus service when
// there is one (a stand-in on a private bus here), else by opening its folder.

#include "desktop_file_reveal.h"
#include "private_bus.h"

#include <QDBusConnectionInterface>
#include <QDesktopServices>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// What a file manager receives, and what the desktop is asked to open instead.
class Desktop : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QStringList shown;
    QList<QUrl> opened;

public Q_SLOTS:
    void ShowItems(const QStringList& uris, const QString& startupId)
    {
        shown << uris.join(u',') + u'|' + startupId;
    }
    void open(const QUrl& url) { opened << url; }
};

} // namespace

class TestDesktopFileReveal : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    test_support::PrivateBus m_bus;
    Desktop m_desktop;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_bus.start(m_dir.path(), QStringLiteral("app")),
                 "no private bus: is dbus-daemon installed (scripts/install-deps)?");
        QDBusConnection manager = QDBusConnection::connectToBus(
            qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("manager"));
        QVERIFY(manager.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &m_desktop,
                                       QDBusConnection::ExportAllSlots));
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_desktop, "open");
    }

    void showsTheFileOrItsFolder()
    {
        const QString service = QStringLiteral("org.freedesktop.FileManager1");
        const QString file = m_dir.filePath("a b.mp4");
        QDBusConnection app(QStringLiteral("app")), manager(QStringLiteral("manager"));
        // A file manager shows the file itself.
        QVERIFY(manager.registerService(service));
        DesktopFileReveal(app).reveal(file);
        QTRY_COMPARE(m_desktop.shown, QStringList{QUrl::fromLocalFile(file).toString() + "|"});

        // Without one, or without a bus at all, the desktop opens its folder;
        // never both.
        QVERIFY(manager.unregisterService(service));
        QTRY_VERIFY(!app.interface()->isServiceRegistered(service));
        DesktopFileReveal(app).reveal(file);
        DesktopFileReveal(QDBusConnection(QStringLiteral("never connected"))).reveal(file);
        const QUrl folder = QUrl::fromLocalFile(m_dir.path());
        QTRY_COMPARE(m_desktop.opened, (QList<QUrl>{folder, folder}));
        QCOMPARE(m_desktop.shown.size(), 1);
    }
};

QTEST_MAIN(TestDesktopFileReveal)
#include "tst_desktop_file_reveal.moc"
