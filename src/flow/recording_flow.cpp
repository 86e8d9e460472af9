#include "recording_flow.h"

#include "console.h"
#include "exit_status.h"
#include "open_flow.h"
#include "screen_recorder.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>

namespace {

// What the child says on standard error is kept up to this much (the end of
// it): enough for its last line, never a flood's worth.
constexpr qsizetype kMostComplaintBytes = 8192;

// How long the app, going away with a recording still running, lets the
// recorder finish its file before QProcess kills it (what was written stays
// playable either way).
constexpr int kFinishOnExitMs = 5000;

const char kNotRecording[] = "Quorvel is not recording";

QString lastLine(const QByteArray& text)
{
    const QList<QByteArray> lines = text.split('\n');
    for (auto line = lines.crbegin(); line != lines.crend(); ++line)
        if (!line->trimmed().isEmpty())
            return oneLine(QString::fromUtf8(line->trimmed()));
    return {};
}

} // namespace

RecordingFlow::RecordingFlow(Services services, QObject* parent)
    : QObject(parent), m_services(std::move(services))
{
    if (!m_services.writeLine)
        m_services.writeLine = printLine;
    if (!m_services.now)
        m_services.now = [] { return QDateTime::currentDateTime(); };
    if (m_services.program.isEmpty())
        m_services.program = QCoreApplication::applicationFilePath();

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    m_watcher = new QDBusServiceWatcher(QLatin1String(kRecorderService), bus,
                                        QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceRegistered, this, [this] { nameOwned(true); });
    connect(m_watcher, &QDBusServiceWatcher::serviceUnregistered, this,
            [this] { nameOwned(false); });
    // A recording that was under way before we came: asked without waiting;
    // the watcher's word, when it comes first, is the newer one.
    auto* asked = new QDBusPendingCallWatcher(
        bus.interface()->asyncCall(QStringLiteral("NameHasOwner"), QLatin1String(kRecorderService)),
        this);
    auto heardFirst = std::make_shared<bool>(false);
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, asked,
            [heardFirst] { *heardFirst = true; });
    connect(asked, &QDBusPendingCallWatcher::finished, this, [this, asked, heardFirst] {
        asked->deleteLater();
        const QDBusPendingReply<bool> reply = *asked;
        if (!*heardFirst && reply.isValid() && reply.value())
            nameOwned(true);
    });
}

RecordingFlow::~RecordingFlow()
{
    if (!m_child)
        return;
    m_child->disconnect(this);
    // SIGTERM finishes a recording as Stop does; a recorder still choosing
    // what to record just gives up.
    m_child->terminate();
    m_child->waitForFinished(kFinishOnExitMs);
}

QString RecordingFlow::fileNameFor(const QDateTime& when)
{
    return QStringLiteral("Quorvel Recording %1.mp4")
        .arg(when.toString(QStringLiteral("yyyy-MM-dd 'at' HH.mm.ss")));
}

QString RecordingFlow::elapsedText(qint64 ms)
{
    const qint64 seconds = std::max<qint64>(ms, 0) / 1000;
    const auto two = [](qint64 n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    if (seconds >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(seconds / 3600)
            .arg(two(seconds / 60 % 60), two(seconds % 60));
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(two(seconds % 60));
}

QString RecordingFlow::folder() const
{
    if (!m_services.folder.isEmpty())
        return m_services.folder;
    // A session may say where videos go in its environment rather than in
    // user-dirs.dirs, which is all QStandardPaths reads.
    if (const QString videos = qEnvironmentVariable("XDG_VIDEOS_DIR"); QDir::isAbsolutePath(videos))
        return videos;
    const QString movies = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    return movies.isEmpty() ? QDir::home().filePath(QStringLiteral("Videos")) : movies;
}

bool RecordingFlow::isRecording() const
{
    // Our recorder goes on finishing its file after it lets the name go.
    return m_nameOwned || m_state == State::recording ||
           (m_state == State::stopping && m_announced);
}

qint64 RecordingFlow::elapsedMs() const
{
    return isRecording() && m_elapsed.isValid() ? m_elapsed.elapsed() : 0;
}

void RecordingFlow::drive(ScreenRecorder& recorder)
{
    m_driven.append(&recorder);
    if (recorder.isRecording() != isRecording())
        recorder.setIsRecording(isRecording());
}

QString RecordingFlow::start(ScreenshotTypes kind, Options options, OpenFlow& opener)
{
    if (m_child || isRecording())
        return QStringLiteral("Quorvel is already recording");
    const QString where = folder();
    if (!QDir().mkpath(where))
        return QStringLiteral("cannot make the folder %1 for the recording").arg(where);
    const QString name = fileNameFor(m_services.now());
    QString path = QDir(where).filePath(name);
    // Two recordings within one second: the second gets a number.
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = QDir(where).filePath(name.chopped(4) + QStringLiteral(" (%1).mp4").arg(n));

    QStringList arguments{QStringLiteral("record"), screenshotTypeName(kind)};
    if (options.audio)
        arguments << QStringLiteral("--audio");
    if (!options.cursor)
        arguments << QStringLiteral("--no-cursor");
    arguments << QStringLiteral("-o") << path;

    m_child = std::make_unique<QProcess>();
    // Its lines ("Recording the screen…", "Saved the recording to …") are the
    // app's lines; its complaints are kept for when it fails.
    m_child->setProcessChannelMode(QProcess::ForwardedOutputChannel);
    m_child->setStandardInputFile(QProcess::nullDevice());
    connect(m_child.get(), &QProcess::readyReadStandardError, this, &RecordingFlow::readComplaint);
    connect(m_child.get(), &QProcess::finished, this, &RecordingFlow::childFinished);
    connect(m_child.get(), &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            childFailedToStart();
    });
    connect(m_child.get(), &QProcess::started, this, [this] {
        // With no bus to watch, a running recorder is all we can know.
        if (!m_watcher && m_state == State::starting)
            setState(State::recording);
    });
    m_opener = &opener;
    m_path = path;
    m_kind = kind;
    m_complaint.clear();
    m_unread.clear();
    setState(State::starting);
    m_child->start(m_services.program, arguments);
    return {};
}

QString RecordingFlow::stop()
{
    if (m_state == State::stopping)
        return {};
    if (m_state == State::starting || (m_child && !m_watcher)) {
        // Still choosing what to record (or no bus to ask): the signal ends it.
        setState(State::stopping);
        m_child->terminate();
        return {};
    }
    if (!isRecording())
        return QLatin1String(kNotRecording);
    if (m_child)
        setState(State::stopping);
    QDBusMessage call = QDBusMessage::createMethodCall(
        QLatin1String(kRecorderService), QLatin1String(kRecorderPath),
        QLatin1String(kRecorderInterface), QStringLiteral("Stop"));
    call.setAutoStartService(false);
    auto* answer = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(answer, &QDBusPendingCallWatcher::finished, this, [this, answer] {
        answer->deleteLater();
        if (!answer->isError())
            return;
        // Our own recorder is stopped by the signal it also understands.
        if (m_child) {
            m_child->terminate();
            return;
        }
        // Gone meanwhile is as good as stopped.
        if (!m_nameOwned)
            return;
        m_services.writeLine(oneLine(QStringLiteral("quorvel: cannot stop the recording: %1")
                                         .arg(answer->error().message())));
    });
    return {};
}

void RecordingFlow::setState(State state)
{
    const bool was = isRecording();
    if (state == State::recording && m_state != State::recording)
        m_announced = true;
    if (state == State::idle)
        m_announced = false;
    const bool changed = state != m_state;
    m_state = state;
    if (changed)
        Q_EMIT stateChanged(state);
    if (was != isRecording())
        announceRecording();
}

void RecordingFlow::nameOwned(bool owned)
{
    const bool was = isRecording();
    m_nameOwned = owned;
    // The name appearing while our recorder is choosing means frames flow.
    if (owned && m_state == State::starting)
        setState(State::recording);
    if (was != isRecording())
        announceRecording();
}

void RecordingFlow::announceRecording()
{
    const bool recording = isRecording();
    if (recording)
        m_elapsed.start();
    else
        m_elapsed.invalidate();
    // Ours is known by its kind and file; one a command makes is only running.
    const bool ours = recording && m_child;
    for (const QPointer<ScreenRecorder>& recorder : std::as_const(m_driven)) {
        if (!recorder)
            continue;
        recorder->setStream(ours ? m_kind : std::nullopt,
                            ours ? QUrl::fromLocalFile(m_path) : QUrl());
        if (recorder->isRecording() != recording)
            recorder->setIsRecording(recording);
    }
    Q_EMIT isRecordingChanged(recording);
}

void RecordingFlow::readComplaint()
{
    if (!m_child)
        return;
    const QByteArray said = m_child->readAllStandardError();
    m_complaint += said;
    if (m_complaint.size() > kMostComplaintBytes)
        m_complaint = m_complaint.right(kMostComplaintBytes);
    m_unread += said;
    for (qsizetype end; (end = m_unread.indexOf('\n')) >= 0;) {
        const QString line = oneLine(QString::fromUtf8(m_unread.left(end).trimmed()));
        m_unread.remove(0, end + 1);
        if (line.startsWith(QLatin1String(kRecorderNotice))) {
            m_services.writeLine(line);
            Q_EMIT noticed(line);
        }
    }
    if (m_unread.size() > kMostComplaintBytes)
        m_unread.clear(); // no line ends in sight: not one of ours
}

void RecordingFlow::childFinished(int exitCode, QProcess::ExitStatus status)
{
    readComplaint();
    const bool framesFlowed = m_announced;
    // Let go of it after this signal is delivered, not within it.
    m_child.release()->deleteLater();
    setState(State::idle);
    if (status == QProcess::NormalExit && exitCode == exitSuccess) {
        if (m_opener)
            m_opener->openMovie(m_path);
        Q_EMIT recorded(m_path);
        return;
    }
    // Cancelled while choosing what to record: the user knows.
    if (status == QProcess::NormalExit && exitCode == exitInterrupted)
        return;
    QString line = lastLine(m_complaint);
    if (line.isEmpty())
        line = framesFlowed
                   ? QStringLiteral("quorvel: the recording stopped unexpectedly; what was "
                                    "recorded is kept beside %1")
                         .arg(m_path)
                   : QStringLiteral("quorvel: the recorder stopped unexpectedly (%1)")
                         .arg(status == QProcess::CrashExit
                                  ? QStringLiteral("it crashed")
                                  : QStringLiteral("exit status %1").arg(exitCode));
    fail(oneLine(line));
}

void RecordingFlow::childFailedToStart()
{
    const QString why = m_child->errorString();
    m_child.release()->deleteLater();
    setState(State::idle);
    fail(oneLine(QStringLiteral("quorvel: cannot start the recorder: %1").arg(why)));
}

void RecordingFlow::fail(const QString& line)
{
    m_services.writeLine(line);
    Q_EMIT failed(line);
}

int stopRecorderAndWait(int& argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString notRecording = QLatin1String(kNotRecording);
    // Finishing makes the MPEG-4 file from everything recorded, which for an
    // hour of screen is a copy of a few gigabytes.
    const QDeadlineTimer deadline(5 * 60 * 1000);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        printErrorLine(notRecording);
        return exitFailure;
    }
    int status = exitFailure;
    QTimer polling;
    polling.setInterval(50);
    const auto askWhetherGone = [&] {
        auto* watcher =
            new QDBusPendingCallWatcher(bus.interface()->asyncCall(QStringLiteral("NameHasOwner"),
                                                                   QLatin1String(kRecorderService)),
                                        &app);
        QObject::connect(
            watcher, &QDBusPendingCallWatcher::finished, &app, [&](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                const QDBusPendingReply<bool> owned = *call;
                if (!owned.isError() && !owned.value()) {
                    status = exitSuccess;
                    QCoreApplication::quit();
                } else if (deadline.hasExpired()) {
                    printErrorLine(QStringLiteral("quorvel: the recording did not finish in time"));
                    QCoreApplication::quit();
                } else {
                    polling.start();
                }
            });
    };
    polling.setSingleShot(true);
    QObject::connect(&polling, &QTimer::timeout, &app, askWhetherGone);

    const QDBusMessage call = QDBusMessage::createMethodCall(
        QLatin1String(kRecorderService), QLatin1String(kRecorderPath),
        QLatin1String(kRecorderInterface), QStringLiteral("Stop"));
    auto* stopping = new QDBusPendingCallWatcher(bus.asyncCall(call), &app);
    QObject::connect(stopping, &QDBusPendingCallWatcher::finished, &app,
                     [&](QDBusPendingCallWatcher* reply) {
                         reply->deleteLater();
                         if (reply->isError()) {
                             printErrorLine(notRecording);
                             QCoreApplication::quit();
                             return;
                         }
                         askWhetherGone();
                     });
    QCoreApplication::exec();
    return status;
}
