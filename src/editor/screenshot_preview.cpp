#include "screenshot_preview.h"

#include "background_painting.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace {

// The composed picture's size in points, exactly as the export has it.
QSizeF composedSize(const QImage& screenshot, double padding)
{
    const double ratio = screenshot.devicePixelRatio() > 0 ? screenshot.devicePixelRatio() : 1.0;
    return QSizeF(composedPixelSize(screenshot, padding)) / ratio;
}

// The largest rectangle of `size`'s aspect ratio centred in `area`.
QRectF fitted(QSizeF size, const QRectF& area)
{
    if (size.isEmpty() || area.isEmpty())
        return {};
    const double scale = std::min(area.width() / size.width(), area.height() / size.height());
    QRectF rect(QPointF(), size * scale);
    rect.moveCenter(area.center());
    return rect;
}

} // namespace

ScreenshotPreview::ScreenshotPreview(QWidget* parent)
    : QWidget(parent), m_shadow(15, QColor::fromRgbF(0, 0, 0, 0.33f))
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMinimumSize(2 * int(kMargin) + 40, 2 * int(kMargin) + 40);
}

void ScreenshotPreview::setScreenshot(const QImage& screenshot)
{
    m_screenshot = screenshot;
    if (screenshot.isNull())
        m_renderer.clear();
    update();
}

void ScreenshotPreview::setStyle(const GradientStyle& style)
{
    m_style = style;
    update();
}

void ScreenshotPreview::setPadding(double points)
{
    m_padding = points;
    update();
}

void ScreenshotPreview::setCornerRadius(double points)
{
    m_cornerRadius = points;
    update();
}

QRectF ScreenshotPreview::pictureRect() const
{
    if (m_screenshot.isNull())
        return {};
    return fitted(composedSize(m_screenshot, m_padding),
                  QRectF(rect()).adjusted(kMargin, kMargin, -kMargin, -kMargin));
}

void ScreenshotPreview::paintEvent(QPaintEvent*)
{
    const QRectF target = pictureRect();
    if (target.isEmpty())
        return;
    // The copy's detail follows the largest the screenshot can appear here
    // (no padding), so dragging the padding slider never remakes it.
    const QRectF largest = fitted(m_screenshot.deviceIndependentSize(),
                                  QRectF(rect()).adjusted(kMargin, kMargin, -kMargin, -kMargin));
    const double pixelsPerPoint =
        largest.width() / m_screenshot.deviceIndependentSize().width() * devicePixelRatioF();
    const QImage& picture =
        m_renderer.compose(m_screenshot, pixelsPerPoint, m_style, m_padding, m_cornerRadius);

    QPainter painter(this);
    if (m_style.kind() != GradientStyle::Kind::customImage) {
        m_shadow.paint(painter, target);
        paintBackground(painter, target, m_style, BackgroundSurface::screen);
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, picture, QRectF(picture.rect()));
}
