#include "background_painting.h"

#include <QLinearGradient>
#include <QPainter>
#include <array>

namespace {

using Kind = GradientStyle::Kind;
using Surface = BackgroundSurface;

enum class Frame {
    diagonalSquare, // side (W + H) / 2 on the top-left corner, y downward
    unitDown,
    unitUp,
};

enum class PictureFit { stretch, cover };

struct SurfaceRule {
    Frame frame;
    PictureFit fit;
    std::array<UnitGradient, 9> gradients; // in GradientStyle::Kind order
};

constexpr UnitGradient kDiagonal{{0, 0}, {1, 1}};
constexpr UnitGradient kUpward{{0.5, 0}, {0.5, 1}};
constexpr UnitGradient kRightward{{0, 0.5}, {1, 0.5}};
constexpr UnitGradient kAntiDiagonal{{0, 1}, {1, 0}};

// Columns: customColor, customGradient, customImage (neither colour nor
// picture has a direction), bluePurple, sunset, greenYellow, ocean,
// warmGlow, dreamyPink.
const SurfaceRule kRules[] = {
    {Frame::diagonalSquare,
     PictureFit::stretch,
     {kDiagonal, kDiagonal, kDiagonal, kDiagonal, kDiagonal, kDiagonal, kDiagonal, kDiagonal,
      kDiagonal}},
    {Frame::unitDown,
     PictureFit::cover,
     {kDiagonal, kDiagonal, kDiagonal, kDiagonal, kUpward, kRightward, kDiagonal, kDiagonal,
      kAntiDiagonal}},
    {Frame::unitUp,
     PictureFit::cover,
     {kDiagonal, kDiagonal, kDiagonal, kDiagonal, kUpward, kRightward, kDiagonal, kDiagonal,
      kAntiDiagonal}},
};
static_assert(std::size(kRules) == size_t(Surface::movie) + 1);
static_assert(size_t(Kind::dreamyPink) + 1 == std::tuple_size_v<decltype(SurfaceRule::gradients)>);

const SurfaceRule& ruleOf(Surface surface)
{
    return kRules[size_t(surface)];
}

QPointF inArea(const QRectF& area, Frame frame, QPointF unit)
{
    switch (frame) {
    case Frame::diagonalSquare: {
        const qreal side = (area.width() + area.height()) / 2;
        return {area.left() + unit.x() * side, area.top() + unit.y() * side};
    }
    case Frame::unitDown:
        return {area.left() + unit.x() * area.width(), area.top() + unit.y() * area.height()};
    case Frame::unitUp:
        return {area.left() + unit.x() * area.width(), area.bottom() - unit.y() * area.height()};
    }
    return {};
}

QRectF pictureTarget(const QImage& picture, PictureFit fit, const QRectF& area)
{
    if (fit == PictureFit::stretch)
        return area;
    const QSizeF size = picture.deviceIndependentSize();
    const qreal scale = std::max(area.width() / size.width(), area.height() / size.height());
    QRectF target(QPointF(), size * scale);
    target.moveCenter(area.center());
    return target;
}

} // namespace

UnitGradient unitGradient(GradientStyle::Kind kind, BackgroundSurface surface)
{
    return ruleOf(surface).gradients[size_t(kind)];
}

QLineF gradientLine(GradientStyle::Kind kind, BackgroundSurface surface, const QRectF& area)
{
    const SurfaceRule& rule = ruleOf(surface);
    const UnitGradient unit = rule.gradients[size_t(kind)];
    return {inArea(area, rule.frame, unit.start), inArea(area, rule.frame, unit.end)};
}

QGradientStops evenStops(const QList<QColor>& colors)
{
    QGradientStops stops;
    stops.reserve(colors.size());
    for (qsizetype i = 0; i < colors.size(); ++i)
        stops.append({colors.size() > 1 ? double(i) / double(colors.size() - 1) : 0.0, colors[i]});
    return stops;
}

void paintBackground(QPainter& painter, const QRectF& area, const GradientStyle& style,
                     BackgroundSurface surface)
{
    if (style.kind() == Kind::customImage) {
        const QImage* picture = style.image().get();
        if (!picture || picture->isNull() || area.isEmpty())
            return;
        painter.save();
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(pictureTarget(*picture, ruleOf(surface).fit, area), *picture,
                          QRectF(picture->rect()));
        painter.restore();
        return;
    }
    const QList<QColor> colors = style.colors();
    if (colors.size() == 1) {
        painter.fillRect(area, colors.first());
        return;
    }
    if (colors.isEmpty())
        return;
    const QLineF line = gradientLine(style.kind(), surface, area);
    QLinearGradient gradient(line.p1(), line.p2());
    gradient.setStops(evenStops(colors));
    painter.fillRect(area, gradient);
}
