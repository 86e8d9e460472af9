#include "clipboard_handoff.h"

#include "instance_client.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The keeper has to connect to the display and claim the clipboard.
constexpr int kKeeperAnswerMs = 10000;

bool writeAll(int descriptor, const QByteArray& bytes)
{
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t done =
            ::write(descriptor, bytes.constData() + written, size_t(bytes.size() - written));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        written += done;
    }
    return true;
}

// What the keeper says before it lets go of the pipe: "ok" once it owns the
// clipboard, else why it could not.
QByteArray readAnswer(int descriptor)
{
    QByteArray answer;
    char buffer[512];
    for (;;) {
        pollfd waiting{descriptor, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, kKeeperAnswerMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return answer;
        const ssize_t got = ::read(descriptor, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return answer;
        answer.append(buffer, got);
    }
}

// Starts this program again as the keeper, in a session of its own so that
// closing the terminal does not end it, with the picture on its standard
// input and its answer on a pipe back to us.
QString startKeeper(const QByteArray& png)
{
    int input[2];
    int answer[2];
    if (::pipe2(input, O_CLOEXEC) != 0)
        return QStringLiteral("cannot start the clipboard keeper: ") + qt_error_string(errno);
    if (::pipe2(answer, O_CLOEXEC) != 0) {
        const int error = errno;
        ::close(input[0]);
        ::close(input[1]);
        return QStringLiteral("cannot start the clipboard keeper: ") + qt_error_string(error);
    }
    // Everything exec needs is made before fork: a child of a threaded
    // process may only make async-signal-safe calls.
    char program[] = "quorvel";
    char command[sizeof kHoldClipboardCommand];
    std::copy(std::begin(kHoldClipboardCommand), std::end(kHoldClipboardCommand), command);
    char* const arguments[] = {program, command, nullptr};
    const pid_t child = ::fork();
    if (child == 0) {
        ::setsid();
        ::dup2(input[0], STDIN_FILENO);
        ::dup2(answer[1], STDOUT_FILENO);
        ::dup2(answer[1], STDERR_FILENO);
        ::execv("/proc/self/exe", arguments);
        ::_exit(127);
    }
    ::close(input[0]);
    ::close(answer[1]);
    if (child < 0) {
        const int error = errno;
        ::close(input[1]);
        ::close(answer[0]);
        return QStringLiteral("cannot start the clipboard keeper: ") + qt_error_string(error);
    }
    // A keeper that died early must not take us with it by SIGPIPE.
    struct sigaction ignore {};
    struct sigaction before {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &before);
    writeAll(input[1], png);
    ::close(input[1]);
    ::sigaction(SIGPIPE, &before, nullptr);
    const QByteArray said = readAnswer(answer[0]).trimmed();
    ::close(answer[0]);
    if (said == "ok")
        return {};
    // Whatever it said is its reason; its own lines carry the program's name.
    QString reason = QString::fromUtf8(said.split('\n').first());
    if (reason.startsWith(QLatin1String("quorvel: ")))
        reason = reason.mid(9);
    // One that has not answered in time would hold a picture nobody expects.
    ::kill(child, SIGTERM);
    ::waitpid(child, nullptr, 0);
    return reason.isEmpty() ? QStringLiteral("the clipboard keeper ended without taking it")
                            : reason;
}

// What wl-paste reads of the clipboard's picture, through the compositor.
QByteArray pastedPicture(const QString& wlPaste)
{
    QProcess paste;
    paste.start(wlPaste, {QStringLiteral("--no-newline"), QStringLiteral("--type"),
                          QStringLiteral("image/png")});
    if (!paste.waitForFinished(kKeeperAnswerMs) || paste.exitStatus() != QProcess::NormalExit ||
        paste.exitCode() != 0) {
        paste.kill();
        paste.waitForFinished();
        return {};
    }
    return paste.readAllStandardOutput();
}

// On Wayland the compositor refuses a selection set without a recent input
// serial, which a command never has, so Qt's clipboard (and the app's, asked
// over the bus) would claim a copy that never lands. wl-copy sets it through
// the data-control protocol where the compositor offers it (wlroots, KDE),
// else through a surface of its own (GNOME), and serves it from the
// background until another program takes the clipboard over. The copy counts
// once wl-paste reads the same picture back through the compositor.
QString copyOnWayland(const QByteArray& png)
{
    const QString wlCopy = QStandardPaths::findExecutable(QStringLiteral("wl-copy"));
    const QString wlPaste = QStandardPaths::findExecutable(QStringLiteral("wl-paste"));
    if (wlCopy.isEmpty() || wlPaste.isEmpty())
        return QStringLiteral("on Wayland the clipboard needs wl-copy and wl-paste (Debian "
                              "package wl-clipboard)");
    QProcess copy;
    // Its background half lives in a session of its own, so closing the
    // terminal does not take the picture with it.
    copy.setChildProcessModifier([] { ::setsid(); });
    copy.setStandardOutputFile(QProcess::nullDevice());
    copy.setStandardErrorFile(QProcess::nullDevice());
    copy.start(wlCopy, {QStringLiteral("--type"), QStringLiteral("image/png")});
    if (!copy.waitForStarted(kKeeperAnswerMs))
        return QStringLiteral("cannot start wl-copy");
    copy.write(png);
    copy.closeWriteChannel();
    if (!copy.waitForFinished(kKeeperAnswerMs) || copy.exitStatus() != QProcess::NormalExit ||
        copy.exitCode() != 0) {
        copy.kill();
        copy.waitForFinished();
        return QStringLiteral("the desktop did not take the picture onto its clipboard");
    }
    // wl-copy answers as it goes to the background, a moment before it
    // serves the picture.
    QDeadlineTimer deadline(kKeeperAnswerMs);
    while (!deadline.hasExpired()) {
        if (pastedPicture(wlPaste) == png)
            return {};
        QThread::msleep(50);
    }
    return QStringLiteral("the picture did not show up on the desktop's clipboard");
}

} // namespace

QString handOffToClipboard(const QByteArray& png)
{
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return copyOnWayland(png);
    if (const auto answer = InstanceClient().copyPicture(png))
        return *answer;
    return startKeeper(png);
}
