#include "cli.h"

#include "compose_command.h"
#include "console.h"
#include "doctor_command.h"
#include "native_file.h"
#include "video_command.h"

namespace {

QString usage()
{
    return QStringLiteral(
        "Usage: quorvel [COMMAND [options] ...]\n"
        "Quorvel makes screen captures presentable: it puts them on a background\n"
        "with padding and rounded corners. Without a COMMAND it starts the app.\n"
        "\n"
        "Commands:\n"
        "  compose   place pictures on a background and write them as PNG\n"
        "  video     place a movie on a background and write it as MPEG-4\n"
        "  open      show pictures and movies in the editor, one window each\n"
        "  doctor    say why capture or the tray may not work on this desktop\n"
        "  capture   capture an area, a window or the screen (for keyboard shortcuts)\n"
        "\n"
        "Options:\n"
        "  -h, --help     show this help\n"
        "  -v, --version  show the version\n"
        "\n"
        "Run 'quorvel COMMAND --help' for a command's options.");
}

} // namespace

int runCommandLine(const QStringList& arguments)
{
    if (arguments.isEmpty()) {
        printErrorLine(usage());
        return exitUsage;
    }
    const QString& command = arguments.first();
    if (command == QLatin1String("-h") || command == QLatin1String("--help")) {
        printLine(usage());
        return exitSuccess;
    }
    if (command == QLatin1String("-v") || command == QLatin1String("--version")) {
        printLine(QStringLiteral("quorvel " QUORVEL_VERSION));
        return exitSuccess;
    }
    if (command == QLatin1String("compose"))
        return runComposeCommand(arguments.mid(1));
    if (command == QLatin1String("video"))
        return runVideoCommand(arguments.mid(1));
    if (command == QLatin1String("doctor"))
        return runDoctorCommand(arguments.mid(1));
    printErrorLine(oneLine(QStringLiteral("quorvel: unknown command '%1'").arg(command)));
    printErrorLine(QStringLiteral("Try 'quorvel --help'."));
    return exitUsage;
}
