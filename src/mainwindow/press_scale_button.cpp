#include "press_scale_button.h"

#include <QPainter>
#include <QPainterPath>

namespace {

// An ease-in-out of the desktop's usual length for a small state change.
constexpr int kPressAnimationMs = 200;

} // namespace

PressScaleButton::PressScaleButton(const QString& text, int horizontalPadding, int verticalPadding,
                                   qreal cornerRadius, QWidget* parent)
    : QPushButton(text, parent), m_horizontalPadding(horizontalPadding),
      m_verticalPadding(verticalPadding), m_radius(cornerRadius)
{
    setAttribute(Qt::WA_Hover, false);
    setFocusPolicy(Qt::StrongFocus);
    m_animation.setDuration(kPressAnimationMs);
    m_animation.setEasingCurve(QEasingCurve::InOutQuad);
    connect(&m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_scale = value.toReal();
        Q_EMIT pressScaleChanged();
        update();
    });
    // Held by mouse or by the space bar alike.
    connect(this, &QPushButton::pressed, this, [this] { animateTo(kPressedScale); });
    connect(this, &QPushButton::released, this, [this] { animateTo(1.0); });
}

void PressScaleButton::animateTo(qreal scale)
{
    m_animation.stop();
    m_animation.setStartValue(m_scale);
    m_animation.setEndValue(scale);
    m_animation.start();
}

QSize PressScaleButton::sizeHint() const
{
    const QSize text = fontMetrics().size(Qt::TextShowMnemonic, this->text());
    return {text.width() + 2 * m_horizontalPadding, text.height() + 2 * m_verticalPadding};
}

QSize PressScaleButton::minimumSizeHint() const
{
    return sizeHint();
}

void PressScaleButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    // The whole clipped shape shrinks, padding and all.
    painter.translate(bounds.center());
    painter.scale(m_scale, m_scale);
    painter.translate(-bounds.center());
    if (!isEnabled())
        painter.setOpacity(0.5);

    QPainterPath shape;
    shape.addRoundedRect(bounds, m_radius, m_radius);
    painter.fillPath(shape, fillColor());
    if (hasFocus()) {
        QColor ring = palette().color(QPalette::Highlight);
        ring.setAlphaF(0.6f);
        painter.setPen(QPen(ring, 2.5));
        painter.drawPath(shape);
    }
    painter.setPen(textColor());
    painter.setFont(font());
    painter.drawText(bounds, Qt::AlignCenter | Qt::TextShowMnemonic, text());
}
