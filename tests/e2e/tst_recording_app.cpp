// Recordings for the app, on a private bus and X server with the real
// recorder: `quorvel record KIND` becomes the app or reaches the running one,
// and a stopped recording opens in an editor.

#include "private_bus.h"
#include "test_support.h"

#include <QDBusConnectionInterface>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using test_support::quorvelBinary;
using test_support::run;

namespace {

// Recorders and editors starting on a busy two-core machine.
constexpr int kSlowWait = 30000;
const QString kEditorTitle = QStringLiteral("^Quorvel Recording .* — Quorvel$");

QStringList visibleWindows(const QString& titlePattern)
{
    return QString::fromUtf8(
               run("xdotool", {"search", "--onlyvisible", "--name", titlePattern}).out)
        .split('\n', Qt::SkipEmptyParts);
}

} // namespace

class RecordingAppTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    test_support::PrivateBus m_bus;
    QProcess m_app;

    QDir clips() const { return QDir(m_dir.filePath("Clips")); }
    bool recorderOnTheBus()
    {
        return QDBusConnection(QStringLiteral("test"))
            .interface()
            ->isServiceRegistered(QStringLiteral("io.github.quorvel.Recorder"));
    }
    // The saved recording opened in an editor of the app (its file is checked
    // by the recorder's own tests).
    void expectEditorOnTheRecording()
    {
        QTRY_VERIFY_WITH_TIMEOUT(!visibleWindows(kEditorTitle).isEmpty(), kSlowWait);
        QCOMPARE(clips().entryList({"Quorvel Recording *.mp4"}, QDir::Files).size(), 1);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(m_bus.start(m_dir.path(), QStringLiteral("test")));
        qputenv("XDG_VIDEOS_DIR", clips().path().toUtf8());
    }
    void init() { clips().removeRecursively(); }
    void cleanup()
    {
        m_app.terminate();
        m_app.waitForFinished(10000);
    }

    // With no app running the command becomes it, in the background, with no
    // tray: it ends on Escape at the recorder's pick, nothing recorded, or when
    // the saved recording's editor is closed.
    void becomesTheApp()
    {
        m_app.start(quorvelBinary(), {"record", "area"});
        // Pressed until the recorder's pick is up, has the keyboard and takes it.
        QTRY_VERIFY_WITH_TIMEOUT(
            (run("xdotool", {"key", "Escape"}), m_app.state() == QProcess::NotRunning), kSlowWait);
        QCOMPARE(m_app.exitCode(), 1);
        QVERIFY(clips().entryList(QDir::Files).isEmpty());

        m_app.start(quorvelBinary(), {"record", "full"});
        QTRY_VERIFY_WITH_TIMEOUT(recorderOnTheBus(), kSlowWait);
        QCOMPARE(run(quorvelBinary(), {"record", "stop"}).exitCode, 0);
        expectEditorOnTheRecording();
        // Closed as a person does, through the window manager.
        const QString editor = visibleWindows(kEditorTitle).value(0);
        QVERIFY(test_support::closeX11Window(editor));
        QTRY_VERIFY_WITH_TIMEOUT(m_app.state() == QProcess::NotRunning, kSlowWait);
    }

    // With the app running, the command only asks it and returns; a second
    // start is refused there, in one line.
    void goesToTheRunningApp()
    {
        m_app.start(quorvelBinary(), {});
        QTRY_VERIFY_WITH_TIMEOUT(!visibleWindows("^Quorvel$").isEmpty(), kSlowWait);

        const auto asked = run(quorvelBinary(), {"record", "full", "--no-cursor"});
        QVERIFY(asked.exitCode == 0 && asked.out.isEmpty() && asked.err.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(recorderOnTheBus(), kSlowWait);
        const auto second = run(quorvelBinary(), {"record", "area"});
        QVERIFY2(second.exitCode == 1 && second.err.count('\n') == 1 &&
                     second.err.contains("already recording"),
                 second.err.constData());
        QCOMPARE(run(quorvelBinary(), {"record", "stop"}).exitCode, 0);
        expectEditorOnTheRecording();
        QCOMPARE(m_app.state(), QProcess::Running);
    }
};

QTEST_MAIN(RecordingAppTest)
#include "tst_recording_app.moc"
