#include "compose_command.h"

#include "cli.h"
#include "command_options.h"
#include "console.h"
#include "image_compositor.h"
#include "image_loader.h"
#include "png_writer.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace {

constexpr const char* kCommand = "quorvel compose";

struct ComposeJob {
    QString input;
    QString output;
    QString refusal; // set when the job must not run (its output is taken)
};

struct ComposeSettings {
    GradientStyle style;
    double padding = 40;
    double radius = 0;
    std::optional<double> scale;
};

QString composeOne(const ComposeJob& job, const ComposeSettings& settings)
{
    if (!job.refusal.isEmpty())
        return job.refusal;
    Result<QImage> loaded = loadImageFile(job.input);
    if (!loaded.ok())
        return loaded.error();
    QImage picture = std::move(loaded).value();
    if (settings.scale)
        picture.setDevicePixelRatio(*settings.scale);
    QImage composed =
        composeWithBackground(picture, settings.style, settings.padding, settings.radius);
    if (composed.isNull())
        return QStringLiteral("the composed picture would be too large");
    picture = QImage(); // the source is no longer needed while the PNG is written
    const Result<void> written = writePng(composed, job.output);
    if (!written.ok())
        return QStringLiteral("cannot write %1: %2").arg(job.output, written.error());
    return {};
}

// Runs the jobs on every core and reports them in the order given, each as
// soon as it and all before it are done.
bool runJobs(const std::vector<ComposeJob>& jobs, const ComposeSettings& settings)
{
    std::vector<std::optional<QString>> outcomes(jobs.size());
    std::mutex mutex;
    std::condition_variable done;
    std::atomic<size_t> next{0};
    auto worker = [&] {
        for (size_t i = next++; i < jobs.size(); i = next++) {
            QString failure = composeOne(jobs[i], settings);
            const std::lock_guard lock(mutex);
            outcomes[i] = std::move(failure);
            done.notify_all();
        }
    };
    const size_t workers =
        std::min<size_t>(jobs.size(), std::max(1u, std::thread::hardware_concurrency()));
    std::vector<std::jthread> threads;
    for (size_t i = 0; i < workers; ++i)
        threads.emplace_back(worker);

    bool allDone = true;
    for (size_t i = 0; i < jobs.size(); ++i) {
        std::unique_lock lock(mutex);
        done.wait(lock, [&] { return outcomes[i].has_value(); });
        const QString failure = *outcomes[i];
        lock.unlock();
        if (failure.isEmpty()) {
            printLine(QStringLiteral("Image saved successfully to: ") +
                      QFileInfo(jobs[i].output).absoluteFilePath());
        } else {
            printErrorLine(QStringLiteral("quorvel: %1: %2").arg(jobs[i].input, failure));
            allDone = false;
        }
    }
    return allDone;
}

} // namespace

int runComposeCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Places each picture on a background, inset by a padding and with rounded corners, "
        "and writes it as PNG."));
    const FramingOptions framing(
        QStringLiteral("POINTS"),
        QStringLiteral("Space around the picture, in points. Default: 40."),
        QStringLiteral("Corner radius, in points. Default: 0."));
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("Write the picture to FILE (one INPUT only)."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption outputDir(
        {QStringLiteral("d"), QStringLiteral("output-dir")},
        QStringLiteral("Write each picture as DIR/<name>_with_background.png. Without -o or -d, "
                       "each is written beside its input."),
        QStringLiteral("DIR"));
    const QCommandLineOption scale(
        {QStringLiteral("s"), QStringLiteral("scale")},
        QStringLiteral("Pixels per point of the input, instead of the one its density says "
                       "(2 for a HiDPI capture)."),
        QStringLiteral("RATIO"));
    parser.addOptions({framing.help, output, outputDir, framing.background, framing.padding,
                       framing.radius, scale});
    parser.addPositionalArgument(QStringLiteral("INPUT"), QStringLiteral("Pictures to compose."),
                                 QStringLiteral("INPUT..."));

    if (!parser.parse(QStringList{QLatin1String(kCommand)} + arguments))
        return usageError(kCommand, parser.errorText());
    if (parser.isSet(framing.help)) {
        printCommandHelp(
            parser, QStringLiteral("Usage: %1 [options] INPUT...").arg(QLatin1String(kCommand)));
        return exitSuccess;
    }

    const QStringList inputs = parser.positionalArguments();
    if (inputs.isEmpty())
        return usageError(kCommand, QStringLiteral("no INPUT given"));
    if (parser.isSet(output) && parser.isSet(outputDir))
        return usageError(kCommand,
                          QStringLiteral("use either --output or --output-dir, not both"));
    if (parser.isSet(output) && inputs.size() > 1)
        return usageError(kCommand,
                          QStringLiteral("--output takes one INPUT; use --output-dir for several"));

    ComposeSettings settings;
    if (parser.isSet(scale)) {
        settings.scale = parseNumber(parser.value(scale), true);
        if (!settings.scale)
            return usageError(kCommand, QStringLiteral("--scale needs a ratio above 0"));
    }
    auto framed = readFraming(parser, framing, kCommand);
    if (const int* status = std::get_if<int>(&framed))
        return *status;
    auto& values = std::get<Framing>(framed);
    settings.style = std::move(values.style);
    settings.padding = values.padding;
    settings.radius = values.radius;

    std::vector<ComposeJob> jobs;
    QHash<QString, QString> claimedOutputs; // absolute output path -> input writing it
    for (const QString& input : inputs) {
        ComposeJob job{input, parser.value(output), {}};
        if (!parser.isSet(output)) {
            const QFileInfo info(input);
            const QString dir = parser.isSet(outputDir) ? parser.value(outputDir) : info.path();
            job.output = QDir(dir).filePath(info.completeBaseName() +
                                            QStringLiteral("_with_background.png"));
        }
        const QString key = QFileInfo(job.output).absoluteFilePath();
        if (const auto claimed = claimedOutputs.constFind(key); claimed != claimedOutputs.cend())
            job.refusal = QStringLiteral("its output %1 is already written for %2")
                              .arg(job.output, claimed.value());
        else
            claimedOutputs.insert(key, input);
        jobs.push_back(std::move(job));
    }
    return runJobs(jobs, settings) ? exitSuccess : exitFailure;
}
