// Damaged movies: each failure names the input, not
// the output, and a decoder's bare -1 is not read as a system error.

#include "movie_composer.h"
#include "movie_fixtures.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

bool patch(const QString& path, const QList<QPair<qint64, QByteArray>>& changes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    QByteArray bytes = file.readAll();
    for (const auto& [at, replacement] : changes) {
        if (at < 0 || at + replacement.size() > bytes.size())
            return false;
        bytes.replace(at, replacement.size(), replacement);
    }
    return file.seek(0) && file.write(bytes) == bytes.size();
}

// Where `marker` first starts after `from`, or -1.
qint64 find(const QString& path, const QByteArray& marker, qint64 from = 0)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().indexOf(marker, from) : -1;
}

} // namespace

class MovieDamageTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
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

        const QString in = m_dir.filePath(name);
        QVERIFY(movie_fixtures::make(in, arguments));
        qint64 at = 0;
        for (const QByteArray& marker : markers)
            QVERIFY((at = find(in, marker, at)) > 0);
        QVERIFY(patch(in, {{at + offset, QByteArray(width, '\0')}}));

        const QString out = m_dir.filePath(name + ".mp4");
        const auto outcome =
            MovieComposer::compose(in, out, {GradientStyle::customColor(Qt::white), 4, 0});
        QCOMPARE(outcome.kind, MovieCompositionOutcome::Kind::failed);
        QCOMPARE(outcome.stage, MovieCompositionOutcome::Stage::source);
        QVERIFY2(outcome.reason.startsWith(reason), qPrintable(outcome.reason));
        QVERIFY(!QFile::exists(out));
    }

    // Four bytes changed in the second picture's slices, after which the
    // ProRes decoder gives -1 for it, at the end of the file.
    void skipsPictureTheDecoderRefusesWithMinusOne()
    {
        const QString in = m_dir.filePath("prores.mov");
        QVERIFY(movie_fixtures::make(in, "-f lavfi -i testsrc=size=64x48:rate=10 -t 0.3 "
                                         "-c:v prores_ks"));
        const QList<qint64> packets = movie_fixtures::packetPositions(in);
        QCOMPARE(packets.size(), 3);
        QVERIFY(patch(in, {{packets[1] + 770, "\x29"},
                           {packets[1] + 875, "\xdf"},
                           {packets[1] + 1670, "\x1c"},
                           {packets[1] + 1802, "\xb3"}}));

        const auto outcome = MovieComposer::compose(in, m_dir.filePath("out.mp4"),
                                                    {GradientStyle::customColor(Qt::white), 4, 0});
        QVERIFY2(outcome.kind == MovieCompositionOutcome::Kind::completed,
                 qPrintable(outcome.reason));
        QCOMPARE(outcome.skippedPackets, 1);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(MovieDamageTest)
#include "tst_movie_damage.moc"
