#include "record_command.h"

#include "command_options.h"
#include "console.h"
#include "exit_status.h"
#include "pulse_sound_source.h"
#include "recording.h"
#include "recording_flow.h"
#include "screen_cast_portal.h"
#include "session_kind.h"
#include "stop_signals.h"
#include "window_system.h"
#include "x11_capture_backend.h"
#include "x11_frame_source.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>
#include <cstdio>
#include <malloc.h>
#include <functional>
#include <memory>
#include <utility>
#include <variant>

namespace {

constexpr const char* kCommand = "quorvel record";
const QString kService = QLatin1String(kRecorderService);
const QString kPath = QLatin1String(kRecorderPath);

const QString kStartedLine =
    QStringLiteral("Recording the screen; stop with `quorvel record stop` or Ctrl+C");
const QString kAlreadyLine =
    QStringLiteral("Quorvel is already recording; stop it with `quorvel record stop`");

struct RecordRequest {
    ScreenshotTypes kind = ScreenshotTypes::area;
    QString kindName;
    QString output;
    bool audio = false;
    bool cursor = true;
};

struct StopRequest {};

std::variant<RecordRequest, StopRequest, int> readRequest(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Records an area you drag, a window you click (following it as it moves) or the whole "
        "screen until `quorvel record stop`, Ctrl+C or SIGTERM. Without --output the running "
        "Quorvel (started when none runs) records into the videos folder and opens the "
        "recording in its editor; with it, the MPEG-4 movie is written to FILE."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("Write the recording to FILE (.mp4)."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption audio(QStringLiteral("audio"),
                                   QStringLiteral("Record what the computer plays, too."));
    const QCommandLineOption noCursor(QStringLiteral("no-cursor"),
                                      QStringLiteral("Leave the pointer out of the picture."));
    parser.addOptions({help, output, audio, noCursor});
    parser.addPositionalArgument(QStringLiteral("KIND"),
                                 QStringLiteral("What to record: area, window or full; or stop."));
    if (!parser.parse(QStringList{QLatin1String(kCommand)} + arguments))
        return usageError(kCommand, parser.errorText());
    if (parser.isSet(help)) {
        printCommandHelp(parser, QStringLiteral("Usage: %1 area|window|full [--audio] "
                                                "[--no-cursor] [-o FILE.mp4]\n       %1 stop")
                                     .arg(QLatin1String(kCommand)));
        return exitSuccess;
    }
    const QStringList kinds = parser.positionalArguments();
    if (kinds.size() != 1)
        return usageError(kCommand, QStringLiteral("name one KIND: area, window, full or stop"));
    if (kinds.first() == QLatin1String("stop")) {
        for (const QCommandLineOption* option : {&output, &audio, &noCursor})
            if (parser.isSet(*option))
                return usageError(kCommand, QStringLiteral("stop takes no options"));
        return StopRequest{};
    }
    RecordRequest request;
    request.kindName = kinds.first();
    const auto kind = screenshotTypeNamed(request.kindName);
    if (!kind)
        return usageError(kCommand, QStringLiteral("unknown KIND '%1'; use area, window, full "
                                                   "or stop")
                                        .arg(request.kindName));
    request.kind = *kind;
    request.audio = parser.isSet(audio);
    request.cursor = !parser.isSet(noCursor);
    request.output = parser.value(output);
    // Without -o the program hands the request to the app before this runs.
    if (request.output.isEmpty())
        return usageError(kCommand, QStringLiteral("--output FILE.mp4 is required"));
    if (const auto status = checkOutputName(kCommand, request.output,
                                            QStringLiteral("MPEG-4 movies"),
                                            {QStringLiteral(".mp4")}))
        return *status;
    const QFileInfo folder(QFileInfo(request.output).absolutePath());
    if (!folder.isDir() || !folder.isWritable()) {
        printErrorLine(oneLine(QStringLiteral("quorvel: cannot record into %1: %2")
                                   .arg(request.output,
                                        folder.isDir() ? QStringLiteral("its folder is read-only")
                                                       : QStringLiteral("no such folder"))));
        return exitFailure;
    }
    return request;
}


// The object on the bus that `quorvel record stop` (and the app) calls.
class RecorderObject : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.github.quorvel.Recorder")

public:
    explicit RecorderObject(std::function<void()> stop) : m_stop(std::move(stop)) {}

public Q_SLOTS:
    Q_SCRIPTABLE void Stop() { m_stop(); }

private:
    std::function<void()> m_stop;
};

// One recording from the pick to the finished file. Everything that blocks
// (opening the display, starting the encoder, finishing) goes to the thread
// pool and comes back here by a queued call.
class RecordSession : public QObject {
    Q_OBJECT

public:
    explicit RecordSession(RecordRequest request)
        : m_request(std::move(request)), m_recorder([this] { stop(); })
    {
    }

    void begin()
    {
        m_state = State::picking;
        if (sessionKind() != SessionKind::x11) {
            askPortal();
            return;
        }
        m_picker = std::make_unique<X11CaptureBackend>();
        connect(m_picker.get(), &X11CaptureBackend::picked, this,
                [this](const QRect& area, quint32 window) {
                    startRecording(X11FrameSource::Target{area, window, m_request.cursor});
                });
        connect(m_picker.get(), &CaptureBackend::cancelled, this, [this] { cancelled(); });
        connect(m_picker.get(), &CaptureBackend::failed, this,
                [this](const QString& reason) { cannotRecord(reason); });
        m_picker->pick(m_request.kind);
    }

    // Stop(), a signal, the recording stopping by itself: each finishes what
    // was recorded, once.
    void stop(const QString& reason = {})
    {
        switch (m_state) {
        case State::picking:
            // The portal's chooser goes with its request, which then answers
            // cancelled; our own overlay goes with us.
            if (m_portal && m_portal->cancel())
                return;
            cancelled();
            return;
        case State::starting:
            m_stopWhenStarted = true;
            m_stoppedBecause = reason;
            return;
        case State::recording:
            m_stoppedBecause = reason;
            finish();
            return;
        case State::finishing:
        case State::done:
            return;
        }
    }

    int exitStatus() const { return m_status; }

private:
    enum class State { picking, starting, recording, finishing, done };

    void cancelled()
    {
        end(exitInterrupted,
            QStringLiteral("quorvel: the recording was cancelled; nothing was written"));
    }

    void cannotRecord(const QString& reason)
    {
        end(exitFailure,
            QStringLiteral("quorvel: cannot record %1: %2").arg(m_request.kindName, reason));
    }

    // On Wayland the desktop's own chooser picks what is shared: a window, or
    // a whole screen for an area or the full screen.
    void askPortal()
    {
        const ScreenCastKind kind = m_request.kind == ScreenshotTypes::window
                                        ? ScreenCastKind::window
                                        : ScreenCastKind::monitor;
        m_portal = requestScreenCast(
            kind, m_request.cursor, this,
            [this](Result<std::unique_ptr<FrameSource>> source, bool wasCancelled) {
                m_portal = nullptr;
                if (m_state != State::picking)
                    return;
                if (wasCancelled)
                    cancelled();
                else if (!source.ok())
                    cannotRecord(source.error());
                else
                    startRecording(std::shared_ptr<FrameSource>(std::move(source).value()));
            });
    }

    // What to record: a region of the X screen, or a stream the portal opened.
    using Target = std::variant<X11FrameSource::Target, std::shared_ptr<FrameSource>>;

    void startRecording(Target target)
    {
        m_state = State::starting;
        const bool audio = m_request.audio;
        const QString output = QFileInfo(m_request.output).absoluteFilePath();
        QPointer<RecordSession> self(this);
        QThreadPool::globalInstance()->start([self, target = std::move(target), audio, output] {
            auto started = open(target, audio, output);
            QMetaObject::invokeMethod(qApp, [self, started = std::move(started)]() mutable {
                if (self)
                    self->started(std::move(started));
            });
        });
    }

    struct Started {
        Result<std::unique_ptr<Recording>> recording;
        X11FrameSource* source = nullptr;
        QString noSound; // why the sound asked for is not recorded
    };

    // A stream the portal opened, handed to the recording that owns it from now on.
    class SharedSource : public FrameSource {
    public:
        explicit SharedSource(std::shared_ptr<FrameSource> source) : m_source(std::move(source)) {}
        QSize frameSize() const override { return m_source->frameSize(); }
        bool start(FrameSink sink, QString* error) override
        {
            return m_source->start(std::move(sink), error);
        }
        void stop() override { m_source->stop(); }

    private:
        std::shared_ptr<FrameSource> m_source;
    };

    static std::shared_ptr<Started> open(const Target& target, bool audio, const QString& output)
    {
        using Outcome = Result<std::unique_ptr<Recording>>;
        Recording::Setup setup;
        setup.destination = output;
        // Lives as long as the recording that owns it; for the counts.
        X11FrameSource* source = nullptr;
        if (const auto* region = std::get_if<X11FrameSource::Target>(&target)) {
            auto frames = X11FrameSource::open(*region);
            if (!frames.ok())
                return std::make_shared<Started>(Started{Outcome::failure(frames.error()), nullptr, {}});
            setup.frames = std::move(frames).value();
            source = static_cast<X11FrameSource*>(setup.frames.get());
        } else {
            setup.frames =
                std::make_unique<SharedSource>(std::get<std::shared_ptr<FrameSource>>(target));
        }
        // No sound server is no reason to lose the picture: the recording goes
        // on silent, and says so.
        QString noSound;
        if (audio) {
            auto sound = openDefaultOutputMonitor();
            if (sound.ok())
                setup.sound = std::move(sound).value();
            else
                noSound = sound.error();
        }
        return std::make_shared<Started>(
            Started{Recording::start(std::move(setup)), source, noSound});
    }

    void started(std::shared_ptr<Started> result)
    {
        Result<std::unique_ptr<Recording>>* outcome = &result->recording;
        m_source = result->source;
        if (!outcome->ok()) {
            end(exitFailure, QStringLiteral("quorvel: cannot record %1: %2")
                                 .arg(m_request.kindName, outcome->error()));
            return;
        }
        m_recording = std::move(*outcome).value();
        m_state = State::recording;
        if (!result->noSound.isEmpty())
            printErrorLine(
                oneLine(QLatin1String(kRecorderNotice) + QStringLiteral(": ") + result->noSound));
        QPointer<RecordSession> self(this);
        m_recording->setSoundLostHandler([self](const QString& reason) {
            QMetaObject::invokeMethod(qApp, [self, reason] {
                if (self)
                    printErrorLine(oneLine(QLatin1String(kRecorderNotice) +
                                           QStringLiteral(" from now on: ") + reason));
            });
        });
        m_recording->setStoppedHandler([self](const QString& reason) {
            QMetaObject::invokeMethod(qApp, [self, reason] {
                if (self)
                    self->stop(reason);
            });
        });
        if (m_stopWhenStarted) {
            finish();
            return;
        }
        announce();
    }

    // Takes the name once frames flow; a second recorder that got in first
    // (between our check and now) wins, and this one leaves nothing behind.
    void announce()
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) {
            printLine(kStartedLine);
            return;
        }
        bus.registerObject(kPath, &m_recorder, QDBusConnection::ExportScriptableSlots);
        QDBusMessage request = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("RequestName"));
        constexpr uint doNotQueue = 4;
        request << kService << doNotQueue;
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(request), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this](QDBusPendingCallWatcher* call) {
                    call->deleteLater();
                    constexpr uint primaryOwner = 1;
                    const QDBusPendingReply<uint> reply = *call;
                    if (reply.isError() || reply.value() != primaryOwner) {
                        discard();
                        return;
                    }
                    if (m_state == State::recording)
                        printLine(kStartedLine);
                });
    }

    void discard()
    {
        if (m_state != State::recording)
            return;
        const QString intermediate = m_recording->intermediatePath();
        QThreadPool::globalInstance()->start(
            [recording = std::shared_ptr<Recording>(std::move(m_recording)),
             intermediate]() mutable {
                // Our own recording of a moment, never the other one's.
                recording.reset();
                QFile::remove(intermediate);
            });
        end(exitFailure, kAlreadyLine);
    }

    void finish()
    {
        m_state = State::finishing;
        QPointer<RecordSession> self(this);
        Recording* recording = m_recording.get();
        QThreadPool::globalInstance()->start([self, recording] {
            auto finished = std::make_shared<Result<QString>>(recording->finish());
            QMetaObject::invokeMethod(qApp, [self, finished] {
                if (self)
                    self->finished(*finished);
            });
        });
    }

    void finished(const Result<QString>& written)
    {
        // For the tests and the benchmark: where frames went.
        if (!qEnvironmentVariableIsEmpty("QUORVEL_REPORT_RECORDING")) {
            const Recording::Counts counts = m_recording->counts();
            std::fprintf(stderr, "frames: %lld delivered, %lld missed, %lld encoded, %lld dropped\n",
                         static_cast<long long>(counts.delivered),
                         static_cast<long long>(m_source ? m_source->missedFrames() : 0),
                         static_cast<long long>(counts.encoded),
                         static_cast<long long>(counts.dropped));
            std::fflush(stderr);
        }
        const QString kept = written.ok() ? written.value() : m_recording->intermediatePath();
        // Stopped by itself (the window closed, the disk full): what was
        // recorded is kept. Finished, it is a recording like any other, so the
        // app still opens it; the line says why it ended early.
        if (!m_stoppedBecause.isEmpty()) {
            printErrorLine(oneLine(QStringLiteral("Recording stopped: %1; kept what was recorded in %2")
                                       .arg(m_stoppedBecause, kept)));
            if (!written.ok()) {
                end(exitFailure, {});
                return;
            }
            printLine(oneLine(QStringLiteral("Saved the recording to ") + kept));
            end(exitSuccess, {});
            return;
        }
        if (!written.ok()) {
            end(exitFailure,
                QStringLiteral("Cannot finish the recording: %1; kept what was recorded in %2")
                    .arg(written.error(), kept));
            return;
        }
        printLine(oneLine(QStringLiteral("Saved the recording to ") + kept));
        end(exitSuccess, {});
    }

    void end(int status, const QString& line)
    {
        if (m_state == State::done)
            return;
        m_state = State::done;
        m_status = status;
        if (!line.isEmpty())
            printErrorLine(oneLine(line));
        QCoreApplication::exit(status);
    }

    RecordRequest m_request;
    State m_state = State::picking;
    std::unique_ptr<X11CaptureBackend> m_picker; // X11: our own overlay picks
    QPointer<ScreenCastPortal> m_portal;         // Wayland: the desktop's chooser, while it asks
    RecorderObject m_recorder;
    std::unique_ptr<Recording> m_recording;
    X11FrameSource* m_source = nullptr; // owned by m_recording
    bool m_stopWhenStarted = false;
    QString m_stoppedBecause;
    int m_status = exitFailure;
};

// Whether a recording runs now. Asked before anything shows, as the app's own
// single-instance check is.
bool recordingRuns(QDBusConnection& bus)
{
    return bus.isConnected() && bus.interface()->isServiceRegistered(kService).value();
}

int record(int& argc, char** argv, const RecordRequest& request)
{
    // Pictures are megabytes each. glibc's threshold for giving such blocks
    // their own mapping grows with the largest one freed, after which they
    // come from the heap and its high-water mark stays: a recording's memory
    // would step up once, minutes in. A fixed threshold keeps them mapped,
    // and returned when freed.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    const std::unique_ptr<QApplication> app = startWindowSystem(argc, argv);
    if (!app) {
        printErrorLine(displayFailure());
        return exitFailure;
    }
    QApplication::setApplicationDisplayName(QStringLiteral("Quorvel"));
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (recordingRuns(bus)) {
        printErrorLine(kAlreadyLine);
        return exitFailure;
    }
    RecordSession session(request);
    const StopSignals signalsStop([&session] { session.stop(); });
    QTimer::singleShot(0, &session, [&session] { session.begin(); });
    QApplication::exec();
    return session.exitStatus();
}

} // namespace

int runRecordCommand(int& argc, char** argv, const QStringList& arguments)
{
    auto read = readRequest(arguments);
    if (const int* status = std::get_if<int>(&read))
        return *status;
    if (std::holds_alternative<StopRequest>(read))
        return stopRecorderAndWait(argc, argv);
    return record(argc, argv, std::get<RecordRequest>(read));
}

#include "record_command.moc"
