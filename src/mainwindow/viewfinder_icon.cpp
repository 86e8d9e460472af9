#include "viewfinder_icon.h"

#include "named_colors.h"

#include <QPainter>
#include <QPainterPath>

QPixmap viewfinderIcon(int side, qreal devicePixelRatio)
{
    QPixmap pixmap(qRound(side * devicePixelRatio), qRound(side * devicePixelRatio));
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);

    // Proportions of the side, so every size is the same drawing as
    // data/icons/<app id>.svg, whose numbers are these fractions of 100.
    const qreal s = side;
    QLinearGradient face(0, 0, 0, side);
    face.setColorAt(0, named_colors::cyan());
    face.setColorAt(1, named_colors::blue());
    painter.setPen(Qt::NoPen);
    painter.setBrush(face);
    painter.drawRoundedRect(QRectF(0, 0, s, s), s * 0.22, s * 0.22);

    QPen pen(Qt::white, s * 0.07, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const qreal in = s * 0.22, arm = s * 0.16, out = s - in;
    QPainterPath corners;
    for (const auto& [x, y, dx, dy] : {std::tuple{in, in, 1, 1}, std::tuple{out, in, -1, 1},
                                       std::tuple{in, out, 1, -1}, std::tuple{out, out, -1, -1}}) {
        corners.moveTo(x, y + dy * arm);
        corners.lineTo(x, y);
        corners.lineTo(x + dx * arm, y);
    }
    painter.drawPath(corners);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawEllipse(QPointF(s / 2, s / 2), s * 0.1, s * 0.1);
    return pixmap;
}
