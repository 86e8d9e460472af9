// The movie source against movies made by the ffmpeg program: every picture
// and packet handed over and kept by the caller, damaged packets skipped,
// interlaced pictures woven.

#include "movie_composer.h"
#include "movie_fixtures.h"
#include "movie_source.h"

#include <QCryptographicHash>
#include <QtTest>
#include <vector>

using Kind = MovieCompositionOutcome::Kind;
namespace fixtures = movie_fixtures;

namespace {

QByteArray lumaHash(const AVFrame& picture)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (int y = 0; y < picture.height; ++y)
        hash.addData(QByteArrayView(picture.data[0] + y * picture.linesize[0], picture.width));
    return hash.result();
}

// How far rows stand out from the mean of their neighbours: the mark of two
// fields from different instants woven into one picture.
double combing(const QImage& image)
{
    double sum = 0;
    for (int y = 1; y + 1 < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            sum += std::abs(qGray(image.pixel(x, y)) -
                            (qGray(image.pixel(x, y - 1)) + qGray(image.pixel(x, y + 1))) / 2.0);
    return sum / (image.width() * (image.height() - 2));
}

// A white bar crossing a black picture, 60 instants a second.
const QString sweepingBar = "-f lavfi -i color=c=black:s=96x64:r=60:d=0.6[bg];"
                            "color=c=white:s=12x64:r=60:d=0.6[bar];"
                            "[bg][bar]overlay=x=mod(t*200\\,96):shortest=1 ";

} // namespace

class TestMovieSource : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }

private Q_SLOTS:

    void handsOverEveryPictureAndPacket_data()
    {
        QTest::addColumn<QString>("make");
        const QString moving =
            "-f lavfi -i testsrc=s=96x64:r=30:d=1 -f lavfi -i sine=d=1 -c:a aac -shortest ";
        // B-frames decoded by several threads hold pictures back, and give
        // them out in bursts; HEVC's decoder works likewise.
        QTest::newRow("H.264, B-frames") << moving + "-c:v libx264 -bf 3 -threads 4";
        QTest::newRow("HEVC, B-frames")
            << moving + "-c:v libx265 -x265-params log-level=none:bframes=4";
    }

    void handsOverEveryPictureAndPacket()
    {
        QFETCH(QString, make);
        if (make.contains("libx265") && !fixtures::hasX265())
            QSKIP("ffmpeg has no libx265");
        const QString in = path("every.mp4");
        QVERIFY(fixtures::make(in, make));

        auto opened = MovieSource::open(in);
        QVERIFY2(opened.ok(), qPrintable(opened.error()));
        MovieSource& source = *opened.value();
        // Everything kept to the end: nothing the caller holds may change.
        std::vector<MovieSource::Item> kept;
        QList<QByteArray> hashes;
        for (;;) {
            auto next = source.next();
            QVERIFY2(next.ok(), qPrintable(next.error()));
            MovieSource::Item item = std::move(next).value();
            if (item.kind == MovieSource::Item::Kind::end)
                break;
            if (item.picture)
                hashes << lumaHash(*item.picture);
            kept.push_back(std::move(item));
        }
        int pictures = 0, packets = 0;
        double time = -1;
        for (const auto& item : kept) {
            if (item.kind == MovieSource::Item::Kind::audio) {
                QVERIFY(item.packet && item.packet->size > 0);
                ++packets;
                continue;
            }
            QVERIFY2(item.time > time, "pictures in display order");
            time = item.time;
            QCOMPARE(lumaHash(*item.picture), hashes[pictures++]);
        }
        QCOMPARE(pictures, fixtures::stream(in)["nb_read_frames"].toString().toInt());
        QCOMPARE(packets, fixtures::stream(in, "a")["nb_read_packets"].toString().toInt());
        QCOMPARE(source.skippedPackets(), 0);
    }

    void skipsDamagedPackets_data()
    {
        QTest::addColumn<QList<int>>("damaged"); // packet indexes; -1: every one
        QTest::addColumn<bool>("composed");
        QTest::newRow("three in the middle") << QList<int>{10, 11, 20} << true;
        QTest::newRow("every one") << QList<int>{-1} << false;
    }

    void skipsDamagedPackets()
    {
        QFETCH(QList<int>, damaged);
        QFETCH(bool, composed);
        const QString whole = path("whole.mp4"), in = path("damaged.mp4"), out = path("out.mp4");
        QVERIFY(fixtures::make(whole, "-f lavfi -i testsrc=s=96x64:r=30:d=1 -c:v libx264"));
        // A length word no packet can have: the decoder refuses the packet.
        const QList<qint64> positions = fixtures::packetPositions(whole);
        QCOMPARE(positions.size(), 30);
        QList<QPair<qint64, QByteArray>> changes;
        for (int i = 0; i < positions.size(); ++i)
            if (damaged.contains(i) || damaged == QList<int>{-1})
                changes.append({positions[i], "\xff\xff\xff\xff"});
        QFile::remove(in);
        QFile::remove(out);
        QVERIFY(QFile::copy(whole, in) && fixtures::patch(in, changes));
        const auto outcome = MovieComposer::compose(in, out, {});
        if (!composed) {
            QCOMPARE(outcome.kind, Kind::failed);
            QVERIFY(!outcome.reason.isEmpty() && !outcome.reason.contains('\n'));
            QVERIFY(!QFile::exists(out));
            return;
        }
        // Players go past such damage; so does the ffmpeg program.
        QCOMPARE(test_support::run("ffmpeg", {"-v", "error", "-i", in, "-f", "null", "-"}).exitCode,
                 0);
        QVERIFY2(outcome.kind == Kind::completed, qPrintable(outcome.reason));
        QVERIFY(outcome.skippedPackets >= 1 && outcome.skippedPackets <= damaged.size());
        const int frames = fixtures::stream(out)["nb_read_frames"].toString().toInt();
        QVERIFY2(std::abs(frames - 30) <= 1, qPrintable(QString::number(frames)));
    }

    void weavesInterlacedPictures_data()
    {
        QTest::addColumn<QString>("make");
        QTest::addColumn<QString>("name");
        // Two instants of the bar in every picture, one in each field.
        const QString fields = sweepingBar + "-vf tinterlace=interleave_top,setfield=tff ";
        QTest::newRow("coded as fields")
            << fields + "-c:v libx264 -flags +ilme+ildct -x264-params log-level=none"
            << "fields.mp4";
        QTest::newRow("only the stream tagged") << fields + "-c:v libx264 -field_order tt"
                                                << "tagged.mkv";
    }

    void weavesInterlacedPictures()
    {
        QFETCH(QString, make);
        QFETCH(QString, name);
        const QString in = path(name), reference = path("progressive.mp4"), out = path("woven.mp4");
        QVERIFY(fixtures::make(in, make));
        QVERIFY(fixtures::make(reference, sweepingBar + "-vf framestep=2"));
        QCOMPARE(fixtures::stream(in)["field_order"].toString(), QStringLiteral("tt"));

        const auto outcome =
            MovieComposer::compose(in, out, {GradientStyle::customColor(Qt::black), 0, 0});
        QVERIFY2(outcome.kind == Kind::completed, qPrintable(outcome.reason));
        const QJsonObject video = fixtures::stream(out);
        QCOMPARE(video["field_order"].toString(), QStringLiteral("progressive"));
        QVERIFY(std::abs(video["nb_read_frames"].toString().toInt() - 18) <= 1);

        // Frame 10 of ours is source picture 5: the bar mid-way.
        const double combed = combing(fixtures::frame(in, 5));
        const double whole = combing(fixtures::frame(reference, 5));
        const double woven = combing(fixtures::frame(out, 10));
        QVERIFY2(combed > 4 * whole, qPrintable(QString::number(combed)));
        QVERIFY2(woven < 2 * whole + 1,
                 qPrintable(QStringLiteral("%1 against %2").arg(woven).arg(whole)));
    }
};

QTEST_GUILESS_MAIN(TestMovieSource)
#include "tst_movie_source.moc"
