#include "session_kind.h"

#include <QGuiApplication>

SessionKind sessionKind(const SessionFacts& facts)
{
    if (facts.qtPlatform.startsWith(QLatin1String("wayland")) || !facts.waylandDisplay.isEmpty() ||
        facts.sessionType.compare(QLatin1String("wayland"), Qt::CaseInsensitive) == 0)
        return SessionKind::wayland;
    if (facts.qtPlatform == QLatin1String("xcb"))
        return SessionKind::x11;
    return SessionKind::other;
}

SessionKind sessionKind()
{
    return sessionKind({QGuiApplication::platformName(), qEnvironmentVariable("WAYLAND_DISPLAY"),
                        qEnvironmentVariable("XDG_SESSION_TYPE")});
}

bool isWaylandSession()
{
    return sessionKind() == SessionKind::wayland;
}
