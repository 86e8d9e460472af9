#include "point_slider.h"

#include "sidebar_look.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QApplication>
#include <QEvent>
#include <QScopedValueRollback>
#include <algorithm>
#include <cmath>

namespace {

// Slider positions per point: fine enough that a drag reads as continuous.
constexpr int kSteps = 100;

int stepsOf(double points)
{
    return int(std::lround(points * kSteps));
}

// QSlider's own accessible interface reports the raw positions; this one
// speaks in points.
class PointSliderAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit PointSliderAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::Slider)
    {
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Value)
            return PointSlider::wholePoints(slider()->points());
        return QAccessibleWidget::text(kind);
    }

    QVariant currentValue() const override { return slider()->points(); }
    // A change made through an assistive technology is the user's own edit.
    void setCurrentValue(const QVariant& value) override
    {
        slider()->setValue(stepsOf(value.toDouble()));
    }
    QVariant maximumValue() const override { return slider()->maximumPoints(); }
    QVariant minimumValue() const override { return 0.0; }
    QVariant minimumStepSize() const override { return 1.0; }

private:
    PointSlider* slider() const { return static_cast<PointSlider*>(widget()); }
};

QAccessibleInterface* pointSliderAccessible(const QString& className, QObject* object)
{
    if (className == QLatin1String("PointSlider") && object && object->isWidgetType())
        return new PointSliderAccessible(static_cast<QWidget*>(object));
    return nullptr;
}

} // namespace

PointSlider::PointSlider(double maximum, QWidget* parent) : QSlider(Qt::Horizontal, parent)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(pointSliderAccessible);
        return true;
    }();
    Q_UNUSED(factoryInstalled);

    setRange(0, stepsOf(maximum));
    setSingleStep(kSteps);
    setPageStep(10 * kSteps);
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QSlider::valueChanged, this, [this](int) {
        if (!m_setting)
            Q_EMIT pointsEdited(points());
    });
    tint();
}

double PointSlider::points() const
{
    return double(value()) / kSteps;
}

double PointSlider::maximumPoints() const
{
    return double(maximum()) / kSteps;
}

void PointSlider::setPoints(double points)
{
    if (!std::isfinite(points))
        return;
    m_setting = true;
    setValue(stepsOf(std::clamp(points, 0.0, maximumPoints())));
    m_setting = false;
}

QString PointSlider::wholePoints(double points)
{
    return QString::asprintf("%lld", static_cast<long long>(points));
}

// Explicit roles survive a theme change, so the accent stays purple.
void PointSlider::changeEvent(QEvent* event)
{
    QSlider::changeEvent(event);
    const bool inherited =
        event->type() == QEvent::PaletteChange || event->type() == QEvent::ParentChange;
    if (inherited && !m_tinting)
        tint();
}

void PointSlider::tint()
{
    // From what the slider inherits, so a change of theme comes through.
    QScopedValueRollback tinting(m_tinting, true);
    QPalette tinted = parentWidget() ? parentWidget()->palette() : QApplication::palette(this);
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        tinted.setColor(group, QPalette::Highlight, sidebar_look::accentPurple());
        // A dark theme's knob is nearly the panel's grey.
        if (sidebar_look::isDark(tinted))
            tinted.setColor(group, QPalette::Button, sidebar_look::raisedFace(tinted));
    }
    setPalette(tinted);
}
