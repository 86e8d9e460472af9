// Which backend a session gets, and whether the access check agrees with it.
// Runs on the offscreen platform with a session bus that is not there, so a
// session taken for Wayland has no portal to ask.

#include "capture_access.h"
#include "capture_backend.h"
#include "session_kind.h"

#include <QtTest>
#include <type_traits>

// One owner: a QObject parent as well would delete the backend a second time.
static_assert(!std::is_invocable_v<decltype(loadCaptureBackend), QObject*>);

class TestCaptureBackendLoader : public QObject {
    Q_OBJECT

    static void setEnv(const char* name, const QString& value)
    {
        value.isNull() ? qunsetenv(name) : qputenv(name, value.toUtf8());
    }

private Q_SLOTS:
    void initTestCase() { qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus"); }

    void sessionKind_data()
    {
        QTest::addColumn<QString>("platform");
        QTest::addColumn<QString>("waylandDisplay");
        QTest::addColumn<QString>("sessionType");
        QTest::addColumn<SessionKind>("kind");
        using enum SessionKind;
        const auto row = [](const char* name, const char* platform, const char* display,
                            const char* type, SessionKind kind) {
            QTest::newRow(name) << QString(platform) << QString(display) << QString(type) << kind;
        };
        row("plain X11", "xcb", "", "x11", x11);
        row("X11, no session type", "xcb", "", "", x11);
        row("Wayland", "wayland", "wayland-0", "wayland", wayland);
        row("Wayland, egl plugin", "wayland-egl", "", "", wayland);
        row("XWayland", "xcb", "wayland-0", "wayland", wayland);
        row("XWayland, display only", "xcb", "wayland-0", "", wayland);
        row("XWayland, session type only", "xcb", "", "wayland", wayland);
        row("session type in capitals", "xcb", "", "Wayland", wayland);
        row("display wins over an x11 session type", "xcb", "wayland-1", "x11", wayland);
        row("offscreen", "offscreen", "", "tty", other);
        row("offscreen inside Wayland", "offscreen", "wayland-0", "", wayland);
    }
    void sessionKind()
    {
        QFETCH(QString, platform);
        QFETCH(QString, waylandDisplay);
        QFETCH(QString, sessionType);
        QTEST(::sessionKind({platform, waylandDisplay, sessionType}), "kind");
    }

    // Forced or detected, and the access check asks the portal exactly when
    // the loader picked it.
    void backendForTheSession_data()
    {
        QTest::addColumn<QString>("forced"); // QUORVEL_CAPTURE_BACKEND; null: unset
        QTest::addColumn<QString>("waylandDisplay");
        QTest::addColumn<QString>("sessionType");
        QTest::addColumn<QString>("backend");
        QTest::newRow("offscreen") << QString() << QString() << QString() << "null";
        QTest::newRow("Wayland display") << QString() << "wayland-0" << QString() << "portal";
        QTest::newRow("Wayland session") << QString() << QString() << "wayland"
                                         << "portal";
        QTest::newRow("forced x11") << "x11"
                                    << "wayland-0" << QString() << "x11";
        QTest::newRow("forced portal") << "portal" << QString() << QString() << "portal";
        QTest::newRow("forced null") << "null"
                                     << "wayland-0" << QString() << "null";
        QTest::newRow("unknown name") << "gnome"
                                      << "wayland-0" << QString() << "portal";
    }
    void backendForTheSession()
    {
        QFETCH(QString, forced);
        QFETCH(QString, waylandDisplay);
        QFETCH(QString, sessionType);
        QFETCH(QString, backend);
        setEnv("QUORVEL_CAPTURE_BACKEND", forced);
        setEnv("WAYLAND_DISPLAY", waylandDisplay);
        setEnv("XDG_SESSION_TYPE", sessionType);
        const std::unique_ptr<CaptureBackend> loaded = loadCaptureBackend();
        QCOMPARE(loaded->name(), backend);
        QVERIFY(!loaded->parent());
        if (forced.isNull())
            QCOMPARE(checkScreenCaptureAccess(), backend != QLatin1String("portal"));
    }
};

QTEST_MAIN(TestCaptureBackendLoader)
#include "tst_capture_backend_loader.moc"
