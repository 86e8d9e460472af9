#pragma once

#include "gradient_style.h"

#include <QImage>

// Places a picture on its background: the canvas is the picture grown by
// `padding` on every side, the background covers all of it, and the picture
// sits in the middle with its corners rounded to `cornerRadius`.
//
// Units: padding and cornerRadius are in points. The canvas is drawn at the
// picture's own device pixel ratio s, so a w x h-pixel picture gives
// (w + 2·round(padding·s)) x (h + 2·round(padding·s)) pixels and the picture's
// pixels are copied one to one, never resampled. The padding is rounded to
// whole pixels for exactly that reason; the radius is not (its edge is
// antialiased anyway) but is limited to half the picture's width and height,
// so a huge radius gives semicircular ends.
//
// The gradient runs from the top-left corner to the bottom-right one: the
// colour at canvas pixel (x, y) is taken at u = (x + y) / (W + H) along the
// style's colours, evenly spaced. A customImage is stretched over the whole
// canvas. Nothing else is drawn: no shadow, no border.
//
// A canvas above kMaxCanvasPixels (2 GiB of pixels) is not attempted: the
// result is then a null image.
//
// Pure: no display, no shared state, safe on any thread. The result is
// ARGB32_Premultiplied with the picture's device pixel ratio.
QImage composeWithBackground(const QImage& image, const GradientStyle& style, double padding,
                             double cornerRadius);

inline constexpr qint64 kMaxCanvasPixels = qint64(1) << 29;

// The same, drawing into `canvas`, whose pixels are reused when it already
// has the right size and format and shares them with nobody. The editor
// composes on every slider step; reusing its canvas saves a fresh allocation
// of tens of megabytes each time, which costs more than the drawing.
void composeWithBackground(const QImage& image, const GradientStyle& style, double padding,
                           double cornerRadius, QImage& canvas);
