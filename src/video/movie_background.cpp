#include "movie_background.h"

#include <QPainter>
#include <algorithm>
#include <array>
#include <vector>

namespace {

struct Direction {
    double startX, startY, endX, endY; // unit square, y upward
};

Direction directionOf(GradientStyle::Kind kind)
{
    using Kind = GradientStyle::Kind;
    switch (kind) {
    case Kind::sunset:
        return {0.5, 0, 0.5, 1};
    case Kind::greenYellow:
        return {0, 0.5, 1, 0.5};
    case Kind::dreamyPink:
        return {0, 1, 1, 0};
    default:
        return {0, 0, 1, 1};
    }
}

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

void paintGradient(QImage& image, const QList<QColor>& colors, Direction d)
{
    constexpr int steps = 4096;
    const auto ramp = rampOf(colors, steps);
    const double dx = d.endX - d.startX, dy = d.endY - d.startY;
    const double lengthSquared = dx * dx + dy * dy;
    const int width = image.width(), height = image.height();
    for (int y = 0; y < height; ++y) {
        uchar* row = image.scanLine(y);
        const double v = 1.0 - (y + 0.5) / height;
        for (int x = 0; x < width; ++x) {
            const double u = (x + 0.5) / width;
            const double t = ((u - d.startX) * dx + (v - d.startY) * dy) / lengthSquared;
            const auto& c = ramp[size_t(std::lround(std::clamp(t, 0.0, 1.0) * (steps - 1)))];
            std::copy(c.begin(), c.end(), row + 3 * x);
        }
    }
}

void paintCovering(QImage& image, const QImage& picture)
{
    if (picture.isNull())
        return;
    const double scale = std::max(double(image.width()) / picture.width(),
                                  double(image.height()) / picture.height());
    QRectF target(0, 0, picture.width() * scale, picture.height() * scale);
    target.moveCenter(QRectF(image.rect()).center());
    QPainter painter(&image);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, picture, QRectF(picture.rect()));
}

} // namespace

namespace movie_background {

QImage paint(const GradientStyle& style, QSize size)
{
    QImage image(size, QImage::Format_RGB888);
    image.fill(Qt::black);
    if (style.kind() == GradientStyle::Kind::customImage) {
        if (style.image())
            paintCovering(image, *style.image());
        return image;
    }
    const QList<QColor> colors = style.colors();
    if (colors.size() == 1)
        image.fill(colors.first().rgb());
    else if (colors.size() > 1)
        paintGradient(image, colors, directionOf(style.kind()));
    return image;
}

libav::FramePtr toFrame(const QImage& picture, const ColourTags& tags)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    libav::FramePtr frame = libav::allocateFrame(AV_PIX_FMT_YUV420P, rgb.width(), rgb.height());
    libav::ScalePtr scale(sws_getContext(
        rgb.width(), rgb.height(), AV_PIX_FMT_RGB24, rgb.width(), rgb.height(), AV_PIX_FMT_YUV420P,
        SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr));
    if (!frame || !scale)
        return {};
    const int* matrix = sws_getCoefficients(tags.space);
    if (sws_setColorspaceDetails(scale.get(), matrix, 1, matrix, tags.range == AVCOL_RANGE_JPEG, 0,
                                 1 << 16, 1 << 16) < 0)
        return {};
    const uint8_t* source[] = {rgb.constBits()};
    const int sourceStride[] = {int(rgb.bytesPerLine())};
    sws_scale(scale.get(), source, sourceStride, 0, rgb.height(), frame->data, frame->linesize);
    frame->color_primaries = tags.primaries;
    frame->color_trc = tags.transfer;
    frame->colorspace = tags.space;
    frame->color_range = tags.range;
    return frame;
}

} // namespace movie_background
