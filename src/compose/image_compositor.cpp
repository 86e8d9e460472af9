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
    // colours are exactly those of a QLinearGradient over the canvas. On a
    // picture the gradient runs at 45°, so a point of the canvas maps to
    // x + y along the strip; pixel k has its centre at x + y = k + 1 (centres
    // sit at half pixels), hence the half pixel taken off the gradient's ends.
    static std::vector<quint32> gradientStrip(const GradientStyle& style, int width, int height)
    {
        const QLineF line = gradientLine(style.kind(), BackgroundSurface::picture,
                                         QRectF(0, 0, width, height));
        Q_ASSERT(line.dx() == line.dy());
        const int length = width + height - 1;
        QImage strip(length, 1, QImage::Format_ARGB32_Premultiplied);
        strip.fill(Qt::transparent);
        QLinearGradient gradient(QPointF(line.x1() + line.y1() - 0.5, 0),
                                 QPointF(line.x2() + line.y2() - 0.5, 0));
        gradient.setStops(evenStops(style.colors()));
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
    // Beyond this no canvas could be allocated anyway; the limit keeps the
    // arithmetic below from overflowing.
    constexpr double kMaxInset = 1 << 20;
    const int inset =
        static_cast<int>(std::lround(std::min(finiteOrZero(padding) * ratio, kMaxInset)));
    const int w = source.width();
    const int h = source.height();
    const QSize size(w + 2 * inset, h + 2 * inset);

    if (qint64(size.width()) * size.height() > kMaxCanvasPixels) {
        canvas = QImage();
        return;
    }
    if (canvas.size() != size || canvas.format() != QImage::Format_ARGB32_Premultiplied ||
        !canvas.isDetached())
        canvas = QImage(size, QImage::Format_ARGB32_Premultiplied);
    canvas.setDevicePixelRatio(ratio);
    if (canvas.isNull())
        return;

    const BackgroundRows background(style, canvas);
    const CornerCoverage corners(finiteOrZero(cornerRadius) * ratio, w, h);
    const bool sourceIsOpaque = source.format() == QImage::Format_RGB32;
    uchar* const canvasBits = canvas.bits();
    const qsizetype canvasStride = canvas.bytesPerLine();

    auto composeRows = [&](int first, int last) {
        for (int y = first; y < last; ++y) {
            auto* row = reinterpret_cast<quint32*>(canvasBits + y * canvasStride);
            const int sy = y - inset;
            if (sy < 0 || sy >= h) {
                background.fill(row, y, 0, size.width());
                continue;
            }
            const auto* src = reinterpret_cast<const quint32*>(source.constScanLine(sy));
            const int dy = std::min(sy, h - 1 - sy);
            quint32* dst = row + inset;
            if (dy >= corners.extent() && (sourceIsOpaque || rowIsOpaque(src, w))) {
                // The common case: the picture's row hides the background.
                background.fill(row, y, 0, inset);
                std::memcpy(dst, src, sizeof(quint32) * w);
                background.fill(row, y, inset + w, size.width());
                continue;
            }
            background.fill(row, y, 0, size.width());
            for (int x = 0; x < w; ++x) {
                const int dx = std::min(x, w - 1 - x);
                const quint32 cover =
                    dy < corners.extent() && dx < corners.extent() ? corners.alpha(dx, dy) : 255;
                quint32 pixel = src[x];
                if (cover == 0 || pixel == 0)
                    continue;
                if (cover != 255)
                    pixel = scaleArgb(pixel, cover);
                dst[x] = (pixel >> 24) == 0xff ? pixel : sourceOver(pixel, dst[x]);
            }
        }
    };
    parallelRows(size.height(), size.width(), composeRows);
}
