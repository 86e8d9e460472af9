// What the picture looks like in the composed movie, against the ffmpeg
// program's own work on the same source: its shape when its pixels are not
// square, its colours whatever form they come in, and its exact edges.

#include "movie_composer.h"
#include "movie_fixtures.h"

#include <QImage>
#include <QtTest>

using Kind = MovieCompositionOutcome::Kind;
namespace fixtures = movie_fixtures;

const QColor grey(128, 128, 128);

class TestMoviePicture : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }

    MovieCompositionOutcome compose(const QString& in, const QString& out, double padding = 0)
    {
        return MovieComposer::compose(in, out, {GradientStyle::customColor(grey), padding, 0});
    }

private Q_SLOTS:

    void showsPixelsAtTheirShape_data()
    {
        QTest::addColumn<QString>("make");
        QTest::addColumn<QSize>("shown");
        QTest::addColumn<bool>("turned");
        // Blue with a yellow band at a quarter of the width.
        const QString band = "-f lavfi -i color=c=blue:s=96x72:d=0.3,drawbox=x=24:w=24:h=ih:"
                             "c=yellow:t=fill,setsar=";
        QTest::newRow("wide pixels") << band + "4/3" << QSize(128, 72) << false;
        QTest::newRow("tall pixels") << band + "3/4" << QSize(72, 72) << false;
        QVERIFY(fixtures::make(path("wide.mp4"), band + "4/3"));
        QTest::newRow("wide pixels, turned")
            << "-i " + path("wide.mp4") + " -c copy -metadata:s:v rotate=90" << QSize(72, 128)
            << true;
    }

    void showsPixelsAtTheirShape()
    {
        QFETCH(QString, make);
        QFETCH(QSize, shown);
        QFETCH(bool, turned);
        const QString in = path(turned ? "turned.mp4" : "shape.mp4"), out = path("shape-out.mp4");
        QVERIFY(fixtures::make(in, make));
        const auto outcome = compose(in, out);
        QVERIFY2(outcome.kind == Kind::completed, qPrintable(outcome.reason));

        const QJsonObject video = fixtures::stream(out);
        QCOMPARE(QSize(video["width"].toInt(), video["height"].toInt()), shown);
        QCOMPARE(video["sample_aspect_ratio"].toString(), QStringLiteral("1:1"));
        if (turned)
            return;
        // Where ffmpeg's widening puts the band, ours does.
        const QImage expected =
            fixtures::frame(in, 0, "scale=iw*sar:ih:" + fixtures::readAs(fixtures::stream(in)));
        const QImage image = fixtures::frame(out);
        QCOMPARE(expected.size(), shown);
        for (int x = 2; x < shown.width(); x += 4)
            QUORVEL_COMPARE_COLOR(image.pixelColor(x, 36), expected.pixelColor(x, 36), 40);
    }

    void keepsColours_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("tags"); // the output's colour space and range
        // Red, green, blue, white and grey bars, 16 pixels each.
        QImage bars(80, 48, QImage::Format_RGB888);
        const QColor colours[] = {Qt::red, Qt::green, Qt::blue, Qt::white, grey};
        for (int i = 0; i < 5; ++i)
            for (int y = 0; y < 48; ++y)
                for (int x = 0; x < 16; ++x)
                    bars.setPixelColor(16 * i + x, y, colours[i]);
        QVERIFY(bars.save(path("bars.png")));
        QVERIFY(bars.convertToFormat(QImage::Format_Indexed8).save(path("palette.png")));
        const QString still = "-loop 1 -t 0.3 -i " + path("bars.png") + ' ';
        QVERIFY(fixtures::make(path("rgb.mov"), still + "-c:v png"));
        QVERIFY(fixtures::make(path("bt601.mp4"),
                               still + "-vf scale=out_color_matrix=bt601:out_range=tv,"
                                       "format=yuv420p -colorspace smpte170m -color_primaries "
                                       "smpte170m -color_trc smpte170m"));

        QTest::newRow("RGB movie") << path("rgb.mov") << "bt709 tv";
        QTest::newRow("palette picture") << path("palette.png") << "bt709 tv";
        QTest::newRow("BT.601 movie") << path("bt601.mp4") << "smpte170m tv";
    }

    void keepsColours()
    {
        QFETCH(QString, source);
        QFETCH(QString, tags);
        const QString out = path("colours-out.mp4");
        const auto outcome = compose(source, out);
        QVERIFY2(outcome.kind == Kind::completed, qPrintable(outcome.reason));
        const QJsonObject video = fixtures::stream(out);
        QCOMPARE(video["color_space"].toString() + ' ' + video["color_range"].toString(), tags);

        // ffmpeg's own conversion of the source to the output's tags, and
        // back; a palette is looked up first, as swscale reads palettes as BT.601.
        const QJsonObject input = fixtures::stream(source);
        const bool rgb = !input["pix_fmt"].toString().startsWith("yuv");
        const QString reading = fixtures::readAs(video);
        const QString writing = "format=rgb24,scale=" + QString(reading).replace("in_", "out_") +
                                ",format=yuv420p,scale=" + reading;
        const QImage expected =
            fixtures::frame(source, 0, rgb ? writing : "scale=" + fixtures::readAs(input));
        const QImage image = fixtures::frame(out);
        for (int i = 0; i < 5; ++i)
            QUORVEL_COMPARE_COLOR(image.pixelColor(16 * i + 8, 24),
                                  expected.pixelColor(16 * i + 8, 24), 3);
    }

    void placesTheEdgesExactly_data()
    {
        QTest::addColumn<int>("padding");
        QTest::newRow("padding 4") << 4;
        QTest::newRow("no padding") << 0;
    }

    void placesTheEdgesExactly()
    {
        QFETCH(int, padding);
        // A dark picture with a one-pixel border of a different colour on each side.
        const QSize size(64, 48);
        QImage picture(size, QImage::Format_RGB888);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                picture.setPixelColor(x, y,
                                      y == 0                   ? Qt::white
                                      : y == size.height() - 1 ? Qt::yellow
                                      : x == 0                 ? Qt::red
                                      : x == size.width() - 1  ? Qt::cyan
                                                               : QColor(40, 40, 40));
        const QString in = path("edges.png"), out = path("edges-out.mp4");
        QVERIFY(picture.save(in));
        const auto outcome = compose(in, out, padding);
        QVERIFY2(outcome.kind == Kind::completed, qPrintable(outcome.reason));

        // The same job done by ffmpeg's pad filter.
        const int margin = 2 * padding;
        const QSize frame = size + QSize(2 * margin, 2 * margin);
        const QString reading = fixtures::readAs(fixtures::stream(out));
        const QImage expected = fixtures::frame(
            in, 0,
            QStringLiteral("scale=%1,format=yuv420p,pad=%2:%3:%4:%4:color=0x808080,scale=%5")
                .arg(QString(reading).replace("in_", "out_"))
                .arg(frame.width())
                .arg(frame.height())
                .arg(margin)
                .arg(reading));
        const QImage image = fixtures::frame(out);
        QCOMPARE(image.size(), frame);
        QCOMPARE(expected.size(), frame);

        // Each edge line of the picture, and the line just outside it.
        for (int outside = 0; outside < 2; ++outside) {
            const int first = margin - outside, right = margin + size.width() - 1 + outside,
                      bottom = margin + size.height() - 1 + outside;
            const QPoint across(1, 0), down(0, 1);
            const std::pair<QPoint, QPoint> lines[] = {{{margin, first}, across},
                                                       {{margin, bottom}, across},
                                                       {{first, margin}, down},
                                                       {{right, margin}, down}};
            for (const auto& [from, step] : lines) {
                if (!QRect(QPoint(), frame).contains(from))
                    continue;
                const int count = step == across ? size.width() : size.height();
                double difference = 0; // mean over the line and the channels
                for (int i = 0; i < count; ++i) {
                    const QColor x = image.pixelColor(from + i * step),
                                 y = expected.pixelColor(from + i * step);
                    difference += std::abs(x.red() - y.red()) + std::abs(x.green() - y.green()) +
                                  std::abs(x.blue() - y.blue());
                }
                difference /= 3 * count;
                QVERIFY2(difference < 10, qPrintable(QStringLiteral("line from (%1, %2): %3")
                                                         .arg(from.x())
                                                         .arg(from.y())
                                                         .arg(difference)));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestMoviePicture)
#include "tst_movie_picture.moc"
