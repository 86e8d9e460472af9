#include "gradient_picker_button.h"

#include "background_painting.h"
#include "sidebar_look.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

constexpr qreal kSide = 60;
constexpr qreal kRadius = 8;
constexpr qreal kBorderWidth = 2;
// Room around the swatch for the focus ring: it sits 3 px outside the
// swatch, clear of the selection border's outer half.
constexpr qreal kRingGap = 3;
constexpr qreal kRingWidth = 2;
constexpr qreal kMargin = kRingGap + kRingWidth;
constexpr int kTitleGap = 3; // 8 px from the swatch to its title

} // namespace

GradientPickerButton::GradientPickerButton(const GradientStyle& style, const QString& title,
                                           QWidget* parent)
    : QAbstractButton(parent), m_style(style)
{
    setText(title);
    setCheckable(true);
    // Like the desktop's own swatches, a click does not take the focus away
    // from where the keyboard left it.
    setFocusPolicy(Qt::TabFocus);
    setFont(sidebar_look::captionFont(font()));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QRectF GradientPickerButton::swatchRect() const
{
    return QRectF((width() - kSide) / 2, kMargin, kSide, kSide);
}

QSize GradientPickerButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    const int width = qMax(int(kSide + 2 * kMargin), metrics.horizontalAdvance(text()) + 4);
    return QSize(width, int(kSide + 2 * kMargin) + kTitleGap + metrics.height());
}

bool GradientPickerButton::hitButton(const QPoint& pos) const
{
    return rect().contains(pos);
}

void GradientPickerButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (isDown())
        painter.setOpacity(0.7);

    const QRectF swatch = swatchRect();
    QPainterPath shape;
    shape.addRoundedRect(swatch, kRadius, kRadius);
    QLinearGradient gradient(swatch.topLeft(), swatch.bottomRight());
    gradient.setStops(evenStops(m_style.colors()));
    if (!gradient.stops().isEmpty())
        painter.fillPath(shape, gradient);

    if (isSelected()) {
        QPen border(Qt::white, kBorderWidth);
        border.setMiterLimit(10);
        painter.strokePath(shape, border);
    }
    if (hasFocus()) {
        const qreal out = kRingGap + kRingWidth / 2;
        QPainterPath ring;
        ring.addRoundedRect(swatch.adjusted(-out, -out, out, out), kRadius + out, kRadius + out);
        painter.strokePath(ring, QPen(palette().color(QPalette::Highlight), kRingWidth));
    }

    const QRect titleArea(0, int(swatch.bottom() + kMargin) + kTitleGap, width(),
                          height() - int(swatch.bottom() + kMargin) - kTitleGap);
    painter.setPen(sidebar_look::secondaryColor(palette()));
    painter.drawText(titleArea, Qt::AlignHCenter | Qt::AlignTop,
                     fontMetrics().elidedText(text(), Qt::ElideRight, width()));
}
