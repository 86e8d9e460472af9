#pragma once

#include "press_scale_button.h"

// A quieter button beside a prominent one: the palette's text on a faint
// wash of it, just as wide as its label.
class SecondaryButtonStyle : public PressScaleButton {
    Q_OBJECT

public:
    explicit SecondaryButtonStyle(const QString& text, QWidget* parent = nullptr);

    QColor fillColor() const override;
    QColor textColor() const override;
};
