#include "busy_indicator.h"

#include <QPainter>
#include <cmath>

namespace {
constexpr int kSpokes = 12;
}

BusyIndicator::BusyIndicator(double diameter, const QColor& color, QWidget* parent)
    : QWidget(parent), m_diameter(diameter), m_color(color)
{
    setFixedSize(sizeHint());
    m_timer.setInterval(1000 / kSpokes);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % kSpokes;
        update();
    });
}

QSize BusyIndicator::sizeHint() const
{
    const int side = int(std::ceil(m_diameter));
    return {side, side};
}

void BusyIndicator::showEvent(QShowEvent*)
{
    m_timer.start();
}

void BusyIndicator::hideEvent(QHideEvent*)
{
    m_timer.stop();
}

void BusyIndicator::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(QRectF(rect()).center());
    const double outer = m_diameter / 2, inner = outer * 0.45;
    QPen pen(m_color, std::max(1.0, m_diameter * 0.09), Qt::SolidLine, Qt::RoundCap);
    for (int i = 0; i < kSpokes; ++i) {
        // The newest spoke is opaque, the ones behind it fade out.
        const int age = (m_step - i + kSpokes) % kSpokes;
        QColor color = m_color;
        color.setAlphaF(m_color.alphaF() * float(1.0 - 0.75 * age / (kSpokes - 1)));
        pen.setColor(color);
        painter.setPen(pen);
        const double angle = 2 * M_PI * i / kSpokes - M_PI / 2;
        const QPointF direction(std::cos(angle), std::sin(angle));
        painter.drawLine(direction * inner, direction * (outer - pen.widthF() / 2));
    }
}
