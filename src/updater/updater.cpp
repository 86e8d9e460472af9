#include "updater.h"

#include "console.h"

#include <QCoreApplication>
#include <QDir>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSettings>

namespace {

bool isLoopback(const QUrl& url)
{
    const QString host = url.host();
    if (host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

// Feeds come over HTTPS; plain HTTP only where nothing leaves the machine.
bool isAllowedFeedUrl(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() &&
           (scheme == u"https" || (scheme == u"http" && isLoopback(url)));
}

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / (1024.0 * 1024.0), 'g', 3);
}

} // namespace

QString installedUpdaterSettingsPath()
{
    // The path from the program's folder to its data folder comes from the
    // install layout, so a relocated prefix (or the .deb's /usr) still finds it.
    return QDir(QCoreApplication::applicationDirPath())
        .absoluteFilePath(QStringLiteral(QUORVEL_DATA_FROM_BINDIR "/updates.conf"));
}

UpdaterSettings readUpdaterSettings(const QString& path)
{
    UpdaterSettings settings;
    const QSettings file(path, QSettings::IniFormat);
    // An unquoted comma makes QSettings read a list; a URL may hold one.
    const QString feed =
        file.value(QStringLiteral("Updates/FeedURL")).toStringList().join(u',').trimmed();
    if (!feed.isEmpty())
        settings.feedUrl = QUrl(feed, QUrl::StrictMode);
    return settings;
}

Updater::Updater(UpdaterSettings settings, QString currentVersion, QObject* parent)
    : QObject(parent), m_settings(std::move(settings)), m_currentVersion(std::move(currentVersion))
{
    // A day between checks need not be exact: a coarse timer lets the system
    // batch the wake-up. (A very coarse one rounds to whole seconds, which
    // would turn short intervals into none.)
    m_schedule.setTimerType(Qt::CoarseTimer);
    connect(&m_schedule, &QTimer::timeout, this, &Updater::runScheduledCheck);
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        fail(QStringLiteral("the server did not answer within %1 seconds")
                 .arg(QString::number(m_settings.timeout.count() / 1000.0, 'g', 3)));
    });
}

Updater::~Updater()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
}

void Updater::start()
{
    if (m_started)
        return;
    m_started = true;
    setCanCheck(true);
    // The first check runs from the event loop, so starting never delays
    // the first window; without a feed there is nothing to schedule.
    if (isConfigured()) {
        m_schedule.setInterval(0);
        m_schedule.start();
    }
}

void Updater::runScheduledCheck()
{
    m_schedule.setInterval(m_settings.interval);
    if (!m_checking)
        beginCheck(false);
}

void Updater::checkForUpdates()
{
    if (m_canCheck)
        beginCheck(true);
}

void Updater::beginCheck(bool userInitiated)
{
    m_checking = true;
    m_userInitiated = userInitiated;
    setCanCheck(false);
    if (!isConfigured()) {
        UpdateCheckResult result;
        result.outcome = UpdateCheckResult::Outcome::notConfigured;
        finish(std::move(result));
        return;
    }
    if (!isAllowedFeedUrl(m_settings.feedUrl)) {
        fail(QStringLiteral("the feed address %1 is not HTTPS")
                 .arg(m_settings.feedUrl.toDisplayString()));
        return;
    }
    if (!m_network)
        m_network = new QNetworkAccessManager(this);

    QNetworkRequest request(m_settings.feedUrl);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    // Qt unpacks compressed answers itself and stops one that unpacks to
    // far more than it sent; beyond our own cap there is no need to wait.
    request.setDecompressedSafetyCheckThreshold(m_settings.maxFeedBytes);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("Quorvel/%1").arg(m_currentVersion));
    m_body.clear();
    m_reply = m_network->get(request);
    m_deadline.start(m_settings.timeout);

    connect(m_reply, &QNetworkReply::redirected, this, [this](const QUrl& target) {
        if (target.scheme().compare(QStringLiteral("https"), Qt::CaseInsensitive) == 0)
            Q_EMIT m_reply->redirectAllowed();
        else
            fail(QStringLiteral("the feed redirected to %1, which is not HTTPS")
                     .arg(target.toDisplayString()));
    });
    connect(m_reply, &QNetworkReply::metaDataChanged, this, [this] {
        const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > m_settings.maxFeedBytes)
            fail(QStringLiteral("the feed is larger than %1 MB")
                     .arg(megabytes(m_settings.maxFeedBytes)));
    });
    connect(m_reply, &QNetworkReply::readyRead, this, &Updater::readBody);
    connect(m_reply, &QNetworkReply::finished, this, &Updater::onReplyFinished);
}

void Updater::readBody()
{
    // Counted as it arrives: a server that sends no length or lies about it
    // still cannot make us hold more than the cap.
    m_body += m_reply->read(m_settings.maxFeedBytes + 1 - m_body.size());
    if (m_body.size() > m_settings.maxFeedBytes)
        fail(QStringLiteral("the feed is larger than %1 MB")
                 .arg(megabytes(m_settings.maxFeedBytes)));
}

void Updater::onReplyFinished()
{
    if (!m_reply)
        return;
    readBody();
    if (!m_reply)
        return;
    if (m_reply->error() != QNetworkReply::NoError) {
        const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status >= 400) {
            const QString phrase =
                m_reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
            fail(QStringLiteral("the server answered %1 %2").arg(status).arg(phrase).trimmed());
        } else if (m_reply->error() == QNetworkReply::UnknownContentError &&
                   m_reply->hasRawHeader("Content-Encoding")) {
            // Qt's own message gives no reason here.
            fail(QStringLiteral("the feed is compressed and could not be unpacked: it is damaged, "
                                "or larger than %1 MB unpacked")
                     .arg(megabytes(m_settings.maxFeedBytes)));
        } else {
            fail(m_reply->errorString());
        }
        return;
    }
    m_deadline.stop();
    m_reply->deleteLater();
    m_reply = nullptr;

    const AppcastParse parsed = parseAppcast(m_body);
    m_body.clear();
    if (const QString* error = std::get_if<QString>(&parsed)) {
        fail(*error);
        return;
    }
    UpdateCheckResult result;
    result.outcome = UpdateCheckResult::Outcome::upToDate;
    const AppcastItem* newest = newestItem(std::get<QList<AppcastItem>>(parsed));
    if (newest && compareVersions(newest->version, m_currentVersion) > 0) {
        result.outcome = UpdateCheckResult::Outcome::updateAvailable;
        result.item = *newest;
    }
    finish(std::move(result));
}

void Updater::fail(const QString& reason)
{
    m_deadline.stop();
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
        m_reply = nullptr;
    }
    m_body.clear();
    printLine(QStringLiteral("Update check failed: ") + oneLine(reason));
    UpdateCheckResult result;
    result.outcome = UpdateCheckResult::Outcome::failed;
    result.reason = reason;
    finish(std::move(result));
}

void Updater::finish(UpdateCheckResult result)
{
    result.currentVersion = m_currentVersion;
    // Answers always come from the event loop, even those known at once, so
    // a caller never sees its own call re-enter.
    QMetaObject::invokeMethod(
        this,
        [this, result = std::move(result), userInitiated = m_userInitiated] {
            m_checking = false;
            setCanCheck(m_started);
            Q_EMIT checkFinished(result, userInitiated);
        },
        Qt::QueuedConnection);
}

void Updater::setCanCheck(bool canCheck)
{
    if (m_canCheck == canCheck)
        return;
    m_canCheck = canCheck;
    Q_EMIT canCheckForUpdatesChanged(canCheck);
}
