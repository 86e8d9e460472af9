// Backgrounds on each surface, and the fast painters against paintBackground.

#include "background_painting.h"
#include "image_compositor.h"
#include "movie_background.h"
#include "named_colors.h"
#include "test_support.h"

#include <QPainter>

using namespace named_colors;
using Style = GradientStyle;

class TestBackgroundPainting : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Corners of an area away from the origin. A picture runs gradients at 45° and stretches
    // an image; screen and movie give each preset its direction and cover with an image. A
    // movie's unit square (y up) stretches, so its diagonals meet at the middle colour.
    void eachSurfaceLaysOutItsOwnWay()
    {
        using S = BackgroundSurface;
        const QColor see(10, 20, 30, 128), g(Qt::green), r(Qt::red), b(Qt::blue), clear(0, 0, 0, 0);
        const QColor bluePurple(88, 102, 239), cyanBlue(43, 156, 248);
        const QColor sunsetThird(255, 114, 28), sunsetTwoThirds(255, 80, 57);
        const QColor rose(255, 102, 204), violet(179, 77, 255), sky(102, 153, 255);
        const QColor dreamyFifth(224, 92, 225), dreamyFourFifths(133, 122, 255);
        const Style sunset = Style::sunset(), dreamy = Style::dreamyPink();
        // Red, green, green, green, blue: stretching shows red and blue, covering only green.
        const quint32 rgb[] = {0xffff0000, 0xff00ff00, 0xff00ff00, 0xff00ff00, 0xff0000ff};
        const Style stripes = Style::customImage(std::make_shared<const QImage>(
            QImage(reinterpret_cast<const uchar*>(rgb), 5, 1, QImage::Format_RGB32).copy()));
        // Top-left, top-right, bottom-left, bottom-right of an 80 x 80 area on screen.
        const std::tuple<const char*, Style, std::array<QColor, 4>> onScreen[] = {
            {"bluePurple", Style::bluePurple(), {blue(), bluePurple, bluePurple, purple()}},
            {"greenYellow rightward", Style::greenYellow(), {green(), yellow(), green(), yellow()}},
            {"ocean", Style::ocean(), {cyan(), cyanBlue, cyanBlue, blue()}},
            {"warmGlow", Style::warmGlow(), {red(), orange(), orange(), yellow()}},
            {"dreamyPink upward", dreamy, {violet, sky, rose, violet}},
            {"colour keeps alpha", Style::customColor(see), {see, see, see, see}},
            {"gradient as given", Style::customGradient({r, g, b}), {r, g, g, b}},
            {"no picture", Style::customImage(nullptr), {clear, clear, clear, clear}},
        };
        // The same corners of a 160 x 80 area on each surface.
        const std::tuple<const char*, S, Style, std::array<QColor, 4>> wide[] = {
            {"picture sunset",
             S::picture,
             sunset,
             {orange(), sunsetTwoThirds, sunsetThird, pink()}},
            {"screen sunset", S::screen, sunset, {orange(), orange(), pink(), pink()}},
            {"movie sunset", S::movie, sunset, {pink(), pink(), orange(), orange()}},
            {"screen dreamyPink", S::screen, dreamy, {dreamyFifth, sky, rose, dreamyFourFifths}},
            {"movie dreamyPink", S::movie, dreamy, {rose, violet, violet, sky}},
            {"picture stretched", S::picture, stripes, {r, b, r, b}},
            {"screen covered", S::screen, stripes, {g, g, g, g}},
        };
        const auto check = [](const char* what, S surface, QSize size, const Style& style,
                              const std::array<QColor, 4>& corners) {
            QImage view(size + QSize(20, 20), QImage::Format_ARGB32_Premultiplied);
            view.fill(Qt::transparent);
            QPainter painter(&view);
            paintBackground(painter, QRectF(QPointF(10, 10), size), style, surface);
            bool ok = true;
            for (int i = 0; i < 4; ++i) {
                const QColor seen = view.pixelColor(10 + i % 2 * (size.width() - 1),
                                                    10 + i / 2 * (size.height() - 1));
                if (!test_support::near(seen, corners[i], 4)) {
                    qWarning() << what << "corner" << i << test_support::describe(seen);
                    ok = false;
                }
            }
            return ok;
        };
        for (const auto& [what, style, corners] : onScreen)
            QVERIFY(check(what, S::screen, QSize(80, 80), style, corners));
        for (const auto& [what, surface, style, corners] : wide)
            QVERIFY(check(what, surface, QSize(160, 80), style, corners));

        // The movie's own painter, which has no alpha: nothing to paint leaves black.
        const std::pair<Style, QColor> movie[] = {{Style::customGradient({cyan()}), cyan()},
                                                  {Style::customGradient({}), Qt::black},
                                                  {Style::customImage(nullptr), Qt::black},
                                                  {stripes, g}};
        for (const auto& [style, colour] : movie)
            for (const QPoint at : {QPoint(0, 0), QPoint(159, 79)})
                QCOMPARE(movie_background::paint(style, {160, 80}).pixelColor(at), colour);
    }

    // The compositor's and the movie's own painters match paintBackground to a level.
    void fastPaintersFollowTheirSurface()
    {
        const Style styles[] = {Style::bluePurple(),
                                Style::sunset(),
                                Style::greenYellow(),
                                Style::dreamyPink(),
                                Style::customGradient({red(), QColor(0, 0, 255, 90), green()}),
                                Style::customColor(QColor(255, 0, 0, 128))};
        for (const Style& style : styles) {
            for (const QSize size : {QSize(320, 90), QSize(50, 400)}) {
                QImage clear(size - QSize(20, 20), QImage::Format_ARGB32_Premultiplied);
                clear.fill(Qt::transparent);
                const QImage picture = composeWithBackground(clear, style, 10, 0);
                QImage movie = movie_background::paint(style, size);
                if (style.kind() < Style::Kind::bluePurple)
                    movie = QImage(); // custom styles' alpha: a movie shows colours opaque
                for (const auto& [surface, fast] : {std::pair(BackgroundSurface::picture, picture),
                                                    std::pair(BackgroundSurface::movie, movie)}) {
                    if (fast.isNull())
                        continue;
                    QImage painted(size, fast.format());
                    painted.fill(surface == BackgroundSurface::movie ? Qt::black : Qt::transparent);
                    QPainter(&painted).fillRect(QRectF(painted.rect()),
                                                gradientBrush(style, surface, painted.rect()));
                    // Premultiplied, as painted: the channels, not the colour.
                    const auto premultiplied = QImage::Format_ARGB32_Premultiplied;
                    const QImage a = fast.convertToFormat(premultiplied),
                                 b = painted.convertToFormat(premultiplied);
                    for (int y = 0; y < size.height(); ++y)
                        for (int x = 0; x < size.width(); ++x)
                            QVERIFY2(test_support::near(QColor::fromRgba(a.pixel(x, y)),
                                                        QColor::fromRgba(b.pixel(x, y)), 1),
                                     qPrintable(QString::asprintf("style %d at %d,%d",
                                                                  int(style.kind()), x, y)));
                }
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestBackgroundPainting)
#include "tst_background_painting.moc"
