#pragma once

#include "colour_tags.h"
#include "gradient_style.h"
#include "libav_holders.h"

#include <QImage>
#include <QSize>
#include <optional>

// The still picture every movie frame is placed on, painted once per export.
namespace movie_background {

// `style` filling a frame of `size` pixels, laid out as BackgroundSurface::movie
// says: gradients run across the unit square, (0,0) at the bottom-left corner
// and (1,1) at the top-right, so their direction does not depend on the
// frame's aspect. Colours are shown opaque. Black when there is nothing to
// paint (no colour, or a customImage without its picture), and null when
// memory ran out.
QImage paint(const GradientStyle& style, QSize size);

// `picture`, sRGB, as one yuv420p frame in the colours every movie is written
// in (SDR BT.709, limited range), so that it shows as painted whatever the
// source was; null when memory ran out.
libav::FramePtr toFrame(const QImage& picture);

} // namespace movie_background
