#pragma once

#include "capture_backend.h"
#include "portal_request.h"
#include "result.h"

#include <QDBusConnection>
#include <QFuture>
#include <QVariantMap>

class QDBusServiceWatcher;


// Screenshots through the desktop portal (org.freedesktop.portal.Screenshot):
// on Wayland the only way to see the screen. The full screen is asked for
// without interaction, so it comes at once. An area or a window is asked for
// interactively: the portal shows what its backend has (GNOME's and KDE's own
// dialog, or a drag on the screen on wlroots; see portalShows()), and we ask
// for our kind where the portal lets us choose (version 3 and later). An
// interactive request the backend ends without a picture (wlroots' answer to
// Escape) is a cancelled capture.
//
// The portal writes the picture to a file it owns; we read it and leave it be.
// The picture comes in the screen's pixels; when the file says nothing about
// its density it gets the scale the compositor drew it at: for the full
// screen its pixels over the desktop's points, for an area or a window the
// primary output's scale as the compositor tells it (Qt 6.4 rounds a
// fractional one up), else the primary screen's device pixel ratio.
class PortalCaptureBackend : public CaptureBackend {
    Q_OBJECT

public:
    explicit PortalCaptureBackend(QObject* parent = nullptr);
    // Talks to the portal on `bus` instead of the session bus.
    PortalCaptureBackend(const QDBusConnection& bus, QObject* parent = nullptr);

    QString name() const override;
    QList<ScreenshotTypes> supportedKinds() const override;
    void capture(ScreenshotTypes kind) override;
    // Closes the portal's request (org.freedesktop.portal.Request.Close), so
    // its dialog goes, and answers cancelled() once the portal has taken that.
    bool cancel() override;

    // The X11 window the portal's dialog should stay above; 0 for none.
    void setParentWindow(quintptr x11Window);

private:
    void askPortal(const QVariantMap& properties);
    void handleResponse(uint response, const QVariantMap& results);
    // Ends the request; false when it had already ended, so nothing is said twice.
    bool endRequest();
    void dropAsked();
    void fail(const QString& reason);
    // The answer, once the portal's picture is decoded.
    void deliver(Result<QImage> loaded);

    QDBusConnection m_bus;
    QDBusServiceWatcher* m_portalWatcher = nullptr;
    QString m_parentWindow;
    ScreenshotTypes m_kind = ScreenshotTypes::full;
    bool m_interactive = false;
    // The scale of the output an area or a window comes from, read from the
    // compositor while the person chooses; 0 when unknown.
    QFuture<qreal> m_outputScale;
    PortalRequest* m_asked = nullptr; // the portal's request while it is open
    quint64 m_request = 0; // tells a stale reply from the current request's
    bool m_busy = false;
};
