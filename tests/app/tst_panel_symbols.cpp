// The tray panel's symbols against icon themes built on the spot: a theme's icon is taken
// only when it works as a template, and the drawn symbol fills in otherwise.

#include "panel_symbols.h"
#include "test_support.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

namespace {

enum class Art { outline, fullColour, tiny };

} // namespace

class TestPanelSymbols : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void takesOnlyTemplateLikeThemeIcons_data()
    {
        QTest::addColumn<int>("art");
        QTest::addColumn<bool>("themeIconKept");
        QTest::newRow("outline") << int(Art::outline) << true;
        // File-type artwork would come out as a solid block in the label's colour.
        QTest::newRow("full colour") << int(Art::fullColour) << false;
        QTest::newRow("only far smaller than shown") << int(Art::tiny) << false;
    }
    void takesOnlyTemplateLikeThemeIcons()
    {
        QFETCH(int, art);
        QFETCH(bool, themeIconKept);
        QTemporaryDir root;
        const QString theme = QStringLiteral("probe%1").arg(art);
        const int side = Art(art) == Art::tiny ? 8 : 16;
        const QString context = QStringLiteral("%1x%1/actions").arg(side);
        const QString dir = root.filePath(theme + u'/' + context);
        QVERIFY(QDir().mkpath(dir));
        test_support::fileBytes(root.filePath(theme + "/index.theme"),
                                QStringLiteral("[Icon Theme]\nName=%1\nDirectories=%2\n\n[%2]\n"
                                               "Size=%3\nType=Fixed\n")
                                    .arg(theme, context)
                                    .arg(side)
                                    .toUtf8());
        QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        if (Art(art) == Art::fullColour) {
            painter.fillRect(QRect(1, 0, 14, 16), QColor(0x3d, 0x84, 0xe6));
            painter.fillRect(QRect(3, 4, 10, 8), Qt::white);
        } else {
            painter.drawRect(image.rect().adjusted(1, 1, -2, -2));
        }
        painter.end();
        for (const char* name : {"image-x-generic", "video-x-generic", "system-shutdown"})
            QVERIFY(image.save(dir + u'/' + QLatin1String(name) + ".png"));

        QIcon::setThemeSearchPaths({root.path()});
        QIcon::setThemeName(theme);
        for (PanelSymbol symbol : {PanelSymbol::photo, PanelSymbol::film, PanelSymbol::power}) {
            const QIcon icon = panelSymbol(symbol);
            QCOMPARE(!icon.name().isEmpty(), themeIconKept); // the drawn ones have no name
            QVERIFY(!icon.pixmap(kPanelSymbolSize).isNull());
        }
        QIcon::setThemeName(QString());
    }
};

QTEST_MAIN(TestPanelSymbols)
#include "tst_panel_symbols.moc"
