#include "preview_renderer.h"

#include "image_compositor.h"

#include <algorithm>
#include <cmath>

namespace {

// A copy made for a larger preview serves a smaller one until it holds this
// many times the pixels needed along each side: a window being resized does
// not remake it on every step, and painting it scaled down by up to this
// much still looks smooth.
constexpr double kSlack = 1.3;

} // namespace

QSize composedPixelSize(const QImage& picture, double padding)
{
    const double ratio = picture.devicePixelRatio() > 0 ? picture.devicePixelRatio() : 1.0;
    const int inset =
        std::isfinite(padding) ? int(std::lround(std::clamp(padding, 0.0, 1e5) * ratio)) : 0;
    return {picture.width() + 2 * inset, picture.height() + 2 * inset};
}

bool PreviewRenderer::needsNewCopy(const QImage& screenshot, double reduction) const
{
    if (screenshot.cacheKey() != m_screenshot.cacheKey())
        return true;
    if (reduction >= 1)
        return !m_reduced.isNull();
    if (m_reduced.isNull())
        return true;
    return reduction > m_reduction || reduction * kSlack < m_reduction;
}

const QImage& PreviewRenderer::compose(const QImage& screenshot, double pixelsPerPoint,
                                       const GradientStyle& style, double padding,
                                       double cornerRadius)
{
    if (screenshot.isNull()) {
        clear();
        return m_canvas;
    }
    const double ratio = screenshot.devicePixelRatio() > 0 ? screenshot.devicePixelRatio() : 1.0;
    // Screenshot pixels per preview pixel wanted, never more than all of them.
    const double wanted = std::isfinite(pixelsPerPoint) && pixelsPerPoint > 0
                              ? std::min(pixelsPerPoint / ratio, 1.0)
                              : 1.0;
    if (needsNewCopy(screenshot, wanted)) {
        m_screenshot = screenshot;
        m_reduced = QImage();
        m_reduction = 1;
        const QSize size(std::max(1, int(std::lround(screenshot.width() * wanted))),
                         std::max(1, int(std::lround(screenshot.height() * wanted))));
        if (wanted < 1 && size != screenshot.size()) {
            m_reduced = screenshot.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            // Still the screenshot's size in points.
            m_reduced.setDevicePixelRatio(double(size.width()) /
                                          screenshot.deviceIndependentSize().width());
            m_reduction = wanted;
        }
    }
    prepareCanvas(padding);
    composeWithBackground(source(), style, padding, cornerRadius, m_canvas);
    return m_canvas;
}

void PreviewRenderer::prepareCanvas(double padding)
{
    // Should the compositor's size differ, it makes a canvas of its own:
    // slower, never wrong.
    const QSize size = composedPixelSize(source(), padding);
    if (m_canvas.size() == size &&
        m_canvas.constBits() == reinterpret_cast<const uchar*>(m_pixels.data()))
        return;
    const size_t needed = size_t(size.width()) * size_t(size.height());
    if (needed > m_pixels.size()) {
        m_canvas = QImage();
        // Room for the next steps of a slider dragged further.
        m_pixels = std::vector<quint32>(needed + needed / 4);
    }
    m_canvas = QImage(reinterpret_cast<uchar*>(m_pixels.data()), size.width(), size.height(),
                      size.width() * 4, QImage::Format_ARGB32_Premultiplied);
}

void PreviewRenderer::clear()
{
    m_screenshot = QImage();
    m_reduced = QImage();
    m_canvas = QImage();
    m_pixels = {};
    m_reduction = 0;
}
