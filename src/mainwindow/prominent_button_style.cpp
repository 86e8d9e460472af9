#include "prominent_button_style.h"

#include "named_colors.h"

ProminentButtonStyle::ProminentButtonStyle(const QString& text, QWidget* parent)
    : PressScaleButton(text, 30, 8, 8, parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QColor ProminentButtonStyle::fillColor() const
{
    QColor blue = named_colors::blue();
    blue.setAlphaF(0.8f);
    return blue;
}

QColor ProminentButtonStyle::textColor() const
{
    return Qt::white;
}
