#include "null_capture_backend.h"

#include <QTimer>

QString NullCaptureBackend::reason()
{
    return QStringLiteral(
        "no screen capture is available in this session (neither X11 nor a desktop portal)");
}

QString NullCaptureBackend::name() const
{
    return QStringLiteral("null");
}

QList<ScreenshotTypes> NullCaptureBackend::supportedKinds() const
{
    return {};
}

void NullCaptureBackend::capture(ScreenshotTypes)
{
    // Answer later, as every backend does, so callers have one code path.
    QTimer::singleShot(0, this, [this] { Q_EMIT failed(reason()); });
}
