// The X11 backend on a private X server, the pointer and keyboard moved by xdotool.
#include "capture_backend.h"
#include "screencapture.h"
#include "test_support.h"

#include <QApplication>
#include <QClipboard>
#include <QPainter>
#include <QScopeGuard>
#include <QScreen>
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

// Whether GTK has given the window a shadow margin (its _GTK_FRAME_EXTENTS).
bool hasShadowMargin(xcb_window_t window)
{
    const auto reply = owned(xcb_get_property_reply(
        xconn(),
        xcb_get_property(xconn(), false, window, atomNamed("_GTK_FRAME_EXTENTS"), XCB_ATOM_CARDINAL,
                         0, 4),
        nullptr));
    if (!reply || xcb_get_property_value_length(reply.get()) != 16)
        return false;
    const auto* e = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    return e[0] + e[1] + e[2] + e[3] > 0;
}

void stop(QProcess& process)
{
    process.kill();
    process.waitForFinished(5000);
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
    qreal r = 1;    // device pixels per point on the pattern's screen
    QImage picture; // the last one captured
    QString captured() const { return QStringLiteral("captured ×%1").arg(r); }

    // The window's top-left in X root coordinates, from the server: Qt's may be rounded.
    QPoint rootOrigin() const
    {
        const auto reply = owned(xcb_translate_coordinates_reply(
            xconn(),
            xcb_translate_coordinates(xconn(), xcb_window_t(pattern.winId()), rootWindow(), 0, 0),
            nullptr));
        return {reply->dst_x, reply->dst_y};
    }

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
            if (!QTest::qWaitFor(overlayShown, 5000))
                return QStringLiteral("no overlay");
            QTest::qWait(100);
            QProcess driver;
            driver.start(QStringLiteral("sh"),
                         {"-c", "xdotool " + steps.join(QStringLiteral("; sleep 0.2; xdotool "))});
            (void)QTest::qWaitFor([&] { return driver.state() == QProcess::NotRunning; }, 10000);
        }
        (void)QTest::qWaitFor([&] { return !answers.isEmpty(); }, 5000);
        QTest::qWait(200); // a second answer would arrive by now
        return answers.join(QStringLiteral(", "));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        QCOMPARE(QGuiApplication::screens().size(),
                 qMax(1, qEnvironmentVariableIntValue("QUORVEL_E2E_SCREENS")));
        backend = makeX11CaptureBackend();
        QScreen* last = QGuiApplication::screens().constLast();
        pattern.setFixedSize(200, 160);
        pattern.setScreen(last);
        pattern.move(last->geometry().topLeft() + QPoint(60, 90));
        pattern.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pattern, 15000)); // slow on a busy machine
        r = pattern.screen()->devicePixelRatio();
        QTRY_VERIFY(pattern.frameGeometry() != pattern.geometry()); // decorated by openbox
        QTest::qWait(200);
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
        QTest::newRow("right click") << QStringList{"click 3"} << false;
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

    // Over the real backend and X11 clipboard: the capture comes back with its ratio, then the end.
    void full()
    {
        Screencapture model(*backend);
        QSignalSpy finished(&model, &Screencapture::screenshotFinished);
        connect(&model, &Screencapture::screenshotFinished, this, [&] { picture = model.image(); });
        model.takeScreenshot(ScreenshotTypes::full);
        QVERIFY(model.image().isNull()); // nothing yet: it answers later
        QVERIFY(finished.wait(10000));
        QCOMPARE(picture.devicePixelRatio(), r);
        QCOMPARE(QGuiApplication::clipboard()->image().size(), picture.size());
        QTest::qWait(200);
        QCOMPARE(finished.count(), 1);

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
            stop(gtk);
            stop(compositor);
        });
        compositor.start(QStringLiteral("xcompmgr"), QStringList());
        QVERIFY(compositor.waitForStarted());
        QVERIFY(QTest::qWaitFor(compositorRuns, 10000));
        // GTK may miss a compositor that has only just started and draw no margin: try again.
        xcb_window_t gtkWindow = XCB_WINDOW_NONE;
        for (int attempt = 0; attempt < 3 && !gtkWindow; ++attempt) {
            stop(gtk);
            gtk.start(QStringLiteral(QUORVEL_CSD_WINDOW), QStringList());
            QVERIFY(QTest::qWaitFor([&] { return gtk.canReadLine() || gtk.waitForReadyRead(50); },
                                    15000));
            const xcb_window_t made = gtk.readLine().split(' ').value(1).trimmed().toUInt();
            if (QTest::qWaitFor([&] { return hasShadowMargin(made); }, 3000))
                gtkWindow = made;
        }
        QVERIFY2(gtkWindow, "GTK drew no shadow margin");
        QTest::qWait(300); // for the compositor to show the margin it drew

        QCOMPARE(run(ScreenshotTypes::full), captured());
        const QImage desktop = picture;
        // The window as seen: every pixel with green (the desktop and shadow have none).
        QRect seen;
        for (int y = 0; y < desktop.height(); ++y) {
            for (int x = 0; x < desktop.width(); ++x) {
                if (qGreen(desktop.pixel(x, y)) > 96)
                    seen |= QRect(x, y, 1, 1);
            }
        }
        const QSize whole = xWindowSize(gtkWindow);
        QVERIFY2(whole.width() > seen.width() && whole.height() > seen.height(),
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
