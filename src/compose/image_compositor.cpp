#include "image_compositor.h"

#include "background_painting.h"
#include "corner_coverage.h"
#include "parallel_rows.h"

#include <QLinearGradient>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// 8-bit premultiplied arithmetic, rounded as Qt's raster engine rounds.
inline quint32 scaleArgb(quint32 argb, quint32 factor)
{
    quint32 t = (argb & 0xff00ff) * factor;
    t = ((t + ((t >> 8) & 0xff00ff) + 0x800080) >> 8) & 0xff00ff;
    quint32 u = ((argb >> 8) & 0xff00ff) * factor;
    u = (u + ((u >> 8) & 0xff00ff) + 0x800080) & 0xff00ff00;
    return t | u;
}

inline quint32 sourceOver(quint32 src, quint32 dst)
{
    return src + scaleArgb(dst, 255 - (src >> 24));
}

// How the background of one canvas row is produced.
class BackgroundRows {
public:
    BackgroundRows(const GradientStyle& style, QImage& canvas)
    {
        const QList<QColor> colors = style.colors();
        if (style.kind() == GradientStyle::Kind::customImage) {
            drawPicture(style, canvas);
            m_mode = Mode::alreadyDrawn;
        } else if (colors.size() >= 2) {
            m_mode = Mode::gradient;
            m_strip = gradientStrip(style, canvas.width(), canvas.height());
        } else if (colors.size() == 1) {
            m_mode = Mode::solid;
            m_solid = qPremultiply(colors.first().rgba());
        }
    }

    // Writes the background of canvas row y into row[first, last).
    void fill(quint32* row, int y, int first, int last) const
    {
        switch (m_mode) {
        case Mode::alreadyDrawn:
            return;
        case Mode::gradient:
            // u depends on x + y only, so each row is the strip shifted by y.
            std::memcpy(row + first, m_strip.data() + y + first, sizeof(quint32) * (last - first));
            return;
        case Mode::solid:
            std::fill(row + first, row + last, m_solid);
            return;
        case Mode::transparent:
            std::fill(row + first, row + last, 0u);
            return;
        }
    }

private:
    enum class Mode { transparent, solid, gradient, alreadyDrawn };

    // One pixel for every value of x + y, painted by Qt's own gradient so the
    // colours are exactly those of the picture's gradient brush over the
    // canvas. That gradient runs at 45°, so a point of the canvas maps to
    // x + y along the strip; pixel k has its centre at x + y = k + 1 (centres
    // sit at half pixels), hence the half pixel taken off the gradient's ends.
    static std::vector<quint32> gradientStrip(const GradientStyle& style, int width, int height)
    {
        const QBrush brush =
            gradientBrush(style, BackgroundSurface::picture, QRectF(0, 0, width, height));
        const auto* diagonal = static_cast<const QLinearGradient*>(brush.gradient());
        const QPointF start = diagonal->start(), end = diagonal->finalStop();
        Q_ASSERT(brush.transform().isIdentity() && end.x() - start.x() == end.y() - start.y());
        const int length = width + height - 1;
        QImage strip(length, 1, QImage::Format_ARGB32_Premultiplied);
        strip.fill(Qt::transparent);
        QLinearGradient gradient(QPointF(start.x() + start.y() - 0.5, 0),
                                 QPointF(end.x() + end.y() - 0.5, 0));
        gradient.setStops(diagonal->stops());
        {
            QPainter painter(&strip);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.fillRect(strip.rect(), gradient);
        }
        const auto* pixels = reinterpret_cast<const quint32*>(strip.constBits());
        return std::vector<quint32>(pixels, pixels + length);
    }

    static void drawPicture(const GradientStyle& style, QImage& canvas)
    {
        canvas.fill(Qt::transparent);
        QPainter painter(&canvas);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        // The canvas is in points: the picture is stretched over all of it,
        // from its own pixels, never cropped.
        paintBackground(painter, QRectF(QPointF(), canvas.deviceIndependentSize()), style,
                        BackgroundSurface::picture);
    }

    Mode m_mode = Mode::transparent;
    quint32 m_solid = 0;
    std::vector<quint32> m_strip;
};

bool rowIsOpaque(const quint32* row, int count)
{
    quint32 all = 0xffffffffu;
    for (int i = 0; i < count; ++i)
        all &= row[i];
    return (all >> 24) == 0xff;
}

QImage premultipliedSource(const QImage& image)
{
    if (image.format() == QImage::Format_ARGB32_Premultiplied ||
        image.format() == QImage::Format_RGB32)
        return image;
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

double finiteOrZero(double value)
{
    return std::isfinite(value) ? std::max(value, 0.0) : 0.0;
}

// The padding in whole pixels at the picture's ratio. Beyond the limit no
// canvas could be allocated anyway; it keeps the size arithmetic from
// overflowing.
int insetOf(double padding, qreal ratio)
{
    constexpr double kMaxInset = 1 << 20;
    return static_cast<int>(std::lround(std::min(finiteOrZero(padding) * ratio, kMaxInset)));
}

// Makes `canvas` an unshared ARGB32_Premultiplied image of `size`, keeping
// its pixels when it already is one. False when it cannot be had: too large
// to attempt, or memory ran out; the canvas is then null.
bool prepareCanvas(QImage& canvas, QSize size, qreal ratio)
{
    if (qint64(size.width()) * size.height() > kMaxCanvasPixels) {
        canvas = QImage();
        return false;
    }
    if (canvas.size() != size || canvas.format() != QImage::Format_ARGB32_Premultiplied ||
        !canvas.isDetached())
        canvas = QImage(size, QImage::Format_ARGB32_Premultiplied);
    canvas.setDevicePixelRatio(ratio);
    return !canvas.isNull();
}

// Writes whole canvas rows: the background, and over it the picture's row
// with its corners rounded. Rows are independent, so bands of them can be
// written on several threads at once.
class RowComposer {
public:
    RowComposer(const QImage& source, int inset, const BackgroundRows& background,
                const CornerCoverage& corners, QImage& canvas)
        : m_source(source), m_inset(inset), m_background(background), m_corners(corners),
          m_sourceIsOpaque(source.format() == QImage::Format_RGB32), m_bits(canvas.bits()),
          m_stride(canvas.bytesPerLine()), m_width(canvas.width())
    {
    }

    void compose(int first, int last) const
    {
        const int h = m_source.height();
        for (int y = first; y < last; ++y) {
            auto* row = reinterpret_cast<quint32*>(m_bits + y * m_stride);
            const int sy = y - m_inset;
            if (sy < 0 || sy >= h) {
                m_background.fill(row, y, 0, m_width);
                continue;
            }
            const auto* src = reinterpret_cast<const quint32*>(m_source.constScanLine(sy));
            const int dy = std::min(sy, h - 1 - sy);
            if (dy >= m_corners.extent() &&
                (m_sourceIsOpaque || rowIsOpaque(src, m_source.width())))
                copyRow(row, y, src);
            else
                blendRow(row, y, src, dy);
        }
    }

private:
    // The common case: the picture's row hides the background.
    void copyRow(quint32* row, int y, const quint32* src) const
    {
        const int w = m_source.width();
        m_background.fill(row, y, 0, m_inset);
        std::memcpy(row + m_inset, src, sizeof(quint32) * w);
        m_background.fill(row, y, m_inset + w, m_width);
    }

    // A row with rounded corners or translucent pixels, `dy` rows from the
    // picture's nearer horizontal edge.
    void blendRow(quint32* row, int y, const quint32* src, int dy) const
    {
        const int w = m_source.width();
        const int extent = m_corners.extent();
        m_background.fill(row, y, 0, m_width);
        quint32* dst = row + m_inset;
        for (int x = 0; x < w; ++x) {
            const int dx = std::min(x, w - 1 - x);
            const quint32 cover = dy < extent && dx < extent ? m_corners.alpha(dx, dy) : 255;
            quint32 pixel = src[x];
            if (cover == 0 || pixel == 0)
                continue;
            if (cover != 255)
                pixel = scaleArgb(pixel, cover);
            dst[x] = (pixel >> 24) == 0xff ? pixel : sourceOver(pixel, dst[x]);
        }
    }

    const QImage& m_source;
    int m_inset;
    const BackgroundRows& m_background;
    const CornerCoverage& m_corners;
    bool m_sourceIsOpaque;
    uchar* m_bits;
    qsizetype m_stride;
    int m_width;
};

} // namespace

QImage composeWithBackground(const QImage& image, const GradientStyle& style, double padding,
                             double cornerRadius)
{
    QImage canvas;
    composeWithBackground(image, style, padding, cornerRadius, canvas);
    return canvas;
}

void composeWithBackground(const QImage& image, const GradientStyle& style, double padding,
                           double cornerRadius, QImage& canvas)
{
    const QImage source = premultipliedSource(image);
    const qreal ratio = source.devicePixelRatio() > 0 ? source.devicePixelRatio() : 1.0;
    const int inset = insetOf(padding, ratio);
    const QSize size(source.width() + 2 * inset, source.height() + 2 * inset);
    if (!prepareCanvas(canvas, size, ratio))
        return;

    const BackgroundRows background(style, canvas);
    const CornerCoverage corners(finiteOrZero(cornerRadius) * ratio, source.width(),
                                 source.height());
    const RowComposer rows(source, inset, background, corners, canvas);
    parallelRows(size.height(), size.width(),
                 [&rows](int first, int last) { rows.compose(first, last); });
}
