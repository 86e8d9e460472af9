#pragma once

#include "gradient_style.h"

#include <QGradientStops>
#include <QLineF>
#include <QRectF>

class QPainter;

// Where a background is shown. The three lay a style out differently, on
// purpose, and the rules for all three live in one table:
//
//   picture  the composed PNG. Every gradient runs at 45° from the top-left
//            corner, whatever the aspect: the colour at pixel (x, y) of a
//            W × H canvas is taken at u = (x + y) / (W + H). A customImage
//            is stretched over the whole area.
//   screen   the editor's view. Unit points of the area, y downward:
//            customGradient, bluePurple, ocean and warmGlow run from the
//            top-left corner to the bottom-right one, sunset from top to
//            bottom, greenYellow from left to right, dreamyPink from the
//            bottom-left corner to the top-right one. A customImage keeps its
//            aspect ratio, scaled to cover the area and centred on it.
//   movie    a movie's frames. Unit points of the area, y upward, with the
//            screen's numbers: so sunset runs from bottom to top and the
//            diagonal presets from the bottom-left corner. A customImage
//            covers the area like on screen.
//
// On every surface the colour stops are evenly spaced, and a customColor is
// one flat colour.
enum class BackgroundSurface { picture, screen, movie };

// The start and end of a gradient in the surface's unit coordinates: the
// area's unit square (y downward on screen, upward in a movie), or for a
// picture the square on the area's top-left corner whose diagonal reaches
// the line through the bottom-right corner at 45°.
struct UnitGradient {
    QPointF start;
    QPointF end;
};
UnitGradient unitGradient(GradientStyle::Kind kind, BackgroundSurface surface);

// The same gradient in `area`'s own coordinates, y downward.
QLineF gradientLine(GradientStyle::Kind kind, BackgroundSurface surface, const QRectF& area);

// `colors` at evenly spaced stops, first at 0, last at 1.
QGradientStops evenStops(const QList<QColor>& colors);

// Paints `style` over `area` as `surface` lays it out, with the painter's own
// composition mode. A style with nothing to show (no colour, a customImage
// without its picture) paints nothing, and what a covering picture overflows
// `area` by is painted too: clipping is the caller's business.
//
// The editor's view paints with this; the composed picture and the movie use
// it for picture backgrounds and fill their gradients and colours with faster
// rasterisers of their own, which follow unitGradient() and gradientLine().
void paintBackground(QPainter& painter, const QRectF& area, const GradientStyle& style,
                     BackgroundSurface surface);
