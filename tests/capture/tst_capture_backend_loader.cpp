// Which backend a session gets, and whether the access check agrees with it.
// Offscreen, with no session bus: a Wayland session has no portal to ask.

#include "capture_access.h"
#include "capture_backend.h"
#include "session_kind.h"

#include <QtTest>
#include <type_traits>

// One owner: a QObject parent as well would delete the backend a second time.
static_assert(!std::is_invocable_v<decltype(loadCaptureBackend), QObject*>);

class TestCaptureBackendLoader : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus"); }

    void sessionKind_data()
    {
        QTest::addColumn<QStringList>("env"); // platform, WAYLAND_DISPLAY, XDG_SESSION_TYPE
        QTest::addColumn<SessionKind>("kind");
        using enum SessionKind;
        const auto row = [](const char* name, const char* env, SessionKind kind) {
            QTest::newRow(name) << QString(env).split(u',') << kind;
        };
        row("plain X11", "xcb,,x11", x11);
        row("Wayland, egl plugin", "wayland-egl,,", wayland);
        row("XWayland, display only", "xcb,wayland-0,", wayland);
        row("session type in capitals", "xcb,,Wayland", wayland);
        row("display wins over an x11 session type", "xcb,wayland-1,x11", wayland);
        row("offscreen", "offscreen,,tty", other);
    }
    void sessionKind()
    {
        QFETCH(QStringList, env);
        QTEST(::sessionKind({env[0], env[1], env[2]}), "kind");
    }

    // Forced or detected; the access check asks the portal exactly when the loader picked it.
    void backendForTheSession_data()
    {
        QTest::addColumn<QStringList>("env"); // QUORVEL_CAPTURE_BACKEND (- unset), display, type
        QTest::addColumn<QString>("backend");
        QTest::newRow("offscreen") << QStringList{"-", "-", "-"} << "null";
        QTest::newRow("Wayland display") << QStringList{"-", "wayland-0", "-"} << "portal";
        QTest::newRow("forced x11") << QStringList{"x11", "wayland-0", "-"} << "x11";
        QTest::newRow("forced portal") << QStringList{"portal", "-", "-"} << "portal";
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

QTEST_MAIN(TestCaptureBackendLoader)
#include "tst_capture_backend_loader.moc"
