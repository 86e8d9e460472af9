#include "background_painting.h"

#include <QLinearGradient>
#include <QPainter>
#include <QTransform>
#include <array>

namespace {

using Kind = GradientStyle::Kind;
using Surface = BackgroundSurface;

// Where a gradient's unit points lie, and in which geometry its colour
// varies between them.
enum class Frame {
    // The square of side (W + H) / 2 on the area's top-left corner, y
    // downward: a 45° gradient whatever the area's aspect.
    diagonalSquare,
    // The area's corners at (0,0) and (1,1), y downward; between the ends the
    // colour changes along the area's own geometry, so on a wide area the
    // lines of equal colour stay square to the gradient.
    areaDown,
    // The unit square stretched over the area, (0,0) at the bottom-left
    // corner: the lines of equal colour stretch with it, so a diagonal
    // gradient meets every corner at the same colour whatever the aspect.
    unitSquareUp,
};

enum class PictureFit { stretch, cover };

struct SurfaceRule {
    Frame frame;
    PictureFit fit;
    std::array<UnitGradient, 9> gradients; // in GradientStyle::Kind order
};

constexpr UnitGradient kDiagonal{{0, 0}, {1, 1}};
constexpr UnitGradient kVertical{{0.5, 0}, {0.5, 1}};
constexpr UnitGradient kHorizontal{{0, 0.5}, {1, 0.5}};
constexpr UnitGradient kAntiDiagonal{{0, 1}, {1, 0}};

// Columns: customColor, customGradient, customImage (neither colour nor
// picture has a direction), bluePurple, sunset, greenYellow, ocean,
// warmGlow, dreamyPink.
const SurfaceRule kRules[] = {
    {Frame::diagonalSquare,
     PictureFit::stretch,
     {kDiagonal, kDiagonal, kDiagonal, kDiagonal, kDiagonal, kDiagonal, kDiagonal, kDiagonal,
      kDiagonal}},
    {Frame::areaDown,
     PictureFit::cover,
     {kDiagonal, kDiagonal, kDiagonal, kDiagonal, kVertical, kHorizontal, kDiagonal, kDiagonal,
      kAntiDiagonal}},
    {Frame::unitSquareUp,
     PictureFit::cover,
     {kDiagonal, kDiagonal, kDiagonal, kDiagonal, kVertical, kHorizontal, kDiagonal, kDiagonal,
      kAntiDiagonal}},
};
static_assert(std::size(kRules) == size_t(Surface::movie) + 1);
static_assert(size_t(Kind::dreamyPink) + 1 == std::tuple_size_v<decltype(SurfaceRule::gradients)>);

const SurfaceRule& ruleOf(Surface surface)
{
    return kRules[size_t(surface)];
}

// Maps the frame's unit coordinates onto `area`.
QTransform unitToArea(Frame frame, const QRectF& area)
{
    switch (frame) {
    case Frame::diagonalSquare: {
        const qreal side = (area.width() + area.height()) / 2;
        return QTransform(side, 0, 0, side, area.left(), area.top());
    }
    case Frame::areaDown:
        return QTransform(area.width(), 0, 0, area.height(), area.left(), area.top());
    case Frame::unitSquareUp:
        return QTransform(area.width(), 0, 0, -area.height(), area.left(), area.bottom());
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

QBrush gradientBrush(const GradientStyle& style, BackgroundSurface surface, const QRectF& area)
{
    const SurfaceRule& rule = ruleOf(surface);
    const UnitGradient unit = rule.gradients[size_t(style.kind())];
    const QTransform toArea = unitToArea(rule.frame, area);
    QBrush brush;
    if (rule.frame == Frame::unitSquareUp) {
        QLinearGradient gradient(unit.start, unit.end);
        gradient.setStops(evenStops(style.colors()));
        brush = QBrush(gradient);
        brush.setTransform(toArea);
    } else {
        // The ends placed in the area, the gradient laid out in its geometry.
        QLinearGradient gradient(toArea.map(unit.start), toArea.map(unit.end));
        gradient.setStops(evenStops(style.colors()));
        brush = QBrush(gradient);
    }
    return brush;
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
    painter.fillRect(area, gradientBrush(style, surface, area));
}
