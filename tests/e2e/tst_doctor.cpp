// `quorvel doctor` on a private X server and bus, with the desktop's services
// present or not, on X11, Wayland or no display.
#include "private_bus.h"
#include "test_support.h"

#include <QDBusConnectionInterface>
#include <QtTest>
#include <xcb/xcb.h>

namespace {

const QString kBusName = QStringLiteral("quorvel-doctor-test");
const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");

class FakeWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)

public:
    bool hostRegistered() const { return true; }
};

// Selections on the private X server: who owns one, and owning one ourselves.
class XSelections {
public:
    XSelections() : m_c(xcb_connect(nullptr, nullptr)), m_window(xcb_generate_id(m_c))
    {
        xcb_create_window(m_c, XCB_COPY_FROM_PARENT, m_window,
                          xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    }
    ~XSelections() { xcb_disconnect(m_c); }

    bool owned(QByteArrayView selection)
    {
        const std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> reply(
            xcb_get_selection_owner_reply(m_c, xcb_get_selection_owner(m_c, atom(selection)),
                                          nullptr),
            &std::free);
        return reply && reply->owner != XCB_WINDOW_NONE;
    }
    void own(QByteArrayView selection, bool mine)
    {
        xcb_set_selection_owner(m_c, mine ? m_window : xcb_window_t(XCB_WINDOW_NONE),
                                atom(selection), XCB_CURRENT_TIME);
        xcb_flush(m_c);
    }

private:
    xcb_atom_t atom(QByteArrayView name)
    {
        const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
            xcb_intern_atom_reply(
                m_c, xcb_intern_atom(m_c, false, uint16_t(name.size()), name.data()), nullptr),
            &std::free);
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }

    xcb_connection_t* m_c;
    xcb_window_t m_window;
};

} // namespace

class TestDoctor : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    test_support::PrivateBus m_bus;
    XSelections m_x;
    FakeWatcher m_watcher;
    QString m_display = qEnvironmentVariable("DISPLAY");

    QDBusConnection bus() const { return QDBusConnection(kBusName); }
    bool onBus(const QString& name) const { return bus().interface()->isServiceRegistered(name); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_bus.start(m_dir.path(), kBusName),
                 "no private bus: is dbus-daemon installed (scripts/install-deps)?");
        QVERIFY(!m_display.isEmpty());
    }

    void reportsWhatThisDesktopOffers_data()
    {
        QTest::addColumn<QString>("environment"); // assignments, a space between them
        // portal<version>[:<kinds it offers, 1 full screen + 2 window + 4 area>]
        // [no-screenshot], trayer, watcher, clipboard
        QTest::addColumn<QString>("services");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("advice");    // how many "→" lines
        QTest::addColumn<QString>("lines"); // the starts of printed lines, '|' between them
        const auto row = [](const char* name, const QString& environment, const char* services,
                            int exitCode, int advice, const QString& lines) {
            QTest::newRow(name) << environment << QString(services) << exitCode << advice << lines;
        };
        const QString x11 = "DISPLAY=" + m_display;
        const QString ownOverlay = "Capture: area, window and full screen, with Quorvel's own|";
        row("bare X11", x11, "", 0, 2,
            "Session: X11 (display " + m_display + "), desktop unknown|" + ownOverlay +
                "Tray: none found|Clipboard manager: none");
        row("X11 with portal, trayer, clipboard manager", x11, "portal3 trayer clipboard", 0, 0,
            ownOverlay + "Screenshot portal: version 3, can take area, window, full screen|"
                         "Tray: XEmbed system tray found|Clipboard manager: running");
        // XWayland's DISPLAY does not make a Wayland session X11.
        row("Wayland, a portal that takes windows and full screens, a watcher",
            "WAYLAND_DISPLAY=wayland-7 XDG_CURRENT_DESKTOP=KDE " + x11, "portal3:3 watcher", 0, 0,
            "Session: Wayland (wayland-7), desktop KDE|Tray: StatusNotifier host found|"
            "Screenshot portal: version 3, can take window, full screen");
        // Copies on Wayland go through wl-copy; without it they cannot land. An old portal
        // says nothing of what it can take.
        row("Wayland, an old portal, no wl-clipboard",
            "WAYLAND_DISPLAY=wayland-1 PATH=/nonexistent", "portal2", 0, 2,
            "Screenshot portal: version 2|Capture area: whatever the desktop's screenshot portal|"
            "Clipboard manager: wl-copy not found|  → install wl-clipboard");
        // A portal that offers no screenshots: tst_sway_session, without PipeWire.
        row("Wayland GNOME without a portal",
            "XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=ubuntu:GNOME " + x11, "trayer", 1, 2,
            "Capture: not possible: on Wayland only the portal|"
            "  → enable the AppIndicator extension");
        row("no display", "", "portal3", 1, 1, "Capture: not possible without a display");
    }
    void reportsWhatThisDesktopOffers()
    {
        QFETCH(QString, environment);
        QFETCH(QString, services);
        QFETCH(int, exitCode);
        QFETCH(QString, lines);
        QFETCH(int, advice);

        QProcess portal, trayer;
        if (const auto offered =
                QRegularExpression(QStringLiteral("portal(\\d)(?::(\\d))?")).match(services);
            offered.hasMatch()) {
            const QStringList arguments{
                services.contains("no-screenshot") ? "no-screenshot" : "picture",
                offered.captured(1), offered.captured(2).isEmpty() ? "7" : offered.captured(2)};
            portal.start(QStringLiteral(QUORVEL_FAKE_PORTAL), arguments);
            QTRY_VERIFY(onBus(QStringLiteral("org.freedesktop.portal.Desktop")));
        }
        if (services.contains("trayer")) {
            trayer.start(QStringLiteral("trayer"), QStringList());
            QTRY_VERIFY(m_x.owned("_NET_SYSTEM_TRAY_S0"));
        }
        if (services.contains("watcher")) {
            QVERIFY(bus().registerObject("/StatusNotifierWatcher", &m_watcher,
                                         QDBusConnection::ExportAllProperties));
            QVERIFY(bus().registerService(kWatcher));
        }
        m_x.own("CLIPBOARD_MANAGER", services.contains("clipboard"));

        QProcess doctor;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name :
             {"DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "XDG_CURRENT_DESKTOP"})
            env.remove(name);
        for (const QString& assignment : environment.split(' ', Qt::SkipEmptyParts))
            env.insert(assignment.section('=', 0, 0), assignment.section('=', 1));
        doctor.setProcessEnvironment(env);
        doctor.start(test_support::quorvelBinary(), {"doctor"});
        // Not blocking: the watcher answers from this event loop.
        QVERIFY(QTest::qWaitFor([&] { return doctor.state() == QProcess::NotRunning; }, 20000));
        const QStringList printed =
            QString::fromUtf8(doctor.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);

        bus().unregisterService(kWatcher);
        bus().unregisterObject("/StatusNotifierWatcher");
        m_x.own("CLIPBOARD_MANAGER", false);
        for (QProcess* service : {&trayer, &portal})
            service->kill(), service->waitForFinished();
        QTRY_VERIFY(!onBus(QStringLiteral("org.freedesktop.portal.Desktop")));
        QTRY_VERIFY(!m_x.owned("_NET_SYSTEM_TRAY_S0"));

        for (const QString& line : lines.split('|'))
            QVERIFY2(!printed.filter(QRegularExpression("^" + QRegularExpression::escape(line)))
                          .isEmpty(),
                     qPrintable(line + "\nnot in\n" + printed.join('\n')));
        QCOMPARE(printed.filter(QRegularExpression("^  → ")).size(), advice);
        QCOMPARE(doctor.exitCode(), exitCode);
        QVERIFY(doctor.readAllStandardError().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestDoctor)
#include "tst_doctor.moc"
