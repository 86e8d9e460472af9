#pragma once

#include <QColor>

// The desktop's standard named colours, in sRGB. One set for light and dark
// appearance alike, so an exported picture never depends on the theme.
namespace named_colors {

inline QColor red()
{
    return QColor(255, 59, 48);
}
inline QColor orange()
{
    return QColor(255, 149, 0);
}
inline QColor yellow()
{
    return QColor(255, 204, 0);
}
inline QColor green()
{
    return QColor(40, 205, 65);
}
inline QColor cyan()
{
    return QColor(85, 190, 240);
}
inline QColor blue()
{
    return QColor(0, 122, 255);
}
inline QColor purple()
{
    return QColor(175, 82, 222);
}
inline QColor pink()
{
    return QColor(255, 45, 85);
}
inline QColor gray()
{
    return QColor(142, 142, 147);
}

} // namespace named_colors
