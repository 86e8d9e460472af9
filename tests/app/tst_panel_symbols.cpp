// The tray panel's symbols against icon themes built on the spot: a theme's
// icon is taken only when it works as a template, and the drawn symbol fills
// in otherwise.

#include "panel_symbols.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

namespace {

enum class Art { outline, fullColour, tiny };

// Writes <theme>/16x16/<context>/<name>.png drawn as `art`.
void writeIcon(const QString& themeDir, const QString& context, const QString& name, Art art)
{
    const int side = art == Art::tiny ? 8 : 16;
    const QString dir = themeDir + QStringLiteral("/%1x%1/").arg(side) + context;
    QVERIFY(QDir().mkpath(dir));
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    if (art == Art::fullColour) {
        painter.fillRect(QRect(1, 0, 14, 16), QColor(0x3d, 0x84, 0xe6));
        painter.fillRect(QRect(3, 4, 10, 8), Qt::white);
    } else {
        painter.setPen(Qt::black);
        painter.drawRect(image.rect().adjusted(1, 1, -2, -2));
    }
    painter.end();
    QVERIFY(image.save(dir + QLatin1Char('/') + name + QStringLiteral(".png")));
}

} // namespace

class TestPanelSymbols : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void takesOnlyTemplateLikeThemeIcons_data();
    void takesOnlyTemplateLikeThemeIcons();
    void drawnSymbolsAreOutlines();
};

void TestPanelSymbols::takesOnlyTemplateLikeThemeIcons_data()
{
    QTest::addColumn<int>("art");
    QTest::addColumn<bool>("themeIconKept");
    QTest::newRow("outline") << int(Art::outline) << true;
    // File-type artwork, as the common themes ship for pictures and videos,
    // would come out as a solid block in the label's colour.
    QTest::newRow("full colour") << int(Art::fullColour) << false;
    QTest::newRow("only far smaller than shown") << int(Art::tiny) << false;
}

void TestPanelSymbols::takesOnlyTemplateLikeThemeIcons()
{
    QFETCH(int, art);
    QFETCH(bool, themeIconKept);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString theme = QStringLiteral("probe%1").arg(art);
    const QString themeDir = root.path() + QLatin1Char('/') + theme;
    QVERIFY(QDir().mkpath(themeDir));
    const QString context = Art(art) == Art::tiny ? QStringLiteral("8x8/actions")
                                                  : QStringLiteral("16x16/actions");
    QFile index(themeDir + QStringLiteral("/index.theme"));
    QVERIFY(index.open(QIODevice::WriteOnly));
    const int side = Art(art) == Art::tiny ? 8 : 16;
    index.write(QStringLiteral("[Icon Theme]\nName=%1\nDirectories=%2\n\n[%2]\nSize=%3\n"
                               "Type=Fixed\n")
                    .arg(theme, context)
                    .arg(side)
                    .toUtf8());
    index.close();
    for (const char* name : {"image-x-generic", "video-x-generic", "system-shutdown"})
        writeIcon(themeDir, QStringLiteral("actions"), QLatin1String(name), Art(art));

    QIcon::setThemeSearchPaths({root.path()});
    QIcon::setThemeName(theme);
    for (PanelSymbol symbol : {PanelSymbol::photo, PanelSymbol::film, PanelSymbol::power}) {
        const QIcon icon = panelSymbol(symbol);
        // Theme icons carry their name; the drawn ones have none.
        QCOMPARE(!icon.name().isEmpty(), themeIconKept);
        QVERIFY(!icon.pixmap(kPanelSymbolSize).isNull());
    }
    // Nothing in this theme stands for a window or for cropping.
    QVERIFY(panelSymbol(PanelSymbol::window).name().isEmpty());
    QVERIFY(panelSymbol(PanelSymbol::crop).name().isEmpty());
    QIcon::setThemeName(QString());
}

void TestPanelSymbols::drawnSymbolsAreOutlines()
{
    for (PanelSymbol symbol : {PanelSymbol::window, PanelSymbol::crop, PanelSymbol::photo,
                               PanelSymbol::film, PanelSymbol::power})
        QVERIFY(usableAsPanelSymbol(drawnPanelSymbol(symbol), kPanelSymbolSize));
    QVERIFY(!usableAsPanelSymbol(QIcon(), kPanelSymbolSize));
}

QTEST_MAIN(TestPanelSymbols)
#include "tst_panel_symbols.moc"
