#include "soft_shadow.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// One pass of a Gaussian along rows (or columns) of the alpha channel.
void blurAlpha(std::vector<float>& values, int width, int height, double sigma, bool alongRows)
{
    const int reach = int(std::ceil(3 * sigma));
    std::vector<float> kernel(size_t(2 * reach + 1));
    float sum = 0;
    for (int i = -reach; i <= reach; ++i)
        sum += kernel[size_t(i + reach)] = float(std::exp(-0.5 * i * i / (sigma * sigma)));
    for (float& k : kernel)
        k /= sum;

    const int lines = alongRows ? height : width;
    const int length = alongRows ? width : height;
    std::vector<float> line(static_cast<size_t>(length));
    for (int l = 0; l < lines; ++l) {
        auto at = [&](int i) -> float& {
            return alongRows ? values[size_t(l) * width + i] : values[size_t(i) * width + l];
        };
        for (int i = 0; i < length; ++i)
            line[size_t(i)] = at(i);
        for (int i = 0; i < length; ++i) {
            float total = 0;
            for (int k = -reach; k <= reach; ++k) {
                const int j = i + k;
                if (j >= 0 && j < length)
                    total += kernel[size_t(k + reach)] * line[size_t(j)];
            }
            at(i) = total;
        }
    }
}

// The shape of `shapePixels` with corners of `radius` pixels, blurred by
// `sigma` pixels, in `color`, with `margin` pixels of room on every side.
QImage blurredShape(QSize shapePixels, double radius, int margin, double sigma, QRgb color)
{
    const int width = shapePixels.width() + 2 * margin;
    const int height = shapePixels.height() + 2 * margin;
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(QPointF(margin, margin), QSizeF(shapePixels)), radius, radius);
        painter.fillPath(path, Qt::black);
    }
    std::vector<float> alpha(size_t(width) * height);
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < width; ++x)
            alpha[size_t(y) * width + x] = float(qAlpha(row[x])) / 255.f;
    }
    if (sigma > 0) {
        blurAlpha(alpha, width, height, sigma, true);
        blurAlpha(alpha, width, height, sigma, false);
    }
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int a = int(std::lround(alpha[size_t(y) * width + x] * qAlpha(color)));
            row[x] = qPremultiply(qRgba(qRed(color), qGreen(color), qBlue(color), a));
        }
    }
    return image;
}

} // namespace

SoftShadow::SoftShadow(double blurRadius, const QColor& color, QPointF offset)
    : m_blurRadius(std::max(blurRadius, 0.0)), m_color(color), m_offset(offset)
{
}

double SoftShadow::extent() const
{
    return std::ceil(1.5 * m_blurRadius) + std::max(std::abs(m_offset.x()), std::abs(m_offset.y()));
}

int SoftShadow::marginPixels(qreal ratio) const
{
    return int(std::ceil(3 * m_blurRadius / 2 * ratio));
}

void SoftShadow::makeTile(double cornerRadius, qreal ratio)
{
    const int margin = marginPixels(ratio);
    // The corner piece holds the blur margin, the rounded corner and as much
    // again of the straight part as the blur reaches inwards; the one pixel
    // in the middle of the tile is what gets stretched.
    m_tileCorner = margin + int(std::ceil(cornerRadius * ratio)) + margin;
    const int side = 2 * (m_tileCorner - margin) + 1;
    m_tile = blurredShape(QSize(side, side), cornerRadius * ratio, margin, m_blurRadius / 2 * ratio,
                          m_color.rgba());
    m_tile.setDevicePixelRatio(ratio);
    m_tileRadius = cornerRadius;
}

void SoftShadow::paint(QPainter& painter, const QRectF& shape, double cornerRadius)
{
    if (shape.isEmpty() || m_color.alpha() == 0)
        return;
    cornerRadius = std::clamp(cornerRadius, 0.0, std::min(shape.width(), shape.height()) / 2);
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    if (m_tile.isNull() || m_tileRadius != cornerRadius || m_tile.devicePixelRatio() != ratio)
        makeTile(cornerRadius, ratio);

    // The tile's pieces in pixels and where each lands, in points.
    const int c = m_tileCorner, size = m_tile.width();
    const double corner = c / ratio, margin = marginPixels(ratio) / ratio;
    const QRectF area = shape.translated(m_offset).adjusted(-margin, -margin, margin, margin);
    const double middleW = area.width() - 2 * corner, middleH = area.height() - 2 * corner;
    if (middleW < 0 || middleH < 0) {
        // Smaller than the tile's corners: blur this one shape directly.
        // Rare, and cheap because the shape is small.
        QImage whole = blurredShape((shape.size() * ratio).toSize(), cornerRadius * ratio,
                                    marginPixels(ratio), m_blurRadius / 2 * ratio, m_color.rgba());
        whole.setDevicePixelRatio(ratio);
        painter.drawImage(area.topLeft(), whole);
        return;
    }
    const double xs[] = {area.left(), area.left() + corner, area.right() - corner};
    const double ys[] = {area.top(), area.top() + corner, area.bottom() - corner};
    const double ws[] = {corner, middleW, corner};
    const double hs[] = {corner, middleH, corner};
    const int sx[] = {0, c, c + 1}, sw[] = {c, 1, size - c - 1};
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col)
            painter.drawImage(QRectF(xs[col], ys[row], ws[col], hs[row]), m_tile,
                              QRectF(sx[col], sx[row], sw[col], sw[row]));
}
