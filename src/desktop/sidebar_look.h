#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

// The type and colour roles the editor's controls share, derived from the
// desktop's font and palette so they follow its theme.
namespace sidebar_look {

// Titles of the sidebar's panels.
inline QFont headlineFont(QFont font)
{
    font.setBold(true);
    return font;
}

// Swatch titles and other small print.
inline QFont captionFont(QFont font)
{
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * 0.85);
    else
        font.setPixelSize(qMax(1, qRound(font.pixelSize() * 0.85)));
    return font;
}

// Text that supports the main text: the palette's text at half opacity.
inline QColor secondaryColor(const QPalette& palette)
{
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(color.alphaF() * 0.5f);
    return color;
}

// A dark desktop theme: its window is closer to black than to white.
inline bool isDark(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightnessF() < 0.5;
}

// The face of a control on a dark theme, which gives controls nearly the
// window's own grey: lifted so the control reads as one.
inline QColor raisedFace(const QPalette& palette)
{
    return palette.color(QPalette::Window).lighter(185);
}

// The purple the sliders are tinted with.
inline QColor accentPurple()
{
    return QColor(175, 82, 222);
}

} // namespace sidebar_look
