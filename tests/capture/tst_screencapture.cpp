// Screencapture and ScreenRecorder as the main window uses them, over a
// backend that answers later from the event loop, and the offscreen clipboard;
// which backend a session gets, and whether the access check agrees with it
// (with no session bus: a Wayland session has no portal to ask).

#include "capture_access.h"
#include "screen_recorder.h"
#include "screencapture.h"
#include "scripted_backend.h"
#include "test_support.h"

#include <QClipboard>
#include <QtTest>
#include <type_traits>

// One owner: a QObject parent as well would delete the backend a second time.
static_assert(!std::is_invocable_v<decltype(loadCaptureBackend), QObject*>);

// A Screencapture and what it announced; a screenshot or file must not touch the others.
struct Watched {
    Screencapture capture;
    QSignalSpy image{&capture, &Screencapture::imageChanged};
    QSignalSpy finished{&capture, &Screencapture::screenshotFinished};
    QSignalSpy recording{&capture, &Screencapture::isRecordingChanged},
        url{&capture, &Screencapture::outputURLChanged},
        type{&capture, &Screencapture::captureTypeChanged};
    bool othersUntouched() const { return recording.isEmpty() && url.isEmpty() && type.isEmpty(); }
};

using test_support::filled;

static const QImage kBlue = filled(Qt::blue, {8, 6}), kRed = filled(Qt::red, {16, 12}, 2);

class TestScreencapture : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus"); }

    void takeScreenshot_data()
    {
        QTest::addColumn<QImage>("clipboard"); // null: text only
        QTest::addColumn<QVariant>("answer");
        QTest::addColumn<QImage>("expected"); // null: unchanged
        QTest::addColumn<QByteArray>("printed");
        QTest::newRow("ratio 2") << kBlue << QVariant(kRed) << kRed << QByteArray();
        QTest::newRow("cancel, image") << kBlue << QVariant() << kBlue << QByteArray();
        QTest::newRow("cancel, text") << QImage() << QVariant() << QImage() << QByteArray();
        QTest::newRow("failed") << kBlue << QVariant("portal said no") << QImage()
                                << QByteArray("Failed to take screenshot: portal said no\n");
    }
    void takeScreenshot()
    {
        QFETCH(QImage, clipboard);
        QFETCH(QVariant, answer);
        QFETCH(QImage, expected);
        auto* board = QGuiApplication::clipboard();
        clipboard.isNull() ? board->setText("hi") : board->setImage(clipboard);
        ScriptedBackend backend;
        backend.answers = {answer};
        Watched w{Screencapture(backend)};
        QStringList effects; // in the order they happened
        connect(&w.capture, &Screencapture::imageChanged, [&] { effects << "image"; });
        connect(&w.capture, &Screencapture::screenshotFinished, [&] {
            effects << (board->image() ==
                                (answer.typeId() == QMetaType::QImage ? expected : clipboard)
                            ? "finished, clipboard as expected"
                            : "finished, clipboard wrong");
        });
        QTEST(test_support::stdoutOf([&] {
                  w.capture.takeScreenshot(ScreenshotTypes::area);
                  // Back at once, before any answer: nothing may have changed yet.
                  if (w.capture.isTakingScreenshot() && effects.isEmpty())
                      (void)w.finished.wait(5000);
              }),
              "printed");
        QStringList order{"finished, clipboard as expected"};
        if (!expected.isNull())
            order.prepend("image");
        QCOMPARE(effects, order);
        QVERIFY(!w.capture.isTakingScreenshot());
        QCOMPARE(w.capture.image(), expected);
        QCOMPARE(w.capture.image().devicePixelRatio(), expected.devicePixelRatio());
        QVERIFY(w.othersUntouched());
    }

    // Asked again while one runs: dropped, with no end of its own; from the end on, taken.
    void oneScreenshotAtATime()
    {
        ScriptedBackend backend;
        backend.answers = {kRed, QVariant(), kBlue};
        Watched w{Screencapture(backend)};
        int ends = 0;
        connect(&w.capture, &Screencapture::screenshotFinished, [&] {
            if (ends++ == 0)
                w.capture.takeScreenshot(ScreenshotTypes::area);
        });
        w.capture.takeScreenshot(ScreenshotTypes::area);
        w.capture.takeScreenshot(ScreenshotTypes::area);
        QTRY_COMPARE(w.finished.count(), 2);
        QTest::qWait(50); // a third end would come within this
        QCOMPARE(w.finished.count(), 2);
        QCOMPARE(backend.asked.size(), 2);
        QCOMPARE(w.capture.image(), kRed); // the cancel kept the clipboard's picture
        QVERIFY(!w.capture.isTakingScreenshot());
    }

    // X11's clipboard drops the ratio; only the capture's own pixels get it back.
    void loadImageFromTheClipboard()
    {
        ScriptedBackend backend;
        backend.answers = {kRed};
        Watched w{Screencapture(backend)};
        w.capture.takeScreenshot(ScreenshotTypes::area);
        QVERIFY(w.finished.wait(5000));
        for (const QColor colour : {Qt::red, Qt::cyan}) {
            QGuiApplication::clipboard()->setImage(filled(colour, kRed.size()));
            w.capture.loadImageFromPasteboard();
            QCOMPARE(w.capture.image().devicePixelRatio(), colour == Qt::red ? 2.0 : 1.0);
            QCOMPARE(w.capture.image().pixelColor(0, 0), colour);
        }
    }

    // Forced or detected; the access check asks the portal exactly when the loader picked it.
    void backendForTheSession_data()
    {
        QTest::addColumn<QStringList>("env"); // QUORVEL_CAPTURE_BACKEND (- unset), display, type
        QTest::addColumn<QString>("backend");
        QTest::newRow("offscreen") << QStringList{"-", "-", "-"} << "null";
        QTest::newRow("Wayland display") << QStringList{"-", "wayland-0", "-"} << "portal";
        QTest::newRow("forced x11") << QStringList{"x11", "wayland-0", "-"} << "x11";
        QTest::newRow("forced null") << QStringList{"null", "wayland-0", "-"} << "null";
        QTest::newRow("unknown name") << QStringList{"gnome", "wayland-0", "-"} << "portal";
    }
    void backendForTheSession()
    {
        QFETCH(QStringList, env);
        QFETCH(QString, backend);
        const char* names[] = {"QUORVEL_CAPTURE_BACKEND", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"};
        for (int i = 0; i < 3; ++i)
            env[i] == u"-" ? qunsetenv(names[i]) : qputenv(names[i], env[i].toUtf8());
        const std::unique_ptr<CaptureBackend> loaded = loadCaptureBackend();
        QCOMPARE(loaded->name(), backend);
        QVERIFY(!loaded->parent());
        if (env[0] == u"-")
            QCOMPARE(checkScreenCaptureAccess(), backend != QLatin1String("portal"));
        if (backend == u"null") { // says why, rather than leaving the caller waiting
            QSignalSpy failed(loaded.get(), &CaptureBackend::failed);
            loaded->capture(ScreenshotTypes::window);
            QVERIFY(!failed.isEmpty() || failed.wait(5000));
            QVERIFY(failed.first().first().toString().startsWith("no screen capture"));
        }
    }
};

QTEST_MAIN(TestScreencapture)
#include "tst_screencapture.moc"
