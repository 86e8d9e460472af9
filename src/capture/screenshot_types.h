#pragma once

#include <QString>
#include <optional>

// What a screenshot takes: the whole desktop, one window the user picks, or
// an area the user drags.
enum class ScreenshotTypes { full, window, area };

// The kind a command line or a bus call names: "full", "window" or "area".
inline std::optional<ScreenshotTypes> screenshotTypeNamed(const QString& name)
{
    if (name == QLatin1String("full"))
        return ScreenshotTypes::full;
    if (name == QLatin1String("window"))
        return ScreenshotTypes::window;
    if (name == QLatin1String("area"))
        return ScreenshotTypes::area;
    return std::nullopt;
}

// The name screenshotTypeNamed() takes for `kind`.
inline QString screenshotTypeName(ScreenshotTypes kind)
{
    switch (kind) {
    case ScreenshotTypes::full:
        return QStringLiteral("full");
    case ScreenshotTypes::window:
        return QStringLiteral("window");
    case ScreenshotTypes::area:
        break;
    }
    return QStringLiteral("area");
}
