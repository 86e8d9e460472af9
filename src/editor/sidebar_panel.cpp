#include "sidebar_panel.h"

#include "sidebar_look.h"

#include <QPainter>
#include <QPainterPath>

SidebarPanel::SidebarPanel(QWidget* parent) : QWidget(parent) {}

void SidebarPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor tint = sidebar_look::secondaryColor(palette());
    tint.setAlphaF(tint.alphaF() * 0.1f);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 10, 10);
    painter.fillPath(shape, tint);
}
