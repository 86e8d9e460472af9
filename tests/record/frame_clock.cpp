// A window whose picture changes all the time and says when it was drawn, for
// the recording tests and the benchmark: a magenta mark, then 24 bars, white
// for one and black for zero, least significant first, holding the monotonic
// clock in milliseconds; a recording's frames tell from them whether any was
// lost. Below, four quadrants that never change, and with --motion a band
// that sweeps across the whole window so an encoder has work on every frame.
//
//   frame-clock X Y W H [--motion] [--bare] [--still]
//
// --bare leaves the window manager's frame off, for a window as large as the
// screen; --still draws once and never again (no bars), for a screen where
// nothing happens. Only what changed is drawn again, so a large window costs
// the machine little besides what records it.
//
// Prints "shown WINDOW" (the X window in hex) once on the screen.
#include <QApplication>
#include <QPainter>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cstdio>

namespace {

int64_t nowMs()
{
    using namespace std::chrono; // steady_clock is CLOCK_MONOTONIC, as the bench reads it
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

class FrameClock : public QWidget {
public:
    FrameClock(bool motion, bool still) : m_motion(motion), m_still(still)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
        // Four repaints a frame time: the bars are never more than ~8 ms old.
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            update(QRect(8, 8, 260, 20));
            if (m_motion)
                update(m_band), m_band = bandAt(nowMs()), update(m_band);
        });
        if (!still)
            m_timer.start(8);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        const int w = width(), h = height();
        const Qt::GlobalColor colours[] = {Qt::red, Qt::green, Qt::blue, Qt::yellow};
        for (int i = 0; i < 4; ++i)
            p.fillRect(i % 2 * w / 2, i / 2 * h / 2, w / 2 + 1, h / 2 + 1, colours[i]);
        const int64_t ms = nowMs();
        if (m_motion) {
            // Where the timer asked for it, so no sliver is left outside the update.
            const QRect band = m_band.isNull() ? bandAt(ms) : m_band;
            QLinearGradient gradient(band.left(), 0, band.right(), 0);
            gradient.setStops({{0, Qt::white}, {1, Qt::darkCyan}});
            p.fillRect(band, gradient);
        }
        p.fillRect(8, 8, 20, 20, Qt::magenta);
        for (int bit = 0; bit < 24 && !m_still; ++bit)
            p.fillRect(28 + bit * 10, 8, 10, 20, (ms >> bit & 1) ? Qt::white : Qt::black);
        if (!std::exchange(m_announced, true))
            QTimer::singleShot(0, this, [this] {
                std::printf("shown 0x%llx\n", static_cast<unsigned long long>(winId()));
                std::fflush(stdout);
            });
    }

private:
    // A tenth of the window wide, a pixel every 2 ms, across and again.
    QRect bandAt(int64_t ms) const
    {
        const int band = qMax(8, width() / 10);
        return QRect(int(ms / 2 % (width() + band)) - band, 0, band, height());
    }

    QTimer m_timer;
    bool m_motion, m_still, m_announced = false;
    QRect m_band;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 5)
        return std::fputs("usage: frame-clock X Y W H [--motion] [--bare] [--still]\n", stderr), 2;
    FrameClock window(args.contains("--motion"), args.contains("--still"));
    window.setWindowFlag(Qt::FramelessWindowHint, args.contains("--bare"));
    window.setGeometry(args[1].toInt(), args[2].toInt(), args[3].toInt(), args[4].toInt());
    window.show();
    return app.exec();
}
