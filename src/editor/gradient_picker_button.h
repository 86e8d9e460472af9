#pragma once

#include "gradient_style.h"

#include <QAbstractButton>

// One background swatch of the sidebar: a 60 × 60 rounded square showing the
// style's colours from its top-left to its bottom-right corner, whatever
// direction the style takes as a background, with its title underneath. A
// selected swatch wears a white border; keyboard focus shows as a ring in the
// palette's highlight colour just outside it, so the two never look alike.
//
// Clicking (or Space) emits clicked(); selection is the owner's to set, a
// click never changes it by itself. The title is the accessible name and the
// selection its checked state.
class GradientPickerButton : public QAbstractButton {
    Q_OBJECT
    Q_PROPERTY(bool isSelected READ isSelected WRITE setSelected)

public:
    GradientPickerButton(const GradientStyle& style, const QString& title,
                         QWidget* parent = nullptr);

    // Named so, not style(), which QWidget already has.
    const GradientStyle& gradientStyle() const { return m_style; }
    QString title() const { return text(); }
    bool isSelected() const { return isChecked(); }
    void setSelected(bool selected) { setChecked(selected); }

    // Where the swatch itself lies in the button.
    QRectF swatchRect() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void nextCheckState() override {}
    bool hitButton(const QPoint& pos) const override;

private:
    GradientStyle m_style;
};
