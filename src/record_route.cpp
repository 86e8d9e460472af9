#include "record_route.h"

#include "console.h"
#include "exit_status.h"
#include "instance_client.h"
#include "quorvel_app.h"
#include "recording_flow.h"
#include "run_app.h"
#include "single_instance.h"
#include "window_system.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <QWindow>
#include <algorithm>

namespace {

struct RecordRequest {
    ScreenshotTypes kind = ScreenshotTypes::area;
    QString kindName;
    RecordingFlow::Options options;
};

// The request, when the arguments are a plain recording for the app.
std::optional<RecordRequest> readRequest(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption audio(QStringLiteral("audio"));
    const QCommandLineOption noCursor(QStringLiteral("no-cursor"));
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")}, QString(),
                                    QStringLiteral("FILE"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOptions({audio, noCursor, output, help});
    if (!parser.parse(QStringList{QStringLiteral("quorvel record")} + arguments) ||
        parser.isSet(output) || parser.isSet(help) || parser.positionalArguments().size() != 1)
        return std::nullopt;
    RecordRequest request;
    request.kindName = parser.positionalArguments().first();
    const auto kind = screenshotTypeNamed(request.kindName);
    if (!kind)
        return std::nullopt;
    request.kind = *kind;
    request.options = {parser.isSet(audio), !parser.isSet(noCursor)};
    return request;
}

QString cannotRecord(const RecordRequest& request, const QString& why)
{
    return oneLine(QStringLiteral("quorvel: cannot record %1: %2").arg(request.kindName, why));
}

} // namespace

// `record stop` needs only the bus: answered here, without the editor library.
bool wantsRecordRoute(const QStringList& arguments)
{
    return arguments == QStringList{QStringLiteral("stop")} || readRequest(arguments).has_value();
}

int runRecordRoute(int& argc, char** argv, const QStringList& arguments)
{
    if (arguments == QStringList{QStringLiteral("stop")})
        return stopRecorderAndWait(argc, argv);
    const std::optional<RecordRequest> request = readRequest(arguments);
    if (!request)
        return exitUsage;
    const std::unique_ptr<QApplication> app = startWindowSystem(argc, argv);
    if (!app) {
        printErrorLine(displayFailure());
        return exitFailure;
    }
    prepareApplication();

    SingleInstance instance;
    if (instance.claim() == SingleInstance::Claim::elsewhere) {
        if (const auto failure = InstanceClient().record(request->kindName, request->options.audio,
                                                         request->options.cursor)) {
            if (failure->isEmpty())
                return exitSuccess;
            printErrorLine(cannotRecord(*request, *failure));
            return exitFailure;
        }
        // The app that holds the name did not answer; record here, alone.
    }
    return runApp(instance, AppStart::background, [&](QuorvelApp& quorvel) {
        if (!quorvel.trayIcon())
            // Nothing else would ever end an app with no tray and no window.
            QObject::connect(&quorvel.recordingFlow(), &RecordingFlow::stateChanged, &quorvel,
                             [&quorvel](RecordingFlow::State state) {
                                 if (state != RecordingFlow::State::idle)
                                     return;
                                 // Once a saved recording's editor is up, if it is.
                                 QTimer::singleShot(0, &quorvel, [] {
                                     const QWindowList windows = QGuiApplication::topLevelWindows();
                                     if (std::none_of(windows.begin(), windows.end(),
                                                      [](QWindow* w) { return w->isVisible(); }))
                                         QCoreApplication::exit(exitFailure);
                                 });
                             });
        const QString failure = quorvel.record(request->kind, request->options);
        return failure.isEmpty() ? failure : cannotRecord(*request, failure);
    });
}
