#pragma once

#include "screenshot_types.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>

// One way of letting the user take a screenshot on this desktop: our own
// overlay on X11, the desktop portal on Wayland, or nothing at all.
//
// A backend is asked with capture() and answers exactly once, later, from the
// event loop, with captured(), cancelled() or failed(). The picture carries
// the device pixel ratio of the screen it was taken on, so a HiDPI capture
// keeps every pixel. The caller has hidden its own windows before asking; a
// backend never captures its own overlay.
class CaptureBackend : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;
    ~CaptureBackend() override = default;

    // A short name for messages and for QUORVEL_CAPTURE_BACKEND ("x11", "portal", "null").
    virtual QString name() const = 0;
    // The kinds this backend can take; capture() of any other fails.
    virtual QList<ScreenshotTypes> supportedKinds() const = 0;
    // Starts a capture of `kind`. Must not be called again before it answered.
    virtual void capture(ScreenshotTypes kind) = 0;
    // Ends a capture in progress as the person's Escape would: whatever the
    // desktop shows for it goes away, and the answer is cancelled(). True when
    // that answer is on its way; false when no capture was waiting for one.
    // The default ends nothing, for backends whose capture lives only in this
    // process and so ends with it.
    virtual bool cancel() { return false; }

Q_SIGNALS:
    void captured(const QImage& picture);
    void cancelled();
    void failed(const QString& reason);
};

// The backend for this session (see sessionKind()): the portal on Wayland,
// our overlay on X11, otherwise a backend that fails with a clear reason.
// QUORVEL_CAPTURE_BACKEND (x11, portal, null) forces one, for tests. Never
// null. The caller is its only owner: it has no QObject parent.
std::unique_ptr<CaptureBackend> loadCaptureBackend();
