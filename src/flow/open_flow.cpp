#include "open_flow.h"

#include "capture_access.h"
#include "console.h"
#include "file_intake.h"
#include "file_panel.h"
#include "open_requests.h"

#include <QFileInfo>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QThreadPool>
#include <QTimer>
#include <QWindow>
#include <QtConcurrent/QtConcurrentRun>
#include <memory>
#include <utility>

namespace {

FilePanel::OpenRequest imageRequest()
{
    return {{imagesNameFilter(), QObject::tr("JPEG (*.jpg *.jpeg)"), QObject::tr("PNG (*.png)"),
             QObject::tr("TIFF (*.tif *.tiff)"), QObject::tr("BMP (*.bmp)"),
             QObject::tr("GIF (*.gif)"), QObject::tr("HEIC (*.heic *.heif)")},
            QObject::tr("Choose Image")};
}

FilePanel::OpenRequest movieRequest()
{
    return {{moviesNameFilter(), QObject::tr("QuickTime movie (*.mov)"),
             QObject::tr("MPEG-4 movie (*.mp4 *.m4v)")},
            QObject::tr("Choose Video")};
}

// A file read on the pool: the picture, or the movie checked, or why neither.
struct Intake {
    QString path;
    Result<FileIntake> read = Result<FileIntake>::failure({});
};

// Runs `work` on the thread pool and `then` with its result on `context`'s
// thread; `then` is dropped if `context` goes first.
template <typename Work, typename Then> void inBackground(QObject* context, Work work, Then then)
{
    using Value = decltype(work());
    auto* watcher = new QFutureWatcher<Value>(context);
    QObject::connect(watcher, &QFutureWatcher<Value>::finished, context,
                     [watcher, then = std::move(then)] {
                         watcher->deleteLater();
                         then(watcher->result());
                     });
    watcher->setFuture(QtConcurrent::run(std::move(work)));
}

// Reads a file and, for a movie, has the movie pipeline check it: all of it
// off the GUI thread.
Intake intake(const QString& path, const std::function<QString(const QString&)>& checkMovie)
{
    Intake result{path, readForEditor(path)};
    if (result.read.ok() && result.read.value().kind == FileIntake::Kind::movie && checkMovie)
        if (const QString failure = checkMovie(path); !failure.isEmpty())
            result.read = Result<FileIntake>::failure(failure);
    return result;
}

// Pictures from this size on are let go of on the pool.
constexpr qint64 kLargePictureBytes = 64LL * 1024 * 1024;

QString absolute(const QString& path)
{
    return QFileInfo(path).absoluteFilePath();
}

} // namespace

OpenFlow::OpenFlow(Services services, OpenedFrom from, QObject* parent)
    : QObject(parent), m_services(std::move(services)), m_from(from),
      m_capture(m_services.backend)
{
    if (!m_services.writeLine)
        m_services.writeLine = printLine;
    if (!m_services.checkAccess)
        m_services.checkAccess = [](QObject* context, std::function<void(bool)> answer) {
            checkScreenCaptureAccessAsync(context, std::move(answer));
        };
    connect(&m_capture, &Screencapture::screenshotFinished, this, &OpenFlow::screenshotFinished);
    // Back as soon as the desktop has answered: on Wayland a cancelled
    // capture's clipboard picture reaches only a window with the focus.
    connect(&m_capture, &Screencapture::screenshotAnswered, this, [this] {
        if (m_ownScreenshot)
            bringBack();
    });
}

OpenFlow::~OpenFlow() = default;

void OpenFlow::refreshPermission()
{
    if (m_checking)
        return;
    m_checking = true;
    m_services.checkAccess(this, [this](bool granted) {
        m_checking = false;
        m_granted = granted;
        m_services.writeLine(permissionCheckLine(granted));
        Q_EMIT permissionChanged(granted);
    });
}

QString OpenFlow::startCapture(ScreenshotTypes kind)
{
    if (isCapturing())
        return QStringLiteral("a capture is already under way");
    m_bringBack = m_stepAside ? m_stepAside() : std::function<void()>();
    // Else behind the other windows, not hidden: the window stays where it was.
    QWindow* ours = m_bringBack ? nullptr : QGuiApplication::focusWindow();
    if (ours)
        ours->lower();
    m_capturePending = true;
    QTimer::singleShot(ours || m_bringBack ? kCaptureDelayMs : 0, this, [this, kind] {
        m_capturePending = false;
        takeScreenshot(kind);
    });
    return {};
}

void OpenFlow::takeScreenshot(ScreenshotTypes kind)
{
    // Someone else's screenshot on the same backend (another window's flow)
    // is not ours to follow.
    if (m_capture.isTakingScreenshot()) {
        bringBack();
        return;
    }
    m_ownScreenshot = true;
    m_capture.takeScreenshot(kind);
}

void OpenFlow::screenshotFinished()
{
    if (!m_ownScreenshot)
        return;
    m_ownScreenshot = false;
    bringBack(); // if not yet: before the editor, which then opens in front
    // A cancelled or failed capture with nothing to show opens nothing.
    if (!m_capture.image().isNull())
        openEditor({m_capture.image(), {}, false, {}, m_from});
}

void OpenFlow::bringBack()
{
    if (const auto back = std::exchange(m_bringBack, {}))
        back();
}

void OpenFlow::replacePicture(const QImage& picture)
{
    // The picture it replaces may be the last copy of a gigabyte: giving its
    // pages back takes the GUI thread tens of milliseconds, the pool's none.
    QImage previous = m_capture.image();
    m_capture.setImage(picture);
    if (qint64(previous.sizeInBytes()) >= kLargePictureBytes)
        QThreadPool::globalInstance()->start([previous = std::move(previous)] {});
}

void OpenFlow::openEditor(EditorRequest request)
{
    request.from = m_from;
    m_services.openEditor(request);
}

void OpenFlow::chooseImage()
{
    m_services.panel.chooseFileToOpen(imageRequest(),
                                      [self = QPointer(this)](std::optional<QString> path) {
                                          if (self && path)
                                              self->openChosenImage(*path);
                                      });
}

void OpenFlow::chooseMovie()
{
    m_services.panel.chooseFileToOpen(movieRequest(),
                                      [self = QPointer(this)](std::optional<QString> path) {
                                          if (self && path)
                                              self->openMovie(*path);
                                      });
}

void OpenFlow::openChosenImage(const QString& path)
{
    inBackground(
        this, [path] { return intake(path, {}); },
        [this, path](const Intake& in) {
            const Result<FileIntake>& read = in.read;
            if (read.ok() && read.value().kind == FileIntake::Kind::picture) {
                openPicture(read.value().picture, path);
                return;
            }
            // The panel's way with a bad file: the line, then the last picture.
            m_services.writeLine(Screencapture::loadFailureLine(QUrl::fromLocalFile(path)));
            if (!m_capture.image().isNull())
                openEditor({m_capture.image(), {}, false, {}, m_from});
        });
}

void OpenFlow::openPicture(const QImage& picture, const QString& path)
{
    replacePicture(picture);
    openEditor({m_capture.image(), {}, false, QFileInfo(path).fileName(), m_from});
}

void OpenFlow::openMovie(const QString& path)
{
    // The movie itself is read by the editor's player; nothing to wait for.
    m_recorder.setLastRecordingURL(QUrl::fromLocalFile(absolute(path)));
    openEditor({{}, m_recorder.lastRecordingURL(), true, QFileInfo(path).fileName(), m_from});
}

void OpenFlow::pastePicture()
{
    const QImage before = m_capture.image();
    bool changed = false;
    const auto watch =
        connect(&m_capture, &Screencapture::imageChanged, this, [&changed] { changed = true; });
    m_capture.loadImageFromPasteboard();
    disconnect(watch);
    if (!changed) {
        m_services.writeLine(QStringLiteral("No picture on the clipboard to paste"));
        return;
    }
    openEditor({m_capture.image(), {}, false, {}, m_from});
}

void OpenFlow::openFiles(const QStringList& paths, Answer done)
{
    QStringList failures(paths.size());
    const qsizetype taken = std::min<qsizetype>(paths.size(), kMostFilesAtOnce);
    const QString tooMany =
        QStringLiteral("not opened: at most %1 files open at once, and %2 were left")
            .arg(kMostFilesAtOnce)
            .arg(paths.size() - taken);
    for (qsizetype i = taken; i < paths.size(); ++i)
        failures[i] = tooMany;
    if (taken == 0) {
        if (done)
            done(failures);
        return;
    }
    // Each file is read on the pool, and the editors open in the order given
    // once all are in, so the answer lists every file's fate at once.
    struct Batch {
        QList<Intake> intakes;
        QStringList failures;
        qsizetype waiting = 0;
        Answer done;
    };
    auto batch = std::make_shared<Batch>();
    batch->intakes.resize(taken);
    batch->failures = failures;
    batch->waiting = taken;
    batch->done = std::move(done);
    const auto checkMovie = m_services.checkMovie;
    for (qsizetype i = 0; i < taken; ++i) {
        const QString path = paths[i];
        inBackground(
            this, [path, checkMovie] { return intake(path, checkMovie); },
            [this, batch, i](const Intake& in) {
                batch->intakes[i] = in;
                if (--batch->waiting > 0)
                    return;
                for (qsizetype n = 0; n < batch->intakes.size(); ++n) {
                    const Intake& file = batch->intakes[n];
                    if (!file.read.ok()) {
                        batch->failures[n] = file.read.error();
                        continue;
                    }
                    if (file.read.value().kind == FileIntake::Kind::picture)
                        openPicture(file.read.value().picture, file.path);
                    else
                        openMovie(file.path);
                }
                if (batch->done)
                    batch->done(batch->failures);
            });
    }
}
