#include "capture_backend.h"
#include "console.h"
#include "null_capture_backend.h"

#include <QGuiApplication>

// Defined next to each backend.
std::unique_ptr<CaptureBackend> makeX11CaptureBackend(QObject* parent);
std::unique_ptr<CaptureBackend> makePortalCaptureBackend(QObject* parent);

namespace {

// On Wayland only the portal may see the screen; an X11 grab through
// XWayland would give black or only our own windows, so a Wayland session
// wins even when Qt itself runs on xcb.
bool isWaylandSession()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland")) ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           qgetenv("XDG_SESSION_TYPE") == "wayland";
}

std::unique_ptr<CaptureBackend> make(const QString& name, QObject* parent)
{
    if (name == QLatin1String("x11"))
        return makeX11CaptureBackend(parent);
    if (name == QLatin1String("portal"))
        return makePortalCaptureBackend(parent);
    return nullptr;
}

QString detectedName()
{
    if (isWaylandSession())
        return QStringLiteral("portal");
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        return QStringLiteral("x11");
    return QStringLiteral("null");
}

} // namespace

std::unique_ptr<CaptureBackend> loadCaptureBackend(QObject* parent)
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
    if (auto backend = make(name, parent))
        return backend;
    return std::make_unique<NullCaptureBackend>(parent);
}
