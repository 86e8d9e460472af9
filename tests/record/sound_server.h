#pragma once

// A sound server of the test's own: PipeWire, its session manager and its
// Pulse server, on a session bus of their own, with every folder they use
// (runtime, state, configuration) under one temporary folder. Nothing of the
// machine's own sound reaches the test, and nothing the test plays is heard.

#include "test_support.h"

#include <QDir>
#include <QProcessEnvironment>
#include <cmath>
#include <csignal>
#include <memory>
#include <sys/prctl.h>
#include <vector>

namespace test_support {

// The level of `hz` in one channel of interleaved 48 kHz stereo (half the
// amplitude of a sine at that pitch).
inline double goertzel(const int16_t* samples, int frames, int channel, double hz)
{
    const double k = 2 * std::cos(2 * M_PI * hz / 48000);
    double s1 = 0, s2 = 0;
    for (int i = 0; i < frames; ++i)
        s2 = std::exchange(s1, samples[i * 2 + channel] + k * s1 - s2);
    return std::sqrt(s1 * s1 + s2 * s2 - k * s1 * s2) / frames;
}

class SoundServer {
public:
    // Its folders under `folder`; nothing runs yet.
    explicit SoundServer(const QString& folder) : m_folder(folder)
    {
        for (const char* name : kForeign)
            m_environment.remove(name);
        // Configuration and state go under HOME when nothing else is set.
        QDir().mkpath(folder + "/home");
        QDir().mkpath(folder + "/run");
        QFile::setPermissions(folder + "/run",
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_environment.insert("HOME", folder + "/home");
        m_environment.insert("XDG_RUNTIME_DIR", folder + "/run");
        m_environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + folder + "/bus");
    }
    ~SoundServer() { stop(); }

    // Makes the environment a client of this server runs in this process's
    // own, for the library under test.
    void applyToThisProcess() const
    {
        for (const char* name : kForeign)
            qunsetenv(name);
        for (const QString& name : m_environment.keys())
            qputenv(name.toUtf8().constData(), m_environment.value(name).toUtf8());
    }

    // Starts the bus and the servers; false, saying why, when one of them
    // does not come up within half a minute (a machine running the whole suite is slow).
    bool start(QString* error)
    {
        // A bus that activates nothing: no service of this machine's starts on it.
        QFile config(m_folder + "/bus.conf");
        if (!config.open(QIODevice::WriteOnly) ||
            config.write("<busconfig><type>session</type><listen>unix:path=" + m_folder.toUtf8() +
                         "/bus</listen><policy context='default'><allow send_destination='*'/>"
                         "<allow receive_sender='*'/><allow own='*'/></policy></busconfig>") <= 0)
            return *error = "cannot write the bus configuration", false;
        config.close();
        const auto up = [this](const QString& program, const QStringList& arguments, auto ready) {
            return launch(program, arguments) && QTest::qWaitFor(ready, 30000);
        };
        if (!up("dbus-daemon", {"--config-file=" + config.fileName(), "--nofork"},
                [this] { return QFile::exists(m_folder + "/bus"); }) ||
            !up("pipewire", {}, [this] { return QFile::exists(m_folder + "/run/pipewire-0"); }))
            return *error = "dbus-daemon or pipewire did not start", false;
        if (!launch("wireplumber", {}) ||
            !up("pipewire-pulse", {}, [this] { return pactl({"info"}).exitCode == 0; }))
            return *error = "pipewire-pulse does not answer", false;
        return true;
    }

    // A sink that plays to nowhere, made the default output (which the
    // session manager takes a moment to allow).
    bool addNullSink(const QString& name)
    {
        const auto loaded = pactl({"load-module", "module-null-sink", "sink_name=" + name});
        m_nullSinks[name] = QString::fromUtf8(loaded.out.trimmed());
        return loaded.exitCode == 0 &&
               QTest::qWaitFor(
                   [&] {
                       pactl({"set-default-sink", name});
                       return pactl({"get-default-sink"}).out.trimmed() == name.toUtf8();
                   },
                   10000);
    }
    bool removeNullSink(const QString& name)
    {
        return pactl({"unload-module", m_nullSinks.take(name)}).exitCode == 0;
    }

    void stop()
    {
        for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it) {
            (*it)->terminate();
            if (!(*it)->waitForFinished(5000))
                (*it)->kill(), (*it)->waitForFinished(5000);
        }
        m_processes.clear();
    }

private:
    // What would lead a client or a server to the machine's own sound or desktop.
    static constexpr const char* kForeign[] = {"PULSE_SERVER",    "PIPEWIRE_REMOTE",
                                               "DISPLAY",         "WAYLAND_DISPLAY",
                                               "XDG_CONFIG_HOME", "XDG_STATE_HOME"};

    bool launch(const QString& program, const QStringList& arguments)
    {
        auto& process = m_processes.emplace_back(std::make_unique<QProcess>());
        process->setProcessEnvironment(m_environment);
        // Gone with the test, even when it crashes.
        process->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        process->setStandardOutputFile(m_folder + '/' + program + ".log");
        process->setStandardErrorFile(m_folder + '/' + program + ".log");
        process->start(program, arguments);
        return process->waitForStarted(5000);
    }

    ProcessResult pactl(const QStringList& arguments) const
    {
        QProcess process;
        process.setProcessEnvironment(m_environment);
        return finish(process, "pactl", arguments);
    }

    QString m_folder;
    QProcessEnvironment m_environment = QProcessEnvironment::systemEnvironment();
    std::vector<std::unique_ptr<QProcess>> m_processes;
    QMap<QString, QString> m_nullSinks; // their modules by name
};

} // namespace test_support
