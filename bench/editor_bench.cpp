// The editor with a 5K screenshot: how long a padding slider step takes to
// reach the screen, and what memory the editor holds. The step is timed
// against the naive way of making the same preview (compose the full
// picture into a fresh canvas, then scale it to the preview), measured in
// the same run.

#include "bench_support.h"
#include "content_view.h"
#include "file_panel.h"
#include "file_reveal.h"
#include "image_compositor.h"
#include "image_editor.h"
#include "null_capture_backend.h"
#include "screen_recorder.h"
#include "screencapture.h"
#include "screenshot_preview.h"

#include <QApplication>
#include <QPainter>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <malloc.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

struct NoPanel : FilePanel {
    void chooseFileToOpen(const OpenRequest&, Answer done) override { done(std::nullopt); }
    void chooseSaveLocation(const SaveRequest&, Answer done) override { done(std::nullopt); }
};
struct NoReveal : FileReveal {
    void reveal(const QString&) override {}
};

double elapsedMs(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
        .count();
}

double percentile(std::vector<double> times, double share)
{
    std::sort(times.begin(), times.end());
    return times[std::min(times.size() - 1, size_t(share * double(times.size())))];
}

// Resident memory of this process, with freed heap handed back first.
double residentMiB()
{
    malloc_trim(0);
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1 << 20);
}

struct Editor {
    NullCaptureBackend backend;
    Screencapture screencapture{backend};
    ScreenRecorder recorder;
    NoPanel panel;
    NoReveal reveal;
    std::unique_ptr<ContentView> view;

    void open(const QImage& shot)
    {
        screencapture.setImage(shot);
        view = std::make_unique<ContentView>(screencapture, recorder, true, panel, reveal);
        view->resize(1200, 800);
        view->show();
        QApplication::processEvents();
        preview()->repaint();
    }
    ScreenshotPreview* preview() const { return view->imageEditor()->preview(); }
};

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bool met = true;
    const auto check = [&met](const char* name, bool ok, const QString& detail) {
        std::printf("  %s: %s -> %s\n", name, qPrintable(detail), ok ? "met" : "MISSED");
        met = met && ok;
    };

    const QImage shot = bench::noisyScreenshot(5120, 2880, 2);
    const double shotMiB = double(shot.sizeInBytes()) / (1 << 20);
    const double before = residentMiB();

    Editor editor;
    editor.open(shot);
    const double holding = residentMiB() - before;

    // 100 padding steps, each timed from the new value to the painted preview.
    std::vector<double> steps;
    for (int i = 0; i < 100; ++i) {
        const auto start = std::chrono::steady_clock::now();
        editor.view->setGradientPadding(20 + i);
        editor.preview()->repaint();
        steps.push_back(elapsedMs(start));
    }
    const QSize shown = editor.preview()->pictureRect().size().toSize();
    std::vector<double> naive;
    QImage out;
    for (int i = 0; i < 12; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const QImage full = composeWithBackground(shot, GradientStyle::bluePurple(), 20 + i, 0);
        out = full.scaled(shown * editor.preview()->devicePixelRatioF(), Qt::IgnoreAspectRatio,
                          Qt::SmoothTransformation);
        bench::keep(out.constBits());
        naive.push_back(elapsedMs(start));
    }
    const double median = percentile(steps, 0.5), p95 = percentile(steps, 0.95);
    const double naiveMedian = percentile(naive, 0.5);
    std::printf("editor slider step, 5120x2880 @2 screenshot, preview %dx%d on a display at "
                "scale %.0f (ratio: ours / compose in full and scale, lower is better):\n",
                shown.width(), shown.height(), editor.preview()->devicePixelRatioF());
    std::printf("  ours median %.1f ms, p95 %.1f ms; naive median %.1f ms; ratio %.3f\n", median,
                p95, naiveMedian, median / naiveMedian);
    check("step median", median <= 16, QString("%1 ms (target 16 ms)").arg(median, 0, 'f', 1));
    check("step p95", p95 <= 33, QString("%1 ms (target 33 ms)").arg(p95, 0, 'f', 1));

    std::printf("editor memory (ratio to the screenshot's %.0f MiB):\n", shotMiB);
    check("added by the editor", holding <= 4 * shotMiB,
          QString("%1 MiB = %2x (target at most 4x)")
              .arg(holding, 0, 'f', 0)
              .arg(holding / shotMiB, 0, 'f', 2));

    editor.view.reset();
    double afterFirst = 0;
    for (int cycle = 1; cycle <= 10; ++cycle) {
        editor.open(shot);
        for (int i = 0; i < 5; ++i) {
            editor.view->setGradientPadding(10 * i + cycle);
            editor.preview()->repaint();
        }
        editor.view.reset();
        QApplication::processEvents();
        if (cycle == 1)
            afterFirst = residentMiB();
    }
    const double afterTenth = residentMiB();
    check("growth over 10 open/close cycles", afterTenth <= afterFirst * 1.05,
          QString("%1 -> %2 MiB = %3x (target at most 1.05x)")
              .arg(afterFirst, 0, 'f', 0)
              .arg(afterTenth, 0, 'f', 0)
              .arg(afterTenth / afterFirst, 0, 'f', 3));
    return met ? 0 : 1;
}
