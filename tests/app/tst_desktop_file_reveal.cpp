// Revealing a finished file: through the file manager's D-Bus service when
// there is one (a stand-in on a private bus here), else by opening its folder.

#include "desktop_file_reveal.h"
#include "private_bus.h"

#include <QDBusConnectionInterface>
#include <QDesktopServices>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kService = QStringLiteral("org.freedesktop.FileManager1");

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

    static QDBusConnection managerSide() { return QDBusConnection(QStringLiteral("manager")); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_bus.start(m_dir.path(), QStringLiteral("app")),
                 "no private bus: is dbus-daemon installed (scripts/install-deps)?");
        QVERIFY(QDBusConnection::connectToBus(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"),
                                              QStringLiteral("manager"))
                    .isConnected());
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_desktop, "open");
    }
    void init() { m_desktop.shown.clear(), m_desktop.opened.clear(); }

    void showsTheFileInTheFileManager()
    {
        QVERIFY(managerSide().registerObject(QStringLiteral("/org/freedesktop/FileManager1"),
                                             &m_desktop, QDBusConnection::ExportAllSlots));
        QVERIFY(managerSide().registerService(kService));
        DesktopFileReveal(QDBusConnection(QStringLiteral("app"))).reveal(m_dir.filePath("a b.mp4"));
        QTRY_COMPARE(m_desktop.shown,
                     QStringList{QUrl::fromLocalFile(m_dir.filePath("a b.mp4")).toString() + "|"});
        QTest::qWait(100);
        QVERIFY(m_desktop.opened.isEmpty());
        managerSide().unregisterService(kService);
    }

    void opensTheFolderWithoutAFileManager_data()
    {
        QTest::addColumn<QString>("connection");
        QTest::newRow("no file manager on the bus") << QStringLiteral("app");
        QTest::newRow("no bus at all") << QStringLiteral("never connected");
    }
    void opensTheFolderWithoutAFileManager()
    {
        QFETCH(QString, connection);
        QTRY_VERIFY(
            !QDBusConnection(QStringLiteral("app")).interface()->isServiceRegistered(kService));
        DesktopFileReveal(QDBusConnection(connection)).reveal(m_dir.filePath("b.mp4"));
        QTRY_COMPARE(m_desktop.opened, QList<QUrl>{QUrl::fromLocalFile(m_dir.path())});
        QVERIFY(m_desktop.shown.isEmpty());
    }
};

QTEST_MAIN(TestDesktopFileReveal)
#include "tst_desktop_file_reveal.moc"
