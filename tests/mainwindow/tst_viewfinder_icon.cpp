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
    void svgMatchesDrawing_data()
    {
        QTest::addColumn<int>("side");
        QTest::newRow("launcher") << 256;
        QTest::newRow("tray") << 24;
    }

    void svgMatchesDrawing()
    {
        QFETCH(int, side);
        QTemporaryDir dir;
        const QString rendered = dir.filePath(QStringLiteral("icon.png"));
        const auto rsvg =
            test_support::run(QStringLiteral("rsvg-convert"),
                              {QStringLiteral("-w"), QString::number(side), QStringLiteral("-h"),
                               QString::number(side), QStringLiteral("-o"), rendered,
                               QStringLiteral(QUORVEL_ICON_SVG)});
        QVERIFY2(rsvg.exitCode == 0, rsvg.err.constData());

        const QImage svg = QImage(rendered).convertToFormat(QImage::Format_ARGB32);
        const QImage drawn =
            viewfinderIcon(side, 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(svg.size(), drawn.size());

        // Two rasterisers shade the edges of a shape a little differently;
        // a moved or resized shape differs by far more, over whole runs of
        // pixels.
        int far = 0;
        for (int y = 0; y < side; ++y) {
            for (int x = 0; x < side; ++x) {
                const QRgb a = svg.pixel(x, y), b = drawn.pixel(x, y);
                const int difference =
                    std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                              std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))});
                if (difference > 48)
                    ++far;
            }
        }
        QVERIFY2(far <= side * side / 200,
                 qPrintable(QStringLiteral("%1 of %2 pixels differ").arg(far).arg(side * side)));
    }
};

QTEST_MAIN(ViewfinderIconTest)
#include "tst_viewfinder_icon.moc"
