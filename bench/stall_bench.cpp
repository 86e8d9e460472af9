// The longest the GUI thread stalls while a window opens a 16384 x 16384 PNG
// and while the app, on Wayland, asks a slow screenshot portal (one that
// answers after 1.5 s) whether it may capture: the way the windows do it now
// (the file read and decoded on the pool, the portal asked without waiting)
// against doing the same work on the GUI thread, in the same run.
//   stall_bench WORK_DIR
// Prints each stall (the median of five runs) in ms and as a ratio to the blocking way; exits 1 when a
// stall is over one frame (16 ms).

#include "capture_access.h"
#include "file_panel.h"
#include "image_loader.h"
#include "null_capture_backend.h"
#include "open_flow.h"
#include "png_writer.h"
#include "private_bus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kFrameMs = 16;
constexpr int kPortalDelayMs = 1500;

struct NoPanel : FilePanel {
    void chooseFileToOpen(const OpenRequest&, Answer) override {}
    void chooseSaveLocation(const SaveRequest&, Answer) override {}
};

// How long this thread has waited for a CPU while ready to run, in ns: time
// other programs on a busy machine took, which no code of ours can give back.
qint64 runQueueWaitNs()
{
    QFile stats(QStringLiteral("/proc/thread-self/schedstat"));
    if (!stats.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = stats.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() : 0;
}

// The longest gap between turns of the event loop while `start` runs and
// until `done` says the work has ended, less the time the thread only waited
// for a CPU: a timer that wants to fire every millisecond notices every stall.
template <typename Start, typename Done> double longestStallMs(Start start, Done done)
{
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 lastWait = 0;
    qint64 longest = 0;
    const auto turn = [&] {
        const qint64 now = clock.nsecsElapsed();
        const qint64 wait = runQueueWaitNs();
        longest = std::max(longest, (now - last) - (wait - lastWait));
        last = now;
        lastWait = wait;
    };
    QTimer beat;
    beat.setTimerType(Qt::PreciseTimer);
    QObject::connect(&beat, &QTimer::timeout, turn);
    clock.start();
    beat.start(1);
    QTimer::singleShot(0, [&] {
        last = clock.nsecsElapsed();
        lastWait = runQueueWaitNs();
        start();
        turn();
    });
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return double(longest) / 1e6;
}

// The median of kRuns such measurements.
constexpr int kRuns = 5;
template <typename Measure> double medianOf(Measure measure)
{
    std::vector<double> stalls;
    for (int i = 0; i < kRuns; ++i)
        stalls.push_back(measure());
    std::sort(stalls.begin(), stalls.end());
    return stalls[stalls.size() / 2];
}

// A screenshot portal that takes its time: every call is answered after
// kPortalDelayMs, from a thread of its own, so a caller that blocks on it
// blocks for that long and one that does not is not held up at all.
class SlowPortal : public QDBusVirtualObject {
public:
    explicit SlowPortal(QDBusConnection bus) : m_bus(std::move(bus)) {}
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override
    {
        QTimer::singleShot(kPortalDelayMs, this, [this, message] {
            m_bus.send(message.createReply(QVariant::fromValue(QDBusVariant(2u))));
        });
        return true;
    }

private:
    QDBusConnection m_bus;
};

void report(const char* what, double ours, double blocking, bool& allMet)
{
    const bool met = ours <= kFrameMs;
    allMet = allMet && met;
    std::printf("  %s: longest stall %.1f ms, %.4f of the blocking way's %.0f ms -> %s\n", what,
                ours, ours / blocking, blocking, met ? "met" : "MISSED");
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    bool allMet = true;
    std::printf("GUI-thread stalls (target: at most %d ms each):\n", kFrameMs);

    // A picture as large as the loader takes.
    const QString huge = dir + QStringLiteral("/huge.png");
    {
        QImage picture(16384, 16384, QImage::Format_RGB32);
        picture.fill(QColor(40, 120, 200));
        if (!writePng(picture, huge).ok())
            return std::fprintf(stderr, "stall_bench: cannot write %s\n", qPrintable(huge)), 2;
    }
    NullCaptureBackend backend;
    NoPanel panel;
    int opened = 0;
    OpenFlow flow({backend, panel, [&](const EditorRequest&) { ++opened; }, {}},
                  OpenedFrom::mainWindow);
    const double ours = medianOf([&] {
        opened = 0;
        return longestStallMs([&] { flow.openFiles({huge}); }, [&] { return opened == 1; });
    });
    bool decoded = false;
    const double blocking =
        longestStallMs([&] { decoded = loadImageFile(huge).ok(); }, [&] { return decoded; });
    report("opening a 16384 x 16384 PNG", ours, blocking, allMet);

    // The access check on Wayland, against a portal on a bus of our own.
    test_support::PrivateBus bus;
    if (!bus.start(dir, QStringLiteral("bench")))
        return std::fprintf(stderr, "stall_bench: no private bus (dbus-daemon)\n"), 2;
    qputenv("WAYLAND_DISPLAY", "wayland-bench");
    qputenv("XDG_SESSION_TYPE", "wayland");
    QThread portalThread;
    portalThread.start();
    QDBusConnection portalBus = QDBusConnection::connectToBus(
        QString::fromUtf8(qgetenv("DBUS_SESSION_BUS_ADDRESS")), QStringLiteral("portal"));
    auto* portal = new SlowPortal(portalBus);
    portal->moveToThread(&portalThread);
    if (!portalBus.registerVirtualObject(QStringLiteral("/org/freedesktop/portal/desktop"), portal) ||
        !portalBus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")))
        return std::fprintf(stderr, "stall_bench: the slow portal cannot register\n"), 2;
    bool answered = false;
    const double oursCheck = medianOf([&] {
        answered = false;
        return longestStallMs(
            [&] { checkScreenCaptureAccessAsync(&app, [&](bool) { answered = true; }); },
            [&] { return answered; });
    });
    bool checked = false;
    const double blockingCheck = longestStallMs(
        [&] { checked = checkScreenCaptureAccess() || true; }, [&] { return checked; });
    report("asking a slow portal for access", oursCheck, blockingCheck, allMet);

    QMetaObject::invokeMethod(portal, [portal] { delete portal; }, Qt::BlockingQueuedConnection);
    portalThread.quit();
    portalThread.wait();
    return allMet ? 0 : 1;
}
