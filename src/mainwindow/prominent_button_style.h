#pragma once

#include "press_scale_button.h"

// The main window's call to action: white text on the accent blue, as wide
// as its row allows.
class ProminentButtonStyle : public PressScaleButton {
    Q_OBJECT

public:
    explicit ProminentButtonStyle(const QString& text, QWidget* parent = nullptr);

    QColor fillColor() const override;
    QColor textColor() const override;
};
