#pragma once

#include "appcast.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <chrono>

class QNetworkAccessManager;
class QNetworkReply;

// How the updater reaches its feed. Read from the settings file installed
// with the app; an empty feed address means updates are not configured and
// the updater never touches the network.
struct UpdaterSettings {
    QUrl feedUrl;
    std::chrono::milliseconds timeout = std::chrono::seconds(10); // the whole check, not each read
    qint64 maxFeedBytes = 1024 * 1024;
    std::chrono::milliseconds interval = std::chrono::hours(24);
};

// The settings file shipped with the app: updates.conf in the data folder of
// the program's own prefix (<app dir>/../share/quorvel in the usual layout),
// which is where both the build tree and an installed copy keep it.
QString installedUpdaterSettingsPath();

// Reads the feed address ("FeedURL" in group "Updates") from an INI file; a
// missing file or key leaves updates unconfigured.
UpdaterSettings readUpdaterSettings(const QString& path);

struct UpdateCheckResult {
    enum class Outcome { upToDate, updateAvailable, failed, notConfigured };

    Outcome outcome = Outcome::failed;
    QString currentVersion;
    AppcastItem item; // the newer release when one is available
    QString reason;   // why a failed check failed, one line
};

// Checks an appcast feed for a version newer than ours: once right after
// start() and then every `interval` (one coarse timer, no other wake-ups),
// and whenever checkForUpdates() is called. Only HTTPS is fetched, or plain
// HTTP on the loopback interface; redirects are followed only to HTTPS.
// Results arrive through checkFinished, always from the event loop.
class Updater : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)

public:
    Updater(UpdaterSettings settings, QString currentVersion, QObject* parent = nullptr);
    ~Updater() override;

    // Starts the schedule. Before this no check may begin.
    void start();

    // True exactly when a user-started check may begin now: started, and no
    // check running.
    bool canCheckForUpdates() const { return m_canCheck; }

    // A check a person asked for; ignored while one runs.
    void checkForUpdates();

    bool isConfigured() const { return !m_settings.feedUrl.isEmpty(); }
    const QString& currentVersion() const { return m_currentVersion; }

Q_SIGNALS:
    void canCheckForUpdatesChanged(bool canCheck);
    // `userInitiated` tells the answer to checkForUpdates() from a scheduled
    // check, which should stay quiet unless there is something new.
    void checkFinished(const UpdateCheckResult& result, bool userInitiated);

private:
    void runScheduledCheck();
    void beginCheck(bool userInitiated);
    void onReplyFinished();
    void readBody();
    void fail(const QString& reason);
    void finish(UpdateCheckResult result);
    void setCanCheck(bool canCheck);

    UpdaterSettings m_settings;
    QString m_currentVersion;
    bool m_started = false;
    bool m_canCheck = false;
    bool m_checking = false; // from beginCheck until its answer is delivered
    bool m_userInitiated = false;
    QTimer m_schedule;
    QTimer m_deadline;
    QNetworkAccessManager* m_network = nullptr; // made on the first check, child of this
    QPointer<QNetworkReply> m_reply;
    QByteArray m_body;
};
