#include "background_painting.h"

#include <QLinearGradient>
#include <QPainter>

namespace {

struct Direction {
    QPointF start; // in the unit square, y downward
    QPointF end;
};

Direction directionOf(GradientStyle::Kind kind)
{
    using Kind = GradientStyle::Kind;
    switch (kind) {
    case Kind::sunset:
        return {{0.5, 0}, {0.5, 1}};
    case Kind::greenYellow:
        return {{0, 0.5}, {1, 0.5}};
    case Kind::dreamyPink:
        return {{0, 1}, {1, 0}};
    default:
        return {{0, 0}, {1, 1}};
    }
}

QPointF at(const QRectF& rect, QPointF unit)
{
    return {rect.left() + unit.x() * rect.width(), rect.top() + unit.y() * rect.height()};
}

void paintCovering(QPainter& painter, const QRectF& rect, const QImage& picture)
{
    const QSizeF size = picture.deviceIndependentSize();
    if (size.isEmpty() || rect.isEmpty())
        return;
    const qreal scale = std::max(rect.width() / size.width(), rect.height() / size.height());
    QRectF target(QPointF(), size * scale);
    target.moveCenter(rect.center());
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, picture);
    painter.restore();
}

} // namespace

void paintGradientBackground(QPainter& painter, const QRectF& rect, const GradientStyle& style)
{
    if (style.kind() == GradientStyle::Kind::customImage) {
        if (style.image())
            paintCovering(painter, rect, *style.image());
        return;
    }
    const QList<QColor> colors = style.colors();
    if (colors.size() == 1) {
        painter.fillRect(rect, colors.first());
        return;
    }
    if (colors.isEmpty())
        return;
    const Direction direction = directionOf(style.kind());
    QLinearGradient gradient(at(rect, direction.start), at(rect, direction.end));
    for (qsizetype i = 0; i < colors.size(); ++i)
        gradient.setColorAt(double(i) / double(colors.size() - 1), colors[i]);
    painter.fillRect(rect, gradient);
}
