// GradientStyle's equality: by kind, colours, or the very same picture.

#include "gradient_style.h"
#include "named_colors.h"

#include <QtTest>

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
};

QTEST_GUILESS_MAIN(TestGradientStyle)
#include "tst_gradient_style.moc"
