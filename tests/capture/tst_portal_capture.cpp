// The portal backend against a fake portal on a private session bus: what it
// asks for, and how it turns each kind of answer into exactly one signal.

#include "capture_access.h"
#include "portal_capture_backend.h"
#include "test_support.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kBusName = QStringLiteral("quorvel-portal-test");

// A bus that activates nothing, so a portal installed on this machine can
// never answer in the fake's place.
const char kBusConfig[] = "<!DOCTYPE busconfig PUBLIC"
                          " \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\""
                          " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                          "<busconfig><type>session</type><listen>unix:dir=%1</listen>"
                          "<policy context=\"default\">"
                          "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                          "<allow eavesdrop=\"true\"/><allow own=\"*\"/>"
                          "</policy></busconfig>\n";

} // namespace

class TestPortalCapture : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void answersOnceAsThePortalSays_data();
    void answersOnceAsThePortalSays();
    void accessNeedsThePortalOnWayland();

private:
    QDBusConnection bus() const { return QDBusConnection(kBusName); }
    void startFake(QProcess& fake, const QStringList& arguments);

    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
    QString m_picturePath;
    QImage m_picture;
};

void TestPortalCapture::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QFile config(m_dir.filePath(QStringLiteral("bus.conf")));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(QString::fromLatin1(kBusConfig).arg(m_dir.path()).toUtf8());
    config.close();

    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--config-file=") + config.fileName(),
                    QStringLiteral("--print-address=1"), QStringLiteral("--nofork")});
    QVERIFY2(m_daemon.waitForStarted(5000), "dbus-daemon is missing (scripts/install-deps)");
    QTRY_VERIFY_WITH_TIMEOUT(m_daemon.canReadLine(), 5000);
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    QVERIFY(QDBusConnection::connectToBus(m_address, kBusName).isConnected());

    // Corners in four colours, so a picture turned or cropped on the way is caught.
    m_picture = QImage(40, 30, QImage::Format_ARGB32_Premultiplied);
    m_picture.fill(Qt::white);
    QPainter painter(&m_picture);
    painter.fillRect(0, 0, 10, 10, Qt::red);
    painter.fillRect(30, 0, 10, 10, Qt::green);
    painter.fillRect(0, 20, 10, 10, Qt::blue);
    painter.fillRect(30, 20, 10, 10, Qt::black);
    painter.end();
    m_picturePath = m_dir.filePath(QStringLiteral("Screenshot.png"));
    QVERIFY(m_picture.save(m_picturePath));
}

void TestPortalCapture::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(kBusName);
    m_daemon.kill();
    m_daemon.waitForFinished();
}

void TestPortalCapture::startFake(QProcess& fake, const QStringList& arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
    fake.setProcessEnvironment(environment);
    fake.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    fake.start(QStringLiteral(QUORVEL_FAKE_PORTAL), arguments);
    QVERIFY(fake.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(
        bus().interface()->isServiceRegistered(QString::fromLatin1(portal::kService)), 5000);
}

void TestPortalCapture::answersOnceAsThePortalSays_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<uint>("version");
    QTest::addColumn<uint>("targets");
    QTest::addColumn<ScreenshotTypes>("kind");
    QTest::addColumn<QString>("expectedTarget"); // as the fake saw it; empty when not sent
    QTest::addColumn<QString>("outcome");        // captured, cancelled or the failure

    const uint all = 1 | 2 | 4 | 8;
    QTest::newRow("area, version 3") << "picture" << 3u << all << ScreenshotTypes::area << "4:uint"
                                     << "captured";
    QTest::newRow("window, version 3")
        << "picture" << 3u << all << ScreenshotTypes::window << "2:uint"
        << "captured";
    QTest::newRow("full, version 3") << "picture" << 3u << all << ScreenshotTypes::full << "1:uint"
                                     << "captured";
    QTest::newRow("area not offered") << "picture" << 3u << (1u | 2u) << ScreenshotTypes::area << ""
                                      << "captured";
    QTest::newRow("version 2 takes no target")
        << "picture" << 2u << 0u << ScreenshotTypes::area << ""
        << "captured";
    QTest::newRow("handle of the portal's own")
        << "old-handle" << 1u << 0u << ScreenshotTypes::area << ""
        << "captured";
    QTest::newRow("cancelled") << "cancel" << 3u << all << ScreenshotTypes::area << "4:uint"
                               << "cancelled";
    QTest::newRow("ended") << "end" << 3u << all << ScreenshotTypes::area << "4:uint"
                           << "the desktop's screenshot portal ended the request";
    QTest::newRow("refused") << "refuse" << 3u << all << ScreenshotTypes::area << "4:uint"
                             << "Screenshots are not allowed";
    QTest::newRow("portal gone") << "vanish" << 3u << all << ScreenshotTypes::area << "4:uint"
                                 << "the desktop's screenshot portal went away before answering";
}

void TestPortalCapture::answersOnceAsThePortalSays()
{
    QFETCH(QString, mode);
    QFETCH(uint, version);
    QFETCH(uint, targets);
    QFETCH(ScreenshotTypes, kind);
    QFETCH(QString, expectedTarget);
    QFETCH(QString, outcome);

    QProcess fake;
    startFake(fake, {mode, QString::number(version), QString::number(targets), m_picturePath});

    PortalCaptureBackend backend(bus());
    backend.setParentWindow(0x3a00007);
    QSignalSpy captured(&backend, &CaptureBackend::captured);
    QSignalSpy cancelled(&backend, &CaptureBackend::cancelled);
    QSignalSpy failed(&backend, &CaptureBackend::failed);
    backend.capture(kind);
    QTRY_COMPARE_WITH_TIMEOUT(captured.size() + cancelled.size() + failed.size(), 1, 10000);
    QTest::qWait(300); // a second answer would come within this
    QCOMPARE(captured.size() + cancelled.size() + failed.size(), 1);

    if (outcome == QLatin1String("captured")) {
        QCOMPARE(captured.size(), 1);
        const QImage picture = captured.first().first().value<QImage>();
        QCOMPARE(picture.size(), m_picture.size());
        for (const QPoint corner :
             {QPoint(0, 0), QPoint(39, 0), QPoint(0, 29), QPoint(39, 29), QPoint(20, 15)})
            QUORVEL_COMPARE_COLOR(picture.pixelColor(corner), m_picture.pixelColor(corner), 0);
        QVERIFY2(QFile::exists(m_picturePath), "the portal's file is not ours to delete");
    } else if (outcome == QLatin1String("cancelled")) {
        QCOMPARE(cancelled.size(), 1);
    } else {
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.first().first().toString(), outcome);
    }

    QTRY_VERIFY_WITH_TIMEOUT(fake.canReadLine(), 5000);
    const QJsonObject request = QJsonDocument::fromJson(fake.readLine()).object();
    QCOMPARE(request.value(QStringLiteral("parent_window")).toString(),
             QStringLiteral("x11:3a00007"));
    QCOMPARE(request.value(QStringLiteral("interactive")).toString(), QStringLiteral("true:bool"));
    QVERIFY(request.value(QStringLiteral("handle_token")).toString().startsWith(u"quorvel"));
    QCOMPARE(request.value(QStringLiteral("target")).toString(), expectedTarget);
    QVERIFY2(!fake.canReadLine(), "the portal was asked more than once");

    fake.kill();
    fake.waitForFinished();
    QTRY_VERIFY(!bus().interface()->isServiceRegistered(QString::fromLatin1(portal::kService)));
}

void TestPortalCapture::accessNeedsThePortalOnWayland()
{
    QVERIFY(checkScreenCaptureAccess(bus(), false));
    QVERIFY(!checkScreenCaptureAccess(bus(), true));
    QVERIFY(!checkScreenCaptureAccess(QDBusConnection(QStringLiteral("no-such-bus")), true));

    QProcess fake;
    startFake(fake, {QStringLiteral("cancel"), QStringLiteral("3"), QStringLiteral("15")});
    QVERIFY(checkScreenCaptureAccess(bus(), true));
    fake.kill();
    fake.waitForFinished();
}

QTEST_GUILESS_MAIN(TestPortalCapture)
#include "tst_portal_capture.moc"
