// GradientStyle's colours and equality, and how each style paints behind the
// editor's preview.

#include "background_painting.h"
#include "gradient_style.h"
#include "named_colors.h"
#include "test_support.h"

#include <QPainter>
#include <QtTest>

Q_DECLARE_METATYPE(GradientStyle)

using Kind = GradientStyle::Kind;

namespace {

QColor mix(const QColor& a, const QColor& b)
{
    return QColor((a.red() + b.red() + 1) / 2, (a.green() + b.green() + 1) / 2,
                  (a.blue() + b.blue() + 1) / 2, (a.alpha() + b.alpha() + 1) / 2);
}

std::shared_ptr<const QImage> solidPicture(QColor color)
{
    QImage picture(8, 8, QImage::Format_ARGB32_Premultiplied);
    picture.fill(color);
    return std::make_shared<const QImage>(picture);
}

} // namespace

class TestGradientStyle : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void colorsOfEachKind_data();
    void colorsOfEachKind();
    void equality_data();
    void equality();
    void onScreenBackground_data();
    void onScreenBackground();
};

void TestGradientStyle::colorsOfEachKind_data()
{
    using namespace named_colors;
    QTest::addColumn<GradientStyle>("style");
    QTest::addColumn<int>("position"); // in the order the kinds are listed everywhere
    QTest::addColumn<QList<QColor>>("colors");

    const QColor translucent(10, 20, 30, 128);
    const QList<QColor> mine{yellow(), translucent, blue(), yellow()};
    QTest::newRow("customColor keeps alpha")
        << GradientStyle::customColor(translucent) << 0 << QList<QColor>{translucent};
    QTest::newRow("customGradient as given") << GradientStyle::customGradient(mine) << 1 << mine;
    QTest::newRow("customImage") << GradientStyle::customImage(solidPicture(Qt::red)) << 2
                                 << QList<QColor>{};
    QTest::newRow("bluePurple") << GradientStyle::bluePurple() << 3
                                << QList<QColor>{blue(), purple()};
    QTest::newRow("sunset") << GradientStyle::sunset() << 4 << QList<QColor>{orange(), pink()};
    QTest::newRow("greenYellow") << GradientStyle::greenYellow() << 5
                                 << QList<QColor>{green(), yellow()};
    QTest::newRow("ocean") << GradientStyle::ocean() << 6 << QList<QColor>{cyan(), blue()};
    QTest::newRow("warmGlow") << GradientStyle::warmGlow() << 7
                              << QList<QColor>{red(), orange(), yellow()};
    QTest::newRow("dreamyPink") << GradientStyle::dreamyPink() << 8
                                << QList<QColor>{QColor(255, 102, 204), QColor(179, 77, 255),
                                                 QColor(102, 153, 255)};
    QTest::newRow("default is bluePurple")
        << GradientStyle() << 3 << QList<QColor>{blue(), purple()};
}

void TestGradientStyle::colorsOfEachKind()
{
    QFETCH(GradientStyle, style);
    QFETCH(int, position);
    QFETCH(QList<QColor>, colors);

    QCOMPARE(int(style.kind()), position);
    QCOMPARE(style.isPreset(), position >= int(Kind::bluePurple));
    QCOMPARE(style.image() != nullptr, style.kind() == Kind::customImage);
    const QList<QColor> actual = style.colors();
    QCOMPARE(actual.size(), colors.size());
    // dreamyPink is given in fractions: 0.7 and 0.3 of 255 fall between two bytes.
    for (qsizetype i = 0; i < colors.size(); ++i)
        QUORVEL_COMPARE_COLOR(actual[i], colors[i], 1);
}

void TestGradientStyle::equality_data()
{
    using namespace named_colors;
    QTest::addColumn<GradientStyle>("a");
    QTest::addColumn<GradientStyle>("b");
    QTest::addColumn<bool>("equal");

    const auto picture = solidPicture(Qt::red);
    const auto samePixels = solidPicture(Qt::red);
    const GradientStyle holder = GradientStyle::customImage(picture);
    QColor translucentRed = red();
    translucentRed.setAlpha(128);

    QTest::newRow("same colour") << GradientStyle::customColor(red())
                                 << GradientStyle::customColor(QColor(255, 59, 48)) << true;
    QTest::newRow("other colour") << GradientStyle::customColor(red())
                                  << GradientStyle::customColor(orange()) << false;
    QTest::newRow("other alpha") << GradientStyle::customColor(red())
                                 << GradientStyle::customColor(translucentRed) << false;
    QTest::newRow("same gradient") << GradientStyle::customGradient({red(), blue()})
                                   << GradientStyle::customGradient({red(), blue()}) << true;
    QTest::newRow("gradient reversed") << GradientStyle::customGradient({red(), blue()})
                                       << GradientStyle::customGradient({blue(), red()}) << false;
    QTest::newRow("gradient longer")
        << GradientStyle::customGradient({red(), blue()})
        << GradientStyle::customGradient({red(), blue(), red()}) << false;
    QTest::newRow("colour vs one-colour gradient")
        << GradientStyle::customColor(red()) << GradientStyle::customGradient({red()}) << false;
    QTest::newRow("gradient vs preset of the same colours")
        << GradientStyle::customGradient({blue(), purple()}) << GradientStyle::bluePurple()
        << false;
    QTest::newRow("same picture") << holder << GradientStyle::customImage(picture) << true;
    QTest::newRow("copied style") << holder << GradientStyle(holder) << true;
    QTest::newRow("equal pixels, other picture")
        << holder << GradientStyle::customImage(samePixels) << false;
    QTest::newRow("same preset") << GradientStyle::sunset() << GradientStyle::sunset() << true;
    QTest::newRow("other preset") << GradientStyle::sunset() << GradientStyle::ocean() << false;
    QTest::newRow("default") << GradientStyle() << GradientStyle::bluePurple() << true;
}

void TestGradientStyle::equality()
{
    QFETCH(GradientStyle, a);
    QFETCH(GradientStyle, b);
    QFETCH(bool, equal);

    QCOMPARE(a == b, equal);
    QCOMPARE(b == a, equal);
    QCOMPARE(a != b, !equal);
}

// The preview's directions differ from the export's, so each preset is
// checked at the four corners of a square: start colour, end colour, and the
// mixture where the gradient runs diagonally.
void TestGradientStyle::onScreenBackground_data()
{
    using namespace named_colors;
    QTest::addColumn<GradientStyle>("style");
    QTest::addColumn<QColor>("topLeft");
    QTest::addColumn<QColor>("topRight");
    QTest::addColumn<QColor>("bottomLeft");
    QTest::addColumn<QColor>("bottomRight");

    const QColor pinkish(255, 102, 204), violet(179, 77, 255), lightBlue(102, 153, 255);
    QTest::newRow("bluePurple") << GradientStyle::bluePurple() << blue() << mix(blue(), purple())
                                << mix(blue(), purple()) << purple();
    QTest::newRow("sunset top to bottom")
        << GradientStyle::sunset() << orange() << orange() << pink() << pink();
    QTest::newRow("greenYellow left to right")
        << GradientStyle::greenYellow() << green() << yellow() << green() << yellow();
    QTest::newRow("ocean") << GradientStyle::ocean() << cyan() << mix(cyan(), blue())
                           << mix(cyan(), blue()) << blue();
    QTest::newRow("warmGlow") << GradientStyle::warmGlow() << red() << orange() << orange()
                              << yellow();
    QTest::newRow("dreamyPink bottom-left to top-right")
        << GradientStyle::dreamyPink() << violet << lightBlue << pinkish << violet;
    QTest::newRow("customColor") << GradientStyle::customColor(purple()) << purple() << purple()
                                 << purple() << purple();
    QTest::newRow("customGradient") << GradientStyle::customGradient({red(), green(), blue()})
                                    << red() << green() << green() << blue();

    // Red, green, blue stripes, the green one wide: covering a square shows
    // only green; stretching would show red and blue, fitting would leave
    // corners empty.
    QImage stripes(300, 100, QImage::Format_RGB32);
    stripes.fill(Qt::green);
    QPainter(&stripes).fillRect(0, 0, 50, 100, Qt::red);
    QPainter(&stripes).fillRect(250, 0, 50, 100, Qt::blue);
    const QColor g(Qt::green);
    QTest::newRow("customImage covers, centred")
        << GradientStyle::customImage(std::make_shared<const QImage>(stripes)) << g << g << g << g;
    const QColor clear(0, 0, 0, 0);
    QTest::newRow("customImage without picture")
        << GradientStyle::customImage(nullptr) << clear << clear << clear << clear;
}

void TestGradientStyle::onScreenBackground()
{
    QFETCH(GradientStyle, style);
    QFETCH(QColor, topLeft);
    QFETCH(QColor, topRight);
    QFETCH(QColor, bottomLeft);
    QFETCH(QColor, bottomRight);

    // The square is away from the origin so directions must follow the rect.
    QImage view(100, 100, QImage::Format_ARGB32_Premultiplied);
    view.fill(Qt::transparent);
    {
        QPainter painter(&view);
        paintGradientBackground(painter, QRectF(10, 10, 80, 80), style);
    }
    QUORVEL_COMPARE_COLOR(view.pixelColor(10, 10), topLeft, 4);
    QUORVEL_COMPARE_COLOR(view.pixelColor(89, 10), topRight, 4);
    QUORVEL_COMPARE_COLOR(view.pixelColor(10, 89), bottomLeft, 4);
    QUORVEL_COMPARE_COLOR(view.pixelColor(89, 89), bottomRight, 4);
}

QTEST_GUILESS_MAIN(TestGradientStyle)
#include "tst_gradient_style.moc"
