#include "command_table.h"

#include "capture_command.h"
#include "clipboard_handoff.h"
#include "clipboard_holder.h"
#include "compose_command.h"
#include "console.h"
#include "doctor_command.h"
#include "editor_module.h"
#include "exit_status.h"
#include "instance_client.h"
#include "native_file.h"
#include "record_route.h"
#include "run_app.h"
#include "single_instance.h"
#include "window_system.h"

#include <QApplication>
#include <cstring>

namespace {

// The editor's library, or null when it cannot be loaded, which is said.
const EditorModule* loadEditorModuleOrSay()
{
    QString error;
    const EditorModule* editor = loadEditorModule(&error);
    if (!editor)
        printErrorLine(QStringLiteral("quorvel: cannot load its editor library: ") +
                       oneLine(error));
    return editor;
}

const Command kCommands[] = {
    {"compose", "place pictures on a background and write them as PNG", false, false,
     [](int&, char**, const QStringList& arguments, const EditorModule*) {
         return runComposeCommand(arguments);
     }},
    {"video", "place a movie on a background and write it as MPEG-4", false, true,
     [](int&, char**, const QStringList& arguments, const EditorModule* editor) {
         return editor->runVideoCommand(arguments);
     }},
    {"open", "show pictures and movies in the editor, one window each", true, true,
     [](int& argc, char** argv, const QStringList& arguments, const EditorModule* editor) {
         return editor->runOpenCommand(argc, argv, arguments);
     }},
    {"doctor", "say why capture or the tray may not work on this desktop", false, false,
     [](int&, char**, const QStringList& arguments, const EditorModule*) {
         return runDoctorCommand(arguments);
     }},
    {"capture", "capture an area, a window or the screen (for keyboard shortcuts)", true, false,
     [](int& argc, char** argv, const QStringList& arguments, const EditorModule*) {
         return runCaptureCommand(argc, argv, arguments);
     }},
    // Recording for the app stays in the program, which must not load FFmpeg;
    // the recorder itself (-o, stop) is the editor library's.
    {"record", "record an area, a window or the screen as an MPEG-4 movie", true, false,
     [](int& argc, char** argv, const QStringList& arguments, const EditorModule*) {
         if (wantsRecordRoute(arguments))
             return runRecordRoute(argc, argv, arguments);
         const EditorModule* editor = loadEditorModuleOrSay();
         return editor ? editor->runRecordCommand(argc, argv, arguments) : int(exitFailure);
     }},
    {kHoldClipboardCommand, nullptr, true, false,
     [](int& argc, char** argv, const QStringList&, const EditorModule*) {
         return runClipboardHolder(argc, argv);
     }},
};

QString usage()
{
    QString text = QStringLiteral(
        "Usage: quorvel [COMMAND [options] ...]\n"
        "Quorvel makes screen captures presentable: it puts them on a background\n"
        "with padding and rounded corners. Without a COMMAND it starts the app.\n"
        "\n"
        "Commands:\n");
    for (const Command& command : kCommands)
        if (command.summary)
            text += QStringLiteral("  %1%2\n")
                        .arg(QLatin1String(command.name), -10)
                        .arg(QLatin1String(command.summary));
    text += QStringLiteral("\n"
                           "Options:\n"
                           "  -h, --help     show this help\n"
                           "  -v, --version  show the version\n"
                           "\n"
                           "Run 'quorvel COMMAND --help' for a command's options.");
    return text;
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
        return exitFailure;
    }
    prepareApplication();
    // A second start raises the first one's window instead of adding a second app.
    SingleInstance instance;
    if (instance.claim() == SingleInstance::Claim::elsewhere && InstanceClient().activate())
        return exitSuccess;
    return runApp(instance, AppStart::mainWindow);
}

} // namespace

std::span<const Command> commands()
{
    return kCommands;
}

int runCommandLine(int& argc, char** argv)
{
    // The launcher's `quorvel open %F` with no files is a plain start too.
    if (argc <= 1 || (argc == 2 && std::strcmp(argv[1], "open") == 0))
        return runApplication(argc, argv);
    holdClosedStandardStreams();
    const QStringList arguments = commandLineArguments(argc, argv);
    const QString& name = arguments.first();
    if (name == QLatin1String("-h") || name == QLatin1String("--help")) {
        printLine(usage());
        return exitSuccess;
    }
    if (name == QLatin1String("-v") || name == QLatin1String("--version")) {
        printLine(QStringLiteral("quorvel " QUORVEL_VERSION));
        return exitSuccess;
    }
    const auto found = std::find_if(std::begin(kCommands), std::end(kCommands),
                                    [&](const Command& c) { return name == QLatin1String(c.name); });
    if (found == std::end(kCommands)) {
        printErrorLine(oneLine(QStringLiteral("quorvel: unknown command '%1'").arg(name)));
        printErrorLine(QStringLiteral("Try 'quorvel --help'."));
        return exitUsage;
    }
    const EditorModule* editor = nullptr;
    if (found->needsEditorLibrary) {
        editor = loadEditorModuleOrSay();
        if (!editor)
            return exitFailure;
    }
    if (found->needsDisplay)
        return found->run(argc, argv, arguments.mid(1), editor);
    QCoreApplication app(argc, argv);
    return found->run(argc, argv, arguments.mid(1), editor);
}
