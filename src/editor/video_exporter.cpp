#include "video_exporter.h"

#include "console.h"
#include "movie_composer.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThreadPool>

namespace {

using Outcome = MovieCompositionOutcome;

// Posts `work` to the main thread's event loop. Postings from one thread
// arrive in the order they were made. `alive` is read there, on the thread
// that destroys the exporter, so the check cannot race with it.
void postToMainThread(const std::shared_ptr<bool>& alive, std::function<void()> work)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return; // quitting: no one is left to tell
    QMetaObject::invokeMethod(
        app,
        [alive, work = std::move(work)] {
            if (*alive)
                work();
        },
        Qt::QueuedConnection);
}

// One export, everything it needs copied in; runs on a pool thread.
struct ExportRun {
    std::shared_ptr<bool> alive;
    VideoExporter::LineWriter writeLine;
    FileReveal* reveal;
    std::function<void(bool)> onExportingChanged;
    QString source;
    QString destination;
    MovieCompositionSettings settings;

    // Lines go the same way as every other posting, so their order among
    // them stays the order they were made in.
    void print(const QString& line) const
    {
        postToMainThread(alive, [writeLine = writeLine, line] { writeLine(line); });
    }

    void setExporting(bool exporting) const
    {
        if (onExportingChanged)
            postToMainThread(alive,
                             [onChanged = onExportingChanged, exporting] { onChanged(exporting); });
    }

    void operator()() const
    {
        bool started = false; // only touched on this thread
        MovieComposer::Callbacks callbacks;
        callbacks.encodingStarts = [&](const MovieComposer::Encoding&) {
            started = true;
            print(QStringLiteral("Starting video export..."));
            setExporting(true);
        };
        const Outcome outcome = MovieComposer::compose(source, destination, settings, callbacks);
        switch (outcome.kind) {
        case Outcome::Kind::completed:
            setExporting(false);
            print(QStringLiteral("✅ Export completed successfully"));
            postToMainThread(alive,
                             [reveal = reveal, path = destination] { reveal->reveal(path); });
            break;
        case Outcome::Kind::noVideo:
            // Nothing to export and nothing to say; just never leave the
            // editor believing an export is running.
            if (started)
                setExporting(false);
            break;
        case Outcome::Kind::cancelled:
            setExporting(false);
            print(QStringLiteral("❌ Export failed: cancelled"));
            break;
        case Outcome::Kind::failed:
            if (outcome.stage == Outcome::Stage::source) {
                print(QStringLiteral("Error exporting video: ") + outcome.reason);
                setExporting(false);
            } else {
                setExporting(false);
                print(outcome.reason.isEmpty()
                          ? QStringLiteral("❌ Export failed with status: failed")
                          : QStringLiteral("❌ Export failed: ") + outcome.reason);
            }
            break;
        }
    }
};

} // namespace

VideoExporter::VideoExporter(FilePanel& panel, FileReveal& reveal, LineWriter writeLine)
    : m_panel(panel), m_reveal(reveal),
      m_writeLine(writeLine ? std::move(writeLine) : LineWriter(printLine)),
      m_alive(std::make_shared<bool>(true))
{
}

VideoExporter::~VideoExporter()
{
    *m_alive = false;
}

void VideoExporter::exportVideo(const QUrl& sourceURL, const GradientStyle& style, double padding,
                                double cornerRadius, std::function<void(bool)> onExportingChanged)
{
    ExportRun run{m_alive,
                  m_writeLine,
                  &m_reveal,
                  std::move(onExportingChanged),
                  sourceURL.toString(QUrl::PreferLocalFile),
                  {},
                  {style, padding, cornerRadius}};
    const FilePanel::SaveRequest request{{QStringLiteral("MPEG-4 movie (*.mp4)")},
                                         QStringLiteral("video_with_background.mp4")};
    m_panel.chooseSaveLocation(request, [run = std::move(run)](std::optional<QString> destination) {
        if (!*run.alive || !destination)
            return;
        ExportRun job = run;
        job.destination = *destination;
        // The global pool is waited for when the application quits, so an
        // export is never cut off halfway.
        QThreadPool::globalInstance()->start(std::move(job));
    });
}
