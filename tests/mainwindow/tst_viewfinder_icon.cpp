// The installed icon and the one the app draws for its windows and tray must
// be the same picture: the SVG, rendered by librsvg as desktops render it, is
// compared with viewfinderIcon() pixel by pixel at two sizes.

#include "test_support.h"
#include "viewfinder_icon.h"

#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

class ViewfinderIconTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // At the launcher's size and the tray's.
    void svgMatchesDrawing()
    {
        for (const int side : {256, 24}) {
            QTemporaryDir dir;
            const QString rendered = dir.filePath(QStringLiteral("icon.png"));
            const auto rsvg = test_support::run("rsvg-convert", {"-w", QString::number(side), "-h",
                                                                 QString::number(side), "-o",
                                                                 rendered, QUORVEL_ICON_SVG});
            QVERIFY2(rsvg.exitCode == 0, rsvg.err.constData());

            const QImage svg = QImage(rendered).convertToFormat(QImage::Format_ARGB32);
            const QImage drawn =
                viewfinderIcon(side, 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
            QCOMPARE(svg.size(), drawn.size());

            // Two rasterisers shade the edges of a shape a little differently;
            // a moved or resized shape differs by far more, over whole runs of
            // pixels.
            int far = 0;
            for (int y = 0; y < side; ++y)
                for (int x = 0; x < side; ++x)
                    far += !test_support::near(svg.pixelColor(x, y), drawn.pixelColor(x, y), 48);
            QVERIFY2(
                far <= side * side / 200,
                qPrintable(QStringLiteral("%1 of %2 pixels differ").arg(far).arg(side * side)));
        }
    }
};

QTEST_MAIN(ViewfinderIconTest)
#include "tst_viewfinder_icon.moc"
