// The X11 backend on a private X server, the pointer and keyboard moved by xdotool.
#include "capture_backend.h"
#include "test_support.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QPainter>
#include <QScopeGuard>
#include <QScreen>
#include <QtEndian>
#include <QtTest>
#include <xcb/xcb.h>

std::unique_ptr<CaptureBackend> makeX11CaptureBackend();

namespace {

// Four quadrants, 100 × 80 points each, so any cut shows where it came from.
class PatternWindow : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        const Qt::GlobalColor colours[] = {Qt::red, Qt::green, Qt::blue, Qt::yellow};
        for (int i = 0; i < 4; ++i)
            p.fillRect(i % 2 * 100, i / 2 * 80, 100, 80, colours[i]);
    }
};

xcb_connection_t* xconn()
{
    return qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

// An xcb reply, freed when it goes out of scope.
template <typename Reply> std::unique_ptr<Reply, decltype(&std::free)> owned(Reply* reply)
{
    return {reply, &std::free};
}

xcb_atom_t atomNamed(QByteArrayView name)
{
    const auto reply = owned(xcb_intern_atom_reply(
        xconn(), xcb_intern_atom(xconn(), false, uint16_t(name.size()), name.data()), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

xcb_window_t rootWindow()
{
    return xcb_setup_roots_iterator(xcb_get_setup(xconn())).data->root;
}

// Tells GTK that the window manager knows _GTK_FRAME_EXTENTS (Openbox does not
// list it); only then does it draw its shadow margin.
void announceFrameExtents()
{
    const xcb_atom_t extents = atomNamed("_GTK_FRAME_EXTENTS");
    xcb_change_property(xconn(), XCB_PROP_MODE_APPEND, rootWindow(), atomNamed("_NET_SUPPORTED"),
                        XCB_ATOM_ATOM, 32, 1, &extents);
    xcb_flush(xconn());
}

// GTK decides on its shadow once, from whether a compositor holds this.
bool compositorRuns()
{
    const auto reply = owned(xcb_get_selection_owner_reply(
        xconn(), xcb_get_selection_owner(xconn(), atomNamed("_NET_WM_CM_S0")), nullptr));
    return reply && reply->owner != XCB_WINDOW_NONE;
}

QSize xWindowSize(xcb_window_t window)
{
    const auto reply =
        owned(xcb_get_geometry_reply(xconn(), xcb_get_geometry(xconn(), window), nullptr));
    return reply ? QSize(reply->width, reply->height) : QSize();
}

// The shadow margin GTK has given the window (its _GTK_FRAME_EXTENTS), none before.
QMargins shadowMargin(xcb_window_t window)
{
    const auto reply = owned(xcb_get_property_reply(
        xconn(),
        xcb_get_property(xconn(), false, window, atomNamed("_GTK_FRAME_EXTENTS"), XCB_ATOM_CARDINAL,
                         0, 4),
        nullptr));
    if (!reply || xcb_get_property_value_length(reply.get()) != 16)
        return {};
    const auto* e = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    return QMargins(int(e[0]), int(e[2]), int(e[1]), int(e[3]));
}

QPoint rootOriginOf(xcb_window_t window)
{
    const auto reply = owned(xcb_translate_coordinates_reply(
        xconn(), xcb_translate_coordinates(xconn(), window, rootWindow(), 0, 0), nullptr));
    return reply ? QPoint(reply->dst_x, reply->dst_y) : QPoint();
}

// The colour the screen shows at `rootPoint`, as a capture would read it.
QColor shownAt(QPoint rootPoint)
{
    const auto reply = owned(xcb_get_image_reply(xconn(),
                                                 xcb_get_image(xconn(), XCB_IMAGE_FORMAT_Z_PIXMAP,
                                                               rootWindow(), int16_t(rootPoint.x()),
                                                               int16_t(rootPoint.y()), 1, 1, ~0u),
                                                 nullptr));
    if (!reply || xcb_get_image_data_length(reply.get()) < 4)
        return {};
    return QColor::fromRgb(qFromUnaligned<uint32_t>(xcb_get_image_data(reply.get())) & 0xffffff);
}

// Every event the X server has sent so far handled. A round trip is not enough: Qt
// reads events on a thread of its own, which a busy machine may not have run yet. So a
// marker is sent to ourselves through the server, and once Qt has read it, every event
// before it is in Qt's hands; the event loop then hands those out.
struct MarkerSeen : QAbstractNativeEventFilter {
    const xcb_atom_t type = atomNamed("QUORVEL_TEST_MARKER");
    bool seen = false;
    bool nativeEventFilter(const QByteArray&, void* message, qintptr*) override
    {
        const auto* m = static_cast<const xcb_client_message_event_t*>(message);
        return (m->response_type & 0x7f) == XCB_CLIENT_MESSAGE && m->type == type && (seen = true);
    }
};

// The marker, sent through the server, is in Qt's hands, and so is every event before it.
bool handleEventsSent(MarkerSeen& filter, xcb_window_t ours)
{
    filter.seen = false;
    const xcb_client_message_event_t marker{XCB_CLIENT_MESSAGE, 32, 0, ours, filter.type, {}};
    xcb_send_event(xconn(), false, ours, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&marker));
    xcb_flush(xconn());
    const bool arrived = QTest::qWaitFor([&] { return filter.seen; }, 10000);
    QCoreApplication::processEvents();
    return arrived;
}

// Whether another client holds the keyboard: a grab of our own, on a
// connection of our own, is refused while it does (and let go at once if not).
bool keyboardHeldElsewhere()
{
    static xcb_connection_t* const own = xcb_connect(nullptr, nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(own)).data->root;
    const auto reply =
        owned(xcb_grab_keyboard_reply(own,
                                      xcb_grab_keyboard(own, false, root, XCB_CURRENT_TIME,
                                                        XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                      nullptr));
    if (reply && reply->status == XCB_GRAB_STATUS_SUCCESS) {
        xcb_ungrab_keyboard(own, XCB_CURRENT_TIME);
        xcb_flush(own);
    }
    return reply && reply->status == XCB_GRAB_STATUS_ALREADY_GRABBED;
}

bool overlayShown()
{
    const QWidgetList all = QApplication::topLevelWidgets();
    return std::any_of(all.begin(), all.end(), [](QWidget* w) {
        return w->inherits("CaptureOverlay") && w->isVisible() && w->windowHandle()->isExposed();
    });
}

} // namespace

class TestX11Capture : public QObject {
    Q_OBJECT

    std::unique_ptr<CaptureBackend> backend;
    PatternWindow pattern;
    MarkerSeen marker;
    qreal r = 1;    // device pixels per point on the pattern's screen
    QImage picture; // the last one captured
    QString captured() const { return QStringLiteral("captured ×%1").arg(r); }

    // The window's top-left in X root coordinates, from the server: Qt's may be rounded.
    QPoint rootOrigin() const { return rootOriginOf(xcb_window_t(pattern.winId())); }

    QString at(QPoint logicalInWindow) const
    {
        const QPoint p = rootOrigin() + logicalInWindow * r;
        return QStringLiteral("%1 %2").arg(p.x()).arg(p.y());
    }

    // Captures, drives the overlay with xdotool one step at a time, and says
    // what came back: "captured ×<ratio>", "cancelled" or the failure, comma-joined.
    QString run(ScreenshotTypes kind, const QStringList& steps = {})
    {
        QObject scope; // the connections end with it
        QStringList answers;
        connect(backend.get(), &CaptureBackend::captured, &scope, [&](const QImage& image) {
            answers << QStringLiteral("captured ×%1").arg((picture = image).devicePixelRatio());
        });
        connect(backend.get(), &CaptureBackend::cancelled, &scope, [&] { answers << "cancelled"; });
        connect(backend.get(), &CaptureBackend::failed, &scope, [&](auto why) { answers << why; });
        backend->capture(kind);
        if (!steps.isEmpty()) {
            // The overlay takes the keyboard once mapped; only then do keys reach it.
            if (!QTest::qWaitFor([] { return overlayShown() && keyboardHeldElsewhere(); }, 10000))
                return QStringLiteral("no overlay holding the keyboard");
            // Each step handled before the next: at a press the overlay asks
            // the server where the pointer is, which must still be there.
            for (const QString& step : steps) {
                const auto xdotool = test_support::run(QStringLiteral("xdotool"), step.split(' '));
                if (xdotool.exitCode != 0)
                    return "xdotool " + step + " failed: " + xdotool.err;
                if (!handleEventsSent(marker, xcb_window_t(pattern.winId())))
                    return "no marker after " + step;
            }
        }
        if (!QTest::qWaitFor([&] { return !answers.isEmpty(); }, 10000))
            return QStringLiteral("no answer");
        // A second answer would come from what the server has sent by now.
        if (!handleEventsSent(marker, xcb_window_t(pattern.winId())))
            return QStringLiteral("no marker");
        return answers.join(QStringLiteral(", "));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        QCOMPARE(QGuiApplication::screens().size(), 2);
        backend = makeX11CaptureBackend();
        qApp->installNativeEventFilter(&marker);
        QScreen* last = QGuiApplication::screens().constLast();
        pattern.setFixedSize(200, 160);
        pattern.setScreen(last);
        pattern.move(last->geometry().topLeft() + QPoint(60, 90));
        pattern.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pattern, 15000)); // slow on a busy machine
        r = pattern.screen()->devicePixelRatio();
        QTRY_VERIFY(pattern.frameGeometry() != pattern.geometry()); // decorated by openbox
        // On screen where the server says it is, opposite corners painted.
        QTRY_VERIFY_WITH_TIMEOUT(shownAt(rootOrigin() + QPoint(10, 10) * r) == QColor(Qt::red) &&
                                     shownAt(rootOrigin() + QPoint(190, 150) * r) ==
                                         QColor(Qt::yellow),
                                 10000);
    }

    void overlay_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<bool>("cuts"); // else cancels
        const auto drag = [this](QPoint from, QPoint to) {
            return QStringList{"mousemove " + at(from), "mousedown 1", "mousemove " + at(to),
                               "mouseup 1"};
        };
        QTest::newRow("drag down and right") << drag({20, 20}, {140, 100}) << true;
        QTest::newRow("drag up and left") << drag({140, 100}, {20, 20}) << true;
        QTest::newRow("Escape") << QStringList{"key Escape"} << false;
        QTest::newRow("click, Escape")
            << QStringList{"mousemove " + at({50, 50}), "click 1", "key Escape"} << false;
    }
    void overlay()
    {
        QFETCH(QStringList, steps);
        QFETCH(bool, cuts);
        QCOMPARE(run(ScreenshotTypes::area, steps), cuts ? captured() : "cancelled");
        QVERIFY(!overlayShown());
        if (cuts) // every pixel, so the quadrant edges inside the cut must be exact
            QCOMPARE(
                picture.convertToFormat(QImage::Format_RGB32),
                pattern.grab({20, 20, 120, 80}).toImage().convertToFormat(QImage::Format_RGB32));
    }

    // Every screen, each at its own density, the pattern where the server shows it.
    void full()
    {
        QCOMPARE(run(ScreenshotTypes::full), captured());
        QRect desktop;
        for (QScreen* s : QGuiApplication::screens())
            desktop |= QRect(s->geometry().topLeft(), s->size() * s->devicePixelRatio());
        QCOMPARE(picture.size(), desktop.size());
        const QPoint red = rootOrigin() - desktop.topLeft() + QPoint(10, 10) * r;
        QUORVEL_COMPARE_COLOR(picture.pixelColor(red), QColor(Qt::red), 0);
    }

    void window()
    {
        QCOMPARE(run(ScreenshotTypes::window, {"mousemove " + at({100, 80}), "click 1"}),
                 captured());
        // The frame with its title bar, not the bare client and not the overlay.
        QVERIFY(picture.width() >= 200 * r && picture.height() > 160 * r);
        QVERIFY(picture.width() < pattern.screen()->size().width() * r);
        const QPoint client =
            (pattern.geometry().topLeft() - pattern.frameGeometry().topLeft()) * r;
        QUORVEL_COMPARE_COLOR(picture.pixelColor(client + QPoint(10, 10) * r), QColor(Qt::red), 0);
        QUORVEL_COMPARE_COLOR(picture.pixelColor(client + QPoint(190, 150) * r), QColor(Qt::yellow),
                              0);
    }

    // A GTK window with its own header bar and shadow under a compositor: the capture is the
    // window as seen, without the shadow margin. Last: it leaves a compositor's traces.
    void clientSideDecorations()
    {
        pattern.hide();
        announceFrameExtents();
        QProcess compositor, gtk;
        const auto stopBoth = qScopeGuard([&] {
            for (QProcess* p : {&gtk, &compositor})
                p->kill(), p->waitForFinished(5000);
        });
        compositor.start(QStringLiteral("xcompmgr"), QStringList());
        QVERIFY(compositor.waitForStarted());
        QVERIFY(QTest::qWaitFor(compositorRuns, 10000));
        // GTK may miss a compositor that has only just started and draw no margin: try again.
        xcb_window_t gtkWindow = XCB_WINDOW_NONE;
        for (int attempt = 0; attempt < 3 && !gtkWindow; ++attempt) {
            gtk.kill(), gtk.waitForFinished(5000);
            gtk.start(QStringLiteral(QUORVEL_CSD_WINDOW), QStringList());
            QVERIFY(QTest::qWaitFor([&] { return gtk.canReadLine() || gtk.waitForReadyRead(50); },
                                    15000));
            const xcb_window_t made = gtk.readLine().split(' ').value(1).trimmed().toUInt();
            if (QTest::qWaitFor([&] { return !shadowMargin(made).isNull(); }, 6000))
                gtkWindow = made;
        }
        QVERIFY2(gtkWindow, "GTK drew no shadow margin");
        // Shown by the compositor: the magenta desktop (its far corner), the
        // green body, and the shadow darkening the desktop just outside it.
        const QMargins margin = shadowMargin(gtkWindow);
        const QPoint origin = rootOriginOf(gtkWindow);
        const QSize size = xWindowSize(gtkWindow);
        const QSize rootSize = xWindowSize(rootWindow());
        const auto composited = [&] {
            return test_support::near(shownAt({rootSize.width() - 1, rootSize.height() - 1}),
                                      Qt::magenta, 8) &&
                   test_support::near(shownAt(origin + QPoint(size.width(), size.height()) / 2),
                                      Qt::green, 8) &&
                   shownAt(origin + QPoint(margin.left() - 1, size.height() / 2)).red() < 240;
        };
        QTRY_VERIFY_WITH_TIMEOUT(composited(), 10000);

        QCOMPARE(run(ScreenshotTypes::full), captured());
        const QImage desktop = picture;
        // The window as seen: every pixel with green (the desktop and shadow have none).
        QRect seen;
        for (int y = 0; y < desktop.height(); ++y)
            for (int x = 0; x < desktop.width(); ++x)
                if (qGreen(desktop.pixel(x, y)) > 96)
                    seen |= QRect(x, y, 1, 1);
        QVERIFY2(size.width() > seen.width() && size.height() > seen.height(),
                 "GTK drew no shadow margin");

        const QPoint middle = seen.center();
        QCOMPARE(
            run(ScreenshotTypes::window,
                {QStringLiteral("mousemove %1 %2").arg(middle.x()).arg(middle.y()), "click 1"}),
            captured());
        QCOMPARE(picture.size(), seen.size());
        QCOMPARE(picture.convertToFormat(QImage::Format_RGB32),
                 desktop.copy(seen).convertToFormat(QImage::Format_RGB32));
    }
};

QTEST_MAIN(TestX11Capture)
#include "tst_x11_capture.moc"
