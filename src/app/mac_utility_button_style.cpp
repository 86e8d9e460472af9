#include "mac_utility_button_style.h"

#include "named_colors.h"

#include <QEnterEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>
#include <algorithm>

namespace {

constexpr int kIconSize = 18;
constexpr int kIconSpacing = 8;

QColor mixed(const QColor& from, const QColor& to, qreal t)
{
    const auto mix = [t](float a, float b) { return a + (b - a) * float(t); };
    const QColor a = from.toRgb(), b = to.toRgb();
    return QColor::fromRgbF(mix(a.redF(), b.redF()), mix(a.greenF(), b.greenF()),
                            mix(a.blueF(), b.blueF()), mix(a.alphaF(), b.alphaF()));
}

QColor withOpacity(QColor color, qreal opacity)
{
    color.setAlphaF(float(color.alphaF() * opacity));
    return color;
}

QPainterPath roundedShape(const QRectF& rect)
{
    QPainterPath path;
    path.addRoundedRect(rect, MacUtilityButtonStyle::kCornerRadius,
                        MacUtilityButtonStyle::kCornerRadius);
    return path;
}

// The icon as a template: its shape, filled with `color`.
QPixmap tinted(const QIcon& icon, int size, qreal ratio, const QColor& color)
{
    QImage image = icon.pixmap(QSize(size, size), ratio)
                       .toImage()
                       .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), color);
    painter.end();
    return QPixmap::fromImage(image);
}

} // namespace

QFont MacUtilityButtonStyle::font(QFont base)
{
    // Points on the design's scale are the desktop's logical pixels.
    base.setPixelSize(15);
    base.setWeight(QFont::Medium);
    return base;
}

QColor MacUtilityButtonStyle::accent()
{
    return named_colors::blue();
}

QColor MacUtilityButtonStyle::foreground(const QColor& plain, qreal lit)
{
    return mixed(plain, accent(), lit);
}

void MacUtilityButtonStyle::drawBackground(QPainter& painter, const QRectF& rect, qreal lit)
{
    if (lit <= 0)
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // The outline's half width stays inside the shape.
    const QPainterPath shape = roundedShape(rect.adjusted(0.5, 0.5, -0.5, -0.5));
    painter.fillPath(shape, withOpacity(accent(), kFillOpacity * lit));
    painter.setPen(QPen(withOpacity(accent(), kStrokeOpacity * lit), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(shape);
    painter.restore();
}

MacUtilityButton::MacUtilityButton(const QIcon& icon, const QString& text, QWidget* parent)
    : QPushButton(icon, text, parent), m_animation(new QVariantAnimation(this))
{
    setFont(MacUtilityButtonStyle::font(font()));
    setFlat(true);
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::ArrowCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(text);
    m_animation->setDuration(MacUtilityButtonStyle::kHoverMilliseconds);
    m_animation->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_lit = value.toReal();
        update();
    });
}

void MacUtilityButton::setLabelColor(const QColor& color)
{
    m_labelColor = color;
    update();
}

QSize MacUtilityButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    const int width = 2 * MacUtilityButtonStyle::kHorizontalPadding + kIconSize + kIconSpacing +
                      metrics.horizontalAdvance(text());
    const int height =
        2 * MacUtilityButtonStyle::kVerticalPadding + std::max(kIconSize, metrics.height());
    return {width, height};
}

QSize MacUtilityButton::minimumSizeHint() const
{
    return sizeHint();
}

void MacUtilityButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const qreal lit = isEnabled() ? m_lit : 0;
    MacUtilityButtonStyle::drawBackground(painter, rect(), lit);

    const QColor color = labelColor();
    const QRect content = rect().adjusted(
        MacUtilityButtonStyle::kHorizontalPadding, MacUtilityButtonStyle::kVerticalPadding,
        -MacUtilityButtonStyle::kHorizontalPadding, -MacUtilityButtonStyle::kVerticalPadding);
    const QRect iconRect(content.left(), content.center().y() - kIconSize / 2 + 1, kIconSize,
                         kIconSize);
    if (!icon().isNull())
        painter.drawPixmap(iconRect, tinted(icon(), kIconSize, devicePixelRatioF(), color));
    painter.setPen(color);
    painter.setFont(font());
    const QRect textRect = content.adjusted(kIconSize + kIconSpacing, 0, 0, 0);
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     fontMetrics().elidedText(text(), Qt::ElideRight, textRect.width()));
}

QColor MacUtilityButton::labelColor() const
{
    if (!isEnabled())
        return palette().color(QPalette::Disabled, QPalette::WindowText);
    // A colour set from outside wins over the style's: "Quit" stays red.
    if (m_labelColor.isValid())
        return m_labelColor;
    return MacUtilityButtonStyle::foreground(palette().color(QPalette::WindowText), m_lit);
}

void MacUtilityButton::enterEvent(QEnterEvent* event)
{
    QPushButton::enterEvent(event);
    setHovered(true);
}

void MacUtilityButton::leaveEvent(QEvent* event)
{
    QPushButton::leaveEvent(event);
    setHovered(false);
}

void MacUtilityButton::focusInEvent(QFocusEvent* event)
{
    QPushButton::focusInEvent(event);
    const Qt::FocusReason reason = event->reason();
    m_keyboardFocus = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
                      reason == Qt::ShortcutFocusReason;
    animateTowards(m_hovered || m_keyboardFocus);
}

void MacUtilityButton::focusOutEvent(QFocusEvent* event)
{
    QPushButton::focusOutEvent(event);
    m_keyboardFocus = false;
    animateTowards(m_hovered);
}

void MacUtilityButton::changeEvent(QEvent* event)
{
    QPushButton::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::EnabledChange)
        updateGeometry(), update();
}

bool MacUtilityButton::hitButton(const QPoint& pos) const
{
    return roundedShape(rect()).contains(pos);
}

void MacUtilityButton::setHovered(bool hovered)
{
    if (m_hovered == hovered)
        return;
    m_hovered = hovered;
    animateTowards(m_hovered || m_keyboardFocus);
}

void MacUtilityButton::animateTowards(bool lit)
{
    const qreal target = lit ? 1 : 0;
    if (m_animation->state() == QAbstractAnimation::Running &&
        m_animation->endValue().toReal() == target)
        return;
    // A reversal starts from where the look is now, not from the far end.
    m_animation->stop();
    if (m_lit == target)
        return;
    m_animation->setStartValue(m_lit);
    m_animation->setEndValue(target);
    m_animation->start();
}
