#include "open_command.h"

#include "exit_status.h"
#include "command_options.h"
#include "console.h"
#include "editor_window.h"
#include "editor_window_opener.h"
#include "ffmpeg_media_backend.h"
#include "movie_check.h"
#include "null_capture_backend.h"
#include "open_flow.h"
#include "qt_file_panel.h"
#include "instance_client.h"
#include "window_system.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <cstdlib>

namespace {

constexpr const char* kCommand = "quorvel open";

// Hands the files to the running app, which opens them in its own windows;
// nullopt when there is none. The app takes paths as they are seen from
// here; its reasons come back and are printed as ours would be.
std::optional<int> openInRunningApp(const QStringList& files)
{
    QStringList paths;
    for (const QString& file : files)
        paths.append(QDir::cleanPath(QDir::current().absoluteFilePath(file)));
    const auto failures = InstanceClient().open(paths);
    if (!failures || failures->size() != files.size())
        return std::nullopt;
    bool allOpened = true;
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (failures->at(i).isEmpty())
            continue;
        printErrorLine(oneLine(QStringLiteral("quorvel: %1: %2").arg(files[i], failures->at(i))));
        allOpened = false;
    }
    return allOpened ? exitSuccess : exitFailure;
}

void openEditorWindowRequest(const EditorRequest& request)
{
    openEditorWindow(request);
}

} // namespace

int runOpenCommand(int& argc, char** argv, const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    parser.addOption(help);
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("A picture or a movie to open in the editor."),
                                 QStringLiteral("FILE..."));
    parser.setApplicationDescription(
        QStringLiteral("Opens each FILE, a picture or a movie, in an editor window of its own."));
    if (!parser.parse(QStringList{QLatin1String(kCommand)} + arguments))
        return usageError(kCommand, parser.errorText());
    if (parser.isSet(help)) {
        printCommandHelp(parser, QStringLiteral("Usage: %1 FILE...").arg(QLatin1String(kCommand)));
        return exitSuccess;
    }
    const QStringList files = parser.positionalArguments();
    if (files.isEmpty())
        return usageError(kCommand, QStringLiteral("no FILE given"));

    // The movie preview plays through FFmpeg, the same libraries that export
    // it; Qt reads this once, before its first media object.
    useFfmpegMediaBackend();
    const std::unique_ptr<QApplication> app = startWindowSystem(argc, argv);
    if (!app) {
        printErrorLine(displayFailure());
        return exitFailure;
    }
    QApplication::setApplicationDisplayName(QStringLiteral("Quorvel"));
    if (const auto status = openInRunningApp(files))
        return *status;

    // No app runs: the windows are this process's own, opened as the app
    // would open them.
    NullCaptureBackend backend;
    QtFilePanel panel;
    OpenFlow flow({backend, panel, openEditorWindowRequest, movieFailure},
                  OpenedFrom::mainWindow);
    bool allOpened = true;
    flow.openFiles(files, [&](const QStringList& failures) {
        for (qsizetype i = 0; i < files.size(); ++i) {
            if (failures[i].isEmpty())
                continue;
            printErrorLine(oneLine(QStringLiteral("quorvel: %1: %2").arg(files[i], failures[i])));
            allOpened = false;
        }
        if (editorWindows().isEmpty())
            QCoreApplication::exit(exitFailure);
    });
    if (QApplication::exec() != exitSuccess)
        return exitFailure;
    // Closed windows delete themselves from the event loop, which has stopped.
    const QList<EditorWindow*> left = editorWindows();
    qDeleteAll(left);
    return allOpened ? exitSuccess : exitFailure;
}
