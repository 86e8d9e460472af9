#include "window_system.h"

#include "console.h"

#include <QApplication>
#include <cstdlib>

// Exit status when no window can open; the command line's exitFailure.
constexpr int kNoWindowSystem = 1;

QString displayFailure(const QString& hint)
{
    const QByteArray display =
        qgetenv("WAYLAND_DISPLAY").isEmpty() ? qgetenv("DISPLAY") : qgetenv("WAYLAND_DISPLAY");
    const QString failure =
        display.isEmpty()
            ? QStringLiteral("quorvel: cannot open a window: no display")
            : QStringLiteral("quorvel: cannot open a window: cannot connect to display %1")
                  .arg(QString::fromLocal8Bit(display));
    return hint.isEmpty() ? failure : failure + QStringLiteral("; ") + hint;
}

namespace {

// Qt aborts the process when its window system cannot start; while it starts,
// that abort becomes our own line and exit status instead.
QtMessageHandler g_handlerBefore = nullptr;
QString g_failureHint;

void windowSystemStartMessages(QtMsgType type, const QMessageLogContext& context,
                               const QString& message)
{
    if (type == QtFatalMsg) {
        printErrorLine(displayFailure(g_failureHint));
        std::_Exit(kNoWindowSystem);
    }
    if (g_handlerBefore)
        g_handlerBefore(type, context, message);
}

} // namespace

std::unique_ptr<QApplication> startWindowSystem(int& argc, char** argv, const QString& hint)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return nullptr;
    g_failureHint = hint;
    g_handlerBefore = qInstallMessageHandler(windowSystemStartMessages);
    auto app = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(g_handlerBefore);
    return app;
}
