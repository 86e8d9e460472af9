// The composed picture, checked pixel by pixel: where the picture lands, what
// the background looks like around and behind it, and its rounded corners.

#include "gradient_style.h"
#include "image_compositor.h"
#include "named_colors.h"
#include "test_support.h"

#include <QPainter>
#include <QRandomGenerator>
#include <QtTest>

Q_DECLARE_METATYPE(GradientStyle)

namespace {

// Qt's gradient table is a few levels coarse between stops; the eye cannot tell.
constexpr int kGradientTolerance = 4;

// Random opaque pixels: any shift, resampling or colour change shows.
QImage noise(int width, int height, QImage::Format format = QImage::Format_RGB32, qreal ratio = 1)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(quint32(width * 7919 + height));
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<quint32*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = random.generate() | 0xff000000u;
    }
    image = image.convertToFormat(format);
    image.setDevicePixelRatio(ratio);
    return image;
}

QImage filled(int width, int height, QColor color, qreal ratio = 1)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    image.setDevicePixelRatio(ratio);
    return image;
}

// Straight alpha rising from 0 to 255 left to right, colours varying too.
QImage translucentRamp(QImage::Format format)
{
    QImage image(256, 64, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgba(y * 4, 255 - x, 128, x));
    return image.convertToFormat(format);
}

// What the background must be at canvas pixel (x, y): the colours spread
// evenly along x + y, measured at the pixel's centre.
QColor expectedBackground(const GradientStyle& style, QSize canvas, int x, int y)
{
    const QList<QColor> colors = style.colors();
    if (colors.size() < 2)
        return colors.isEmpty() ? QColor(0, 0, 0, 0) : colors.first();
    const double at =
        (x + 0.5 + y + 0.5) / (canvas.width() + canvas.height()) * double(colors.size() - 1);
    const int i = std::min(int(at), int(colors.size()) - 2);
    const QColor a = colors[i], b = colors[i + 1];
    auto mix = [t = at - i](int p, int q) { return qRound(p + (q - p) * t); };
    return QColor(mix(a.red(), b.red()), mix(a.green(), b.green()), mix(a.blue(), b.blue()),
                  mix(a.alpha(), b.alpha()));
}

// Empty when canvas pixel (x, y) is within `tolerance` of `expected`.
QString pixelMismatch(const QImage& canvas, int x, int y, QColor expected, int tolerance)
{
    const QColor actual = canvas.pixelColor(x, y);
    if (test_support::near(actual, expected, tolerance))
        return {};
    return QStringLiteral("(%1,%2): %3 != %4")
        .arg(x)
        .arg(y)
        .arg(test_support::describe(actual), test_support::describe(expected));
}

#define COMPARE_PIXEL(canvas, x, y, expected, tolerance)                                           \
    do {                                                                                           \
        const QString mismatch = pixelMismatch(canvas, x, y, expected, tolerance);                 \
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));                                        \
    } while (0)

} // namespace

class TestImageCompositor : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pictureSitsInsideThePadding_data();
    void pictureSitsInsideThePadding();
    void gradientRunsAlongTheDiagonal_data();
    void gradientRunsAlongTheDiagonal();
    void plainBackgrounds_data();
    void plainBackgrounds();
    void customImageIsStretchedOverTheCanvas_data();
    void customImageIsStretchedOverTheCanvas();
    void translucentPictureBlendsOverTheBackground_data();
    void translucentPictureBlendsOverTheBackground();
    void roundedCorners_data();
    void roundedCorners();
    void reusesTheCanvasItOwns();
    void refusesACanvasTooLargeToAllocate();
};

void TestImageCompositor::pictureSitsInsideThePadding_data()
{
    QTest::addColumn<QImage>("picture");
    QTest::addColumn<double>("padding");
    QTest::addColumn<double>("radius");
    QTest::addColumn<int>("inset"); // in pixels

    const auto rgb = QImage::Format_RGB32;
    QTest::newRow("ratio 1") << noise(800, 600) << 40.0 << 0.0 << 40;
    QTest::newRow("ratio 2, padding in points") << noise(1600, 1200, rgb, 2) << 40.0 << 0.0 << 80;
    QTest::newRow("no padding is the picture itself") << noise(800, 600) << 0.0 << 0.0 << 0;
    QTest::newRow("rounded, no padding") << noise(800, 600) << 0.0 << 20.0 << 0;
    QTest::newRow("rounded at ratio 2") << noise(400, 300, rgb, 2) << 16.0 << 12.0 << 32;
    QTest::newRow("padding rounded to whole pixels")
        << noise(200, 100, rgb, 2) << 10.3 << 0.0 << 21;
    QTest::newRow("ratio 1.5") << noise(150, 90, rgb, 1.5) << 9.0 << 0.0 << 14;
    QTest::newRow("one pixel") << noise(1, 1) << 5.0 << 0.0 << 5;
    QTest::newRow("one pixel tall") << noise(300, 1) << 3.0 << 0.0 << 3;
    QTest::newRow("straight alpha") << noise(200, 100, QImage::Format_ARGB32) << 10.0 << 0.0 << 10;
    QTest::newRow("RGB888") << noise(200, 100, QImage::Format_RGB888) << 10.0 << 0.0 << 10;
    QTest::newRow("Grayscale8") << noise(200, 100, QImage::Format_Grayscale8) << 10.0 << 0.0 << 10;
}

void TestImageCompositor::pictureSitsInsideThePadding()
{
    QFETCH(QImage, picture);
    QFETCH(double, padding);
    QFETCH(double, radius);
    QFETCH(int, inset);

    const GradientStyle style = GradientStyle::sunset();
    const QImage canvas = composeWithBackground(picture, style, padding, radius);
    QCOMPARE(canvas.size(), picture.size() + QSize(2 * inset, 2 * inset));
    QCOMPARE(canvas.devicePixelRatio(), picture.devicePixelRatio());

    // Copied one to one, except where the rounding cuts the corners.
    const QImage expected = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int w = picture.width(), h = picture.height();
    const int cut = std::min(qCeil(radius * picture.devicePixelRatio()), std::min(w, h) / 2);
    QCOMPARE(canvas.copy(inset, inset + cut, w, h - 2 * cut),
             expected.copy(0, cut, w, h - 2 * cut));
    QCOMPARE(canvas.copy(inset + cut, inset, w - 2 * cut, h),
             expected.copy(cut, 0, w - 2 * cut, h));
    if (cut > 0) {
        for (const QPoint c :
             {QPoint(0, 0), QPoint(w - 1, 0), QPoint(0, h - 1), QPoint(w - 1, h - 1)})
            COMPARE_PIXEL(canvas, inset + c.x(), inset + c.y(),
                          expectedBackground(style, canvas.size(), inset + c.x(), inset + c.y()),
                          kGradientTolerance);
    }

    // Every pixel of the band, so a band one pixel too narrow or wide shows.
    const QRect inside(inset, inset, w, h);
    for (int y = 0; y < canvas.height(); ++y)
        for (int x = 0; x < canvas.width(); ++x)
            if (!inside.contains(x, y))
                COMPARE_PIXEL(canvas, x, y, expectedBackground(style, canvas.size(), x, y),
                              kGradientTolerance);
}

void TestImageCompositor::gradientRunsAlongTheDiagonal_data()
{
    using namespace named_colors;
    QTest::addColumn<GradientStyle>("style");
    QTest::addColumn<qreal>("ratio");

    QTest::newRow("bluePurple") << GradientStyle::bluePurple() << 1.0;
    QTest::newRow("sunset") << GradientStyle::sunset() << 1.0;
    QTest::newRow("sunset at ratio 2") << GradientStyle::sunset() << 2.0;
    QTest::newRow("greenYellow") << GradientStyle::greenYellow() << 1.0;
    QTest::newRow("ocean") << GradientStyle::ocean() << 1.0;
    QTest::newRow("warmGlow") << GradientStyle::warmGlow() << 1.0;
    QTest::newRow("dreamyPink") << GradientStyle::dreamyPink() << 1.0;
    QTest::newRow("four colours") << GradientStyle::customGradient({red(), green(), blue(), gray()})
                                  << 1.0;
}

void TestImageCompositor::gradientRunsAlongTheDiagonal()
{
    QFETCH(GradientStyle, style);
    QFETCH(qreal, ratio);

    // A clear picture leaves the whole canvas to the background.
    const QImage canvas = composeWithBackground(
        filled(int(800 * ratio), int(600 * ratio), Qt::transparent, ratio), style, 40, 0);
    const QSize size = canvas.size();
    QCOMPARE(size, QSize(880, 680) * ratio);

    const QList<QColor> colors = style.colors();
    COMPARE_PIXEL(canvas, 0, 0, colors.first(), kGradientTolerance);
    COMPARE_PIXEL(canvas, size.width() - 1, size.height() - 1, colors.last(), kGradientTolerance);
    // The grid crosses the anti-diagonal, where warmGlow is orange.
    for (int y = 0; y < size.height(); y += 17)
        for (int x = 0; x < size.width(); x += 23)
            COMPARE_PIXEL(canvas, x, y, expectedBackground(style, size, x, y), kGradientTolerance);
}

void TestImageCompositor::plainBackgrounds_data()
{
    QTest::addColumn<GradientStyle>("style");
    QTest::addColumn<QColor>("expected");

    const QColor clear(0, 0, 0, 0);
    QTest::newRow("customColor") << GradientStyle::customColor(named_colors::purple())
                                 << named_colors::purple();
    QTest::newRow("customColor keeps alpha")
        << GradientStyle::customColor(QColor(255, 0, 0, 128)) << QColor(255, 0, 0, 128);
    QTest::newRow("one-colour gradient")
        << GradientStyle::customGradient({named_colors::cyan()}) << named_colors::cyan();
    QTest::newRow("empty gradient") << GradientStyle::customGradient({}) << clear;
    QTest::newRow("customImage without picture") << GradientStyle::customImage(nullptr) << clear;
}

void TestImageCompositor::plainBackgrounds()
{
    QFETCH(GradientStyle, style);
    QFETCH(QColor, expected);

    const QImage picture = noise(120, 80);
    const QImage canvas = composeWithBackground(picture, style, 12, 0);
    for (const QPoint at : {QPoint(0, 0), QPoint(143, 0), QPoint(0, 103), QPoint(143, 103),
                            QPoint(11, 50), QPoint(70, 92)})
        COMPARE_PIXEL(canvas, at.x(), at.y(), expected, 1);
    QCOMPARE(canvas.copy(12, 12, 120, 80),
             picture.convertToFormat(QImage::Format_ARGB32_Premultiplied));
}

void TestImageCompositor::customImageIsStretchedOverTheCanvas_data()
{
    QTest::addColumn<qreal>("pictureRatio");
    QTest::addColumn<qreal>("backgroundRatio");

    QTest::newRow("ratio 1") << 1.0 << 1.0;
    QTest::newRow("picture at ratio 2") << 2.0 << 1.0;
    QTest::newRow("background at ratio 2") << 1.0 << 2.0;
}

void TestImageCompositor::customImageIsStretchedOverTheCanvas()
{
    QFETCH(qreal, pictureRatio);
    QFETCH(qreal, backgroundRatio);

    // 1000 x 500 split at a quarter of each side: stretched onto 880 x 680 the
    // split lands at (220, 170); keeping the aspect or cropping would move it.
    QImage quadrants(1000, 500, QImage::Format_RGB32);
    {
        QPainter painter(&quadrants);
        painter.fillRect(0, 0, 250, 125, Qt::red);
        painter.fillRect(250, 0, 750, 125, Qt::green);
        painter.fillRect(0, 125, 250, 375, Qt::blue);
        painter.fillRect(250, 125, 750, 375, Qt::yellow);
    }
    quadrants.setDevicePixelRatio(backgroundRatio);
    const GradientStyle style =
        GradientStyle::customImage(std::make_shared<const QImage>(quadrants));

    const QImage canvas = composeWithBackground(filled(800, 600, Qt::transparent, pictureRatio),
                                                style, 40 / pictureRatio, 0);
    QCOMPARE(canvas.size(), QSize(880, 680));
    // The canvas corners, then both sides of the split.
    const std::pair<QPoint, Qt::GlobalColor> expected[] = {
        {{0, 0}, Qt::red},        {{879, 0}, Qt::green},   {{0, 679}, Qt::blue},
        {{879, 679}, Qt::yellow}, {{215, 165}, Qt::red},   {{225, 165}, Qt::green},
        {{215, 175}, Qt::blue},   {{225, 175}, Qt::yellow}};
    for (const auto& [at, color] : expected)
        COMPARE_PIXEL(canvas, at.x(), at.y(), QColor(color), 0);
}

void TestImageCompositor::translucentPictureBlendsOverTheBackground_data()
{
    QTest::addColumn<QImage>("picture");
    QTest::addColumn<GradientStyle>("style");

    QTest::newRow("straight alpha on white")
        << translucentRamp(QImage::Format_ARGB32) << GradientStyle::customColor(Qt::white);
    QTest::newRow("premultiplied on a gradient")
        << translucentRamp(QImage::Format_ARGB32_Premultiplied) << GradientStyle::warmGlow();
    QTest::newRow("over a translucent colour")
        << translucentRamp(QImage::Format_RGBA8888)
        << GradientStyle::customColor(QColor(0, 0, 255, 100));
}

void TestImageCompositor::translucentPictureBlendsOverTheBackground()
{
    QFETCH(QImage, picture);
    QFETCH(GradientStyle, style);

    const int inset = 8;
    const QImage canvas = composeWithBackground(picture, style, inset, 0);
    const QImage source = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < source.height(); ++y) {
        for (int x = 0; x < source.width(); ++x) {
            // Source-over in premultiplied terms, then back to straight colour.
            const QRgb s = source.pixel(x, y);
            const QColor b = expectedBackground(style, canvas.size(), inset + x, inset + y);
            const double keep = 1 - qAlpha(s) / 255.0;
            const double a = qAlpha(s) + b.alpha() * keep;
            auto over = [&](int src, int bg) {
                return a <= 0 ? 0 : qRound(255 * (src + bg * b.alphaF() * keep) / a);
            };
            const QColor expected(over(qRed(s), b.red()), over(qGreen(s), b.green()),
                                  over(qBlue(s), b.blue()), qRound(a));
            // Straight colour of a faint pixel is coarse after premultiplication.
            COMPARE_PIXEL(canvas, inset + x, inset + y, expected, a < 64 ? 8 : kGradientTolerance);
        }
    }
}

void TestImageCompositor::roundedCorners_data()
{
    QTest::addColumn<qreal>("ratio");
    QTest::addColumn<double>("radius");
    QTest::addColumn<QPoint>("at"); // picture pixel of a 200 x 100 picture
    QTest::addColumn<QColor>("shows");

    const QColor background(Qt::white), picture(Qt::black), edge(128, 128, 128);
    QTest::newRow("square corner") << 1.0 << 0.0 << QPoint(0, 0) << picture;
    QTest::newRow("outside the arc") << 1.0 << 20.0 << QPoint(3, 3) << background;
    QTest::newRow("inside the arc") << 1.0 << 20.0 << QPoint(8, 8) << picture;
    QTest::newRow("on the arc, antialiased") << 1.0 << 20.0 << QPoint(0, 14) << edge;
    QTest::newRow("straight edge past the arc") << 1.0 << 20.0 << QPoint(20, 0) << picture;
    QTest::newRow("radius in points at ratio 2") << 2.0 << 10.0 << QPoint(3, 3) << background;
    QTest::newRow("huge radius, end middle") << 1.0 << 1e6 << QPoint(0, 49) << picture;
    QTest::newRow("huge radius, semicircle") << 1.0 << 1e6 << QPoint(12, 12) << background;
    QTest::newRow("huge radius, inside semicircle") << 1.0 << 1e6 << QPoint(15, 15) << picture;
    QTest::newRow("huge radius limited by the short side")
        << 1.0 << 1e6 << QPoint(50, 0) << picture;
}

void TestImageCompositor::roundedCorners()
{
    QFETCH(qreal, ratio);
    QFETCH(double, radius);
    QFETCH(QPoint, at);
    QFETCH(QColor, shows);

    // Black on white: coverage reads straight off the grey level.
    const QImage canvas = composeWithBackground(filled(200, 100, Qt::black, ratio),
                                                GradientStyle::customColor(Qt::white), 10, radius);
    const QPoint p = at + QPoint(1, 1) * qRound(10 * ratio);
    // Any grey well clear of both counts as an antialiased edge.
    COMPARE_PIXEL(canvas, p.x(), p.y(), shows, shows == QColor(128, 128, 128) ? 100 : 2);
}

void TestImageCompositor::reusesTheCanvasItOwns()
{
    // Half clear, so anything left over from the last composition would show.
    QImage picture = noise(300, 200, QImage::Format_ARGB32_Premultiplied);
    {
        QPainter painter(&picture);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(0, 0, 150, 200, Qt::transparent);
    }
    auto fresh = [&](const GradientStyle& style, double padding) {
        return composeWithBackground(picture, style, padding, 12);
    };

    QImage canvas = fresh(GradientStyle::sunset(), 20);
    const uchar* const memory = canvas.constBits();
    for (const GradientStyle& style :
         {GradientStyle::customImage(nullptr), GradientStyle::warmGlow(),
          GradientStyle::customColor(QColor(255, 0, 0, 128)),
          GradientStyle::customImage(std::make_shared<const QImage>(noise(64, 64)))}) {
        composeWithBackground(picture, style, 20, 12, canvas);
        QCOMPARE(canvas.constBits(), memory);
        QCOMPARE(canvas, fresh(style, 20));
    }

    // A canvas somebody else also holds is left to them.
    const QImage held = canvas;
    const QImage before = held.copy();
    composeWithBackground(picture, GradientStyle::ocean(), 20, 12, canvas);
    QCOMPARE(held, before);
    QCOMPARE(canvas, fresh(GradientStyle::ocean(), 20));
    const uchar* const owned = canvas.constBits();

    // Wrong format: replaced. Same pixels at ratio 2: reused, the ratio follows.
    QImage opaque(canvas.size(), QImage::Format_RGB32);
    composeWithBackground(picture, GradientStyle::sunset(), 20, 12, opaque);
    QCOMPARE(opaque, fresh(GradientStyle::sunset(), 20));
    picture.setDevicePixelRatio(2);
    composeWithBackground(picture, GradientStyle::sunset(), 10, 12, canvas);
    QCOMPARE(canvas.constBits(), owned);
    QCOMPARE(canvas, fresh(GradientStyle::sunset(), 10));
}

void TestImageCompositor::refusesACanvasTooLargeToAllocate()
{
    const QImage picture = noise(10, 10);
    QVERIFY(composeWithBackground(picture, GradientStyle::sunset(), 1e7, 0).isNull());
    QImage canvas = composeWithBackground(picture, GradientStyle::sunset(), 5, 0);
    composeWithBackground(picture, GradientStyle::sunset(), 1e300, 0, canvas);
    QVERIFY(canvas.isNull());
}

QTEST_GUILESS_MAIN(TestImageCompositor)
#include "tst_image_compositor.moc"
