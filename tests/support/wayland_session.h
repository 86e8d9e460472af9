// What the sway, KDE and GNOME session tests all do: run quorvel and its
// captures, check doctor's lines, start the app natively, read the clipboard
// back, keep a screen for a look by hand.
#pragma once

#include "test_support.h"

#include <QRegularExpression>

namespace session {

inline test_support::ProcessResult quorvel(const QStringList& arguments)
{
    return test_support::run(test_support::quorvelBinary(), arguments);
}

// `quorvel capture` with `arguments`, in `command`, left running.
inline void startCapture(QProcess& command, const QStringList& arguments)
{
    command.start(test_support::quorvelBinary(), QStringList{"capture"} + arguments);
}

// What the capture in `command` wrote to `out`, in 32-bit RGB (its density
// kept), once it has ended within `ms`; null if it failed or still runs.
inline QImage captured(QProcess& command, const QString& out, int ms = 20000)
{
    const bool ended = command.state() == QProcess::NotRunning || command.waitForFinished(ms);
    if (!ended || command.exitStatus() != QProcess::NormalExit || command.exitCode() != 0)
        return {};
    return QImage(out).convertToFormat(QImage::Format_RGB32);
}

// `quorvel doctor` on this desktop prints, each exactly once: its portal through `backend`,
// the session, and `lines`.
inline void doctorSays(const QString& backend, const QString& desktop, QStringList lines)
{
    const auto doctor = quorvel({"doctor"});
    QCOMPARE(doctor.exitCode, 0);
    QVERIFY(doctor.err.isEmpty());
    lines << "Screenshot portal: version \\d+, through xdg-desktop-portal-" + backend + '$'
          << "Session: Wayland \\(" +
                 QRegularExpression::escape(qEnvironmentVariable("WAYLAND_DISPLAY")) +
                 "\\), desktop " + desktop;
    const QStringList printed = QString::fromUtf8(doctor.out).split(u'\n');
    for (const QString& line : lines)
        QVERIFY2(printed.filter(QRegularExpression(u'^' + line)).size() == 1,
                 qPrintable(line + u'\n' + doctor.out));
}

// The app on Wayland itself, not XWayland.
inline void startNatively(QProcess& app)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "wayland");
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.start(test_support::quorvelBinary(), QStringList());
}

// Kept where `variable` names a folder, to look at by hand.
inline void saveForALook(const char* variable, const QImage& shown, const QString& name)
{
    if (const QString folder = qEnvironmentVariable(variable); !folder.isEmpty())
        shown.save(folder + u'/' + name);
}

// The compositor's clipboard picture as wl-paste reads it. With nothing on
// the clipboard KWin tells wl-paste nothing at all, and it waits: bounded.
inline QImage pasted()
{
    QProcess paste;
    paste.start("wl-paste", {"--type", "image/png"});
    if (!paste.waitForFinished(3000)) {
        paste.kill();
        paste.waitForFinished();
        return {};
    }
    return QImage::fromData(paste.readAllStandardOutput()).convertToFormat(QImage::Format_RGB32);
}

// wl-copy's keepers serving this session's clipboard (other sessions' may
// run beside it).
inline int keepers()
{
    const QByteArray display = "WAYLAND_DISPLAY=" + qgetenv("WAYLAND_DISPLAY");
    int count = 0;
    const auto found = test_support::run("pgrep", {"-f", "wl-copy --type image/png"});
    for (const QByteArray& pid : found.out.split('\n'))
        if (!pid.isEmpty())
            count +=
                test_support::fileBytes("/proc/" + pid + "/environ").split('\0').contains(display);
    return count;
}

// --copy lands on the compositor's clipboard and stays there after the
// command has gone; its keeper goes when another program copies.
inline void copyLandsOnTheClipboard(const QString& out)
{
    QCOMPARE(quorvel({"capture", "full", "-o", out, "--copy"}).exitCode, 0);
    QCOMPARE(test_support::run("wl-paste", {"--no-newline", "--type", "image/png"}).out,
             test_support::fileBytes(out));
    QCOMPARE(keepers(), 1);
    QCOMPARE(test_support::run("wl-copy", {"--type", "text/plain", "something else"}).exitCode, 0);
    QTRY_COMPARE_WITH_TIMEOUT(keepers(), 0, 5000);
    // What is left is its keeper, not ours.
    test_support::run("wl-copy", {"--clear"});
}

} // namespace session
