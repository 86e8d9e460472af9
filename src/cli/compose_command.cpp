#include "compose_command.h"

#include "exit_status.h"
#include "clipboard_handoff.h"
#include "command_options.h"
#include "compose_output.h"
#include "console.h"
#include "native_file.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSemaphore>
#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <optional>
#include <unistd.h>
#include <variant>
#include <vector>

namespace {

constexpr const char* kCommand = "quorvel compose";

// `-` as INPUT or as -o FILE: standard input or output, so the command fits
// in a pipe between a screenshot tool and a clipboard tool.
const QString kStandardStream = QStringLiteral("-");

bool isStandardStream(const QString& name)
{
    return name == kStandardStream;
}

// How an input or output is named in the lines printed.
QString shownName(const QString& name, const char* stream)
{
    return isStandardStream(name) ? QLatin1String(stream) : name;
}

// Each input already uses every core through parallelRows, so more in
// flight would only add their pictures to the peak memory; two keep the
// cores busy while one is decoded (on one thread) and the other encoded.
constexpr int kInputsInFlight = 2;

struct ComposeJob {
    QString input;
    QString output;
    QString refusal; // set when the job must not run
};

// What the command line asked for, checked.
struct ComposeRequest {
    ComposeSettings settings;
    QStringList inputs;
    QString output;    // -o, or empty
    QString outputDir; // -d, or empty
    bool copy = false; // --copy
};

bool isStandardOutput(const ComposeJob& job)
{
    return isStandardStream(job.output);
}

struct ComposeOutcome {
    QString failure; // empty for a picture written
    QByteArray png;  // what was written, kept for --copy
};

ComposeOutcome composeOne(const ComposeJob& job, const ComposeSettings& settings, bool keepPng)
{
    if (!job.refusal.isEmpty())
        return {job.refusal, {}};
    Result<QImage> loaded =
        isStandardStream(job.input) ? loadStandardInput() : loadPicture(job.input);
    if (!loaded.ok())
        return {loaded.error(), {}};
    Result<QByteArray> written = writeComposedPng(std::move(loaded).value(), settings, job.output);
    if (!written.ok())
        return {written.error(), {}};
    return {{}, keepPng ? std::move(written).value() : QByteArray()};
}

// Runs the jobs a few at a time on Qt's global pool and reports them in the
// order given, each as soon as it and all before it are done. With `copy`,
// the one picture written goes on the clipboard once its line is out.
bool runJobs(const std::vector<ComposeJob>& jobs, const ComposeSettings& settings, bool copy)
{
    std::vector<std::optional<ComposeOutcome>> outcomes(jobs.size());
    std::mutex mutex;
    std::condition_variable done;
    std::atomic<size_t> next{0};
    QSemaphore finished;
    auto worker = [&] {
        for (size_t i = next++; i < jobs.size(); i = next++) {
            ComposeOutcome outcome = composeOne(jobs[i], settings, copy);
            const std::lock_guard lock(mutex);
            outcomes[i] = std::move(outcome);
            done.notify_all();
        }
        finished.release();
    };
    const int workers = int(std::min<size_t>(jobs.size(), kInputsInFlight));
    for (int i = 0; i < workers; ++i)
        QThreadPool::globalInstance()->start(worker);

    bool allDone = true;
    for (size_t i = 0; i < jobs.size(); ++i) {
        std::unique_lock lock(mutex);
        done.wait(lock, [&] { return outcomes[i].has_value(); });
        const ComposeOutcome outcome = std::move(*outcomes[i]);
        lock.unlock();
        const QString& failure = outcome.failure;
        if (failure.isEmpty()) {
            // Standard output carries the picture itself; the line goes aside.
            if (isStandardOutput(jobs[i]))
                printErrorLine(QStringLiteral("Image saved successfully to: standard output"));
            else
                printLine(savedLine(jobs[i].output));
            if (copy)
                if (const QString why = handOffToClipboard(outcome.png); !why.isEmpty()) {
                    printErrorLine(
                        oneLine(QStringLiteral("quorvel: cannot copy %1: %2")
                                    .arg(shownName(jobs[i].output, "standard output"), why)));
                    allDone = false;
                }
        } else {
            printErrorLine(oneLine(QStringLiteral("quorvel: %1: %2")
                                       .arg(shownName(jobs[i].input, "standard input"), failure)));
            allDone = false;
        }
    }
    finished.acquire(workers);
    return allDone;
}

// One job per input, named where its output goes. An output that another
// input already writes, or that is one of the inputs, is refused rather than
// replaced.
std::vector<ComposeJob> planJobs(const ComposeRequest& request)
{
    std::vector<std::optional<FileIdentity>> inputFiles;
    // The streams are read whole before anything is written, and are no
    // file a name could clash with.
    for (const QString& input : request.inputs)
        inputFiles.push_back(isStandardStream(input) ? std::nullopt : fileIdentity(input));

    std::vector<ComposeJob> jobs;
    QHash<QString, QString> claimedOutputs; // absolute output path -> input writing it
    for (const QString& input : request.inputs) {
        ComposeJob job{input, request.output, {}};
        if (job.output.isEmpty()) {
            const QFileInfo info(input);
            const QString dir = request.outputDir.isEmpty() ? info.path() : request.outputDir;
            job.output = QDir(dir).filePath(info.completeBaseName() +
                                            QStringLiteral("_with_background.png"));
        }
        if (isStandardOutput(job)) {
            jobs.push_back(std::move(job));
            continue;
        }
        const QString key = QDir::cleanPath(QFileInfo(job.output).absoluteFilePath());
        const auto outputFile = fileIdentity(job.output);
        if (outputFile &&
            std::find(inputFiles.begin(), inputFiles.end(), outputFile) != inputFiles.end())
            job.refusal = sameFileReason(job.output);
        else if (const auto claimed = claimedOutputs.constFind(key);
                 claimed != claimedOutputs.cend())
            job.refusal = QStringLiteral("its output %1 is already written for %2")
                              .arg(job.output, claimed.value());
        else
            claimedOutputs.insert(key, input);
        jobs.push_back(std::move(job));
    }
    return jobs;
}

// The command line read and checked, or the exit status once the reason is
// printed.
std::variant<ComposeRequest, int> readRequest(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Places each picture on a background, inset by a padding and with rounded corners, "
        "and writes it as PNG."));
    const FramingOptions framing(
        QStringLiteral("POINTS"),
        QStringLiteral("Space around the picture, in points. Default: 40."),
        QStringLiteral("Corner radius, in points. Default: 0."));
    const QCommandLineOption output(
        {QStringLiteral("o"), QStringLiteral("output")},
        QStringLiteral("Write the picture to FILE (one INPUT only); - writes it to "
                       "standard output."),
        QStringLiteral("FILE"));
    const QCommandLineOption outputDir(
        {QStringLiteral("d"), QStringLiteral("output-dir")},
        QStringLiteral("Write each picture as DIR/<name>_with_background.png, creating DIR if "
                       "need be. Without -o or -d, each is written beside its input."),
        QStringLiteral("DIR"));
    const QCommandLineOption scale(
        {QStringLiteral("s"), QStringLiteral("scale")},
        QStringLiteral("Pixels per point of the input, instead of the one its density says "
                       "(2 for a HiDPI capture)."),
        QStringLiteral("RATIO"));
    const QCommandLineOption copy(
        QStringLiteral("copy"),
        QStringLiteral("Also put the picture on the clipboard (one INPUT only)."));
    parser.addOptions({framing.help, output, outputDir, framing.background, framing.padding,
                       framing.radius, scale, copy});
    parser.addPositionalArgument(QStringLiteral("INPUT"),
                                 QStringLiteral("Pictures to compose; - reads one from standard "
                                                "input (with -o)."),
                                 QStringLiteral("INPUT..."));
    if (const auto status = parseCommandLine(parser, framing, kCommand, arguments,
                                             QStringLiteral("[options] INPUT...")))
        return *status;

    ComposeRequest request;
    request.inputs = parser.positionalArguments();
    request.output = parser.value(output);
    request.outputDir = parser.value(outputDir);
    if (parser.isSet(output) && parser.isSet(outputDir))
        return usageError(kCommand,
                          QStringLiteral("use either --output or --output-dir, not both"));
    if (parser.isSet(output) && request.inputs.size() > 1)
        return usageError(kCommand,
                          QStringLiteral("--output takes one INPUT; use --output-dir for several"));
    if (request.inputs.contains(kStandardStream) && !parser.isSet(output))
        return usageError(kCommand, QStringLiteral("a picture from standard input needs --output "
                                                   "(a FILE, or - for standard output)"));
    request.copy = parser.isSet(copy);
    if (request.copy && request.inputs.size() > 1)
        return usageError(kCommand, QStringLiteral("--copy takes one INPUT"));
    if (parser.isSet(output) && !isStandardStream(request.output))
        if (const auto status = checkOutputName(
                kCommand, request.output, QStringLiteral("PNG pictures"), {QStringLiteral(".png")}))
            return *status;
    if (parser.isSet(outputDir) && request.outputDir.isEmpty())
        return usageError(kCommand, QStringLiteral("--output-dir needs a folder"));
    if (parser.isSet(scale)) {
        request.settings.scale = parseNumber(parser.value(scale), true);
        if (!request.settings.scale)
            return usageError(kCommand, QStringLiteral("--scale needs a ratio above 0"));
    }
    auto framed = readFraming(parser, framing, kCommand);
    if (const int* status = std::get_if<int>(&framed))
        return *status;
    static_cast<Framing&>(request.settings) = std::move(std::get<Framing>(framed));
    return request;
}

// A terminal is never the stream a picture comes from or goes to: PNG bytes
// would garble it, and reading one would wait for typing. Prints the one
// line and returns exitUsage then.
std::optional<int> refuseTerminals(const ComposeRequest& request)
{
    const auto refuse = [](const char* why) {
        printErrorLine(QStringLiteral("%1: %2").arg(QLatin1String(kCommand), QLatin1String(why)));
        return exitUsage;
    };
    if (isStandardStream(request.output) && ::isatty(STDOUT_FILENO))
        return refuse("will not write a PNG picture to a terminal; send standard output to a "
                      "file or a pipe");
    if (request.inputs.contains(kStandardStream) && ::isatty(STDIN_FILENO))
        return refuse("standard input is a terminal; send a picture to it through a pipe");
    return std::nullopt;
}

} // namespace

int runComposeCommand(const QStringList& arguments)
{
    auto read = readRequest(arguments);
    if (const int* status = std::get_if<int>(&read))
        return *status;
    const auto& request = std::get<ComposeRequest>(read);
    if (const auto status = refuseTerminals(request))
        return *status;
    // A reader that goes away is a write error we report, not a silent death.
    if (isStandardStream(request.output))
        std::signal(SIGPIPE, SIG_IGN);
    if (!request.outputDir.isEmpty()) {
        if (const Result<void> made = makeDirectories(request.outputDir); !made.ok()) {
            printErrorLine(QStringLiteral("quorvel: cannot create %1: %2")
                               .arg(request.outputDir, made.error()));
            return exitFailure;
        }
    }
    return runJobs(planJobs(request), request.settings, request.copy) ? exitSuccess : exitFailure;
}
