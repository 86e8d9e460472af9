// composeWithBackground at the sizes the editor meets, on every slider step.
// Each case is timed against the obvious QPainter way of drawing the same
// picture (gradient fill, rounded clip path, drawImage), measured in the same
// run; the ratio is ours / that baseline, lower is better.

#include "bench_support.h"
#include "image_compositor.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

void painterWay(const QImage& image, const GradientStyle& style, double padding, double radius,
                QImage& canvas)
{
    const qreal s = image.devicePixelRatio();
    const QSizeF size = image.deviceIndependentSize() + QSizeF(2 * padding, 2 * padding);
    const QSize pixels = (size * s).toSize();
    if (canvas.size() != pixels) {
        canvas = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        canvas.setDevicePixelRatio(s);
    }
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    const QList<QColor> colors = style.colors();
    QLinearGradient gradient(0, 0, (size.width() + size.height()) / 2,
                             (size.width() + size.height()) / 2);
    for (qsizetype i = 0; i < colors.size(); ++i)
        gradient.setColorAt(double(i) / double(colors.size() - 1), colors[i]);
    painter.fillRect(QRectF(QPointF(), size), gradient);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(QPointF(padding, padding), image.deviceIndependentSize()), radius,
                        radius);
    painter.setClipPath(clip);
    painter.drawImage(QPointF(padding, padding), image);
}

struct Case {
    const char* name;
    int width, height; // pixels
    qreal ratio;
    bool target16ms;
};

} // namespace

int main()
{
    const Case cases[] = {
        {"1920x1080 @1", 1920, 1080, 1, false},
        {"2880x1800 pt @2", 5760, 3600, 2, false},
        {"5120x2880 @1", 5120, 2880, 1, true},
    };
    const GradientStyle style = GradientStyle::bluePurple();
    const double padding = 40, radius = 12;
    bool allMet = true;
    for (const Case& c : cases) {
        const QImage shot = bench::noisyScreenshot(c.width, c.height, c.ratio);
        QImage reused, reference;
        const double baseline =
            bench::medianMs(15, [&] { painterWay(shot, style, padding, radius, reference); });
        const double fresh = bench::medianMs(15, [&] {
            const QImage out = composeWithBackground(shot, style, padding, radius);
            bench::keep(out.constBits());
        });
        const double reuse = bench::medianMs(
            15, [&] { composeWithBackground(shot, style, padding, radius, reused); });
        std::printf("compose %-16s fresh canvas %7.1f ms  ratio %.2f\n", c.name, fresh,
                    fresh / baseline);
        std::printf("compose %-16s reused canvas %6.1f ms  ratio %.2f", c.name, reuse,
                    reuse / baseline);
        if (c.target16ms) {
            const bool met = reuse <= 16.0;
            allMet = allMet && met;
            std::printf("  (target 16 ms: %s)", met ? "met" : "MISSED");
        }
        std::printf("\n        %-16s baseline, QPainter with a clip path: %.1f ms\n", c.name,
                    baseline);
    }
    return allMet ? 0 : 1;
}
