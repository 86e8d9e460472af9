#pragma once

// Stand-ins for the person at the editor's panels, and the lines it prints.

#include "file_panel.h"
#include "file_reveal.h"
#include "null_capture_backend.h"
#include "screen_recorder.h"
#include "screencapture.h"

#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <mutex>

namespace editor_fixtures {

// Answers panels with `answer` from the event loop, or, when held, keeps
// save panels open until the test answers each with answerNext().
struct FakeFilePanel : FilePanel {
    std::optional<QString> answer;
    bool hold = false;
    int answered = 0;
    QList<OpenRequest> openRequests;
    QList<SaveRequest> saveRequests;
    QList<Answer> open;

    void chooseFileToOpen(const OpenRequest& request, Answer done) override
    {
        openRequests << request;
        answerLater(done);
    }
    void chooseSaveLocation(const SaveRequest& request, Answer done) override
    {
        saveRequests << request;
        hold ? void(open << done) : answerLater(done);
    }
    void answerLater(Answer done)
    {
        QTimer::singleShot(0, [this, done, path = answer] {
            ++answered;
            done(path);
        });
    }
    void answerNext(std::optional<QString> path) { open.takeFirst()(path); }
};

// The first child of `root` of type W for which `matches` holds.
template <typename W, typename F> W* childWhere(const QObject* root, F matches)
{
    for (W* child : root->findChildren<W*>()) {
        if (matches(child))
            return child;
    }
    return nullptr;
}

struct RecordingReveal : FileReveal {
    QStringList revealed;
    void reveal(const QString& path) override { revealed << path; }
};

// The lines printed. Lines belong to the main thread: one written anywhere
// else is marked, so no comparison with the expected lines can pass.
struct Lines {
    std::mutex mutex;
    QStringList lines;
    std::function<void(const QString&)> writer()
    {
        return [this](const QString& line) {
            const bool main = QThread::currentThread() == QCoreApplication::instance()->thread();
            const std::lock_guard lock(mutex);
            lines << (main ? line : line + QStringLiteral(" (written off the main thread)"));
        };
    }
    QStringList taken()
    {
        const std::lock_guard lock(mutex);
        return lines;
    }
};

// A model pair like the opener makes, with its own capture backend.
struct Models {
    NullCaptureBackend backend;
    Screencapture screencapture{backend};
    ScreenRecorder recorder;
};

// A screenshot of `points` at `ratio` with smooth content (scaling compares
// fairly) and a distinct quadrant in each corner.
inline QImage screenshot(QSize points, qreal ratio)
{
    QImage image(points * ratio, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient shade(0, 0, image.width(), image.height());
    shade.setColorAt(0, QColor(30, 30, 36));
    shade.setColorAt(1, QColor(220, 220, 210));
    painter.fillRect(image.rect(), shade);
    const int w = image.width() / 2, h = image.height() / 2;
    painter.fillRect(0, 0, w / 2, h / 2, QColor(200, 40, 40));
    painter.fillRect(image.width() - w / 2, image.height() - h / 2, w / 2, h / 2,
                     QColor(40, 160, 60));
    painter.end();
    image.setDevicePixelRatio(ratio);
    return image;
}

} // namespace editor_fixtures
