#include "gradient_picker_button.h"

#include "background_painting.h"
#include "sidebar_look.h"

#include <QAccessible>
#include <QAccessibleWidget>
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

// Qt would announce a checkable button as a check box; a swatch is a
// toggle button, pressed while selected.
class SwatchAccessible : public QAccessibleWidget {
public:
    explicit SwatchAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::Button) {}

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Name && swatch()->accessibleName().isEmpty())
            return swatch()->title();
        return QAccessibleWidget::text(kind);
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.checkable = true;
        state.checked = swatch()->isSelected();
        state.pressed = swatch()->isDown();
        return state;
    }
    QStringList actionNames() const override
    {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override
    {
        if (name == pressAction())
            swatch()->click();
        else
            QAccessibleWidget::doAction(name);
    }

private:
    GradientPickerButton* swatch() const { return static_cast<GradientPickerButton*>(widget()); }
};

QAccessibleInterface* swatchAccessible(const QString& className, QObject* object)
{
    if (className == QLatin1String("GradientPickerButton") && object && object->isWidgetType())
        return new SwatchAccessible(static_cast<QWidget*>(object));
    return nullptr;
}

} // namespace

GradientPickerButton::GradientPickerButton(const GradientStyle& style, const QString& title,
                                           QWidget* parent)
    : QAbstractButton(parent), m_style(style)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(swatchAccessible);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
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
