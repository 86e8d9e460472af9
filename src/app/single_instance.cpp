#include "single_instance.h"

#include "capture_backend.h"
#include "clipboard_holder.h"
#include "console.h"
#include "editor_module.h"
#include "instance_client.h"
#include "main_view.h"
#include "quorvel_app.h"

#include <QDBusConnection>

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

void SingleInstance::serve(QuorvelApp& app)
{
    m_app = &app;
    connect(&app, &QObject::destroyed, this, [this] { m_app = nullptr; });
}

void SingleInstance::Activate()
{
    if (m_app)
        m_app->showMainWindow();
}

QStringList SingleInstance::Open(const QStringList& paths)
{
    QStringList failures;
    for (const QString& path : paths) {
        QString failure = m_app ? openFileLazily(path) : QStringLiteral("Quorvel is closing");
        if (!failure.isEmpty())
            printErrorLine(oneLine(QStringLiteral("quorvel: %1: %2").arg(path, failure)));
        failures.append(std::move(failure));
    }
    return failures;
}

QString SingleInstance::Capture(const QString& kind)
{
    const auto type = screenshotTypeNamed(kind);
    if (!type)
        return QStringLiteral("there is no capture of kind '%1' (area, window or full)").arg(kind);
    if (!m_app)
        return QStringLiteral("Quorvel is closing");
    const CaptureBackend& backend = m_app->captureBackend();
    if (backend.supportedKinds().isEmpty())
        return QStringLiteral("this desktop offers no way to capture the screen");
    if (!backend.supportedKinds().contains(*type))
        return QStringLiteral("this desktop cannot capture the %1")
            .arg(*type == ScreenshotTypes::full ? QStringLiteral("full screen") : kind);
    m_app->mainView()->startCapture(*type);
    return {};
}

QString SingleInstance::CopyPicture(const QByteArray& png)
{
    return putPictureOnClipboard(png);
}
