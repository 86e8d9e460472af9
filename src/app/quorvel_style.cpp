#include "quorvel_style.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QWidget>

namespace {

// A double chevron pointing right (or down), in the palette's button text.
QPixmap extensionArrows(int size, bool vertical, const QColor& colour)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    if (vertical) {
        painter.translate(size, 0);
        painter.rotate(90);
    }
    QPainterPath arrows;
    for (const qreal left : {0.25, 0.5}) {
        arrows.moveTo(size * left, size * 0.25);
        arrows.lineTo(size * (left + 0.2), size * 0.5);
        arrows.lineTo(size * left, size * 0.75);
    }
    painter.setPen(
        QPen(colour, qMax(1.0, size / 10.0), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(arrows);
    return pixmap;
}

} // namespace

QIcon QuorvelStyle::standardIcon(StandardPixmap standardIcon, const QStyleOption* option,
                                 const QWidget* widget) const
{
    if (standardIcon != SP_ToolBarHorizontalExtensionButton &&
        standardIcon != SP_ToolBarVerticalExtensionButton)
        return QProxyStyle::standardIcon(standardIcon, option, widget);
    const QColor colour =
        (widget ? widget->palette() : QApplication::palette()).color(QPalette::ButtonText);
    const bool vertical = standardIcon == SP_ToolBarVerticalExtensionButton;
    QIcon icon;
    for (const int size : {16, 32})
        icon.addPixmap(extensionArrows(size, vertical, colour));
    return icon;
}
