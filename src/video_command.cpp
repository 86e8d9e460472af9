#include "video_command.h"

#include "exit_status.h"
#include "command_options.h"
#include "console.h"
#include "movie_composer.h"
#include "native_file.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <deque>
#include <iterator>
#include <memory>
#include <optional>
#include <unistd.h>
#include <utility>

extern "C" {
#include <libavutil/log.h>
}

namespace {

constexpr const char* kCommand = "quorvel video";
// Set by Ctrl+C, SIGTERM or SIGHUP, with the signal's number. A signal handler
// may touch nothing but lock-free atomics, so these live outside the command.
std::atomic<bool> interrupted{false};
std::atomic<int> interruptingSignal{0};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

void onInterrupt(int signal)
{
    interruptingSignal.store(signal);
    interrupted.store(true);
}

// While it lives, Ctrl+C, a terminal hanging up and a polite kill ask the
// pipeline to stop, so nothing is left half-written. Each handler is reset on
// entry: should the run not stop, the same signal again ends it the usual way.
// A signal already ignored (nohup) stays ignored.
class InterruptCancels {
public:
    static constexpr int handled[] = {SIGINT, SIGTERM, SIGHUP};

    InterruptCancels()
    {
        interrupted.store(false);
        interruptingSignal.store(0);
        struct sigaction action {};
        action.sa_handler = &onInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART | SA_RESETHAND;
        for (std::size_t i = 0; i < std::size(handled); ++i) {
            m_installed[i] = sigaction(handled[i], nullptr, &m_previous[i]) == 0 &&
                             m_previous[i].sa_handler != SIG_IGN &&
                             sigaction(handled[i], &action, nullptr) == 0;
        }
    }
    ~InterruptCancels()
    {
        for (std::size_t i = 0; i < std::size(handled); ++i) {
            if (m_installed[i])
                sigaction(handled[i], &m_previous[i], nullptr);
        }
    }
    InterruptCancels(const InterruptCancels&) = delete;
    InterruptCancels& operator=(const InterruptCancels&) = delete;

private:
    struct sigaction m_previous[std::size(handled)]{};
    bool m_installed[std::size(handled)] = {};
};

QString clockText(double seconds)
{
    const auto total = static_cast<long long>(seconds + 0.5);
    if (total >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(total / 3600)
            .arg(total / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(total % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(total / 60).arg(total % 60, 2, 10, QLatin1Char('0'));
}

// The progress line on a terminal's standard error, redrawn in place at most
// ten times a second: percentage, bar, frames per second and time left.
class ProgressLine {
public:
    using Clock = std::chrono::steady_clock;

    void start(const MovieComposer::Encoding& encoding)
    {
        m_frames = encoding.duration * encoding.framesPerSecond;
        m_start = Clock::now();
    }

    void update(double fraction)
    {
        const auto now = Clock::now();
        if (!m_recent.empty() && now - m_recent.back().first < std::chrono::milliseconds(100))
            return;
        fraction = std::clamp(fraction, 0.0, 1.0);
        m_recent.emplace_back(now, fraction);
        // The encoder swallows its first frames at once, so the rate since the
        // start says little; the last few seconds say how it goes now.
        while (m_recent.size() > 2 && now - m_recent[1].first > std::chrono::seconds(3))
            m_recent.pop_front();
        const auto& [then, before] = m_recent.front();
        const double span = std::chrono::duration<double>(now - then).count();
        const double rate = span >= 1 ? (fraction - before) / span : 0; // fraction per second
        QString tail = QStringLiteral("--:-- left");
        if (rate > 0)
            tail = clockText((1 - fraction) / rate) + QStringLiteral(" left");
        draw(fraction, rate, tail, false);
    }

    // Leaves the finished line standing, or clears it so a failure's own line
    // stands alone.
    void finish(bool completed)
    {
        if (completed) {
            const double elapsed = std::chrono::duration<double>(Clock::now() - m_start).count();
            draw(1, elapsed > 0 ? 1 / elapsed : 0, QStringLiteral("done in ") + clockText(elapsed),
                 true);
        } else if (!m_recent.empty()) {
            write("\r\033[K");
        }
    }

private:
    void draw(double fraction, double rate, const QString& tail, bool last)
    {
        constexpr int width = 24;
        const int filled = int(fraction * width);
        QString line =
            QStringLiteral("\r%1% [%2%3]")
                .arg(int(fraction * 100), 3)
                .arg(QString(filled, QLatin1Char('#')), QString(width - filled, QLatin1Char(' ')));
        if (m_frames > 0 && rate > 0)
            line += QStringLiteral("  %1 fps").arg(rate * m_frames, 0, 'f', 0);
        line += QStringLiteral("  ") + tail;
        // Erase what a longer earlier line left to the right.
        write(line.toUtf8() + (last ? "\033[K\n" : "\033[K"));
    }

    static void write(const QByteArray& bytes)
    {
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
        std::fflush(stderr);
    }

    double m_frames = 0; // frames in the whole movie; 0 when its length is unknown
    Clock::time_point m_start = Clock::now();
    std::deque<std::pair<Clock::time_point, double>> m_recent; // (when, fraction) as drawn
};

QString failureReason(const MovieCompositionOutcome& outcome, const QString& output)
{
    if (outcome.kind == MovieCompositionOutcome::Kind::noVideo)
        return QStringLiteral("it has no video stream");
    const QString reason = outcome.reason.isEmpty()
                               ? QStringLiteral("the movie could not be composed")
                               : outcome.reason;
    if (outcome.stage == MovieCompositionOutcome::Stage::encoding)
        return QStringLiteral("cannot write %1: %2").arg(output, reason);
    return reason;
}

// `source` is the name to open `input` by (see OpenableName), `destination`
// the bytes of `output`; messages use the names as given.
int composeMovie(const QString& input, const QString& output, const QString& source,
                 const QByteArray& destination, const MovieCompositionSettings& settings,
                 bool showProgress)
{
    // libav reports on standard error as it goes (encoder settings, odd
    // files); the command says what went wrong in its own one line instead.
    if (qEnvironmentVariableIsEmpty("QUORVEL_DEBUG"))
        av_log_set_level(AV_LOG_QUIET);

    std::optional<ProgressLine> progress;
    MovieComposer::Callbacks callbacks;
    if (showProgress) {
        progress.emplace();
        callbacks.encodingStarts = [&](const MovieComposer::Encoding& encoding) {
            progress->start(encoding);
        };
        callbacks.progress = [&](double fraction) { progress->update(fraction); };
    }

    MovieCompositionOutcome outcome;
    {
        const InterruptCancels cancelling;
        outcome = MovieComposer::compose(source, destination, settings, callbacks, &interrupted);
    }
    if (progress)
        progress->finish(outcome.kind == MovieCompositionOutcome::Kind::completed);

    switch (outcome.kind) {
    case MovieCompositionOutcome::Kind::completed:
        // Players go on past a few damaged packets and so do we, but the
        // user should know the result may show it.
        if (outcome.skippedPackets > 0)
            printErrorLine(oneLine(QStringLiteral("quorvel: %1: skipped %2 damaged %3 of the movie")
                                       .arg(input)
                                       .arg(outcome.skippedPackets)
                                       .arg(outcome.skippedPackets == 1 ? "packet" : "packets")));
        printLine(QStringLiteral("Video saved successfully to: ") +
                  QFileInfo(output).absoluteFilePath());
        return exitSuccess;
    case MovieCompositionOutcome::Kind::cancelled:
        printErrorLine(
            oneLine(QStringLiteral("quorvel: %1: cancelled; nothing was written").arg(input)));
        // As shells report a process the signal ended: 130 for Ctrl+C.
        if (const int signal = interruptingSignal.load(); signal > 0)
            return 128 + signal;
        return exitInterrupted;
    case MovieCompositionOutcome::Kind::noVideo:
    case MovieCompositionOutcome::Kind::failed:
        break;
    }
    printErrorLine(
        oneLine(QStringLiteral("quorvel: %1: %2").arg(input, failureReason(outcome, output))));
    return exitFailure;
}

} // namespace

int runVideoCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Places every frame of a movie on a background, inset by a padding and with rounded "
        "corners, and writes an MPEG-4 movie (H.264, 30 frames per second, the source's sound)."));
    const FramingOptions framing(
        QStringLiteral("PIXELS"),
        QStringLiteral("Padding in the movie's pixels; the margin around the picture is twice "
                       "this on each side. Default: 40."),
        QStringLiteral("Corner radius, in the movie's pixels. Default: 0."));
    const QCommandLineOption outputOption({QStringLiteral("o"), QStringLiteral("output")},
                                          QStringLiteral("Write the movie to FILE (required)."),
                                          QStringLiteral("FILE"));
    const QCommandLineOption quiet({QStringLiteral("q"), QStringLiteral("quiet")},
                                   QStringLiteral("Show no progress line."));
    parser.addOptions(
        {framing.help, outputOption, framing.background, framing.padding, framing.radius, quiet});
    parser.addPositionalArgument(QStringLiteral("INPUT"), QStringLiteral("The movie to compose."));

    if (const auto status = parseCommandLine(parser, framing, kCommand, arguments,
                                             QStringLiteral("[options] INPUT -o OUTPUT.mp4")))
        return *status;

    const QStringList inputs = parser.positionalArguments();
    if (inputs.size() > 1)
        return usageError(kCommand, QStringLiteral("one INPUT at a time"));
    const QString input = inputs.first();
    const QString output = parser.value(outputOption);
    if (output.isEmpty())
        return usageError(kCommand, QStringLiteral("--output FILE is required"));
    if (const auto status = checkOutputName(kCommand, output, QStringLiteral("MPEG-4 movies"),
                                            {QStringLiteral(".mp4"), QStringLiteral(".m4v")}))
        return *status;

    auto framed = readFraming(parser, framing, kCommand);
    if (const int* status = std::get_if<int>(&framed))
        return *status;
    auto& values = std::get<Framing>(framed);
    const MovieCompositionSettings settings{std::move(values.style), values.padding, values.radius};

    const auto outputFile = fileIdentity(output);
    if (outputFile && outputFile == fileIdentity(input)) {
        printErrorLine(
            oneLine(QStringLiteral("quorvel: %1: %2").arg(input, sameFileReason(output))));
        return exitFailure;
    }
    const OpenableName source(input);
    if (source.name().isEmpty()) {
        printErrorLine(oneLine(QStringLiteral("quorvel: %1: %2").arg(input, source.error())));
        return exitFailure;
    }

    const bool showProgress = !parser.isSet(quiet) && isatty(STDERR_FILENO);
    return composeMovie(input, output, source.name(), nativeName(output), settings, showProgress);
}
