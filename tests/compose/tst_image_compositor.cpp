// The composed picture, checked pixel by pixel: where the picture lands, what
// the background looks like around and behind it, and its rounded corners.

#include "image_compositor.h"
#include "named_colors.h"
#include "test_support.h"

#include <QPainter>
#include <QRandomGenerator>

using namespace named_colors;
using Style = GradientStyle;

namespace {

// Random pixels: opaque unless `format` has alpha, then of every alpha.
// Any shift, resampling or colour change shows.
QImage noise(int width, int height, qreal ratio = 1, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(width, height, QImage::Format_ARGB32);
    QRandomGenerator(quint32(width * 7919 + height))
        .fillRange(reinterpret_cast<quint32*>(image.bits()), image.sizeInBytes() / 4);
    image = image.convertToFormat(format);
    image.setDevicePixelRatio(ratio);
    return image;
}

using test_support::filled;

// True when canvas pixel `at` is within `tolerance` of `expected`; says why not.
bool pixelIs(const QImage& canvas, QPoint at, QColor expected, int tolerance, const QString& what)
{
    const bool near = test_support::near(canvas.pixelColor(at), expected, tolerance);
    if (!near)
        qWarning() << what << at << canvas.pixelColor(at) << "!=" << expected;
    return near;
}

} // namespace

class TestImageCompositor : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The picture copied one to one inside a band exactly round(padding x ratio) pixels wide.
    // The band's colours are tst_background_painting's fastPaintersFollowTheirSurface; with
    // nothing to paint it stays clear.
    void pictureSitsOnItsBackground()
    {
        const std::tuple<QImage, Style, double, int> cases[] = {
            {noise(80, 60), Style::customGradient({red(), green(), blue()}), 40.2, 40},
            {noise(1600, 1200, 2), Style::sunset(), 40, 80},
            {noise(20, 10, 2), Style::bluePurple(), 10.3, 21}, // 20.6 pixels round up
            {noise(2, 2), Style::warmGlow(), 1, 1},
            {noise(8, 6, 1, QImage::Format_RGB888), Style::customColor(red()), 9, 9},
            {noise(9, 6), Style::customGradient({}), 9, 9},
            {noise(9, 6), Style::customImage(nullptr), 9, 9},
        };
        for (const auto& [picture, style, padding, inset] : cases) {
            const QImage canvas = composeWithBackground(picture, style, padding, 0);
            QCOMPARE(canvas.size(), picture.size() + QSize(2 * inset, 2 * inset));
            QCOMPARE(canvas.devicePixelRatio(), picture.devicePixelRatio());
            const QRect inside(QPoint(inset, inset), picture.size());
            QCOMPARE(canvas.copy(inside),
                     picture.convertToFormat(QImage::Format_ARGB32_Premultiplied));
            if (style.colors().isEmpty())
                QCOMPARE(canvas.pixelColor(canvas.width() - 1, 0), QColor(0, 0, 0, 0));
        }
    }

    // 1000 x 500, red over the top-left quarter of each side: stretched onto
    // 880 x 680 the red ends at (220, 170); keeping proportions or cropping
    // would move that corner.
    void customImageIsStretchedOverTheCanvas()
    {
        QImage quarter(1000, 500, QImage::Format_RGB32);
        quarter.fill(Qt::green);
        QPainter(&quarter).fillRect(0, 0, 250, 125, Qt::red);
        const std::pair<qreal, qreal> ratios[] = {{1, 1}, {2, 1}, {1, 2}};
        for (const auto& [pictureRatio, backgroundRatio] : ratios) {
            quarter.setDevicePixelRatio(backgroundRatio);
            const Style style = Style::customImage(std::make_shared<const QImage>(quarter));
            const QImage canvas = composeWithBackground(
                filled(Qt::transparent, {800, 600}, pictureRatio), style, 40 / pictureRatio, 0);
            QCOMPARE(canvas.size(), QSize(880, 680));
            for (const QPoint at : {QPoint(0, 0), QPoint(215, 165)})
                QVERIFY(pixelIs(canvas, at, Qt::red, 0, QString::number(pictureRatio)));
            for (const QPoint at : {QPoint(225, 165), QPoint(215, 175), QPoint(879, 679)})
                QVERIFY(pixelIs(canvas, at, Qt::green, 0, QString::number(pictureRatio)));
        }
    }

    // Pixels of every alpha over a gradient and over a translucent colour:
    // exactly what Qt's own source-over gives.
    void translucentPictureBlendsOverTheBackground()
    {
        const std::pair<QImage, Style> cases[] = {
            {noise(256, 64, 1, QImage::Format_ARGB32), Style::warmGlow()},
            {noise(256, 64, 1, QImage::Format_RGBA8888), Style::customColor({0, 0, 255, 100})}};
        for (const auto& [picture, style] : cases) {
            const QImage canvas = composeWithBackground(picture, style, 8, 0);
            QImage reference = composeWithBackground(filled(Qt::transparent, {256, 64}), style, 8, 0);
            QPainter(&reference).drawImage(8, 8, picture);
            QCOMPARE(canvas, reference);
        }
    }

    // A black 200 x 100 picture on white, padding 10 pt: coverage reads off the grey level.
    void roundedCorners()
    {
        const QColor white(Qt::white), black(Qt::black), grey(128, 128, 128);
        const std::tuple<const char*, qreal, double, QPoint, QColor> cases[] = {
            {"outside the arc", 1, 20, {3, 3}, white},
            {"inside the arc", 1, 20, {8, 8}, black},
            {"on the arc, antialiased", 1, 20, {0, 14}, grey},
            {"straight edge past the arc", 1, 20, {20, 0}, black},
            {"radius in points at ratio 2", 2, 10, {3, 3}, white},
            {"huge radius: semicircular end", 1, 1e6, {12, 12}, white},
            {"huge radius limited by the short side", 1, 1e6, {50, 0}, black},
            {"under half a pixel rounds nothing", 1, 0.3, {0, 0}, black},
        };
        for (const auto& [what, ratio, radius, at, shows] : cases) {
            const QImage canvas = composeWithBackground(filled(Qt::black, {200, 100}, ratio),
                                                        Style::customColor(white), 10, radius);
            const QPoint p = at + QPoint(1, 1) * qRound(10 * ratio);
            QVERIFY(pixelIs(canvas, p, shows, shows == grey ? 100 : 2, what));
        }
    }

    void reusesTheCanvasItOwns()
    {
        // Half clear, so anything left over from the last composition would show.
        QImage picture = filled(Qt::transparent, {300, 200});
        QPainter(&picture).drawImage(150, 0, noise(150, 200));
        QImage canvas = composeWithBackground(picture, Style::sunset(), 20, 12);
        const uchar* const memory = canvas.constBits();
        const std::tuple<Style, qreal, double> steps[] = {
            {Style::customImage(nullptr), 1, 20},
            {Style::warmGlow(), 1, 20},
            {Style::sunset(), 2, 10}, // the same pixels at ratio 2
        };
        for (const auto& [style, ratio, padding] : steps) {
            picture.setDevicePixelRatio(ratio);
            composeWithBackground(picture, style, padding, 12, canvas);
            QCOMPARE(canvas.constBits(), memory);
            QCOMPARE(canvas.devicePixelRatio(), ratio);
            QCOMPARE(canvas, composeWithBackground(picture, style, padding, 12));
        }
        // A canvas somebody else also holds is left to them.
        const QImage held = canvas, before = canvas.copy();
        composeWithBackground(picture, Style::ocean(), 10, 12, canvas);
        QCOMPARE(held, before);
        QCOMPARE(canvas, composeWithBackground(picture, Style::ocean(), 10, 12));
    }

    // Beyond kMaxCanvasPixels, or so large the arithmetic would overflow.
    void refusesACanvasTooLargeToAllocate()
    {
        QVERIFY(composeWithBackground(noise(10, 10), Style::sunset(), 1e7, 0).isNull());
        QImage canvas = noise(20, 20);
        composeWithBackground(noise(10, 10), Style::sunset(), 1e300, 0, canvas);
        QVERIFY(canvas.isNull());
    }
};

QTEST_GUILESS_MAIN(TestImageCompositor)
#include "tst_image_compositor.moc"
