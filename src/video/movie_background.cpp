#include "movie_background.h"

#include "background_painting.h"

#include <QPainter>
#include <algorithm>
#include <array>
#include <vector>

namespace {

// Colours at evenly spaced stops, blended in sRGB like QLinearGradient does.
std::vector<std::array<uchar, 3>> rampOf(const QList<QColor>& colors, int steps)
{
    std::vector<std::array<uchar, 3>> ramp(static_cast<size_t>(steps));
    const qsizetype segments = colors.size() - 1;
    for (int i = 0; i < steps; ++i) {
        const double at = double(i) / (steps - 1) * double(segments);
        const qsizetype index = std::min<qsizetype>(qsizetype(at), segments - 1);
        const double f = at - double(index);
        const QColor a = colors[index].toRgb();
        const QColor b = colors[index + 1].toRgb();
        auto mix = [f](double x, double y) { return uchar(std::lround((x + (y - x) * f) * 255)); };
        ramp[size_t(i)] = {mix(a.redF(), b.redF()), mix(a.greenF(), b.greenF()),
                           mix(a.blueF(), b.blueF())};
    }
    return ramp;
}

// Per pixel from the unit gradient, y upward, which keeps the direction the
// same whatever the frame's aspect.
void paintGradient(QImage& image, const QList<QColor>& colors, UnitGradient d)
{
    constexpr int steps = 4096;
    const auto ramp = rampOf(colors, steps);
    const double startX = d.start.x(), startY = d.start.y();
    const double dx = d.end.x() - startX, dy = d.end.y() - startY;
    const double lengthSquared = dx * dx + dy * dy;
    const int width = image.width(), height = image.height();
    for (int y = 0; y < height; ++y) {
        uchar* row = image.scanLine(y);
        const double v = 1.0 - (y + 0.5) / height;
        for (int x = 0; x < width; ++x) {
            const double u = (x + 0.5) / width;
            const double t = ((u - startX) * dx + (v - startY) * dy) / lengthSquared;
            const auto& c = ramp[size_t(std::lround(std::clamp(t, 0.0, 1.0) * (steps - 1)))];
            std::copy(c.begin(), c.end(), row + 3 * x);
        }
    }
}

} // namespace

namespace movie_background {

QImage paint(const GradientStyle& style, QSize size)
{
    QImage image(size, QImage::Format_RGB888);
    if (image.isNull())
        return image;
    image.fill(Qt::black);
    if (style.kind() == GradientStyle::Kind::customImage) {
        QPainter painter(&image);
        paintBackground(painter, QRectF(image.rect()), style, BackgroundSurface::movie);
        return image;
    }
    const QList<QColor> colors = style.colors();
    if (colors.size() == 1)
        image.fill(colors.first().rgb());
    else if (colors.size() > 1)
        paintGradient(image, colors, unitGradient(style.kind(), BackgroundSurface::movie));
    return image;
}

libav::FramePtr toFrame(const QImage& picture)
{
    const ColourTags tags;
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    if (rgb.isNull())
        return {};
    libav::FramePtr frame = libav::allocateFrame(AV_PIX_FMT_YUV420P, rgb.width(), rgb.height());
    libav::ScalePtr scale(sws_getContext(
        rgb.width(), rgb.height(), AV_PIX_FMT_RGB24, rgb.width(), rgb.height(), AV_PIX_FMT_YUV420P,
        SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr));
    if (!frame || !scale)
        return {};
    const int* matrix = sws_getCoefficients(tags.space);
    if (sws_setColorspaceDetails(scale.get(), matrix, 1, matrix, 0, 0, 1 << 16, 1 << 16) < 0)
        return {};
    const uint8_t* source[] = {rgb.constBits()};
    const int sourceStride[] = {int(rgb.bytesPerLine())};
    if (sws_scale(scale.get(), source, sourceStride, 0, rgb.height(), frame->data,
                  frame->linesize) < 0)
        return {};
    frame->color_primaries = tags.primaries;
    frame->color_trc = tags.transfer;
    frame->colorspace = tags.space;
    frame->color_range = tags.range;
    return frame;
}

} // namespace movie_background
