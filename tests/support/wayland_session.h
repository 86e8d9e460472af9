// What the sway and GNOME session tests both do: run quorvel, check doctor's
// lines, start the app natively, keep a screen for a look by hand.
#pragma once

#include "test_support.h"

#include <QRegularExpression>

namespace session {

inline test_support::ProcessResult quorvel(const QStringList& arguments)
{
    return test_support::run(test_support::quorvelBinary(), arguments);
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

} // namespace session
