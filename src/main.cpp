#include "capture_command.h"
#include "clipboard_handoff.h"
#include "clipboard_holder.h"
#include "compose_command.h"
#include "console.h"
#include "doctor_command.h"
#include "editor_module.h"
#include "instance_client.h"
#include "native_file.h"
#include "quorvel_app.h"
#include "quorvel_style.h"
#include "single_instance.h"
#include "window_system.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

// The desktop application: main window, tray item, update check. The editor
// library is loaded when the first editor opens, not before the window shows.
int runApplication(int& argc, char** argv)
{
    const QString hint = QStringLiteral(
        "`quorvel compose` and `quorvel video` work without one (see quorvel --help)");
    const std::unique_ptr<QApplication> app = startWindowSystem(argc, argv, hint);
    if (!app) {
        printErrorLine(displayFailure(hint));
        return EXIT_FAILURE;
    }
    QApplication::setApplicationDisplayName(QStringLiteral("Quorvel"));
    QApplication::setStyle(new QuorvelStyle);
    // A second start raises the first one's window instead of adding a second app.
    SingleInstance instance;
    if (instance.claim() == SingleInstance::Claim::elsewhere && InstanceClient().activate())
        return EXIT_SUCCESS;
    int status = EXIT_SUCCESS;
    {
        QuorvelApp quorvel;
        instance.serve(quorvel);
        quorvel.show();
        status = QApplication::exec();
        // Closed editor windows delete themselves from the event loop, which
        // has stopped; the rest go before the models they were opened from.
        if (const EditorModule* editor = loadedEditorModule())
            editor->closeEditorWindows();
    }
    return status;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QUORVEL_DEBUG"))
        qInstallMessageHandler(quietMessages);
    QCoreApplication::setApplicationName(QStringLiteral("quorvel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral(QUORVEL_APP_ID));
    // With no arguments, the app; the launcher's `quorvel open %F` with no
    // files is a plain start too. `capture` may become the app, and the
    // clipboard's keeper only holds a picture: neither needs the editor's
    // library up front, nor do `compose` and `doctor`. Every other command
    // is in it.
    if (argc <= 1 || (argc == 2 && std::strcmp(argv[1], "open") == 0))
        return runApplication(argc, argv);
    if (std::strcmp(argv[1], "capture") == 0)
        return runCaptureCommand(argc, argv, commandLineArguments(argc, argv).mid(1));
    if (std::strcmp(argv[1], kHoldClipboardCommand) == 0)
        return runClipboardHolder(argc, argv);
    // Pictures alone and the desktop check: a batch of `compose` runs, or
    // one in a pipe, is spared FFmpeg's start-up time and memory.
    if (std::strcmp(argv[1], "compose") == 0 || std::strcmp(argv[1], "doctor") == 0) {
        holdClosedStandardStreams();
        QCoreApplication app(argc, argv);
        const QStringList arguments = commandLineArguments(argc, argv);
        return arguments.first() == QLatin1String("compose") ? runComposeCommand(arguments.mid(1))
                                                             : runDoctorCommand(arguments.mid(1));
    }
    QString error;
    const EditorModule* editor = loadEditorModule(&error);
    if (!editor) {
        printErrorLine(QStringLiteral("quorvel: cannot load its editor library: ") +
                       oneLine(error));
        return EXIT_FAILURE;
    }
    return editor->runCommand(argc, argv);
}
