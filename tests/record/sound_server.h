#pragma once

// A sound server of the test's own: PipeWire, its session manager and its
// Pulse server, on a session bus of their own, with every folder they use
// (runtime, state, configuration) under one temporary folder. Nothing of the
// machine's own sound reaches the test, and nothing the test plays is heard.

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QThread>
#include <csignal>
#include <memory>
#include <sys/prctl.h>
#include <vector>

namespace test_support {

class SoundServer {
public:
    // Its folders under `folder`; nothing runs yet.
    explicit SoundServer(const QString& folder) : m_folder(folder)
    {
        m_environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : kForeign)
            m_environment.remove(name);
        // Configuration and state go under HOME by default.
        QDir().mkpath(folder + "/home");
        QDir().mkpath(folder + "/run");
        QFile::setPermissions(folder + "/run",
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_environment.insert("HOME", folder + "/home");
        m_environment.insert("XDG_RUNTIME_DIR", folder + "/run");
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

    // Starts the bus and the servers; false, saying why, when the Pulse
    // server does not answer within ten seconds.
    bool start(QString* error)
    {
        static const char config[] =
            R"(<busconfig><type>session</type><listen>unix:path=%1/bus</listen>
<policy context="default"><allow send_destination="*"/><allow receive_sender="*"/><allow own="*"/></policy></busconfig>)";
        QFile file(m_folder + "/bus.conf");
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(QString::fromLatin1(config).arg(m_folder).toUtf8()) <= 0)
            return *error = "cannot write the bus configuration", false;
        file.close();
        m_environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + m_folder + "/bus");
        if (!launch("dbus-daemon", {"--config-file=" + file.fileName(), "--nofork"}) ||
            !until([this] { return QFile::exists(m_folder + "/bus"); }))
            return *error = "dbus-daemon did not start", false;
        if (!launch("pipewire", {}) ||
            !until([this] { return QFile::exists(m_folder + "/run/pipewire-0"); }))
            return *error = "pipewire did not start", false;
        if (!launch("wireplumber", {}) || !launch("pipewire-pulse", {}) ||
            !until([this] { return pactl({"info"}).first == 0; }))
            return *error = "pipewire-pulse does not answer", false;
        return true;
    }

    // A sink that plays to nowhere, made the default output.
    bool addNullSink(const QString& name)
    {
        const auto loaded = pactl({"load-module", "module-null-sink", "sink_name=" + name});
        if (loaded.first != 0)
            return false;
        m_nullSinkModule = loaded.second.trimmed();
        // The session manager sees the new sink a moment later.
        return until([&] {
            pactl({"set-default-sink", name});
            return pactl({"get-default-sink"}).second.trimmed() == name.toUtf8();
        });
    }
    bool removeNullSink()
    {
        return pactl({"unload-module", QString::fromUtf8(m_nullSinkModule)}).first == 0;
    }

    // The Pulse server dies, as it would in a crash.
    void killPulseServer()
    {
        for (auto& process : m_processes)
            if (process->program() == "pipewire-pulse") {
                process->kill();
                process->waitForFinished(5000);
            }
    }

    void stop()
    {
        for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it) {
            (*it)->terminate();
            if (!(*it)->waitForFinished(5000))
                (*it)->kill();
            (*it)->waitForFinished(5000);
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
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(m_environment);
        // Gone with the test, even when it crashes.
        process->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        process->setStandardOutputFile(m_folder + '/' + program + ".log");
        process->setStandardErrorFile(m_folder + '/' + program + ".log");
        process->start(program, arguments);
        const bool started = process->waitForStarted(5000);
        m_processes.push_back(std::move(process));
        return started;
    }

    std::pair<int, QByteArray> pactl(const QStringList& arguments) const
    {
        QProcess process;
        process.setProcessEnvironment(m_environment);
        process.start("pactl", arguments);
        if (!process.waitForFinished(5000))
            return {-1, {}};
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                process.readAllStandardOutput()};
    }

    // Polls `done` for up to ten seconds.
    template <typename Done> static bool until(Done done)
    {
        QDeadlineTimer deadline(10000);
        while (!done()) {
            if (deadline.hasExpired())
                return false;
            QThread::msleep(50);
        }
        return true;
    }

    QString m_folder;
    QProcessEnvironment m_environment;
    std::vector<std::unique_ptr<QProcess>> m_processes;
    QByteArray m_nullSinkModule;
};

} // namespace test_support
