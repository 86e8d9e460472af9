#pragma once

// A session bus of the test's own (dbus-daemon), so the desktop services the
// code talks to are the test's stand-ins and never whatever this machine runs.

#include <QDBusConnection>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QtTest>

namespace test_support {

class PrivateBus {
public:
    ~PrivateBus() { m_daemon.close(); }

    // Starts the daemon with its socket in `folder` and connects to it as
    // `connectionName`; child processes find it through the environment.
    bool start(const QString& folder, const QString& connectionName)
    {
        // Activates nothing: a service installed here can never answer for a stand-in.
        static const char config[] =
            R"(<busconfig><type>session</type><listen>unix:dir=%1</listen>
<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/>
<allow own="*"/></policy></busconfig>)";
        QFile file(folder + QStringLiteral("/bus.conf"));
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(QString::fromLatin1(config).arg(folder).toUtf8()) <= 0)
            return false;
        file.close();
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {"--config-file=" + file.fileName(), "--print-address=1", "--nofork"});
        if (!m_daemon.waitForStarted(5000))
            return false;
        QDeadlineTimer deadline(5000);
        while (!m_daemon.canReadLine() && !deadline.hasExpired())
            m_daemon.waitForReadyRead(100);
        const QByteArray address = m_daemon.readLine().trimmed();
        if (address.isEmpty())
            return false;
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        return QDBusConnection::connectToBus(QString::fromUtf8(address), connectionName)
            .isConnected();
    }

private:
    QProcess m_daemon;
};

} // namespace test_support
