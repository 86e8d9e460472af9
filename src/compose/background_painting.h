#pragma once

#include "gradient_style.h"

#include <QBrush>
#include <QGradientStops>
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
// area's corners at (0,0) and (1,1) on screen (y downward) and in a movie
// (y upward), or for a picture the square on the area's top-left corner
// whose diagonal reaches, at 45°, the line through the bottom-right corner.
struct UnitGradient {
    QPointF start;
    QPointF end;
};
UnitGradient unitGradient(GradientStyle::Kind kind, BackgroundSurface surface);

// A brush of `style`'s colours laid out over `area` as `surface` lays out a
// gradient. On a picture and on screen the colour changes along the area's
// own geometry between the ends; in a movie along the unit square, stretched
// with the area.
QBrush gradientBrush(const GradientStyle& style, BackgroundSurface surface, const QRectF& area);

// `colors` at evenly spaced stops, first at 0, last at 1.
QGradientStops evenStops(const QList<QColor>& colors);

// Paints `style` over `area` as `surface` lays it out, with the painter's own
// composition mode. A style with nothing to show (no colour, a customImage
// without its picture) paints nothing, and what a covering picture overflows
// `area` by is painted too: clipping is the caller's business.
//
// The editor's view paints with this; the composed picture and the movie use
// it for picture backgrounds and fill their gradients and colours with faster
// rasterisers of their own, which follow gradientBrush() and unitGradient().
void paintBackground(QPainter& painter, const QRectF& area, const GradientStyle& style,
                     BackgroundSurface surface);
