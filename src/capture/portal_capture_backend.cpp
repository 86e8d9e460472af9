#include "portal_capture_backend.h"

#include "image_loader.h"
#include "wayland_outputs.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QPointer>
#include <QThreadPool>
#include <QScreen>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>
#include <cmath>

namespace {

const QString kService = QString::fromLatin1(portal::kService);
const QString kPath = QString::fromLatin1(portal::kPath);
const QString kInterface = QString::fromLatin1(portal::kScreenshotInterface);

const portal::Wording kWords{QStringLiteral("screenshot portal"), QStringLiteral("screenshots"),
                             QStringLiteral("take screenshots")};

// The portal's target values (version 3): screen 1, window 2, area 4.
uint targetFor(ScreenshotTypes kind)
{
    switch (kind) {
    case ScreenshotTypes::full:
        return 1;
    case ScreenshotTypes::window:
        return 2;
    case ScreenshotTypes::area:
        return 4;
    }
    return 1;
}

// Device pixels per point of a portal's picture. Qt's ratio is the whole
// number the compositor renders at (2 at a scale of 1.5), but the picture is
// taken at the scale itself; a whole-desktop picture tells it exactly: its
// pixels over the desktop's points. For a part of it, `outputScale` (from the
// compositor; 0 when unknown) tells it.
qreal ratioOf(const QImage& picture, const QScreen& screen, ScreenshotTypes kind, qreal outputScale)
{
    const QRect desktop = screen.virtualGeometry();
    if (kind == ScreenshotTypes::full && !desktop.isEmpty() && !picture.isNull()) {
        const qreal across = qreal(picture.width()) / desktop.width();
        const qreal down = qreal(picture.height()) / desktop.height();
        // Points are whole, so the two agree to within a point's worth.
        // Desktops scale in 120ths (as the fractional-scale protocol does);
        // the desktop's points are whole, so the quotient is a hair off.
        if (across >= 1 && std::abs(across - down) * desktop.height() <= across)
            return std::round(across * 120) / 120;
    }
    if (kind != ScreenshotTypes::full && outputScale >= 1)
        return outputScale;
    return screen.devicePixelRatio();
}

QScreen* primaryScreen()
{
    // Only a QGuiApplication has screens; the tests run without one.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return QGuiApplication::primaryScreen();
    return nullptr;
}

} // namespace

PortalCaptureBackend::PortalCaptureBackend(QObject* parent)
    : PortalCaptureBackend(QDBusConnection::sessionBus(), parent)
{
}

PortalCaptureBackend::PortalCaptureBackend(const QDBusConnection& bus, QObject* parent)
    : CaptureBackend(parent), m_bus(bus),
      m_portalWatcher(new QDBusServiceWatcher(kService, m_bus,
                                              QDBusServiceWatcher::WatchForUnregistration, this))
{
    // A portal that crashes mid-request never answers; without this the
    // person would wait for a dialog that is gone.
    connect(m_portalWatcher, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
        fail(QStringLiteral("the desktop's screenshot portal went away before answering"));
    });
}

QString PortalCaptureBackend::name() const
{
    return QStringLiteral("portal");
}

QList<ScreenshotTypes> PortalCaptureBackend::supportedKinds() const
{
    return {ScreenshotTypes::full, ScreenshotTypes::window, ScreenshotTypes::area};
}

void PortalCaptureBackend::setParentWindow(quintptr x11Window)
{
    m_parentWindow =
        x11Window ? QStringLiteral("x11:") + QString::number(x11Window, 16) : QString();
}

void PortalCaptureBackend::capture(ScreenshotTypes kind)
{
    m_kind = kind;
    m_busy = true;
    m_outputScale = {};
    if (kind != ScreenshotTypes::full && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        if (QScreen* screen = primaryScreen())
            m_outputScale = QtConcurrent::run([name = screen->name()] {
                const auto outputs = WaylandOutputs::read();
                return outputs.ok() ? WaylandOutputs::scaleOf(outputs.value(), name) : 0.0;
            });
    const quint64 request = ++m_request;
    portal::readProperties(
        m_bus, kInterface, this, [this, request](const QDBusPendingReply<QVariantMap>& reply) {
            if (request != m_request || !m_busy)
                return;
            // A portal without readable properties is an old one; the
            // Screenshot call itself tells whether it is there at all.
            if (reply.isError() && reply.error().type() == QDBusError::Disconnected)
                fail(portal::describe(reply.error(), kWords));
            else
                askPortal(reply.isError() ? QVariantMap() : reply.value());
        });
}

void PortalCaptureBackend::askPortal(const QVariantMap& properties)
{
    // Only the full screen needs no choosing; asked interactively, wlroots
    // would make the person drag over it, and wait for ever without a pointer.
    m_interactive = m_kind != ScreenshotTypes::full;
    QVariantMap options{{QStringLiteral("interactive"), m_interactive}};
    if (properties.value(QStringLiteral("version")).toUInt() >= 3) {
        // The portal refuses a target it does not offer; then its dialog
        // lets the person choose.
        const uint target = targetFor(m_kind);
        const QVariant offered = properties.value(QStringLiteral("AvailableTargets"));
        if (!offered.isValid() || (offered.toUInt() & target))
            options.insert(QStringLiteral("target"), QVariant::fromValue(target));
    }
    dropAsked();
    m_asked = new PortalRequest(m_bus, kWords, this);
    connect(m_asked, &PortalRequest::answered, this, &PortalCaptureBackend::handleResponse);
    connect(m_asked, &PortalRequest::failed, this, &PortalCaptureBackend::fail);
    m_asked->ask(kInterface, QStringLiteral("Screenshot"), {m_parentWindow}, options);
}

void PortalCaptureBackend::handleResponse(uint response, const QVariantMap& results)
{
    if (!endRequest())
        return;
    if (response == 1) {
        Q_EMIT cancelled();
        return;
    }
    const QUrl uri(results.value(QStringLiteral("uri")).toString());
    if (response != 0) {
        // wlroots' backend answers Escape during its drag like any failure:
        // after a choice the person could make, no picture means they made none.
        if (m_interactive && uri.isEmpty())
            Q_EMIT cancelled();
        else
            Q_EMIT failed(QStringLiteral("the desktop's screenshot portal could not take it"));
        return;
    }
    if (!uri.isLocalFile()) {
        Q_EMIT failed(QStringLiteral("the desktop's screenshot portal gave no picture file"));
        return;
    }
    // The picture is a whole screen's PNG: decoded on the pool, so the
    // windows stay live meanwhile. A newer request makes this answer stale.
    const quint64 request = m_request;
    QPointer<PortalCaptureBackend> self(this);
    QThreadPool::globalInstance()->start([self, request, path = uri.toLocalFile()] {
        auto loaded = std::make_shared<Result<QImage>>(loadImageFile(path));
        QMetaObject::invokeMethod(qApp, [self, request, loaded] {
            if (self && request == self->m_request)
                self->deliver(std::move(*loaded));
        });
    });
}

void PortalCaptureBackend::deliver(Result<QImage> loaded)
{
    if (!loaded.ok()) {
        Q_EMIT failed(QStringLiteral("the screenshot portal's picture could not be read: ") +
                      loaded.error());
        return;
    }
    QImage picture = std::move(loaded).value();
    if (picture.devicePixelRatio() == 1.0) {
        if (QScreen* screen = primaryScreen())
            picture.setDevicePixelRatio(
                ratioOf(picture, *screen, m_kind,
                        m_outputScale.isFinished() && m_outputScale.resultCount() > 0
                            ? m_outputScale.result()
                            : 0.0));
    }
    Q_EMIT captured(picture);
}

bool PortalCaptureBackend::cancel()
{
    PortalRequest* asked = m_asked;
    if (!m_busy)
        return false;
    ++m_request; // what is still on its way belongs to no request now
    const auto sayCancelled = [this] { Q_EMIT cancelled(); };
    // Asked: its dialog goes. Not asked yet: nothing shows on the desktop.
    if (asked)
        asked->close(this, sayCancelled);
    else
        QMetaObject::invokeMethod(this, sayCancelled, Qt::QueuedConnection);
    endRequest();
    return true;
}

bool PortalCaptureBackend::endRequest()
{
    if (!m_busy)
        return false;
    m_busy = false;
    dropAsked();
    return true;
}

void PortalCaptureBackend::dropAsked()
{
    if (!m_asked)
        return;
    // Not deleted here: this may be inside one of its signals.
    m_asked->disconnect(this);
    std::exchange(m_asked, nullptr)->deleteLater();
}

void PortalCaptureBackend::fail(const QString& reason)
{
    if (endRequest())
        Q_EMIT failed(reason);
}

std::unique_ptr<CaptureBackend> makePortalCaptureBackend()
{
    return std::make_unique<PortalCaptureBackend>();
}
