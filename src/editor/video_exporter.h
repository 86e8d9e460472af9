#pragma once

#include "file_panel.h"
#include "file_reveal.h"
#include "gradient_style.h"

#include <QString>
#include <QUrl>
#include <functional>
#include <memory>

// The editor's "Export Video": asks where to save, composes the movie on a
// background thread and reveals the result. Progress and outcome reach the
// user as printed lines and through `onExportingChanged`, which runs on the
// main thread: true when encoding starts, false once when the run ends
// (unless the source had no picture to export, which stops silently).
//
// Runs keep no state here and may overlap. Destroying the exporter while a
// run is going on is safe: the run finishes its file, but nothing it would
// have posted back (lines, callbacks, reveal) happens any more.
class VideoExporter {
public:
    // Where the product's lines go; called on the main thread, in order, and
    // only while the exporter lives.
    using LineWriter = std::function<void(const QString& line)>;

    // `panel` and `reveal` must outlive the exporter. `writeLine` defaults to
    // printLine (standard output).
    VideoExporter(FilePanel& panel, FileReveal& reveal, LineWriter writeLine = {});
    ~VideoExporter();
    VideoExporter(const VideoExporter&) = delete;
    VideoExporter& operator=(const VideoExporter&) = delete;

    // Call on the main thread; returns at once.
    void exportVideo(const QUrl& sourceURL, const GradientStyle& style, double padding,
                     double cornerRadius, std::function<void(bool)> onExportingChanged);

private:
    FilePanel& m_panel;
    FileReveal& m_reveal;
    LineWriter m_writeLine;
    // Shared with every run; cleared on destruction and only read on the main
    // thread, so a late posting never touches a dead exporter.
    std::shared_ptr<bool> m_alive;
};
