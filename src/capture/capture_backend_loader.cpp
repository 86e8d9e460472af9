#include "capture_backend.h"
#include "console.h"
#include "null_capture_backend.h"
#include "session_kind.h"

// Defined next to each backend.
std::unique_ptr<CaptureBackend> makeX11CaptureBackend();
std::unique_ptr<CaptureBackend> makePortalCaptureBackend();

namespace {

std::unique_ptr<CaptureBackend> make(const QString& name)
{
    if (name == QLatin1String("x11"))
        return makeX11CaptureBackend();
    if (name == QLatin1String("portal"))
        return makePortalCaptureBackend();
    return nullptr;
}

QString detectedName()
{
    switch (sessionKind()) {
    case SessionKind::wayland:
        return QStringLiteral("portal");
    case SessionKind::x11:
        return QStringLiteral("x11");
    case SessionKind::other:
        break;
    }
    return QStringLiteral("null");
}

} // namespace

std::unique_ptr<CaptureBackend> loadCaptureBackend()
{
    QString name = qEnvironmentVariable("QUORVEL_CAPTURE_BACKEND");
    if (!name.isEmpty() && name != QLatin1String("x11") && name != QLatin1String("portal") &&
        name != QLatin1String("null")) {
        printErrorLine(QStringLiteral("Unknown QUORVEL_CAPTURE_BACKEND \"%1\" (x11, portal or "
                                      "null); choosing one for this session")
                           .arg(name));
        name.clear();
    }
    if (name.isEmpty())
        name = detectedName();
    if (auto backend = make(name))
        return backend;
    return std::make_unique<NullCaptureBackend>();
}
