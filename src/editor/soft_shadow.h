#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QRectF>

class QPainter;

// A soft drop shadow under a (rounded) rectangle, as the editor draws under
// its previews and its notice: the shape's silhouette in `color`, blurred by
// a Gaussian of standard deviation blurRadius / 2 and moved by `offset`.
//
// Blurring a large area on every paint is far too slow, so only a small tile
// is blurred: one rounded corner with the blur around it. It is drawn as a
// nine-patch whose edges and middle are stretched, which is exact for a
// rectangle of any size because along a straight edge the blur does not vary.
// The tile is made again only when the corner radius or the device pixel
// ratio changes.
class SoftShadow {
public:
    SoftShadow(double blurRadius, const QColor& color, QPointF offset = {});

    // Paints the shadow of `shape` (with corners of `cornerRadius`) with the
    // painter's current transform. The shape itself is not painted.
    void paint(QPainter& painter, const QRectF& shape, double cornerRadius = 0);

    // How far the shadow reaches beyond the shape, offset included.
    double extent() const;

private:
    void makeTile(double cornerRadius, qreal ratio);
    int marginPixels(qreal ratio) const;

    double m_blurRadius;
    QColor m_color;
    QPointF m_offset;
    QImage m_tile;
    double m_tileRadius = -1;
    int m_tileCorner = 0; // pixels of the tile's corner piece, blur margin included
};
