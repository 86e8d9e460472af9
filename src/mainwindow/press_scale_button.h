#pragma once

#include <QColor>
#include <QPushButton>
#include <QVariantAnimation>

// A push button drawn as a filled, rounded label that shrinks a little while
// held down, the way the main window's buttons answer a press. Subclasses
// choose the padding, the colours, the radius and whether it stretches; it
// has no hover look.
class PressScaleButton : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(qreal pressScale READ pressScale NOTIFY pressScaleChanged)

public:
    // The scale of a held button; released it is 1.
    static constexpr qreal kPressedScale = 0.95;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // The current scale about the centre, eased between 1 and kPressedScale.
    qreal pressScale() const { return m_scale; }
    int horizontalPadding() const { return m_horizontalPadding; }
    int verticalPadding() const { return m_verticalPadding; }
    qreal cornerRadius() const { return m_radius; }
    virtual QColor fillColor() const = 0;
    virtual QColor textColor() const = 0;

Q_SIGNALS:
    void pressScaleChanged();

protected:
    PressScaleButton(const QString& text, int horizontalPadding, int verticalPadding,
                     qreal cornerRadius, QWidget* parent);
    void paintEvent(QPaintEvent* event) override;

private:
    void animateTo(qreal scale);

    const int m_horizontalPadding;
    const int m_verticalPadding;
    const qreal m_radius;
    qreal m_scale = 1.0;
    QVariantAnimation m_animation;
};
