#include "capture_command.h"

#include "capture_backend.h"
#include "exit_status.h"
#include "stop_signals.h"
#include "clipboard_handoff.h"
#include "command_options.h"
#include "compose_output.h"
#include "console.h"
#include "desktop_probe.h"
#include "instance_client.h"
#include "quorvel_app.h"
#include "run_app.h"
#include "single_instance.h"
#include "window_system.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDBusConnection>
#include <QThreadPool>
#include <QTimer>
#include <functional>
#include <optional>
#include <utility>
#include <variant>

namespace {

constexpr const char* kCommand = "quorvel capture";

struct CaptureRequest {
    ScreenshotTypes kind = ScreenshotTypes::area;
    QString kindName;
    QString output; // -o, or empty for the app's editor
    ComposeSettings settings;
    bool copy = false;
};

std::variant<CaptureRequest, int> readRequest(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Captures an area you drag, a window you click, or the full screen, and opens it in "
        "the editor of the running Quorvel (starting it when none runs). With --output the "
        "capture is placed on a background and written as PNG instead."));
    const FramingOptions framing(QStringLiteral("POINTS"),
                                 QStringLiteral("Space around the capture, in points, with "
                                                "--output. Default: 40."),
                                 QStringLiteral("Corner radius, in points, with --output. "
                                                "Default: 0."));
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("Write the composed capture to FILE (.png)."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption copy(
        QStringLiteral("copy"),
        QStringLiteral("With --output, also put the picture on the clipboard."));
    parser.addOptions(
        {framing.help, output, framing.background, framing.padding, framing.radius, copy});
    parser.addPositionalArgument(QStringLiteral("KIND"),
                                 QStringLiteral("What to capture: area, window or full."));
    if (!parser.parse(QStringList{QLatin1String(kCommand)} + arguments))
        return usageError(kCommand, parser.errorText());
    if (parser.isSet(framing.help)) {
        printCommandHelp(parser, QStringLiteral("Usage: %1 area|window|full [-o FILE.png "
                                                "[options]]")
                                     .arg(QLatin1String(kCommand)));
        return exitSuccess;
    }
    const QStringList kinds = parser.positionalArguments();
    if (kinds.size() != 1)
        return usageError(kCommand, QStringLiteral("name one KIND: area, window or full"));
    CaptureRequest request;
    request.kindName = kinds.first();
    const auto kind = screenshotTypeNamed(request.kindName);
    if (!kind)
        return usageError(
            kCommand,
            QStringLiteral("unknown KIND '%1'; use area, window or full").arg(request.kindName));
    request.kind = *kind;
    request.output = parser.value(output);
    request.copy = parser.isSet(copy);
    if (!parser.isSet(output)) {
        for (const QCommandLineOption* composing :
             {&framing.background, &framing.padding, &framing.radius, &copy})
            if (parser.isSet(*composing))
                return usageError(
                    kCommand,
                    QStringLiteral("--%1 goes with --output").arg(composing->names().constLast()));
        return request;
    }
    if (const auto status = checkOutputName(
            kCommand, request.output, QStringLiteral("PNG pictures"), {QStringLiteral(".png")}))
        return *status;
    auto framed = readFraming(parser, framing, kCommand);
    if (const int* status = std::get_if<int>(&framed))
        return *status;
    static_cast<Framing&>(request.settings) = std::move(std::get<Framing>(framed));
    return request;
}

const QString kCancelledLine = QStringLiteral("the capture was cancelled; nothing was written");


// The portal is asked what it will show first, off this thread (the calls
// block), so the person reads what to do before it shows; then `ask` runs here.
void printWhatThePortalShows(const CaptureRequest& request, std::function<void()> ask)
{
    QThreadPool::globalInstance()->start([request, ask = std::move(ask)] {
        const std::optional<ScreenshotPortalFacts> facts =
            probeScreenshotPortal(QDBusConnection::sessionBus());
        QMetaObject::invokeMethod(qApp, [request, ask, facts] {
            if (facts && facts->version >= 1)
                printLine(oneLine(QStringLiteral("Capturing %1: %2")
                                      .arg(request.kindName,
                                           portalShows(request.kind, *facts))));
            ask();
        });
    });
}

// -o: the capture taken here, with our own backend, and written without the app.
int captureToFile(const CaptureRequest& request)
{
    const std::unique_ptr<CaptureBackend> backend = loadCaptureBackend();
    if (!backend->supportedKinds().contains(request.kind)) {
        printErrorLine(QStringLiteral("quorvel: cannot capture %1: this desktop cannot take it")
                           .arg(request.kindName));
        return exitFailure;
    }
    QImage picture;
    QString failure;
    bool answered = false;
    const auto finish = [&](const QString& why) {
        if (std::exchange(answered, true))
            return;
        failure = why;
        QCoreApplication::quit();
    };
    QObject::connect(backend.get(), &CaptureBackend::captured, [&](const QImage& captured) {
        if (!answered)
            picture = captured;
        finish({});
    });
    QObject::connect(backend.get(), &CaptureBackend::cancelled, [&] { finish(kCancelledLine); });
    QObject::connect(backend.get(), &CaptureBackend::failed, [&](const QString& reason) {
        finish(QStringLiteral("cannot capture %1: %2").arg(request.kindName, reason));
    });
    // A backend that never answers its cancel() must not keep us either.
    QTimer cancelling;
    cancelling.setSingleShot(true);
    QObject::connect(&cancelling, &QTimer::timeout, [&] { finish(kCancelledLine); });
    bool asked = false;
    const auto ask = [&] {
        if (answered)
            return;
        asked = true;
        backend->capture(request.kind);
    };
    const StopSignals interrupt([&] {
        if (!asked || !backend->cancel())
            return finish(kCancelledLine);
        cancelling.start(3000);
    });
    if (backend->name() == QLatin1String("portal"))
        printWhatThePortalShows(request, ask);
    else
        ask();
    QApplication::exec();
    if (!failure.isEmpty()) {
        printErrorLine(oneLine(QStringLiteral("quorvel: ") + failure));
        return exitFailure;
    }
    Result<QByteArray> written = writeComposedPng(picture, request.settings, request.output);
    if (!written.ok()) {
        printErrorLine(oneLine(QStringLiteral("quorvel: ") + written.error()));
        return exitFailure;
    }
    printLine(savedLine(request.output));
    if (request.copy)
        if (const QString why = handOffToClipboard(written.value()); !why.isEmpty()) {
            printErrorLine(
                oneLine(QStringLiteral("quorvel: cannot copy %1: %2").arg(request.output, why)));
            return exitFailure;
        }
    return exitSuccess;
}

// No app runs: this process becomes it, in the background, and captures.
int captureAsTheApp(SingleInstance& instance, const CaptureRequest& request)
{
    // The app this command became ends on Ctrl+C or SIGTERM, and a capture
    // still on the screen is closed first, not left to nobody.
    QTimer ending;
    ending.setSingleShot(true);
    QObject::connect(&ending, &QTimer::timeout, [] { QCoreApplication::exit(exitFailure); });
    std::optional<StopSignals> interrupt;
    return runApp(instance, AppStart::background, [&](QuorvelApp& app) {
        QObject::connect(&app.captureBackend(), &CaptureBackend::cancelled, &ending, [&ending] {
            if (ending.isActive())
                QCoreApplication::exit(exitFailure);
        });
        interrupt.emplace([&app, &ending] {
            if (!app.captureBackend().cancel())
                return QCoreApplication::exit(exitFailure);
            ending.start(3000);
        });
        const QString failure = app.capture(request.kind);
        return failure.isEmpty() ? failure
                                 : QStringLiteral("quorvel: cannot capture %1: %2")
                                       .arg(request.kindName, failure);
    });
}

} // namespace

int runCaptureCommand(int& argc, char** argv, const QStringList& arguments)
{
    auto read = readRequest(arguments);
    if (const int* status = std::get_if<int>(&read))
        return *status;
    const auto& request = std::get<CaptureRequest>(read);

    const std::unique_ptr<QApplication> app = startWindowSystem(argc, argv);
    if (!app) {
        printErrorLine(displayFailure());
        return exitFailure;
    }
    prepareApplication();
    if (!request.output.isEmpty())
        return captureToFile(request);

    SingleInstance instance;
    if (instance.claim() == SingleInstance::Claim::elsewhere) {
        if (const auto failure = InstanceClient().capture(request.kindName)) {
            if (failure->isEmpty())
                return exitSuccess;
            printErrorLine(oneLine(
                QStringLiteral("quorvel: cannot capture %1: %2").arg(request.kindName, *failure)));
            return exitFailure;
        }
        // The app that holds the name did not answer; capture here, alone.
    }
    return captureAsTheApp(instance, request);
}
