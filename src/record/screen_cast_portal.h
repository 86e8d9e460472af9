#pragma once

#include "result.h"
#include "screen_frame.h"

#include <QDBusConnection>
#include <QObject>
#include <QVariantMap>
#include <functional>
#include <memory>

class PortalRequest;
class QDBusServiceWatcher;

// What the person is asked to share: a whole monitor (recording an area or
// the full screen both ask for one) or one window.
enum class ScreenCastKind { monitor, window };

// One request to the desktop's screen-cast portal
// (org.freedesktop.portal.ScreenCast): CreateSession, SelectSources, Start
// (where the portal shows its chooser) and OpenPipeWireRemote, all without
// waiting. What comes back is a FrameSource reading the shared PipeWire
// stream; it keeps the portal's session open until it stops.
//
// The cursor is asked for the best way the portal offers: drawn in by the
// compositor, else sent as metadata and drawn in by us, else left out.
// Nothing is persisted: the portal asks each time.
class ScreenCastPortal : public QObject {
    Q_OBJECT

public:
    // The answer, once: a source, or a failure in the product's words;
    // `cancelled` when the person (or cancel()) ended the request.
    using Done = std::function<void(Result<std::unique_ptr<FrameSource>>, bool cancelled)>;

    explicit ScreenCastPortal(QObject* parent = nullptr);
    // Talks to the portal on `bus` instead of the session bus.
    explicit ScreenCastPortal(const QDBusConnection& bus, QObject* parent = nullptr);
    ~ScreenCastPortal() override; // closes what is still open, answering nothing

    void request(ScreenCastKind kind, bool showCursor, Done done);
    // Closes the open request and session, so the chooser goes; answers
    // cancelled once the portal has taken that. False when nothing is asked.
    bool cancel();

private:
    enum class Step { idle, creating, selecting, starting, opening };

    void createSession(const QVariantMap& properties);
    void selectSources();
    void startCast();
    void openRemote(uint32_t node, QSize size);
    // Calls `method` on the portal with a request object to wait on; the
    // answer comes to handleResponse().
    void ask(const QString& method, const QList<QVariant>& arguments, const QVariantMap& options);
    void handleResponse(uint response, const QVariantMap& results);
    void dropAsked();
    void closeSession();
    void finish(Result<std::unique_ptr<FrameSource>> result, bool cancelled);
    void fail(const QString& reason)
    {
        finish(Result<std::unique_ptr<FrameSource>>::failure(reason), false);
    }

    QDBusConnection m_bus;
    QDBusServiceWatcher* m_portalWatcher = nullptr;
    Done m_done;
    Step m_step = Step::idle;
    ScreenCastKind m_kind = ScreenCastKind::monitor;
    bool m_showCursor = true;
    uint m_sourceTypes = 1;
    uint m_cursorMode = 0; // what SelectSources asked for; 0: nothing (the portal's default)
    uint m_version = 0;
    PortalRequest* m_asked = nullptr; // the step's request while it is open
    QString m_sessionPath;
    quint64 m_request = 0; // tells a stale reply from the current request's
};

// The record command's way in on Wayland: asks the portal and calls `done`
// once, on `context`'s thread; nothing is called after `context` is gone.
// The returned request belongs to `context` (and deletes itself once it has
// answered); cancel() it to close the chooser.
ScreenCastPortal* requestScreenCast(ScreenCastKind kind, bool showCursor, QObject* context,
                                    ScreenCastPortal::Done done);
