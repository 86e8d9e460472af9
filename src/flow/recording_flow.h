#pragma once

#include "screenshot_types.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QString>
#include <functional>
#include <memory>

class OpenFlow;
class QDBusServiceWatcher;
class ScreenRecorder;

// Where a recording process answers on the session bus: it owns the name from
// the moment frames flow until its file is finished, whoever started it.
inline constexpr char kRecorderService[] = "io.github.quorvel.Recorder";
inline constexpr char kRecorderPath[] = "/io/github/quorvel/Recorder";
inline constexpr char kRecorderInterface[] = "io.github.quorvel.Recorder";
// How a line the recorder says while it goes on recording begins; the app
// passes such a line on (the rest of what it says is kept for a failure).
inline constexpr char kRecorderNotice[] = "quorvel: recording without sound";

// The app's screen recordings. The recording itself is made by a child
// process, `<this program> record KIND [--audio] [--no-cursor] -o PATH`, so
// that FFmpeg never loads into the app and a crash while recording takes
// only the recorder down. Nothing here waits on the GUI thread: the child
// runs under QProcess and the bus is asked asynchronously.
//
// Whether a recording is under way is read from the bus: the recorder's name
// is watched, so a recording started from a terminal shows as well, and the
// tray can stop it. One recording at a time; a start while one is under way
// (ours or anyone's) is refused.
//
// When our child ends: exit 0 opens the file in an editor exactly as a chosen
// movie would be (lastRecordingURL set); 130 is a pick the user cancelled,
// which needs no word; anything else prints the child's last line of
// complaint. A recording the child did not finish is never deleted here.
class RecordingFlow : public QObject {
    Q_OBJECT

public:
    enum class State {
        idle,      // nothing of ours runs
        starting,  // our child runs; the user is choosing what to record
        recording, // frames flow: the name is owned
        stopping,  // asked to stop; the child is finishing the file
    };

    struct Options {
        bool audio = false; // the default output's sound as well
        bool cursor = true; // the pointer drawn in
    };

    struct Services {
        // The recorder program, run with `record ...`; empty: this program.
        QString program;
        // The folder recordings go to; empty: $XDG_VIDEOS_DIR, else the
        // videos folder of user-dirs.dirs, else ~/Videos.
        QString folder;
        // The clock naming the files; empty: the local time now.
        std::function<QDateTime()> now;
        // printLine when empty.
        std::function<void(const QString&)> writeLine;
    };

    explicit RecordingFlow(Services services = {}, QObject* parent = nullptr);
    ~RecordingFlow() override;

    // Starts recording `kind`; the finished file opens through `opener`.
    // Empty when it started, else why not (one line).
    QString start(ScreenshotTypes kind, Options options, OpenFlow& opener);
    // Asks the recording under way to stop and finish its file: ours or the
    // one a command started. Empty when asked, else why not.
    QString stop();

    State state() const { return m_state; }
    // From the moment frames flow until the recorder has finished its file.
    bool isRecording() const;
    // How long the recording under way has run; 0 when none is.
    qint64 elapsedMs() const;
    // The file of our recording under way, or of the last one.
    QString path() const { return m_path; }

    // Keeps `recorder`'s isRecording in step with ours while both live.
    void drive(ScreenRecorder& recorder);

    // "Quorvel Recording 2026-12-07 at 08.15.00.mp4"
    static QString fileNameFor(const QDateTime& when);
    // "0:07", "12:34", "1:02:03"
    static QString elapsedText(qint64 ms);

Q_SIGNALS:
    void stateChanged(RecordingFlow::State state);
    void isRecordingChanged(bool recording);
    // Our recording is saved at `path` and opening in an editor.
    void recorded(const QString& path);
    // Our recording failed; `line` was printed and says why.
    void failed(const QString& line);
    // Our recording goes on without something asked for (its sound); `line`
    // was printed and says what.
    void noticed(const QString& line);

private:
    void setState(State state);
    void nameOwned(bool owned);
    void childFinished(int exitCode, QProcess::ExitStatus status);
    void childFailedToStart();
    void readComplaint();
    void fail(const QString& line);
    void announceRecording();
    QString folder() const;

    Services m_services;
    State m_state = State::idle;
    bool m_nameOwned = false;
    bool m_announced = false;
    QDBusServiceWatcher* m_watcher = nullptr;
    std::unique_ptr<QProcess> m_child;
    QPointer<OpenFlow> m_opener;
    QString m_path;
    std::optional<ScreenshotTypes> m_kind; // of our recording under way
    // The child's standard error, bounded: its last line is what it says
    // when it fails.
    QByteArray m_complaint;
    QByteArray m_unread; // the child's last line while it is not whole
    QElapsedTimer m_elapsed;
    QList<QPointer<ScreenRecorder>> m_driven;
};

// `quorvel record stop`: asks whichever recorder runs to stop, then waits with
// an event loop of its own until its name goes, which is once the file is
// finished. Says "Quorvel is not recording" when none does; the exit status.
int stopRecorderAndWait(int& argc, char** argv);
