// The movie writer at the edges of what H.264 can carry: the largest frames
// are really encoded, one pixel more is refused before any file exists.

#include "movie_writer.h"
#include "test_support.h"

#include <QtTest>
#include <cstring>

class TestMovieWriter : public QObject {
    Q_OBJECT

private Q_SLOTS:
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
        if (!accepted) {
            QVERIFY(!writer.ok());
            QVERIFY2(
                writer.error().contains(QString("%1 × %2").arg(size.width()).arg(size.height())),
                qPrintable(writer.error()));
            QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
            return;
        }
        QVERIFY2(writer.ok(), qPrintable(writer.error()));
        libav::FramePtr frame =
            libav::allocateFrame(AV_PIX_FMT_YUV420P, size.width(), size.height());
        QVERIFY(frame && av_frame_make_writable(frame.get()) == 0);
        for (int plane = 0; plane < 3; ++plane) {
            const int rows = plane ? size.height() / 2 : size.height();
            std::memset(frame->data[plane], 128, size_t(frame->linesize[plane]) * rows);
        }
        const auto written = writer.value()->writePicture(*frame);
        QVERIFY2(written.ok(), qPrintable(written.error()));
        const auto finished = writer.value()->finish();
        QVERIFY2(finished.ok(), qPrintable(finished.error()));
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"edge.mp4"});
        const auto probe =
            test_support::run("ffprobe", {"-v", "error", "-show_entries", "stream=width,height",
                                          "-of", "csv=p=0", destination});
        QCOMPARE(probe.out.trimmed(),
                 QByteArray::number(size.width()) + ',' + QByteArray::number(size.height()));
    }
};

QTEST_GUILESS_MAIN(TestMovieWriter)
#include "tst_movie_writer.moc"
