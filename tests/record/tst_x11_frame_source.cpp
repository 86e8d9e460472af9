// The X11 frame source against a real X server: what it delivers, when, and
// how it follows a window.
#include "x11_frame_source.h"
#include "x11_window_finder.h"

#include <QApplication>
#include <QMutex>
#include <QPainter>
#include <QScreen>
#include <QWidget>
#include <QtTest>
#include <xcb/xcb.h>

namespace {

// Four quadrants, 100 × 80 each, so any cut shows where it came from.
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

xcb_window_t rootWindow()
{
    return xcb_setup_roots_iterator(xcb_get_setup(xconn())).data->root;
}

QPoint rootOriginOf(xcb_window_t window)
{
    std::unique_ptr<xcb_translate_coordinates_reply_t, decltype(&std::free)> reply(
        xcb_translate_coordinates_reply(
            xconn(), xcb_translate_coordinates(xconn(), window, rootWindow(), 0, 0), nullptr),
        &std::free);
    return reply ? QPoint(reply->dst_x, reply->dst_y) : QPoint(-1, -1);
}

void warpPointer(QPoint root)
{
    xcb_warp_pointer(xconn(), XCB_NONE, rootWindow(), 0, 0, 0, 0, int16_t(root.x()),
                     int16_t(root.y()));
    xcb_flush(xconn());
}

// What a running source delivered: the last frame (copied), every time, and
// whether it failed.
struct Collected {
    QMutex lock;
    QImage last;
    QList<int64_t> times;
    QString failure;

    FrameSink sink()
    {
        return {[this](const ScreenFrame& f) {
                    QImage view(f.pixels, f.size.width(), f.size.height(), f.stride,
                                QImage::Format_RGB32);
                    const QMutexLocker locked(&lock);
                    last = view.copy();
                    times.append(f.time);
                },
                [this](const QString& why) {
                    const QMutexLocker locked(&lock);
                    failure = why;
                }};
    }
    QString failed()
    {
        const QMutexLocker locked(&lock);
        return failure;
    }
    qsizetype count()
    {
        const QMutexLocker locked(&lock);
        return times.size();
    }
    // A frame delivered after this call.
    QImage next()
    {
        const qsizetype seen = count();
        if (!QTest::qWaitFor([&] { return count() > seen + 1; }, 5000))
            return {};
        const QMutexLocker locked(&lock);
        return last;
    }
};

QRgb colourAt(const QImage& image, QPoint p)
{
    return image.pixel(p) & 0xffffff;
}

} // namespace

class TestX11FrameSource : public QObject {
    Q_OBJECT

    PatternWindow pattern;
    QPoint origin() const { return rootOriginOf(xcb_window_t(pattern.winId())); }
    QRect patternRect() const { return QRect(origin(), QSize(200, 160)); }

    std::unique_ptr<X11FrameSource> open(X11FrameSource::Target target)
    {
        auto opened = X11FrameSource::open(target);
        if (!opened.ok())
            qWarning("%s", qPrintable(opened.error()));
        return opened.ok() ? std::move(opened).value() : nullptr;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        pattern.setFixedSize(200, 160);
        pattern.move(120, 100);
        pattern.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pattern, 15000));
        QTRY_VERIFY(pattern.frameGeometry() != pattern.geometry()); // decorated by openbox
    }

    // The area as the screen shows it, pixel for pixel, the pointer drawn in
    // where it is unless left out; an odd size loses its last column and row.
    void area()
    {
        const QPoint inside = origin() + QPoint(50, 40); // the red quadrant
        for (const bool cursor : {false, true}) {
            warpPointer(cursor ? inside : QPoint(5, 5));
            QTRY_COMPARE(QCursor::pos(), cursor ? inside : QPoint(5, 5));
            auto source = open({patternRect().adjusted(0, 0, 1, 1), 0, cursor});
            QVERIFY(source);
            QCOMPARE(source->frameSize(), QSize(200, 160));
            Collected got;
            QVERIFY(source->start(got.sink(), nullptr));
            const QImage frame = got.next();
            source->stop();
            const QImage expected =
                pattern.grab().toImage().convertToFormat(QImage::Format_RGB32);
            if (!cursor) {
                QCOMPARE(frame, expected);
                continue;
            }
            // Somewhere round the hot spot the pointer hides the red.
            int covered = 0;
            for (int y = 32; y < 48; ++y)
                for (int x = 42; x < 58; ++x)
                    covered += colourAt(frame, {x, y}) != 0xff0000;
            QVERIFY2(covered > 10, qPrintable(QString::number(covered)));
            QCOMPARE(colourAt(frame, {150, 120}), colourAt(expected, {150, 120}));
        }
    }

    // Thirty frames a second on the monotonic clock, one for every frame time.
    void pace()
    {
        auto source = open({QRect(0, 0, 640, 480), 0, true});
        QVERIFY(source);
        Collected got;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(source->start(got.sink(), nullptr));
        QTRY_VERIFY_WITH_TIMEOUT(got.count() >= 60, 10000);
        source->stop();
        const qsizetype delivered = got.count();
        const int64_t missed = source->missedFrames();
        const QList<int64_t> times = got.times;
        for (qsizetype i = 1; i < times.size(); ++i) {
            const int64_t step = times[i] - times[i - 1];
            QVERIFY2(step >= 33333 && step <= 33334 + missed * 33334,
                     qPrintable(QStringLiteral("frame %1 came %2 µs after the one before")
                                    .arg(i)
                                    .arg(step)));
        }
        QVERIFY2(missed <= 1, qPrintable(QString::number(missed)));
        const double seconds = clock.elapsed() / 1000.0;
        QVERIFY2(delivered + missed <= seconds * 30 + 2,
                 qPrintable(QStringLiteral("%1 frames in %2 s").arg(delivered).arg(seconds)));
    }

    // A window keeps its place in the frame as it moves; off the screen is
    // black; closed, the source says so and stops.
    void followsWindow()
    {
        auto window = std::make_unique<PatternWindow>();
        PatternWindow& moving = *window;
        moving.setFixedSize(200, 160);
        moving.move(400, 300);
        moving.show();
        QVERIFY(QTest::qWaitForWindowExposed(&moving, 15000));
        QTRY_VERIFY(moving.frameGeometry() != moving.geometry());
        const QPoint client = rootOriginOf(xcb_window_t(moving.winId()));
        QTRY_COMPARE(QApplication::screens().first()->grabWindow(0, client.x() + 150,
                                                                client.y() + 120, 1, 1)
                         .toImage()
                         .pixel(0, 0),
                     QColor(Qt::yellow).rgb());
        auto windows = X11WindowFinder::snapshot(xconn());
        QVERIFY(windows.ok());
        const auto found = windows.value().windowAt(client + QPoint(10, 10));
        QVERIFY(found);
        auto source = open({found->frame, found->window, false});
        QVERIFY(source);
        QCOMPARE(source->frameSize(), QSize(found->frame.width() & ~1, found->frame.height() & ~1));
        const QPoint inFrame = client - found->frame.topLeft();
        Collected got;
        QVERIFY(source->start(got.sink(), nullptr));
        const auto shows = [&](QPoint at, QRgb colour) {
            const QImage frame = got.next();
            return !frame.isNull() && colourAt(frame, at) == (colour & 0xffffff);
        };
        QTRY_VERIFY(shows(inFrame + QPoint(150, 120), QColor(Qt::yellow).rgb()));

        moving.move(40, 60);
        QTRY_COMPARE(rootOriginOf(xcb_window_t(moving.winId())).x(), 40 + inFrame.x());
        QTRY_VERIFY(shows(inFrame + QPoint(150, 120), QColor(Qt::yellow).rgb()));
        QTRY_VERIFY(shows(inFrame + QPoint(50, 40), QColor(Qt::red).rgb()));

        // Half off an edge: that half is black, the other half the window's.
        const int right = QApplication::screens().first()->geometry().right();
        moving.move(right - 100 - inFrame.x(), 60);
        QTRY_VERIFY(shows(inFrame + QPoint(150, 120), 0) &&
                    shows(inFrame + QPoint(50, 40), QColor(Qt::red).rgb()));
        moving.move(-100 - inFrame.x(), 60);
        QTRY_VERIFY(shows(inFrame + QPoint(50, 40), 0) &&
                    shows(inFrame + QPoint(150, 120), QColor(Qt::yellow).rgb()));

        window.reset();
        QTRY_COMPARE(got.failed(), QStringLiteral("the recorded window was closed"));
        source->stop();
    }

    void nothingOnScreen()
    {
        const auto opened = X11FrameSource::open({QRect(-400, -400, 100, 100), 0, true});
        QVERIFY(!opened.ok());
        QCOMPARE(opened.error(), QStringLiteral("nothing of it is on the screen"));
    }
};

QTEST_MAIN(TestX11FrameSource)
#include "tst_x11_frame_source.moc"
