// The portal backend against a fake portal on a private bus: what it asks for,
// and each answer as exactly one signal. The screen is scaled 2× (HiDPI).

#include "capture_access.h"
#include "portal_capture_backend.h"
#include "private_bus.h"
#include "test_support.h"

#include <QDBusConnectionInterface>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScreen>
#include <QtTest>
#include <csignal>

static const QString kBusName = QStringLiteral("quorvel-portal-test");

class TestPortalCapture : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    test_support::PrivateBus m_bus;
    QProcess m_fake;
    QImage m_picture;

    QDBusConnection bus() const { return QDBusConnection(kBusName); }
    bool portalOnBus() const
    {
        return bus().interface()->isServiceRegistered(QString::fromLatin1(portal::kService));
    }

    void startFake(const QStringList& arguments)
    {
        m_fake.start(QStringLiteral(QUORVEL_FAKE_PORTAL), arguments);
        QVERIFY(m_fake.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(portalOnBus(), 5000);
    }

private Q_SLOTS:
    void cleanup()
    {
        m_fake.close(); // kills it, so the next test starts without one
        QTRY_VERIFY(!portalOnBus());
    }
    void initTestCase()
    {
        QVERIFY2(m_bus.start(m_dir.path(), kBusName),
                 "no private bus: is dbus-daemon installed (scripts/install-deps)?");
        // Noise, so nothing turned or cropped goes unseen; its copy marked as made at 3×.
        const QString picture = m_dir.filePath("Screenshot.png");
        QUORVEL_MAGICK("-seed", "1", "-size", "40x30", "plasma:", "-depth", "8", picture);
        QUORVEL_MAGICK(picture, "-units", "PixelsPerInch", "-density", "216",
                       m_dir.filePath("Marked.png"));
        m_picture = QImage(picture).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(QGuiApplication::primaryScreen()->devicePixelRatio(), 2.0);
    }

    void answersOnceAsThePortalSays_data()
    {
        QTest::addColumn<QStringList>("fake"); // mode, version, available targets
        QTest::addColumn<ScreenshotTypes>("kind");
        QTest::addColumn<QString>("target");  // as the fake saw it; empty when not sent
        QTest::addColumn<QString>("outcome"); // captured, cancelled or the failure
        QTest::addColumn<QString>("file");    // the portal's picture
        using enum ScreenshotTypes;
        const auto row = [](const char* name, const char* fake, ScreenshotTypes kind,
                            const char* target, const char* outcome = "captured",
                            const char* file = "Screenshot.png") {
            QTest::newRow(name) << QString::fromLatin1(fake).split(u' ') << kind << QString(target)
                                << QString(outcome) << QString(file);
        };
        row("area, version 3", "picture 3 15", area, "4:uint");
        row("window, version 3", "picture 3 15", window, "2:uint");
        row("full, version 3", "picture 3 15", full, "1:uint");
        row("area not offered", "picture 3 3", area, "");
        row("version 2 takes no target", "picture 2 0", area, "");
        row("handle of the portal's own", "old-handle 1 0", area, "");
        row("file marked 3×", "picture 3 15", area, "4:uint", "captured", "Marked.png");
        row("file gone", "picture 3 15", area, "4:uint", "No such file or directory", "Gone.png");
        row("cancelled", "cancel 3 15", area, "4:uint", "cancelled");
        // wlroots' answer to Escape during its drag
        row("ended without a picture", "end 2 0", window, "", "cancelled");
        row("full screen ended", "end 3 15", full, "1:uint", "could not take it");
        row("refused", "refuse 3 15", area, "4:uint", "does not allow");
        row("portal gone", "vanish 3 15", area, "4:uint", "went away");
    }

    void answersOnceAsThePortalSays()
    {
        QFETCH(QStringList, fake);
        QFETCH(ScreenshotTypes, kind);
        QFETCH(QString, target);
        QFETCH(QString, outcome);
        QFETCH(QString, file);
        startFake(fake << m_dir.filePath(file));
        PortalCaptureBackend backend(bus());
        backend.setParentWindow(0x3a00007);
        QSignalSpy captured(&backend, &CaptureBackend::captured);
        QSignalSpy cancelled(&backend, &CaptureBackend::cancelled);
        QSignalSpy failed(&backend, &CaptureBackend::failed);
        backend.capture(kind);
        QTRY_COMPARE_WITH_TIMEOUT(captured.size() + cancelled.size() + failed.size(), 1, 10000);
        QTest::qWait(300); // a second answer would come within this
        QCOMPARE(captured.size() + cancelled.size() + failed.size(), 1);
        const QString got = captured.size()    ? QString("captured")
                            : cancelled.size() ? QString("cancelled")
                                               : "failed: " + failed.first().first().toString();
        QVERIFY2(got == outcome || (got.startsWith("failed") && got.contains(outcome)),
                 qPrintable(got));
        if (captured.size()) { // every pixel kept; the file's own density wins over the screen's
            const QImage picture = captured.first().first().value<QImage>();
            QImage pixels = picture.convertToFormat(m_picture.format());
            pixels.setDevicePixelRatio(1);
            QCOMPARE(pixels, m_picture);
            const qreal ratio = file == QLatin1String("Marked.png") ? 3 : 2;
            QCOMPARE(picture.devicePixelRatio(), ratio);
            QCOMPARE(picture.deviceIndependentSize(), QSizeF(40, 30) / ratio);
            QVERIFY(QFile::exists(m_dir.filePath(file))); // the portal's file is not ours to delete
        }
        QTRY_VERIFY_WITH_TIMEOUT(m_fake.canReadLine(), 5000);
        const QJsonObject request = QJsonDocument::fromJson(m_fake.readLine()).object();
        QCOMPARE(request.value("parent_window").toString(), QStringLiteral("x11:3a00007"));
        // The full screen needs no choosing; asked interactively, wlroots makes
        // the person drag over it.
        QCOMPARE(request.value("interactive").toString(),
                 QString(kind == ScreenshotTypes::full ? "false:bool" : "true:bool"));
        QVERIFY(request.value("handle_token").toString().startsWith(u"quorvel"));
        QCOMPARE(request.value("target").toString(), target);
        QVERIFY(!m_fake.canReadLine()); // asked once
    }

    // No bus to reach the portal: one failure at once, in our words.
    void failsWithoutABus()
    {
        PortalCaptureBackend backend(QDBusConnection(QStringLiteral("never connected")));
        QSignalSpy failed(&backend, &CaptureBackend::failed);
        backend.capture(ScreenshotTypes::area);
        QTRY_COMPARE(failed.value(0).value(0).toString(),
                     "there is no session bus to reach the desktop's screenshot portal");
    }

    void cancelClosesThePortalsRequest()
    {
        startFake({"wait", "2", "0"});
        PortalCaptureBackend backend(bus());
        QSignalSpy cancelled(&backend, &CaptureBackend::cancelled);
        QSignalSpy failed(&backend, &CaptureBackend::failed);
        QVERIFY(!backend.cancel()); // nothing to cancel yet
        backend.capture(ScreenshotTypes::area);
        QTRY_VERIFY_WITH_TIMEOUT(m_fake.canReadLine(), 5000);
        m_fake.readLine();
        QVERIFY(backend.cancel());
        QTRY_COMPARE_WITH_TIMEOUT(cancelled.size(), 1, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(m_fake.canReadLine(), 5000); // the request object's own path
        QVERIFY(m_fake.readLine().contains("\"closed\""));
        QVERIFY(!backend.cancel()); // already over: no second answer
        QTest::qWait(300);
        QCOMPARE(cancelled.size(), 1);
        QCOMPARE(failed.size(), 0);

        // Cancelled before the portal was asked: it never is.
        backend.capture(ScreenshotTypes::area);
        backend.cancel();
        QTRY_COMPARE(cancelled.size(), 2);
        QTest::qWait(300);
        QVERIFY(!m_fake.canReadLine());
    }

    // Ctrl+C or SIGTERM on `quorvel capture -o` during a drag closes the portal's request
    // and writes nothing (the full screen and a finished drag: tst_sway_session); so does
    // SIGTERM on `quorvel capture` become the app (last: without -o), in the background.
    void signalsCloseThePortalsRequest()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QUORVEL_CAPTURE_BACKEND", "portal");
        env.remove("QT_SCALE_FACTOR");
        const QString out = m_dir.filePath("out.png");
        QProcess command;
        command.setProcessEnvironment(env);
        for (const int signal : {SIGTERM, SIGINT, 0}) {
            startFake({"wait", "2", "0"});
            const QStringList withFile{"-o", out};
            command.start(test_support::quorvelBinary(),
                          QStringList{"capture", "area"} + (signal ? withFile : QStringList()));
            QTRY_VERIFY_WITH_TIMEOUT(m_fake.canReadLine(), 10000); // the request is on screen
            m_fake.readLine();
            ::kill(command.processId(), signal ? signal : SIGTERM);
            QVERIFY(command.waitForFinished(10000));
            QCOMPARE(command.exitStatus(), QProcess::NormalExit);
            QCOMPARE(command.exitCode(), 1);
            if (signal) {
                QVERIFY(command.readAllStandardOutput().startsWith("Capturing area: "));
                QVERIFY(command.readAllStandardError().endsWith("nothing was written\n"));
            }
            QTRY_VERIFY_WITH_TIMEOUT(m_fake.canReadLine(), 5000);
            QVERIFY(m_fake.readLine().contains("\"closed\""));
            QVERIFY(!QFile::exists(out));
            cleanup();
        }
    }

    // Without a portal on Wayland: tst_screencapture.
    void accessNeedsThePortalOnWayland()
    {
        QVERIFY(!checkScreenCaptureAccess(bus(), true));
        startFake({"cancel", "3", "15"});
        QVERIFY(checkScreenCaptureAccess(bus(), true));
    }
};

int main(int argc, char** argv)
{
    qputenv("QT_SCALE_FACTOR", "2"); // a HiDPI screen, before Qt reads it
    QGuiApplication app(argc, argv);
    TestPortalCapture test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_portal_capture.moc"
