#include "cli.h"
#include "console.h"
#include "editor_window.h"
#include "editor_window_opener.h"
#include "ffmpeg_media_backend.h"
#include "open_command.h"
#include "quorvel_app.h"

#include <QApplication>
#include <QCoreApplication>
#include <cstdio>

extern "C" {
#include <libavutil/log.h>
}

namespace {

// Qt's image readers warn on standard error about every damaged file they
// meet ("libpng error: ..."). The command line already says what went wrong
// in its one line per input, so their chatter is kept back unless asked for.
void quietMessages(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtDebugMsg || type == QtInfoMsg || type == QtWarningMsg)
        return;
    std::fprintf(stderr, "%s\n", qPrintable(message));
}

// The desktop application: main window, tray item, update check.
int runApplication(int& argc, char** argv)
{
    // The movie preview plays through FFmpeg; Qt reads this once, before its
    // first media object.
    useFfmpegMediaBackend();
    const QString hint =
        QStringLiteral("`quorvel compose` and `quorvel video` work without one (see quorvel --help)");
    const std::unique_ptr<QApplication> app = startWindowSystem(argc, argv, hint);
    if (!app) {
        printErrorLine(displayFailure(hint));
        return exitFailure;
    }
    QApplication::setApplicationDisplayName(QStringLiteral("Quorvel"));
    int status = exitSuccess;
    {
        QuorvelApp quorvel;
        quorvel.show();
        status = QApplication::exec();
        // Closed editor windows delete themselves from the event loop, which
        // has stopped; the rest go before the models they were opened from.
        const QList<EditorWindow*> left = editorWindows();
        qDeleteAll(left);
    }
    return status;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QUORVEL_DEBUG")) {
        qInstallMessageHandler(quietMessages);
        // libav talks on standard error about odd files; each file gets our
        // own one line instead.
        av_log_set_level(AV_LOG_QUIET);
    }
    QCoreApplication::setApplicationName(QStringLiteral("quorvel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral(QUORVEL_APP_ID));
    const QStringList arguments = commandLineArguments(argc, argv);
    // The launcher runs `quorvel open %F`, which is a plain start when it is
    // given no files.
    if (arguments.isEmpty() || arguments == QStringList{QStringLiteral("open")})
        return runApplication(argc, argv);
    // Only `open` shows windows; the other commands run without a display.
    if (arguments.first() == QLatin1String("open"))
        return runOpenCommand(argc, argv, arguments.mid(1));
    QCoreApplication app(argc, argv);
    return runCommandLine(arguments);
}
