#pragma once

#include "capture_backend.h"

// The backend of a session we cannot capture from (no X11, no desktop
// portal): it offers nothing, and every request fails with the reason.
class NullCaptureBackend : public CaptureBackend {
    Q_OBJECT

public:
    using CaptureBackend::CaptureBackend;

    static QString reason();

    QString name() const override;
    QList<ScreenshotTypes> supportedKinds() const override;
    void capture(ScreenshotTypes kind) override;
};
