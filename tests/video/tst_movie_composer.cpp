// The movie pipeline against movies made by the ffmpeg program: sizes, where
// the picture and the background land, 30 frames per second whatever the
// source's rate, the sound, and what is left on disk when a run goes wrong.

#include "movie_composer.h"
#include "named_colors.h"
#include "test_support.h"

#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

using Kind = MovieCompositionOutcome::Kind;
using Stage = MovieCompositionOutcome::Stage;

namespace {

// A colour source with a red top half and a blue bottom half, so turns show;
// tagged BT.709, so ffmpeg reads its colours the way the product does.
QStringList twoTone(QSize size, double seconds, const QString& rate = QStringLiteral("30"))
{
    return {"-f",
            "lavfi",
            "-i",
            QStringLiteral("color=c=red:s=%1x%2:r=%3:d=%4,drawbox=y=ih/2:w=iw:h=ih/2:c=blue:t=fill,"
                           "scale=out_color_matrix=bt709")
                .arg(size.width())
                .arg(size.height())
                .arg(rate)
                .arg(seconds),
            "-colorspace",
            "bt709",
            "-color_primaries",
            "bt709",
            "-color_trc",
            "bt709"};
}

QStringList tone(double seconds)
{
    return {"-f", "lavfi", "-i",
            QStringLiteral("sine=frequency=440:sample_rate=44100:d=%1").arg(seconds)};
}

bool makeMovie(const QString& path, const QStringList& arguments)
{
    const auto made = test_support::run(QStringLiteral("ffmpeg"),
                                        QStringList{"-y", "-hide_banner", "-loglevel", "error"} +
                                            arguments + QStringList{path});
    if (made.exitCode != 0)
        qWarning("%s", made.err.constData());
    return made.exitCode == 0;
}

QJsonObject probe(const QString& path)
{
    const auto probed =
        test_support::run(QStringLiteral("ffprobe"), {"-v", "error", "-of", "json", "-show_streams",
                                                      "-show_format", "-count_frames", path});
    return QJsonDocument::fromJson(probed.out).object();
}

QJsonObject streamOf(const QJsonObject& probed, const QString& type)
{
    for (const auto& stream : probed["streams"].toArray())
        if (stream.toObject()["codec_type"].toString() == type)
            return stream.toObject();
    return {};
}

// The first frame as ffmpeg shows it, turned upright like a player would and
// read as BT.709, which is what the product takes untagged sources for.
QImage firstFrame(const QString& path)
{
    const auto decoded =
        test_support::run(QStringLiteral("ffmpeg"),
                          {"-v", "error", "-i", path, "-frames:v", "1", "-vf",
                           "scale=in_color_matrix=bt709", "-f", "image2pipe", "-c:v", "png", "-"});
    return QImage::fromData(decoded.out).convertToFormat(QImage::Format_RGB32);
}

double seconds(const QJsonObject& object)
{
    return object["duration"].toString().toDouble();
}

} // namespace

class TestMovieComposer : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }

private Q_SLOTS:
    void placesThePictureOnItsBackground_data();
    void placesThePictureOnItsBackground();
    void paintsEachBackgroundInItsDirection_data();
    void paintsEachBackgroundInItsDirection();
    void keepsTimeAndSound_data();
    void keepsTimeAndSound();
    void takesAnyPictureFormatUpright_data();
    void takesAnyPictureFormatUpright();
    void refusesWhatItCannotRead_data();
    void refusesWhatItCannotRead();
    void replacesTheDestinationOnlyWhenDone_data();
    void replacesTheDestinationOnlyWhenDone();
};

void TestMovieComposer::placesThePictureOnItsBackground_data()
{
    QTest::addColumn<QSize>("source");
    QTest::addColumn<double>("padding");
    QTest::addColumn<double>("radius");
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<QRect>("picture");

    // 1920×1080 with padding 40 and radius 20, scaled down by ten.
    QTest::newRow("full HD, scaled")
        << QSize(192, 108) << 4.0 << 8.0 << QSize(208, 124) << QRect(8, 8, 192, 108);
    QTest::newRow("no padding") << QSize(160, 90) << 0.0 << 0.0 << QSize(160, 90)
                                << QRect(0, 0, 160, 90);
    QTest::newRow("odd size, fractional padding")
        << QSize(161, 91) << 2.3 << 0.0 << QSize(172, 102) << QRect(5, 6, 161, 91);
}

void TestMovieComposer::placesThePictureOnItsBackground()
{
    QFETCH(QSize, source);
    QFETCH(double, padding);
    QFETCH(double, radius);
    QFETCH(QSize, frame);
    QFETCH(QRect, picture);
    const QString in = path(QStringLiteral("place.mp4")),
                  out = path(QStringLiteral("place-out.mp4"));
    QVERIFY(makeMovie(in, {"-f", "lavfi", "-i",
                           QStringLiteral("color=c=white:s=%1x%2:d=0.5,format=yuv444p")
                               .arg(source.width())
                               .arg(source.height()),
                           "-pix_fmt", "yuv444p"}));
    const QColor green(0, 200, 0);
    const auto outcome =
        MovieComposer::compose(in, out, {GradientStyle::customColor(green), padding, radius});
    QCOMPARE(outcome.reason, QString());
    QCOMPARE(outcome.kind, Kind::completed);

    const QImage image = firstFrame(out);
    QCOMPARE(image.size(), frame);
    const int tolerance = 12;
    QUORVEL_COMPARE_COLOR(image.pixelColor(picture.center()), QColor(Qt::white), tolerance);
    for (QPoint inside : {picture.topLeft() + QPoint(int(radius) + 2, int(radius) + 2),
                          picture.bottomRight() - QPoint(int(radius) + 2, int(radius) + 2)})
        QUORVEL_COMPARE_COLOR(image.pixelColor(inside), QColor(Qt::white), tolerance);
    if (!picture.topLeft().isNull()) {
        QUORVEL_COMPARE_COLOR(image.pixelColor(1, 1), green, tolerance);
        QUORVEL_COMPARE_COLOR(image.pixelColor(frame.width() - 2, frame.height() - 2), green,
                              tolerance);
        QUORVEL_COMPARE_COLOR(image.pixelColor(picture.left() - 2, picture.center().y()), green,
                              tolerance);
    }
    if (radius > 0) {
        // Rounded: the very corners of the picture show the background.
        for (QPoint corner :
             {picture.topLeft(), picture.topRight(), picture.bottomLeft(), picture.bottomRight()})
            QUORVEL_COMPARE_COLOR(image.pixelColor(corner), green, 40);
    }
}

void TestMovieComposer::paintsEachBackgroundInItsDirection_data()
{
    using namespace named_colors;
    QTest::addColumn<GradientStyle>("style");
    QTest::addColumn<QColor>("topLeft");
    QTest::addColumn<QColor>("topRight");
    QTest::addColumn<QColor>("bottomLeft");
    QTest::addColumn<QColor>("bottomRight");

    // The frame is wide (176×96): gradients still run corner to corner.
    const auto mid = [](QColor a, QColor b) {
        return QColor((a.red() + b.red()) / 2, (a.green() + b.green()) / 2,
                      (a.blue() + b.blue()) / 2);
    };
    QTest::newRow("bluePurple") << GradientStyle::bluePurple() << mid(blue(), purple()) << purple()
                                << blue() << mid(blue(), purple());
    QTest::newRow("sunset") << GradientStyle::sunset() << pink() << pink() << orange() << orange();
    QTest::newRow("greenYellow") << GradientStyle::greenYellow() << green() << yellow() << green()
                                 << yellow();
    const QColor lightPink = QColor::fromRgbF(1.0f, 0.4f, 0.8f);
    const QColor lilac = QColor::fromRgbF(0.7f, 0.3f, 1.0f);
    const QColor lightBlue = QColor::fromRgbF(0.4f, 0.6f, 1.0f);
    QTest::newRow("dreamyPink") << GradientStyle::dreamyPink() << lightPink << lilac << lilac
                                << lightBlue;
    QTest::newRow("warmGlow") << GradientStyle::warmGlow() << orange() << yellow() << red()
                              << orange();
    QTest::newRow("one-colour gradient")
        << GradientStyle::customGradient({cyan()}) << cyan() << cyan() << cyan() << cyan();
    QTest::newRow("no colours") << GradientStyle::customGradient({}) << QColor(Qt::black)
                                << QColor(Qt::black) << QColor(Qt::black) << QColor(Qt::black);
    QTest::newRow("image without picture")
        << GradientStyle::customImage(nullptr) << QColor(Qt::black) << QColor(Qt::black)
        << QColor(Qt::black) << QColor(Qt::black);
    // A square picture covering the wide frame: its middle band shows, left to right.
    auto picture = std::make_shared<QImage>(100, 100, QImage::Format_RGB32);
    picture->fill(Qt::white);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            picture->setPixelColor(x, y, y < 20 ? QColor(Qt::black) : x < 50 ? red() : blue());
    QTest::newRow("picture") << GradientStyle::customImage(picture) << red() << blue() << red()
                             << blue();
}

void TestMovieComposer::paintsEachBackgroundInItsDirection()
{
    QFETCH(GradientStyle, style);
    QFETCH(QColor, topLeft);
    QFETCH(QColor, topRight);
    QFETCH(QColor, bottomLeft);
    QFETCH(QColor, bottomRight);
    const QString in = path(QStringLiteral("style.mp4")),
                  out = path(QStringLiteral("style-out.mp4"));
    if (!QFile::exists(in))
        QVERIFY(makeMovie(in, {"-f", "lavfi", "-i", "color=c=white:s=96x16:d=0.2"}));
    const auto outcome = MovieComposer::compose(in, out, {style, 20, 0});
    QCOMPARE(outcome.kind, Kind::completed);
    const QImage image = firstFrame(out);
    QCOMPARE(image.size(), QSize(176, 96));
    const int tolerance = 14; // 4:2:0 and H.264 on a gradient
    QUORVEL_COMPARE_COLOR(image.pixelColor(1, 1), topLeft, tolerance);
    QUORVEL_COMPARE_COLOR(image.pixelColor(174, 1), topRight, tolerance);
    QUORVEL_COMPARE_COLOR(image.pixelColor(1, 94), bottomLeft, tolerance);
    QUORVEL_COMPARE_COLOR(image.pixelColor(174, 94), bottomRight, tolerance);
}

void TestMovieComposer::keepsTimeAndSound_data()
{
    QTest::addColumn<QStringList>("make");
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("duration");
    QTest::addColumn<QString>("audioCodec");
    QTest::addColumn<int>("sampleRate");

    const QSize size(96, 64);
    QTest::newRow("25 fps, no sound") << twoTone(size, 1.2, "25") << "a.mp4" << 1.2 << "" << 0;
    QTest::newRow("60 fps, AAC copied")
        << twoTone(size, 1.5, "60") + tone(1.5) + QStringList{"-c:a", "aac", "-shortest"} << "b.mp4"
        << 1.5 << "aac" << 44100;
    QTest::newRow("PCM re-encoded")
        << twoTone(size, 1, "30") + tone(1) + QStringList{"-c:v", "mpeg4", "-c:a", "pcm_s16le"}
        << "c.mov" << 1.0 << "aac" << 44100;
    // 10 frames at 10 per second, then 30 frames at 30 per second: two seconds.
    QTest::newRow("variable rate")
        << twoTone(size, 40.0 / 30) + QStringList{"-vf",
                                                  "setpts='if(lt(N,10),N/10,1+(N-10)/30)/TB'",
                                                  "-fps_mode", "passthrough"}
        << "d.mkv" << 2.0 << "" << 0;
}

void TestMovieComposer::keepsTimeAndSound()
{
    QFETCH(QStringList, make);
    QFETCH(QString, name);
    QFETCH(double, duration);
    QFETCH(QString, audioCodec);
    QFETCH(int, sampleRate);
    const QString in = path(name), out = path(QStringLiteral("time-out.mp4"));
    QVERIFY(makeMovie(in, make));
    const auto outcome = MovieComposer::compose(in, out, {GradientStyle::ocean(), 4, 4});
    QCOMPARE(outcome.reason, QString());
    QCOMPARE(outcome.kind, Kind::completed);

    const QJsonObject probed = probe(out);
    const QJsonObject video = streamOf(probed, "video");
    QCOMPARE(video["codec_name"].toString(), QStringLiteral("h264"));
    QCOMPARE(video["profile"].toString(), QStringLiteral("High"));
    QCOMPARE(video["pix_fmt"].toString(), QStringLiteral("yuv420p"));
    QCOMPARE(video["avg_frame_rate"].toString(), QStringLiteral("30/1"));
    const int frames = video["nb_read_frames"].toString().toInt();
    QVERIFY2(std::abs(frames - duration * 30) <= 1, qPrintable(QString::number(frames)));
    QVERIFY(std::abs(seconds(video) - duration) <= 1.0 / 30 + 1e-3);

    const QJsonObject audio = streamOf(probed, "audio");
    QCOMPARE(audio["codec_name"].toString(), audioCodec);
    if (!audioCodec.isEmpty()) {
        QCOMPARE(audio["sample_rate"].toString().toInt(), sampleRate);
        QVERIFY2(std::abs(seconds(audio) - duration) < 0.1,
                 qPrintable(audio["duration"].toString()));
        QVERIFY(std::abs(audio["start_time"].toString().toDouble()) < 0.05);
    }
}

void TestMovieComposer::takesAnyPictureFormatUpright_data()
{
    QTest::addColumn<QStringList>("make");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("picture");

    const QSize size(80, 48);
    QTest::newRow("10-bit HEVC") << twoTone(size, 0.3) +
                                        QStringList{"-c:v",        "libx265",      "-pix_fmt",
                                                    "yuv420p10le", "-x265-params", "log-level=none"}
                                 << "hevc.mp4" << size;
    QTest::newRow("4:2:2 ProRes") << twoTone(size, 0.3) + QStringList{"-c:v", "prores_ks"}
                                  << "prores.mov" << size;
    QTest::newRow("4:4:4 RGB") << twoTone(size, 0.3) + QStringList{"-c:v", "png"} << "rgb.mov"
                               << size;
    QTest::newRow("turned a quarter")
        << QStringList{"-i", path("upright.mp4"), "-c", "copy", "-metadata:s:v", "rotate=90"}
        << "turned.mp4" << size.transposed();
}

void TestMovieComposer::takesAnyPictureFormatUpright()
{
    QFETCH(QStringList, make);
    QFETCH(QString, name);
    QFETCH(QSize, picture);
    if (name.startsWith("hevc") &&
        !test_support::run("ffmpeg", {"-hide_banner", "-encoders"}).out.contains("libx265"))
        QSKIP("ffmpeg has no libx265");
    QVERIFY(makeMovie(path("upright.mp4"), twoTone({80, 48}, 0.3)));
    const QString in = path(name), out = path(QStringLiteral("format-out.mp4"));
    QVERIFY(makeMovie(in, make));
    const auto outcome =
        MovieComposer::compose(in, out, {GradientStyle::customColor(Qt::white), 2, 0});
    QCOMPARE(outcome.reason, QString());
    QCOMPARE(outcome.kind, Kind::completed);

    // ffmpeg turns the source upright itself: our picture must look like its.
    const QImage expected = firstFrame(in);
    QCOMPARE(expected.size(), picture);
    const QImage image = firstFrame(out);
    QCOMPARE(image.size(), picture + QSize(8, 8));
    for (double fx : {0.25, 0.75}) {
        for (double fy : {0.25, 0.75}) {
            const QPoint at(int(fx * picture.width()), int(fy * picture.height()));
            QUORVEL_COMPARE_COLOR(image.pixelColor(at + QPoint(4, 4)), expected.pixelColor(at), 12);
        }
    }
}

void TestMovieComposer::refusesWhatItCannotRead_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<Stage>("stage");

    QVERIFY(makeMovie(path("sound.m4a"), tone(0.5)));
    QVERIFY(makeMovie(path("whole.mp4"), twoTone({64, 48}, 1)));
    QFile whole(path("whole.mp4"));
    QVERIFY(whole.open(QIODevice::ReadOnly));
    const QByteArray bytes = whole.readAll();
    for (const auto& [name, content] :
         {std::pair{"empty.mp4", QByteArray()}, std::pair{"text.mp4", QByteArray("not a movie\n")},
          std::pair{"truncated.mp4", bytes.left(bytes.size() / 2)}}) {
        QFile file(path(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    const QString destination = path("refused.mp4");
    QTest::newRow("sound only") << path("sound.m4a") << destination << Kind::noVideo
                                << Stage::source;
    QTest::newRow("missing") << path("missing.mp4") << destination << Kind::failed << Stage::source;
    QTest::newRow("empty") << path("empty.mp4") << destination << Kind::failed << Stage::source;
    QTest::newRow("not a movie") << path("text.mp4") << destination << Kind::failed
                                 << Stage::source;
    QTest::newRow("truncated") << path("truncated.mp4") << destination << Kind::failed
                               << Stage::source;
    QTest::newRow("folder is a file")
        << path("whole.mp4") << path("text.mp4/out.mp4") << Kind::failed << Stage::encoding;
}

void TestMovieComposer::refusesWhatItCannotRead()
{
    QFETCH(QString, source);
    QFETCH(QString, destination);
    QFETCH(Kind, kind);
    QFETCH(Stage, stage);
    int starts = 0;
    const auto outcome = MovieComposer::compose(source, destination, {}, {[&] { ++starts; }, {}});
    QCOMPARE(outcome.kind, kind);
    QCOMPARE(starts, 0);
    if (kind == Kind::failed) {
        QCOMPARE(outcome.stage, stage);
        QVERIFY(!outcome.reason.isEmpty() && !outcome.reason.contains('\n'));
    }
    QVERIFY(!QFile::exists(destination));
}

void TestMovieComposer::replacesTheDestinationOnlyWhenDone_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("cancelOnProgress");
    QTest::addColumn<Kind>("kind");

    QVERIFY(makeMovie(path("replace.mp4"), twoTone({64, 48}, 1.5)));
    QTest::newRow("completed") << path("replace.mp4") << false << Kind::completed;
    QTest::newRow("cancelled") << path("replace.mp4") << true << Kind::cancelled;
    QTest::newRow("failed") << path("text.mp4") << false << Kind::failed;
}

void TestMovieComposer::replacesTheDestinationOnlyWhenDone()
{
    QFETCH(QString, source);
    QFETCH(bool, cancelOnProgress);
    QFETCH(Kind, kind);
    QTemporaryDir folder;
    const QString destination = folder.filePath("movie.mp4");
    QFile earlier(destination);
    QVERIFY(earlier.open(QIODevice::WriteOnly));
    earlier.write("earlier");
    earlier.close();

    std::atomic<bool> cancel = false;
    QStringList calls;
    MovieComposer::Callbacks callbacks{[&] { calls << "starts"; },
                                       [&](double fraction) {
                                           QVERIFY(fraction >= 0 && fraction <= 1);
                                           calls << "progress";
                                           cancel = cancelOnProgress;
                                       }};
    const auto outcome = MovieComposer::compose(source, destination, {}, callbacks, &cancel);
    QCOMPARE(outcome.kind, kind);
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"movie.mp4"});
    QFile after(destination);
    QVERIFY(after.open(QIODevice::ReadOnly));
    QCOMPARE(after.readAll() == "earlier", kind != Kind::completed);
    if (kind != Kind::failed) {
        QCOMPARE(calls.count("starts"), 1);
        QCOMPARE(calls.first(), QStringLiteral("starts"));
        QVERIFY(calls.size() <= (cancelOnProgress ? 2 : 300));
    }
}

QTEST_GUILESS_MAIN(TestMovieComposer)
#include "tst_movie_composer.moc"
