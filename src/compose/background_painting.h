#pragma once

#include "gradient_style.h"

#include <QRectF>

class QPainter;

// Paints `style` as the on-screen background behind the editor's preview,
// filling `rect`. Unlike the composed picture, each preset keeps its own
// direction here (sunset runs top to bottom, greenYellow left to right,
// dreamyPink from the bottom-left corner up to the top-right one), and a
// customImage keeps its aspect ratio, scaled to cover `rect` and centred on
// it. What overflows `rect` is painted too: clipping is the caller's business.
void paintGradientBackground(QPainter& painter, const QRectF& rect, const GradientStyle& style);
