// The X11 backend driven like a user would: real windows on a private X
// server (tests/e2e/run-under-x), the pointer and keyboard moved by xdotool.
#include "capture_backend.h"
#include "test_support.h"

#include <QApplication>
#include <QPainter>
#include <QScreen>
#include <QSignalSpy>
#include <QWidget>
#include <QtTest>
#include <xcb/xcb.h>

std::unique_ptr<CaptureBackend> makeX11CaptureBackend(QObject* parent);

namespace {

// Four quadrants, 100 × 80 points each, so any cut shows where it came from.
class PatternWindow : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(0, 0, 100, 80, Qt::red);
        p.fillRect(100, 0, 100, 80, Qt::green);
        p.fillRect(0, 80, 100, 80, Qt::blue);
        p.fillRect(100, 80, 100, 80, Qt::yellow);
    }
};

bool overlayShown()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->inherits("CaptureOverlay") && w->isVisible() && w->windowHandle()->isExposed())
            return true;
    }
    return false;
}

} // namespace

class TestX11Capture : public QObject {
    Q_OBJECT

    std::unique_ptr<CaptureBackend> backend;
    PatternWindow pattern;

    qreal ratio() const { return pattern.screen()->devicePixelRatio(); }

    // The window's top-left in X root coordinates (device pixels), asked of
    // the server: under a scale factor Qt's logical position may be rounded.
    QPoint rootOrigin() const
    {
        auto* c = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        auto* reply = xcb_translate_coordinates_reply(
            c, xcb_translate_coordinates(c, xcb_window_t(pattern.winId()), root, 0, 0), nullptr);
        const QPoint origin(reply->dst_x, reply->dst_y);
        std::free(reply);
        return origin;
    }

    // xdotool speaks X root coordinates too.
    QString at(QPoint logicalInWindow) const
    {
        const QPoint p = rootOrigin() + logicalInWindow * ratio();
        return QStringLiteral("%1 %2").arg(p.x()).arg(p.y());
    }

    struct Answers {
        QList<QImage> captured;
        int cancelled = 0;
        int failed = 0;
    };

    // Starts a capture, drives the overlay (if any) with xdotool commands, one
    // at a time so each reaches the overlay before the next, and collects
    // every answer.
    Answers run(ScreenshotTypes kind, const QStringList& steps = {})
    {
        QSignalSpy captured(backend.get(), &CaptureBackend::captured);
        QSignalSpy cancelled(backend.get(), &CaptureBackend::cancelled);
        QSignalSpy failed(backend.get(), &CaptureBackend::failed);
        backend->capture(kind);
        if (!steps.isEmpty()) {
            if (!QTest::qWaitFor(overlayShown, 5000))
                return {};
            QTest::qWait(100);
            QProcess driver;
            driver.start(QStringLiteral("sh"),
                         {"-c", "xdotool " + steps.join(QStringLiteral("; sleep 0.2; xdotool "))});
            if (!QTest::qWaitFor([&] { return driver.state() == QProcess::NotRunning; }, 10000))
                qWarning() << "xdotool did not finish";
        }
        (void)QTest::qWaitFor(
            [&] { return captured.size() + cancelled.size() + failed.size() > 0; }, 5000);
        QTest::qWait(200); // a second answer would arrive by now
        Answers answers{{}, int(cancelled.size()), int(failed.size())};
        for (const auto& args : captured)
            answers.captured.append(args.at(0).value<QImage>());
        return answers;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        // The two-monitor run must not quietly test a single screen.
        if (qEnvironmentVariableIsSet("QUORVEL_E2E_SCREENS"))
            QCOMPARE(QGuiApplication::screens().size(),
                     qEnvironmentVariableIntValue("QUORVEL_E2E_SCREENS"));
        backend = makeX11CaptureBackend(nullptr);
        QScreen* last = QGuiApplication::screens().constLast();
        pattern.setFixedSize(200, 160);
        pattern.setScreen(last);
        pattern.move(last->geometry().topLeft() + QPoint(60, 90));
        pattern.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pattern));
        QTRY_VERIFY(pattern.frameGeometry() != pattern.geometry()); // decorated by openbox
        QTest::qWait(200);
    }

    void area_data()
    {
        QTest::addColumn<QPoint>("from");
        QTest::addColumn<QPoint>("to");
        QTest::newRow("down and right") << QPoint(20, 20) << QPoint(140, 100);
        QTest::newRow("up and left") << QPoint(140, 100) << QPoint(20, 20);
    }
    void area()
    {
        QFETCH(QPoint, from);
        QFETCH(QPoint, to);
        const auto answers = run(ScreenshotTypes::area, {"mousemove " + at(from), "mousedown 1",
                                                         "mousemove " + at(to), "mouseup 1"});
        QCOMPARE(answers.captured.size(), 1);
        QCOMPARE(answers.cancelled + answers.failed, 0);
        QVERIFY(!overlayShown());
        const QImage picture = answers.captured.first();
        const qreal r = ratio();
        QCOMPARE(picture.devicePixelRatio(), r);
        QCOMPARE(picture.size(), QSize(120, 80) * r);
        // Quadrant edges fall exactly 80 and 60 points into the cut.
        const int edgeX = int(80 * r), edgeY = int(60 * r);
        QUORVEL_COMPARE_COLOR(picture.pixelColor(0, 0), QColor(Qt::red), 0);
        QUORVEL_COMPARE_COLOR(picture.pixelColor(edgeX - 1, edgeY - 1), QColor(Qt::red), 0);
        QUORVEL_COMPARE_COLOR(picture.pixelColor(edgeX, 0), QColor(Qt::green), 0);
        QUORVEL_COMPARE_COLOR(picture.pixelColor(0, edgeY), QColor(Qt::blue), 0);
        QUORVEL_COMPARE_COLOR(picture.pixelColor(picture.width() - 1, picture.height() - 1),
                              QColor(Qt::yellow), 0);
    }

    void cancel_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("Escape") << QStringList{"key Escape"};
        QTest::newRow("right click") << QStringList{"click 3"};
        QTest::newRow("click without drag, then Escape")
            << QStringList{"mousemove " + at({50, 50}), "click 1", "key Escape"};
    }
    void cancel()
    {
        QFETCH(QStringList, steps);
        const auto answers = run(ScreenshotTypes::area, steps);
        QCOMPARE(answers.cancelled, 1);
        QCOMPARE(answers.captured.size() + answers.failed, 0);
        QVERIFY(!overlayShown());
    }

    void full()
    {
        const auto answers = run(ScreenshotTypes::full);
        QCOMPARE(answers.captured.size(), 1);
        const QImage picture = answers.captured.first();
        QRect desktop;
        for (QScreen* s : QGuiApplication::screens())
            desktop |= QRect(s->geometry().topLeft(), s->size() * s->devicePixelRatio());
        QCOMPARE(picture.size(), desktop.size());
        QCOMPARE(picture.devicePixelRatio(), ratio());
        const QPoint red = rootOrigin() - desktop.topLeft() + QPoint(10, 10) * ratio();
        QUORVEL_COMPARE_COLOR(picture.pixelColor(red), QColor(Qt::red), 0);
    }

    void window()
    {
        const auto answers =
            run(ScreenshotTypes::window, {"mousemove " + at({100, 80}), "click 1"});
        QCOMPARE(answers.captured.size(), 1);
        const QImage picture = answers.captured.first();
        const qreal r = ratio();
        QCOMPARE(picture.devicePixelRatio(), r);
        // The frame with its title bar, not the bare client and not the overlay.
        QVERIFY(picture.width() >= 200 * r);
        QVERIFY(picture.height() > 160 * r);
        QVERIFY(picture.width() < pattern.screen()->size().width() * r);
        const QPoint client =
            (pattern.geometry().topLeft() - pattern.frameGeometry().topLeft()) * r;
        QUORVEL_COMPARE_COLOR(picture.pixelColor(client + QPoint(10, 10) * r), QColor(Qt::red), 0);
        QUORVEL_COMPARE_COLOR(picture.pixelColor(client + QPoint(190, 150) * r), QColor(Qt::yellow),
                              0);
    }
};

QTEST_MAIN(TestX11Capture)
#include "tst_x11_capture.moc"
