// The movie source and writer against movies made by ffmpeg: pictures, damage,
// interlacing, colour tags and H.264's size limits.

#include "colour_tags.h"
#include "deinterlacer.h"
#include "movie_composer.h"
#include "movie_fixtures.h"
#include "movie_source.h"
#include "movie_writer.h"

#include <QCryptographicHash>
#include <QtTest>
#include <cstring>
#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
}

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

// A picture of one grey.
libav::FramePtr grey(int width, int height, AVPixelFormat format = AV_PIX_FMT_YUV420P)
{
    libav::FramePtr frame = libav::allocateFrame(format, width, height);
    const int chromaShift = av_pix_fmt_desc_get(format)->log2_chroma_h;
    for (int plane = 0; frame && plane < 3; ++plane)
        std::memset(frame->data[plane], 100,
                    size_t(frame->linesize[plane]) * (plane ? height >> chromaShift : height));
    return frame;
}

MovieCompositionOutcome compose(const QString& in, const QString& out)
{
    return MovieComposer::compose(in, out, {GradientStyle::customColor(Qt::black), 0, 0});
}

// Bytes overwritten in chosen video packets of a movie made by `make`.
struct Damage {
    QString make;
    QList<int> packets;                  // indexes; empty: every one
    QList<QPair<int, QByteArray>> bytes; // offset in the packet, replacement
    int fewest, most;                    // skipped packets; -1: the movie is refused
    int frames;                          // in the composed movie
};

// A sound stream's codec tag zeroed: `width` bytes, `offset` on from the last marker.
struct BrokenSound {
    QString name, make;
    QByteArrayList markers;
    int offset, width;
    QString reason; // after "the sound cannot be decoded:"
};

} // namespace

class TestMovieSource : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }

private Q_SLOTS:
    // B-frames decoded by several threads hold pictures back, and give them out in bursts.
    void handsOverEveryPictureAndPacket()
    {
        const QString in = path("every.mp4");
        QVERIFY(fixtures::make(in, "-f lavfi -i testsrc=s=96x64:r=30:d=1 -f lavfi -i sine=d=1 "
                                   "-c:a aac -shortest -c:v libx264 -bf 3 -threads 4"));

        auto opened = MovieSource::open(in);
        QVERIFY2(opened.ok(), qPrintable(opened.error()));
        MovieSource& source = *opened.value();
        // Everything kept to the end: nothing the caller holds may change.
        std::vector<MovieSource::Item> kept;
        QList<QByteArray> hashes;
        int pictures = 0, packets = 0;
        for (double time = -1;;) {
            auto next = source.next();
            QVERIFY2(next.ok(), qPrintable(next.error()));
            MovieSource::Item item = std::move(next).value();
            if (item.kind == MovieSource::Item::Kind::end)
                break;
            if (item.kind == MovieSource::Item::Kind::audio) {
                QVERIFY(item.packet && item.packet->size > 0);
                ++packets;
            } else {
                QVERIFY2(item.time > time, "pictures in display order");
                time = item.time;
                hashes << lumaHash(*item.picture);
            }
            kept.push_back(std::move(item));
        }
        for (const auto& item : kept)
            if (item.picture)
                QCOMPARE(lumaHash(*item.picture), hashes[pictures++]);
        QCOMPARE(pictures, fixtures::stream(in)["nb_read_frames"].toString().toInt());
        QCOMPARE(packets, fixtures::stream(in, "a")["nb_read_packets"].toString().toInt());
        QCOMPARE(source.skippedPackets(), 0);
    }

    void skipsDamagedPackets_data()
    {
        QTest::addColumn<Damage>("c");
        const QString h264 = "-f lavfi -i testsrc=s=96x64:r=30:d=1 -c:v libx264";
        // A length word no packet can have: the decoder refuses the packet.
        const QList<QPair<int, QByteArray>> badLength{{0, "\xff\xff\xff\xff"}};
        QTest::newRow("three in the middle") << Damage{h264, {10, 11, 20}, badLength, 1, 3, 30};
        QTest::newRow("every one") << Damage{h264, {}, badLength, -1, -1, 0};
        // Four bytes changed in the second picture's slices, after which the
        // ProRes decoder gives a bare -1, which is no system error, at the end of the file.
        const QString prores = "-f lavfi -i testsrc=size=64x48:rate=10 -t 0.3 -c:v prores_ks";
        QTest::newRow("ProRes refusing with -1") << Damage{
            prores, {1}, {{770, "\x29"}, {875, "\xdf"}, {1670, "\x1c"}, {1802, "\xb3"}}, 1, 1, 9};
    }

    void skipsDamagedPackets()
    {
        QFETCH(Damage, c);
        const QString in = path("damaged.mov"), out = path("out.mp4");
        QFile::remove(out);
        QVERIFY(fixtures::make(in, c.make));
        const QList<qint64> positions = fixtures::packetPositions(in);
        QList<QPair<qint64, QByteArray>> changes;
        for (int i = 0; i < positions.size(); ++i)
            for (const auto& [offset, bytes] : c.bytes)
                if (c.packets.isEmpty() || c.packets.contains(i))
                    changes.append({positions[i] + offset, bytes});
        QVERIFY(fixtures::patch(in, changes));
        const auto outcome = compose(in, out);
        if (c.most < 0) {
            QCOMPARE(outcome.kind, Kind::failed);
            QVERIFY(!outcome.reason.isEmpty() && !outcome.reason.contains('\n'));
            QVERIFY(!QFile::exists(out));
            return;
        }
        QVERIFY2(outcome.kind == Kind::completed, qPrintable(outcome.reason));
        QVERIFY(outcome.skippedPackets >= c.fewest && outcome.skippedPackets <= c.most);
        const int frames = fixtures::stream(out)["nb_read_frames"].toString().toInt();
        QVERIFY(std::abs(frames - c.frames) <= 1);
    }

    void blamesTheSourceForItsSound_data()
    {
        QTest::addColumn<BrokenSound>("c");
        const QString source =
            "-f lavfi -i testsrc=size=64x48:rate=10 -f lavfi -i sine=r=44100 -t 0.5";
        const QString avi = source + " -c:v mjpeg -c:a pcm_s16le",
                      mov = source + " -c:v libx264 -c:a libmp3lame";
        // AVI's format tag 0 is no codec FFmpeg knows; MOV reads a zero tag as raw samples.
        QTest::newRow("no decoder")
            << BrokenSound{"silent.avi", avi, {"auds", "strf"}, 8, 2, " no decoder for its codec"};
        QTest::newRow("undecodable") << BrokenSound{"noise.mov", mov, {"soun", ".mp3"}, 0, 4, ""};
    }

    void blamesTheSourceForItsSound()
    {
        QFETCH(BrokenSound, c);
        const QString in = path(c.name), out = path(c.name + ".mp4");
        QVERIFY(fixtures::make(in, c.make));
        qint64 at = 0;
        for (const QByteArray& marker : c.markers)
            QVERIFY((at = test_support::fileBytes(in).indexOf(marker, at)) > 0);
        QVERIFY(fixtures::patch(in, {{at + c.offset, QByteArray(c.width, '\0')}}));

        const auto outcome = compose(in, out);
        QCOMPARE(outcome.kind, Kind::failed);
        QCOMPARE(outcome.stage, MovieCompositionOutcome::Stage::source);
        QVERIFY2(outcome.reason.startsWith("the sound cannot be decoded:" + c.reason),
                 qPrintable(outcome.reason));
        QVERIFY(!QFile::exists(out));
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

        const auto outcome = compose(in, out);
        QVERIFY2(outcome.kind == Kind::completed, qPrintable(outcome.reason));
        const QJsonObject video = fixtures::stream(out);
        QCOMPARE(video["field_order"].toString(), QStringLiteral("progressive"));
        QVERIFY(std::abs(video["nb_read_frames"].toString().toInt() - 18) <= 1);

        // Frame 10 of ours is source picture 5: the bar mid-way.
        const double combed = combing(fixtures::frame(in, 5));
        const double whole = combing(fixtures::frame(reference, 5));
        const double woven = combing(fixtures::frame(out, 10));
        QVERIFY(combed > 4 * whole);
        QVERIFY2(woven < 2 * whole + 1, qPrintable(QString::number(woven)));
    }

    void keepsOnlyNamedColourTags_data()
    {
        QTest::addColumn<QList<int>>("given");    // primaries, transfer, space, range, format
        QTest::addColumn<QList<int>>("expected"); // primaries, transfer, space, range
        const int yuv = AV_PIX_FMT_YUV422P10;
        // (Untagged and named YUV tags: tst_movie_composer's sources, read as ffmpeg reads them.)
        const QList<int> bt709{AVCOL_PRI_BT709, AVCOL_TRC_BT709, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG};
        QTest::newRow("just past the last named") << QList<int>{13, 19, 15, 3, yuv} << bt709;
        QTest::newRow("negative") << QList<int>{-1, -1, -1, -1, yuv} << bt709;
        QTest::newRow("rgb source, full range")
            << QList<int>{AVCOL_PRI_SMPTE432, 13, AVCOL_SPC_RGB, AVCOL_RANGE_JPEG,
                          AV_PIX_FMT_GBRP10}
            << QList<int>{AVCOL_PRI_SMPTE432, AVCOL_TRC_IEC61966_2_1, AVCOL_SPC_BT709,
                          AVCOL_RANGE_MPEG};
    }

    void keepsOnlyNamedColourTags()
    {
        QFETCH(QList<int>, given);
        QFETCH(QList<int>, expected);
        AVCodecParameters source{};
        // Numbers stored as they are, whatever the fields' enum types allow.
        void* const fields[] = {&source.color_primaries, &source.color_trc, &source.color_space,
                                &source.color_range};
        for (int i = 0; i < 4; ++i)
            std::memcpy(fields[i], &given[i], sizeof(int));
        source.format = given[4];
        const ColourTags tags = ColourTags::of(source);
        QCOMPARE((QList<int>{tags.primaries, tags.transfer, tags.space, tags.range}), expected);
    }

    void framesWithinH264sLimits_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("widest") << QSize(16384, 16) << true;
        QTest::newRow("wider than a side may be") << QSize(16386, 16) << false;
        QTest::newRow("largest area") << QSize(8192, 4352) << true;
        // Fewer pixels than the largest area, but more once coded in whole
        // 16-pixel blocks (513 × 272).
        QTest::newRow("a block column more") << QSize(8194, 4340) << false;
    }

    void framesWithinH264sLimits()
    {
        QFETCH(QSize, size);
        QFETCH(bool, accepted);
        QTemporaryDir folder;
        const QString destination = folder.filePath("edge.mp4");
        QCOMPARE(MovieWriter::checkFrameSize(QSizeF(size)).ok(), accepted);

        auto writer = MovieWriter::open(QFile::encodeName(destination), {size, nullptr, 0});
        if (!accepted) {
            QVERIFY(!writer.ok() && writer.error().contains(QString::number(size.width())));
            QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
            return;
        }
        QVERIFY2(writer.ok(), qPrintable(writer.error()));
        const auto written = writer.value()->writePicture(*grey(size.width(), size.height()));
        QVERIFY2(written.ok(), qPrintable(written.error()));
        const auto finished = writer.value()->finish();
        QVERIFY2(finished.ok(), qPrintable(finished.error()));
        const QJsonObject video = fixtures::stream(destination);
        QCOMPARE(QSize(video["width"].toInt(), video["height"].toInt()), size);
    }

    // Pictures shaped unlike the first are refused before they reach the filter,
    // which would read them with the first one's plane sizes.
    void refusesAChangeOfShape_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("format");
        QTest::addColumn<bool>("taken");
        QTest::newRow("same") << QSize(32, 24) << int(AV_PIX_FMT_YUV420P) << true;
        QTest::newRow("taller") << QSize(32, 12312) << int(AV_PIX_FMT_YUV420P) << false;
        QTest::newRow("narrower") << QSize(16, 24) << int(AV_PIX_FMT_YUV420P) << false;
        QTest::newRow("other format") << QSize(32, 24) << int(AV_PIX_FMT_YUV422P) << false;
    }

    void refusesAChangeOfShape()
    {
        QFETCH(QSize, size);
        QFETCH(int, format);
        QFETCH(bool, taken);
        libav::FramePtr first = grey(32, 24),
                        next = grey(size.width(), size.height(), AVPixelFormat(format));
        first->pts = 0;
        next->pts = 1;
        auto opened = Deinterlacer::open(*first, {1, 25}, AV_FIELD_TT);
        QVERIFY2(opened.ok(), qPrintable(opened.error()));
        QVERIFY(opened.value()->send(std::move(first)).ok());
        const auto sent = opened.value()->send(std::move(next));
        QCOMPARE(sent.ok(), taken);
        if (!taken)
            QVERIFY2(sent.error().contains("change size"), qPrintable(sent.error()));
    }
};

QTEST_GUILESS_MAIN(TestMovieSource)
#include "tst_movie_source.moc"
