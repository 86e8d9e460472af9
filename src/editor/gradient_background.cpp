#include "gradient_background.h"

#include "background_painting.h"

#include <QPainter>

GradientBackground::GradientBackground(QWidget* parent) : QWidget(parent) {}

void GradientBackground::setStyle(const GradientStyle& style)
{
    m_style = style;
    update();
}

void GradientBackground::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    paintBackground(painter, rect(), m_style, BackgroundSurface::screen);
}
