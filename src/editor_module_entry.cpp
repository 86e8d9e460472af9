// The one way into libquorvel-editor.so: the program loads it with
// loadEditorModule() when it first needs an editor window or a command.

#include "cli.h"
#include "editor_module.h"
#include "editor_window.h"
#include "editor_window_opener.h"
#include "ffmpeg_media_backend.h"
#include "file_opener.h"
#include "native_file.h"
#include "open_command.h"

#include <QCoreApplication>

extern "C" {
#include <libavutil/log.h>
}

namespace {

void closeEditorWindows()
{
    const QList<EditorWindow*> left = editorWindows();
    qDeleteAll(left);
}

QString openFile(const QString& path)
{
    // One pair of models for every file the running app is asked to open,
    // as the main window keeps one; kept to the end of the process.
    static FileOpener* const opener = new FileOpener;
    return opener->open(path);
}

int runCommand(int& argc, char** argv)
{
    holdClosedStandardStreams();
    const QStringList arguments = commandLineArguments(argc, argv);
    // Only `open` shows windows; the other commands run without a display.
    if (!arguments.isEmpty() && arguments.first() == QLatin1String("open"))
        return runOpenCommand(argc, argv, arguments.mid(1));
    QCoreApplication app(argc, argv);
    return runCommandLine(arguments);
}

EditorModule makeModule()
{
    // libav talks on standard error about odd files; each file gets our own
    // one line instead, unless QUORVEL_DEBUG asks for everything.
    if (qEnvironmentVariableIsEmpty("QUORVEL_DEBUG"))
        av_log_set_level(AV_LOG_QUIET);
    // Before the first media object: Qt reads the backend's name once.
    useFfmpegMediaBackend();
    return EditorModule{openEditorWindow, openFile, closeEditorWindows, runCommand};
}

} // namespace

extern "C" Q_DECL_EXPORT const EditorModule* quorvelEditorModule()
{
    static const EditorModule module = makeModule();
    return &module;
}
