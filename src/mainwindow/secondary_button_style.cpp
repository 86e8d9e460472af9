#include "secondary_button_style.h"

SecondaryButtonStyle::SecondaryButtonStyle(const QString& text, QWidget* parent)
    : PressScaleButton(text, 20, 6, 6, parent)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QColor SecondaryButtonStyle::fillColor() const
{
    // The secondary colour (text at half opacity) at a fifth of that again.
    QColor wash = palette().color(QPalette::WindowText);
    wash.setAlphaF(wash.alphaF() * 0.5f * 0.2f);
    return wash;
}

QColor SecondaryButtonStyle::textColor() const
{
    return palette().color(QPalette::WindowText);
}
