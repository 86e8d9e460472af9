// Movies at the edges: damaged headers and packets (each failure names the
// input, and a decoder's bare -1 is not read as a system error), and frames at
// the limits of what H.264 can carry.

#include "colour_tags.h"
#include "movie_composer.h"
#include "movie_fixtures.h"
#include "movie_writer.h"

#include <QtTest>
#include <cstring>

using Kind = MovieCompositionOutcome::Kind;
namespace fixtures = movie_fixtures;

namespace {

// Stores a byte from a header as it is, whatever the field's type allows.
template <typename Tag> void store(Tag& field, int raw)
{
    static_assert(sizeof raw == sizeof field);
    std::memcpy(&field, &raw, sizeof raw);
}

// Where `marker` first starts after `from`, or -1.
qint64 find(const QString& path, const QByteArray& marker, qint64 from = 0)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().indexOf(marker, from) : -1;
}

MovieCompositionOutcome compose(const QString& in, const QString& out)
{
    return MovieComposer::compose(in, out, {GradientStyle::customColor(Qt::white), 4, 0});
}

} // namespace

class TestMovieEdges : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    void keepsOnlyNamedColourTags_data()
    {
        QTest::addColumn<QList<int>>("given");    // primaries, transfer, space, range, format
        QTest::addColumn<QList<int>>("expected"); // primaries, transfer, space, range
        const int yuv = AV_PIX_FMT_YUV422P10;
        const QList<int> bt709{AVCOL_PRI_BT709, AVCOL_TRC_BT709, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG};
        QTest::newRow("untagged") << QList<int>{2, 2, 2, 0, yuv} << bt709;
        QTest::newRow("bt2020, full range")
            << QList<int>{AVCOL_PRI_BT2020, AVCOL_TRC_SMPTE2084, AVCOL_SPC_BT2020_NCL,
                          AVCOL_RANGE_JPEG, yuv}
            << QList<int>{AVCOL_PRI_BT2020, AVCOL_TRC_SMPTE2084, AVCOL_SPC_BT2020_NCL,
                          AVCOL_RANGE_JPEG};
        QTest::newRow("all 255") << QList<int>{255, 255, 255, 255, yuv} << bt709;
        QTest::newRow("reserved") << QList<int>{3, 3, 3, 0, yuv} << bt709;
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
        store(source.color_primaries, given[0]);
        store(source.color_trc, given[1]);
        store(source.color_space, given[2]);
        store(source.color_range, given[3]);
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
        QTest::newRow("far beyond") << QSize(12160, 12120) << false;
    }

    void framesWithinH264sLimits()
    {
        QFETCH(QSize, size);
        QFETCH(bool, accepted);
        QTemporaryDir folder;
        const QString destination = folder.filePath("edge.mp4");
        QCOMPARE(MovieWriter::checkFrameSize(QSizeF(size)).ok(), accepted);

        auto writer = MovieWriter::open(QFile::encodeName(destination), {size, {}, nullptr, 0});
        const auto files = [&] {
            return QDir(folder.path()).entryList(QDir::Files | QDir::Hidden);
        };
        if (!accepted) {
            QVERIFY(!writer.ok());
            QVERIFY2(
                writer.error().contains(QString("%1 × %2").arg(size.width()).arg(size.height())),
                qPrintable(writer.error()));
            QCOMPARE(files(), QStringList());
            return;
        }
        QVERIFY2(writer.ok(), qPrintable(writer.error()));
        libav::FramePtr frame =
            libav::allocateFrame(AV_PIX_FMT_YUV420P, size.width(), size.height());
        QVERIFY(frame && av_frame_make_writable(frame.get()) == 0);
        for (int plane = 0; plane < 3; ++plane)
            std::memset(frame->data[plane], 128,
                        size_t(frame->linesize[plane]) *
                            (plane ? size.height() / 2 : size.height()));
        const auto written = writer.value()->writePicture(*frame);
        QVERIFY2(written.ok(), qPrintable(written.error()));
        const auto finished = writer.value()->finish();
        QVERIFY2(finished.ok(), qPrintable(finished.error()));
        QCOMPARE(files(), QStringList{"edge.mp4"});
        const QJsonObject video =
            fixtures::probe(destination, {"-show_streams"})["streams"][0].toObject();
        QCOMPARE(QSize(video["width"].toInt(), video["height"].toInt()), size);
    }

    void blamesTheSourceForItsSound_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("arguments");
        // The codec's tag: found by walking to each marker in turn, then
        // `offset` bytes on, `width` bytes zeroed.
        QTest::addColumn<QByteArrayList>("markers");
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("reason");
        const QString source =
            "-f lavfi -i testsrc=size=64x48:rate=10 -f lavfi -i sine=r=44100 -t 0.5";
        // AVI's format tag 0 is no codec FFmpeg knows.
        QTest::newRow("no decoder") << "silent.avi" << source + " -c:v mjpeg -c:a pcm_s16le"
                                    << QByteArrayList{"auds", "strf"} << 8 << 2
                                    << "the sound cannot be decoded: no decoder for its codec";
        // MOV reads a zero tag as raw samples, and MP3 frames are not that.
        QTest::newRow("undecodable")
            << "noise.mov" << source + " -c:v libx264 -c:a libmp3lame"
            << QByteArrayList{"soun", ".mp3"} << 0 << 4 << "the sound cannot be decoded:";
    }

    void blamesTheSourceForItsSound()
    {
        QFETCH(QString, name);
        QFETCH(QString, arguments);
        QFETCH(QByteArrayList, markers);
        QFETCH(int, offset);
        QFETCH(int, width);
        QFETCH(QString, reason);
        const QString in = m_dir.filePath(name), out = m_dir.filePath(name + ".mp4");
        QVERIFY(fixtures::make(in, arguments));
        qint64 at = 0;
        for (const QByteArray& marker : markers)
            QVERIFY((at = find(in, marker, at)) > 0);
        QVERIFY(fixtures::patch(in, {{at + offset, QByteArray(width, '\0')}}));

        const auto outcome = compose(in, out);
        QCOMPARE(outcome.kind, Kind::failed);
        QCOMPARE(outcome.stage, MovieCompositionOutcome::Stage::source);
        QVERIFY2(outcome.reason.startsWith(reason), qPrintable(outcome.reason));
        QVERIFY(!QFile::exists(out));
    }

    // Four bytes changed in the second picture's slices, after which the
    // ProRes decoder gives -1 for it, at the end of the file.
    void skipsPictureTheDecoderRefusesWithMinusOne()
    {
        const QString in = m_dir.filePath("prores.mov");
        QVERIFY(fixtures::make(in, "-f lavfi -i testsrc=size=64x48:rate=10 -t 0.3 -c:v prores_ks"));
        const QList<qint64> packets = fixtures::packetPositions(in);
        QCOMPARE(packets.size(), 3);
        QVERIFY(fixtures::patch(in, {{packets[1] + 770, "\x29"},
                                     {packets[1] + 875, "\xdf"},
                                     {packets[1] + 1670, "\x1c"},
                                     {packets[1] + 1802, "\xb3"}}));
        const auto outcome = compose(in, m_dir.filePath("out.mp4"));
        QVERIFY2(outcome.kind == Kind::completed, qPrintable(outcome.reason));
        QCOMPARE(outcome.skippedPackets, 1);
    }
};

QTEST_GUILESS_MAIN(TestMovieEdges)
#include "tst_movie_edges.moc"
