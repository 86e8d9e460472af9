#include "command_table.h"

#include <QGuiApplication>
#include <cstdio>

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

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QUORVEL_DEBUG"))
        qInstallMessageHandler(quietMessages);
    QCoreApplication::setApplicationName(QStringLiteral("quorvel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral(QUORVEL_APP_ID));
    return runCommandLine(argc, argv);
}
