// One app per session on a private bus and X server: later starts, `open` and
// `capture` reach it; a copied picture outlives the command that copied it.

#include "private_bus.h"
#include "test_support.h"

#include <QDBusInterface>
#include <QDBusReply>
#include <QDataStream>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <zlib.h>

using test_support::ProcessResult;

namespace {

QStringList visibleWindows(const QString& titlePattern, qint64 pid = 0)
{
    QStringList arguments{"search", "--onlyvisible"};
    if (pid) // --all: by this process and by name, not either
        arguments << "--all"
                  << "--pid" << QString::number(pid);
    arguments << "--name" << titlePattern; // the pattern comes last
    return QString::fromUtf8(test_support::run("xdotool", arguments).out)
        .split('\n', Qt::SkipEmptyParts);
}

QByteArray pastedPng()
{
    return test_support::run("xclip", {"-o", "-selection", "clipboard", "-t", "image/png"}).out;
}

bool keeperRunning()
{
    return test_support::run("pgrep", {"-f", "quorvel __hold-clipboard"}).exitCode == 0;
}

} // namespace

class SingleInstanceTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    test_support::PrivateBus m_bus;
    QProcess m_app; // the running app, when a test starts one

    QString path(const QString& name) const { return m_dir.filePath(name); }

    void startApp()
    {
        m_app.setWorkingDirectory(m_dir.path());
        m_app.start(test_support::quorvelBinary(), {});
        QVERIFY(m_app.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(visibleWindows("^Quorvel$", m_app.processId()).size() == 1, 10000);
    }

    // Runs quorvel; once `overlayOf` (this run, or the app) says its overlay
    // is up, drives it with xdotool.
    ProcessResult run(const QStringList& arguments, const QStringList& steps = {},
                      QProcess* overlayOf = nullptr)
    {
        QProcess process;
        process.setWorkingDirectory(m_dir.path());
        process.start(test_support::quorvelBinary(), arguments);
        process.waitForStarted();
        if (!steps.isEmpty()) {
            // Driven only once the overlay is drawn and has the keyboard.
            QProcess* shows = overlayOf ? overlayOf : &process;
            QByteArray seen;
            if (!QTest::qWaitFor(
                    [&] {
                        seen += shows->readAllStandardError();
                        return seen.contains("overlay shown") && seen.contains("keyboard grabbed");
                    },
                    20000))
                qWarning("the overlay was not ready; it said: %s", seen.constData());
            for (const QString& step : steps)
                test_support::run("xdotool", step.split(' '));
        }
        process.waitForFinished(20000);
        return {process.exitCode(), process.readAllStandardOutput(),
                process.readAllStandardError()};
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(m_bus.start(m_dir.path(), QStringLiteral("test")));
        qputenv("QUORVEL_REPORT_OVERLAY", "1");
        QUORVEL_MAGICK("-size", "64x48", "xc:red", path("red.png"));
    }
    void cleanup()
    {
        m_app.terminate(); // nothing when no app was started
        m_app.waitForFinished(5000);
    }

    // A second start brings a minimised main window back, and no second app stays. `open`
    // resolves relative names where it runs and gets the reasons back; `capture` returns at
    // once, the app's own overlay and editor doing the rest.
    void laterStartsGoToTheRunningApp()
    {
        startApp();
        const QString window = visibleWindows("^Quorvel$", m_app.processId()).value(0);
        test_support::run("xdotool", {"windowminimize", "--sync", window});
        QTRY_VERIFY(visibleWindows("^Quorvel$").isEmpty());
        const ProcessResult second = run({});
        QCOMPARE(second.exitCode, 0);
        QVERIFY(second.out.isEmpty());
        QTRY_COMPARE(visibleWindows("^Quorvel$"), QStringList{window});

        const ProcessResult opened = run({"open", "red.png", "missing.png"});
        QCOMPARE(opened.exitCode, 1);
        QCOMPARE(opened.err, "quorvel: missing.png: No such file or directory\n");
        QTRY_VERIFY(!visibleWindows("^red.png — Quorvel$", m_app.processId()).isEmpty());

        const ProcessResult asked =
            run({"capture", "area"},
                {"mousemove 100 100", "mousedown 1", "mousemove 200 180", "mouseup 1"}, &m_app);
        QCOMPARE(asked.exitCode, 0);
        QVERIFY(asked.out.isEmpty() && asked.err.isEmpty());
        QTRY_VERIFY(!visibleWindows("^Screenshot — Quorvel$", m_app.processId()).isEmpty());
    }

    // -o composes the dragged area; --copy leaves the same bytes on the clipboard (who holds
    // them: composeCopy).
    void captureToFile()
    {
        const ProcessResult result =
            run({"capture", "area", "-o", "shot.png", "-p", "12", "-b", "beach", "--copy"},
                {"mousemove 300 200", "mousedown 1", "mousemove 420 290", "mouseup 1"});
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.out, "Image saved successfully to: " + path("shot.png").toUtf8() + "\n");
        QCOMPARE(QImage(path("shot.png")).size(), QSize(120 + 24, 90 + 24));
        QCOMPARE(pastedPng(), test_support::fileBytes(path("shot.png")));
    }

    // What comes over the bus is checked there (the files themselves: tst_open_flow): a
    // relative path, a picture too large for the clipboard, an unknown kind each get a reason.
    void hostileCallsOverTheBus()
    {
        startApp();
        QDBusInterface app("io.github.quorvel.Quorvel", "/io/github/quorvel/Quorvel",
                           "io.github.quorvel.Quorvel",
                           QDBusConnection::connectToBus(QDBusConnection::SessionBus, "test"));
        app.setTimeout(10000);
        const QDBusReply<QStringList> opened = app.call("Open", QStringList{"red.png"});
        QCOMPARE(opened.value(), QStringList{"not an absolute path"});

        // A small PNG whose header claims 20000 x 20000 pixels.
        QByteArray png = test_support::fileBytes(path("red.png"));
        QDataStream header(&png, QIODevice::ReadWrite);
        header.skipRawData(16);
        header << quint32(20000) << quint32(20000);
        header.skipRawData(5);
        header << quint32(crc32(0, reinterpret_cast<const Bytef*>(png.constData() + 12), 17));
        const QDBusReply<QString> copied = app.call("CopyPicture", png);
        QVERIFY(copied.value().startsWith("picture too large"));
        QVERIFY(
            QDBusReply<QString>(app.call("Capture", "sideways")).value().contains("no capture"));
    }

    // A right click over our own main window cancels, and a cancelled capture with nothing
    // to show opens no editor (a second capture while one is up: tst_open_flow).
    void cancelledCaptureOpensNothing()
    {
        startApp();
        test_support::run("sh", {"-c", "echo words | xclip -selection clipboard"});
        QByteArray said;
        const auto ready = [&](qsizetype overlays) {
            said += m_app.readAllStandardError();
            return said.count("overlay shown") == overlays &&
                   said.count("keyboard grabbed") == overlays;
        };
        QCOMPARE(run({"capture", "area"}).exitCode, 0);
        QTRY_VERIFY_WITH_TIMEOUT(ready(1), 20000);
        // The middle of the screen, where the main window stands under the overlay.
        test_support::run("xdotool", {"mousemove", "512", "384"});
        test_support::run("xdotool", {"click", "3"});
        // The next capture is taken only once the first has ended, editor or not.
        bool taken = false; // QTRY asks once more after success: ask only until taken
        QTRY_VERIFY_WITH_TIMEOUT(taken || (taken = run({"capture", "area"}).exitCode == 0), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(ready(2), 20000);
        QVERIFY(visibleWindows("^Screenshot — Quorvel$", m_app.processId()).isEmpty());
        test_support::run("xdotool", {"click", "3"});
    }

    // With no app a keeper holds the copy until another program takes it.
    void composeCopy_data()
    {
        QTest::addColumn<bool>("appRunning");
        QTest::newRow("alone") << false;
        QTest::newRow("app running") << true;
    }
    void composeCopy()
    {
        QFETCH(bool, appRunning);
        if (appRunning)
            startApp();
        const ProcessResult result = run({"compose", "--copy", "-o", "framed.png", "red.png"});
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(pastedPng(), test_support::fileBytes(path("framed.png")));
        // Several programs' turns on a busy machine.
        QTRY_COMPARE_WITH_TIMEOUT(keeperRunning(), !appRunning, 20000);
        test_support::run("sh", {"-c", "echo taken | xclip -selection clipboard"});
        QTRY_VERIFY(!keeperRunning());
        QCOMPARE(test_support::run("xclip", {"-o", "-selection", "clipboard"}).out, "taken\n");
    }
};

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "tst_single_instance.moc"
