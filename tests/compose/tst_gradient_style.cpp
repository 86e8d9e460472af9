// GradientStyle's equality, and its colours as painted behind the editor's preview.

#include "background_painting.h"
#include "named_colors.h"
#include "test_support.h"

#include <QPainter>

using namespace named_colors;
using Style = GradientStyle;

class TestGradientStyle : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Built twice, the styles must equal their twins and nothing else.
    void equality()
    {
        const auto picture = std::make_shared<const QImage>(8, 8, QImage::Format_RGB32);
        const auto samePixels = std::make_shared<const QImage>(*picture);
        const QList<QColor> one{red()}, rb{red(), blue()}, br{blue(), red()}, bp{blue(), purple()};
        auto build = [&] {
            return std::vector<Style>{
                Style::customColor(red()),   Style::customColor(QColor(255, 59, 48, 128)),
                Style::customGradient(one),  Style::customGradient(rb),
                Style::customGradient(br),   Style::customGradient(bp),
                Style::bluePurple(),         Style::ocean(),
                Style::customImage(picture), Style::customImage(samePixels),
                Style::customImage(nullptr)};
        };
        const std::vector<Style> styles = build(), twins = build();
        for (size_t i = 0; i < styles.size(); ++i)
            for (size_t j = 0; j < twins.size(); ++j)
                QVERIFY2((styles[i] == twins[j]) == (i == j),
                         qPrintable(QStringLiteral("%1 vs %2").arg(i).arg(j)));
    }

    // Every kind painted behind the preview, checked at the corners of a square
    // away from the origin: each preset keeps its own direction here, and a
    // picture covers the square, centred.
    void coloursOfEachKindOnScreen()
    {
        const QColor see(10, 20, 30, 128), g(Qt::green), clear(0, 0, 0, 0);
        const QColor bluePurple(88, 102, 239), cyanBlue(43, 156, 248);
        const QColor rose(255, 102, 204), violet(179, 77, 255), sky(102, 153, 255);
        // Red, green, green, green, blue: stretching shows red and blue, fitting leaves gaps.
        const quint32 rgb[] = {0xffff0000, 0xff00ff00, 0xff00ff00, 0xff00ff00, 0xff0000ff};
        const QImage stripes(reinterpret_cast<const uchar*>(rgb), 5, 1, QImage::Format_RGB32);
        // Top-left, top-right, bottom-left, bottom-right.
        const std::tuple<const char*, Style, std::array<QColor, 4>> cases[] = {
            {"default", Style(), {blue(), bluePurple, bluePurple, purple()}},
            {"bluePurple", Style::bluePurple(), {blue(), bluePurple, bluePurple, purple()}},
            {"sunset downward", Style::sunset(), {orange(), orange(), pink(), pink()}},
            {"greenYellow rightward", Style::greenYellow(), {green(), yellow(), green(), yellow()}},
            {"ocean", Style::ocean(), {cyan(), cyanBlue, cyanBlue, blue()}},
            {"warmGlow", Style::warmGlow(), {red(), orange(), orange(), yellow()}},
            {"dreamyPink upward", Style::dreamyPink(), {violet, sky, rose, violet}},
            {"colour keeps alpha", Style::customColor(see), {see, see, see, see}},
            {"gradient as given", Style::customGradient({red(), g, blue()}), {red(), g, g, blue()}},
            {"picture", Style::customImage(std::make_shared<const QImage>(stripes)), {g, g, g, g}},
            {"no picture", Style::customImage(nullptr), {clear, clear, clear, clear}},
        };
        for (const auto& [what, style, corners] : cases) {
            QImage view(100, 100, QImage::Format_ARGB32_Premultiplied);
            view.fill(Qt::transparent);
            QPainter painter(&view);
            paintBackground(painter, QRectF(10, 10, 80, 80), style, BackgroundSurface::screen);
            for (int i = 0; i < 4; ++i)
                QVERIFY2(test_support::near(view.pixelColor(10 + i % 2 * 79, 10 + i / 2 * 79),
                                            corners[i], 4),
                         what);
        }
    }
};

QTEST_GUILESS_MAIN(TestGradientStyle)
#include "tst_gradient_style.moc"
