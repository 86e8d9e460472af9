// What the sway and GNOME session tests both do: run quorvel, check doctor's
// lines, start the app natively, keep a screen for a look by hand.
#pragma once

#include "test_support.h"

#include <QRegularExpression>

namespace session {

inline test_support::ProcessResult quorvel(const QStringList& arguments)
{
    QProcess process;
    return test_support::finish(process, test_support::quorvelBinary(), arguments);
}

// Whether each pattern matches the start of exactly one printed line.
inline bool printsOnce(const QByteArray& out, const QStringList& patterns)
{
    const QStringList lines = QString::fromUtf8(out).split(u'\n', Qt::SkipEmptyParts);
    return std::all_of(patterns.begin(), patterns.end(), [&](const QString& pattern) {
        return lines.filter(QRegularExpression(u'^' + pattern)).size() == 1;
    });
}

// `quorvel doctor` on this desktop: its portal through `backend`, the session, and `lines`.
inline void doctorSays(const QString& backend, const QString& desktop, const QStringList& lines)
{
    const auto doctor = quorvel({"doctor"});
    QCOMPARE(doctor.exitCode, 0);
    const QString session = QRegularExpression::escape(qEnvironmentVariable("WAYLAND_DISPLAY"));
    QVERIFY2(printsOnce(doctor.out,
                        QStringList{"Screenshot portal: version \\d+, through xdg-desktop-portal-" +
                                        backend + '$',
                                    "Session: Wayland \\(" + session + "\\), desktop " + desktop} +
                            lines),
             doctor.out.constData());
    QVERIFY(doctor.err.isEmpty());
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
