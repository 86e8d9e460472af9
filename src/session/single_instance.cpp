#include "single_instance.h"

#include "clipboard_holder.h"
#include "console.h"
#include "instance_client.h"

#include <QDBusConnection>
#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {}

SingleInstance::~SingleInstance()
{
    if (!m_registered)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterService(QLatin1String(kInstanceService));
    bus.unregisterObject(QLatin1String(kInstancePath));
}

SingleInstance::Claim SingleInstance::claim()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return Claim::owned;
    // The object first: a caller that finds the name finds the methods too.
    if (!bus.registerObject(QLatin1String(kInstancePath), this,
                            QDBusConnection::ExportScriptableSlots))
        return Claim::owned;
    if (bus.registerService(QLatin1String(kInstanceService))) {
        m_registered = true;
        return Claim::owned;
    }
    bus.unregisterObject(QLatin1String(kInstancePath));
    return Claim::elsewhere;
}

void SingleInstance::serve(Handlers handlers)
{
    m_handlers = std::move(handlers);
}

void SingleInstance::stopServing()
{
    m_handlers.reset();
}

namespace {

QString notReady()
{
    return QStringLiteral("Quorvel is not ready or is closing");
}

} // namespace

void SingleInstance::Activate()
{
    if (m_handlers)
        m_handlers->activate();
}

QStringList SingleInstance::Open(const QStringList& paths)
{
    QStringList failures(paths.size());
    if (!m_handlers) {
        failures.fill(notReady());
        return failures;
    }
    if (paths.size() > kMostPaths) {
        failures.fill(QStringLiteral("not opened: more than %1 files in one request").arg(kMostPaths));
        return failures;
    }
    // Paths are the caller's, who may stand in another folder: only
    // absolute ones mean the same file to both of us.
    QStringList absolute;
    QList<qsizetype> positions;
    for (qsizetype i = 0; i < paths.size(); ++i) {
        if (!paths[i].startsWith(QLatin1Char('/'))) {
            failures[i] = QStringLiteral("not an absolute path");
            continue;
        }
        absolute.append(paths[i]);
        positions.append(i);
    }
    auto report = [paths](const QStringList& all) {
        for (qsizetype i = 0; i < all.size(); ++i)
            if (!all[i].isEmpty())
                printErrorLine(oneLine(QStringLiteral("quorvel: %1: %2").arg(paths[i], all[i])));
    };
    if (absolute.isEmpty() || !calledFromDBus()) {
        if (!absolute.isEmpty())
            for (qsizetype at : positions)
                failures[at] = QStringLiteral("not asked over the session bus");
        report(failures);
        return failures;
    }
    setDelayedReply(true);
    const QDBusMessage call = message();
    QDBusConnection bus = connection();
    m_handlers->open(absolute, [call, bus, failures, positions, report](const QStringList& opened) mutable {
        for (qsizetype n = 0; n < positions.size() && n < opened.size(); ++n)
            failures[positions[n]] = opened[n];
        report(failures);
        bus.send(call.createReply(QVariant(failures)));
    });
    return {};
}

QString SingleInstance::Capture(const QString& kind)
{
    const auto type = screenshotTypeNamed(kind);
    if (!type)
        return QStringLiteral("there is no capture of kind '%1' (area, window or full)").arg(kind);
    if (!m_handlers)
        return notReady();
    return m_handlers->capture(*type);
}

QString SingleInstance::Record(const QString& kind, bool sound, bool pointer)
{
    const auto type = screenshotTypeNamed(kind);
    if (!type)
        return QStringLiteral("there is no recording of kind '%1' (area, window or full)").arg(kind);
    if (!m_handlers || !m_handlers->record)
        return notReady();
    return m_handlers->record(*type, sound, pointer);
}

QString SingleInstance::CopyPicture(const QByteArray& png)
{
    if (!calledFromDBus())
        return putPictureOnClipboard(png);
    // Decoded on the pool: a large picture must not hold up every window.
    setDelayedReply(true);
    const QDBusMessage call = message();
    QDBusConnection bus = connection();
    auto* watcher = new QFutureWatcher<Result<QImage>>(this);
    connect(watcher, &QFutureWatcher<Result<QImage>>::finished, this, [watcher, call, bus, png]() mutable {
        watcher->deleteLater();
        const Result<QImage> picture = watcher->result();
        if (picture.ok())
            setClipboardPicture(picture.value(), png);
        bus.send(call.createReply(QVariant(picture.error())));
    });
    watcher->setFuture(QtConcurrent::run([png] { return decodeClipboardPng(png); }));
    return {};
}
