#include "clipboard_handoff.h"

#include "instance_client.h"

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

} // namespace

QString handOffToClipboard(const QByteArray& png)
{
    if (const auto answer = InstanceClient().copyPicture(png))
        return *answer;
    return startKeeper(png);
}
