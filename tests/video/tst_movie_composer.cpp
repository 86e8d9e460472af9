// The movie pipeline against movies made by the ffmpeg program: sizes, where
// the picture and the background land, 30 frames per second whatever the
// source's rate, the sound, and what is left on disk when a run goes wrong.

#include "movie_composer.h"
#include "movie_fixtures.h"
#include "named_colors.h"

#include <QtTest>
#include <sys/stat.h>

using Kind = MovieCompositionOutcome::Kind;
using Stage = MovieCompositionOutcome::Stage;
namespace fixtures = movie_fixtures;

namespace {

// A red top half over a blue bottom half, so turns show; tagged BT.709 as the product reads it.
QString twoTone(QSize size, double seconds, int rate = 30)
{
    return QString::asprintf("-f lavfi -i color=c=red:s=%dx%d:r=%d:d=%g,drawbox=y=ih/2:w=iw:h=ih/2:"
                             "c=blue:t=fill,scale=out_color_matrix=bt709 -colorspace bt709 "
                             "-color_primaries bt709 -color_trc bt709 ",
                             size.width(), size.height(), rate, seconds);
}

QString tone(double seconds)
{
    return QStringLiteral("-f lavfi -i sine=frequency=440:sample_rate=44100:d=%1 ").arg(seconds);
}

// The first frame upright, read as BT.709 (what the product takes untagged sources for).
QImage firstFrame(const QString& path)
{
    return fixtures::frame(path, 0, "scale=in_color_matrix=bt709");
}

struct Placement {
    QString source;
    double padding, radius;
    QRect picture;
    QSize frame;
};

struct Timing {
    QString make, name;
    double duration;
    QString audioCodec;
    QSize picture;
};

} // namespace

class TestMovieComposer : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }

private Q_SLOTS:
    void placesThePictureOnItsBackground_data()
    {
        QTest::addColumn<Placement>("c");
        // 1920×1080 with padding 40 and radius 20, scaled down by ten.
        QTest::newRow("full HD, scaled")
            << Placement{"192x108", 4, 8, {8, 8, 192, 108}, {208, 124}};
        QTest::newRow("odd size, fractional padding")
            << Placement{"161x91", 2.3, 0, {5, 6, 161, 91}, {172, 102}};
    }

    void placesThePictureOnItsBackground()
    {
        QFETCH(Placement, c);
        const QString in = path("place.mp4"), out = path("place-out.mp4");
        QVERIFY(fixtures::make(in, "-f lavfi -i color=c=white:s=" + c.source +
                                       ":d=0.5,format=yuv444p -pix_fmt yuv444p"));
        const QColor green(0, 200, 0);
        const auto outcome = MovieComposer::compose(
            in, out, {GradientStyle::customColor(green), c.padding, c.radius});
        QVERIFY2(outcome.kind == Kind::completed, qPrintable(outcome.reason));

        const QImage image = firstFrame(out);
        const QRect p = c.picture;
        QCOMPARE(image.size(), c.frame);
        const QPoint r(int(c.radius) + 2, int(c.radius) + 2);
        for (QPoint inside : {p.center(), p.topLeft() + r, p.bottomRight() - r})
            QUORVEL_COMPARE_COLOR(image.pixelColor(inside), QColor(Qt::white), 12);
        if (!p.topLeft().isNull())
            for (QPoint outside : {QPoint(1, 1), QPoint(c.frame.width() - 2, c.frame.height() - 2),
                                   QPoint(p.left() - 2, p.center().y())})
                QUORVEL_COMPARE_COLOR(image.pixelColor(outside), green, 12);
        if (c.radius > 0) // rounded: the very corners of the picture show the background
            for (QPoint corner : {p.topLeft(), p.topRight(), p.bottomLeft(), p.bottomRight()})
                QUORVEL_COMPARE_COLOR(image.pixelColor(corner), green, 40);
    }

    void paintsEachBackgroundInItsDirection_data()
    {
        using namespace named_colors;
        using Corners = QList<QColor>; // top left, top right, bottom left, bottom right
        QTest::addColumn<GradientStyle>("style");
        QTest::addColumn<Corners>("corners");
        QVERIFY(fixtures::make(path("style.mp4"), "-f lavfi -i color=c=white:s=96x16:d=0.2"));

        // The frame is wide (176×96): gradients still run corner to corner.
        const QColor bp((blue().red() + purple().red()) / 2,
                        (blue().green() + purple().green()) / 2,
                        (blue().blue() + purple().blue()) / 2);
        const QColor lilac = QColor::fromRgbF(0.7f, 0.3f, 1.0f), black(Qt::black);
        QTest::newRow("bluePurple")
            << GradientStyle::bluePurple() << Corners{bp, purple(), blue(), bp};
        QTest::newRow("sunset") << GradientStyle::sunset()
                                << Corners{pink(), pink(), orange(), orange()};
        QTest::newRow("greenYellow")
            << GradientStyle::greenYellow() << Corners{green(), yellow(), green(), yellow()};
        QTest::newRow("dreamyPink") << GradientStyle::dreamyPink()
                                    << Corners{QColor::fromRgbF(1.0f, 0.4f, 0.8f), lilac, lilac,
                                               QColor::fromRgbF(0.4f, 0.6f, 1.0f)};
        QTest::newRow("warmGlow") << GradientStyle::warmGlow()
                                  << Corners{orange(), yellow(), red(), orange()};
        QTest::newRow("one-colour gradient")
            << GradientStyle::customGradient({cyan()}) << Corners(4, cyan());
        QTest::newRow("no colours") << GradientStyle::customGradient({}) << Corners(4, black);
        QTest::newRow("image without picture")
            << GradientStyle::customImage(nullptr) << Corners(4, black);
        // A square picture covering the wide frame: its middle band shows, left to right.
        auto picture = std::make_shared<QImage>(100, 100, QImage::Format_RGB32);
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 100; ++x)
                picture->setPixelColor(x, y, y < 20 ? black : x < 50 ? red() : blue());
        QTest::newRow("picture") << GradientStyle::customImage(picture)
                                 << Corners{red(), blue(), red(), blue()};
    }

    void paintsEachBackgroundInItsDirection()
    {
        QFETCH(GradientStyle, style);
        QFETCH(QList<QColor>, corners);
        const QString out = path("style-out.mp4");
        QCOMPARE(MovieComposer::compose(path("style.mp4"), out, {style, 20, 0}).kind,
                 Kind::completed);
        const QImage image = firstFrame(out);
        QCOMPARE(image.size(), QSize(176, 96));
        const QPoint at[] = {{1, 1}, {174, 1}, {1, 94}, {174, 94}};
        for (int i = 0; i < 4; ++i) // 4:2:0 and H.264 on a gradient
            QUORVEL_COMPARE_COLOR(image.pixelColor(at[i]), corners[i], 14);
    }

    void keepsTimeSoundAndPicture_data()
    {
        QTest::addColumn<Timing>("c");
        const QSize size(96, 64), small(80, 48);
        const QString x265 = "-c:v libx265 -pix_fmt yuv420p10le -x265-params log-level=none";
        QTest::newRow("25 fps, no sound") << Timing{twoTone(size, 1.2, 25), "a.mp4", 1.2, "", size};
        QTest::newRow("60 fps, AAC copied") << Timing{
            twoTone(size, 1.5, 60) + tone(1.5) + "-c:a aac -shortest", "b.mp4", 1.5, "aac", size};
        QTest::newRow("PCM re-encoded") << Timing{
            twoTone(size, 1) + tone(1) + "-c:v mpeg4 -c:a pcm_s16le", "c.mov", 1, "aac", size};
        // 10 frames at 10 per second, then 30 frames at 30 per second: two seconds.
        QTest::newRow("variable rate")
            << Timing{twoTone(size, 40.0 / 30) +
                          "-vf setpts='if(lt(N,10),N/10,1+(N-10)/30)/TB' -fps_mode passthrough",
                      "d.mkv", 2, "", size};
        QTest::newRow("10-bit HEVC")
            << Timing{twoTone(small, 0.3) + x265, "hevc.mp4", 0.3, "", small};
        QTest::newRow("4:2:2 ProRes")
            << Timing{twoTone(small, 0.3) + "-c:v prores_ks", "prores.mov", 0.3, "", small};
        QTest::newRow("4:4:4 RGB")
            << Timing{twoTone(small, 0.3) + "-c:v png", "rgb.mov", 0.3, "", small};
        QTest::newRow("turned a quarter")
            << Timing{"-i " + path("upright.mp4") + " -c copy -metadata:s:v rotate=90",
                      "turned.mp4", 0.3, "", small.transposed()};
    }

    void keepsTimeSoundAndPicture()
    {
        QFETCH(Timing, c);
        if (c.name.startsWith("hevc") && !fixtures::hasX265())
            QSKIP("ffmpeg has no libx265");
        QVERIFY(fixtures::make(path("upright.mp4"), twoTone({80, 48}, 0.3)));
        const QString in = path(c.name), out = path("time-out.mp4");
        QVERIFY(fixtures::make(in, c.make));
        const auto outcome =
            MovieComposer::compose(in, out, {GradientStyle::customColor(Qt::white), 2, 0});
        QVERIFY2(outcome.kind == Kind::completed, qPrintable(outcome.reason));

        const QJsonObject video = fixtures::stream(out, "v"), audio = fixtures::stream(out, "a");
        QCOMPARE(video["codec_name"].toString() + ' ' + video["profile"].toString() + ' ' +
                     video["pix_fmt"].toString() + ' ' + video["avg_frame_rate"].toString(),
                 QStringLiteral("h264 High yuv420p 30/1"));
        const int frames = video["nb_read_frames"].toString().toInt();
        QVERIFY2(std::abs(frames - c.duration * 30) <= 1, qPrintable(QString::number(frames)));
        QVERIFY(std::abs(video["duration"].toString().toDouble() - c.duration) <= 1.0 / 30 + 1e-3);
        QCOMPARE(audio["codec_name"].toString(), c.audioCodec);
        if (!c.audioCodec.isEmpty()) {
            QCOMPARE(audio["sample_rate"].toString(), QStringLiteral("44100"));
            QVERIFY(std::abs(audio["duration"].toString().toDouble() - c.duration) < 0.1 &&
                    std::abs(audio["start_time"].toString().toDouble()) < 0.05);
        }

        // ffmpeg turns the source upright itself: our picture must look like its.
        const QImage expected = firstFrame(in), image = firstFrame(out);
        QCOMPARE(expected.size(), c.picture);
        QCOMPARE(image.size(), c.picture + QSize(8, 8));
        const int w = c.picture.width() / 4, h = c.picture.height() / 4;
        for (QPoint at : {QPoint(w, h), QPoint(3 * w, h), QPoint(w, 3 * h), QPoint(3 * w, 3 * h)})
            QUORVEL_COMPARE_COLOR(image.pixelColor(at + QPoint(4, 4)), expected.pixelColor(at), 12);
    }

    void leavesNothingButAFinishedMovie_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("cancelOnProgress");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<Stage>("stage");
        QVERIFY(fixtures::make(path("sound.m4a"), tone(0.5)));
        QVERIFY(fixtures::make(path("whole.mp4"), twoTone({64, 48}, 1.5)));
        QVERIFY(QFile::copy(path("whole.mp4"), path("truncated.mp4")) &&
                QFile::resize(path("truncated.mp4"), QFileInfo(path("whole.mp4")).size() / 2));
        QVERIFY(fixtures::writeFile(path("empty.mp4"), "") &&
                fixtures::writeFile(path("text.mp4"), "not a movie\n"));

        const QString whole = path("whole.mp4");
        QTest::newRow("completed") << whole << false << Kind::completed << Stage::source;
        QTest::newRow("cancelled") << whole << true << Kind::cancelled << Stage::source;
        QTest::newRow("sound only") << path("sound.m4a") << false << Kind::noVideo << Stage::source;
        for (const char* name : {"missing.mp4", "empty.mp4", "text.mp4", "truncated.mp4"})
            QTest::newRow(name) << path(name) << false << Kind::failed << Stage::source;
        QTest::newRow("folder is a file") << whole << false << Kind::failed << Stage::encoding;
    }

    // With no file there before, and with an earlier one: only a finished movie replaces it.
    void leavesNothingButAFinishedMovie()
    {
        QFETCH(QString, source);
        QFETCH(bool, cancelOnProgress);
        QFETCH(Kind, kind);
        QFETCH(Stage, stage);
        QTemporaryDir folder;
        const bool blocked = stage == Stage::encoding;
        const QString destination = folder.filePath(blocked ? "file/movie.mp4" : "movie.mp4");
        QVERIFY(!blocked || fixtures::writeFile(folder.filePath("file"), "earlier"));
        for (const bool earlier : {false, true}) {
            QVERIFY(!earlier || blocked || fixtures::writeFile(destination, "earlier"));
            std::atomic<bool> cancel = false;
            QStringList calls;
            MovieComposer::Callbacks callbacks{[&](const auto&) { calls << "starts"; },
                                               [&](double fraction) {
                                                   QVERIFY(fraction >= 0 && fraction <= 1);
                                                   calls << "progress";
                                                   cancel = cancelOnProgress;
                                               }};
            const mode_t mask = umask(022);
            const auto outcome =
                MovieComposer::compose(source, destination, {}, callbacks, &cancel);
            umask(mask);
            QCOMPARE(outcome.kind, kind);
            if (kind == Kind::failed) {
                QCOMPARE(outcome.stage, stage);
                QVERIFY(!outcome.reason.isEmpty() && !outcome.reason.contains('\n'));
            }
            const bool there = kind == Kind::completed || earlier || blocked;
            QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
                     there ? QStringList{blocked ? "file" : "movie.mp4"} : QStringList{});
            const QString kept = blocked ? folder.filePath("file") : destination;
            QCOMPARE(QFileInfo(kept).size() == 7, there && kind != Kind::completed); // "earlier"
            if (kind == Kind::completed && !earlier) // a new movie gets the mode the umask leaves
                QCOMPARE(int(QFileInfo(destination).permissions() & 0x777), 0x644); // rw-r--r--
            if (kind == Kind::completed || kind == Kind::cancelled) {
                QCOMPARE(calls.lastIndexOf("starts"), 0); // once, before any progress
                QVERIFY(calls.size() <= (cancelOnProgress ? 2 : 300));
            } else {
                QCOMPARE(calls, QStringList());
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestMovieComposer)
#include "tst_movie_composer.moc"
