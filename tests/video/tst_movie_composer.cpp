// The movie pipeline against movies made by ffmpeg: placement, background, timing,
// sound, shape and colours, and what is left on disk when a run goes wrong.

#include "movie_composer.h"
#include "movie_fixtures.h"
#include "named_colors.h"

#include <QPainter>
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
    QSize picture;
    double padding;
    QPoint at;
    QSize frame;
}; // at: picture's top left
struct Timing {
    QString make, name;
    double duration;
    QString audioCodec;
    QSize picture;
};

// A source and ffmpeg's filters for how it should look; none: only its size is checked.
struct Look {
    QString source, expected;
    QSize shown;
    int every, tolerance;
}; // every: sample step

// A source made by ffmpeg, and ffmpeg's filters for the same pictures in SDR
// BT.709, limited range, 8-bit yuv420p.
struct Colours {
    QString make, reference;
};

const QColor grey(128, 128, 128);

} // namespace

class TestMovieComposer : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }

    MovieCompositionOutcome compose(const QString& in, const QString& out, double padding = 0)
    {
        return MovieComposer::compose(in, out, {GradientStyle::customColor(grey), padding, 0});
    }

private Q_SLOTS:
    void paintsEachBackgroundInItsDirection_data()
    {
        using namespace named_colors;
        using Corners = QList<QColor>; // top left, top right, bottom left, bottom right
        QTest::addColumn<GradientStyle>("style");
        QTest::addColumn<Corners>("corners");
        QVERIFY(fixtures::make(path("style.mp4"), "-f lavfi -i color=c=white:s=96x16:d=0.2"));

        // The frame is wide (176×96). How each preset lies on a movie is checked
        // in tst_background_painting; here, that the movie gets it.
        const QColor black(Qt::black);
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
        for (int i = 0; i < 4; ++i) // 4:2:0 and H.264 on a gradient
            QUORVEL_COMPARE_COLOR(image.pixelColor(i % 2 ? 174 : 1, i < 2 ? 1 : 94), corners[i],
                                  14);
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
        QTest::newRow("turned a quarter")
            << Timing{"-i " + path("upright.mp4") + " -c copy -metadata:s:v rotate=90",
                      "turned.mp4", 0.3, "", small.transposed()};
    }

    void keepsTimeSoundAndPicture()
    {
        QFETCH(Timing, c);
        if (c.name.startsWith("hevc") && !fixtures::hasX265())
            QUORVEL_MISSING("libx265 in ffmpeg");
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
        QVERIFY(std::abs(frames - c.duration * 30) <= 1);
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
                                               [&](double f) {
                                                   QVERIFY(f >= 0 && f <= 1);
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
    void looksAsFfmpegShowsIt_data()
    {
        QTest::addColumn<Look>("c");
        // Blue with a yellow band at a quarter of the width.
        const QString band = "-f lavfi -i color=c=blue:s=96x72:d=0.3,drawbox=x=24:w=24:h=ih:"
                             "c=yellow:t=fill,setsar=";
        // Red, green, blue, white and grey bars, 16 pixels each.
        QUORVEL_MAGICK("-size", "16x48", "xc:red", "xc:lime", "xc:blue", "xc:white",
                       "xc:" + grey.name(), "+append", "png24:" + path("bars.png"));
        QUORVEL_MAGICK(path("bars.png"), "png8:" + path("palette.png"));
        const QString still = "-loop 1 -t 0.3 -i " + path("bars.png") + ' ';
        const std::pair<const char*, QString> made[] = {
            {"wide.mp4", band + "4/3"},
            {"tall.mp4", band + "3/4"},
            {"turned.mp4", "-i " + path("wide.mp4") + " -c copy -metadata:s:v rotate=90"},
            {"rgb.mov", still + "-c:v png"},
            {"bt601.mp4", still + "-vf scale=out_color_matrix=bt601:out_range=tv,format=yuv420p "
                                  "-colorspace smpte170m -color_primaries smpte170m -color_trc "
                                  "smpte170m"}};
        for (const auto& [name, make] : made)
            QVERIFY(fixtures::make(path(name), make));

        const QString bt709 = "in_color_matrix=bt709:in_range=tv", widened = "scale=iw*sar:ih:";
        // RGB turned into the output's YUV and back; a palette is looked up
        // first, as swscale reads palettes as BT.601.
        const QString rgb =
            "format=rgb24,scale=out_color_matrix=bt709:out_range=tv,format=yuv420p,scale=" + bt709;
        QTest::newRow("wide pixels") << Look{"wide.mp4", widened + bt709, {128, 72}, 4, 40};
        QTest::newRow("tall pixels") << Look{"tall.mp4", widened + bt709, {72, 72}, 4, 40};
        // ffmpeg turns the picture before it reads the pixels' shape: the size alone.
        QTest::newRow("wide pixels, turned") << Look{"turned.mp4", {}, {72, 128}, 0, 0};
        QTest::newRow("RGB movie") << Look{"rgb.mov", rgb, {80, 48}, 16, 3};
        QTest::newRow("palette picture") << Look{"palette.png", rgb, {80, 48}, 16, 3};
        QTest::newRow("BT.601 movie")
            << Look{"bt601.mp4", "scale=in_color_matrix=bt601:in_range=tv", {80, 48}, 16, 3};
    }

    void looksAsFfmpegShowsIt()
    {
        QFETCH(Look, c);
        const QString in = path(c.source), out = path("look-out.mp4");
        const auto outcome = compose(in, out);
        QVERIFY2(outcome.kind == Kind::completed, qPrintable(outcome.reason));
        const QJsonObject video = fixtures::stream(out);
        QCOMPARE(QSize(video["width"].toInt(), video["height"].toInt()), c.shown);
        QCOMPARE(video["sample_aspect_ratio"].toString(), QStringLiteral("1:1")); // tags: below
        if (c.expected.isEmpty())
            return;
        const QImage expected = fixtures::frame(in, 0, c.expected), image = fixtures::frame(out);
        QCOMPARE(expected.size(), c.shown);
        const int y = c.shown.height() / 2;
        for (int x = c.every / 2; x < c.shown.width(); x += c.every)
            QUORVEL_COMPARE_COLOR(image.pixelColor(x, y), expected.pixelColor(x, y), c.tolerance);
    }

    void writesSdrBt709_data()
    {
        QTest::addColumn<Colours>("c");
        // ffmpeg's test picture, moving, with SDR white at 203 cd/m² as HDR masters put it.
        const QString picture = "-f lavfi -i testsrc2=s=160x96:r=30:d=0.5 -vf format=gbrp,"
                                "zscale=tin=709:pin=709:min=gbr:rin=pc:npl=203:p=2020:m=2020_ncl:";
        // The usual tone mapping with ffmpeg's filters, with our curve.
        const QString toneMapped = "zscale=t=linear:npl=100,format=gbrpf32le,zscale=p=bt709,"
                                   "tonemap=tonemap=mobius:desat=0,zscale=t=bt709:m=bt709:r=tv,"
                                   "format=yuv420p";
        QTest::newRow("HDR10: PQ, BT.2020, 10-bit HEVC")
            << Colours{picture + "t=smpte2084,format=yuv420p10le -c:v libx265 -crf 10 -x265-params "
                                 "log-level=none:hdr10=1:max-cll=1000,400 -color_primaries bt2020 "
                                 "-color_trc smpte2084 -colorspace bt2020nc",
                       toneMapped};
        QTest::newRow("HLG, BT.2020, 10-bit H.264") << Colours{
            picture + "t=arib-std-b67,format=yuv420p10le -c:v libx264 -crf 10 -color_primaries "
                      "bt2020 -color_trc arib-std-b67 -colorspace bt2020nc",
            toneMapped};
        QTest::newRow("full range yuvj420p") << Colours{
            "-f lavfi -i testsrc2=s=160x96:r=30:d=0.5 -vf scale=out_color_matrix=bt709:"
            "out_range=pc,format=yuvj420p -c:v libx264 -crf 10 -colorspace bt709",
            "scale=in_color_matrix=bt709:in_range=pc:out_color_matrix=bt709:out_range=tv,"
            "format=yuv420p"};
    }

    // Whatever the source's colours, the movie is what every player reads alike:
    // tagged and made SDR BT.709, limited range, 8-bit, looking as ffmpeg's own
    // conversion; and its background, which the source's colours must not
    // touch, decodes to the sRGB it was painted in.
    void writesSdrBt709()
    {
        QFETCH(Colours, c);
        const QString in = path("colours.mp4"), out = path("colours-out.mp4");
        QVERIFY(fixtures::make(in, c.make));
        const QColor blue = named_colors::blue();
        const auto outcome =
            MovieComposer::compose(in, out, {GradientStyle::customColor(blue), 4, 0});
        QVERIFY2(outcome.kind == Kind::completed, qPrintable(outcome.reason));

        const QJsonObject video = fixtures::stream(out);
        QStringList tags;
        for (const char* key :
             {"pix_fmt", "color_primaries", "color_transfer", "color_space", "color_range"})
            tags << video[key].toString();
        QCOMPARE(tags.join(' '), QStringLiteral("yuv420p bt709 bt709 bt709 tv"));

        // After H.264 at our CRF 18 these pictures measure 39 to 43 dB; read
        // with no tone mapping they measure 17 dB, full range read as
        // limited 28 dB.
        const double psnr = fixtures::psnr(out, {8, 8, 160, 96}, in, c.reference);
        QVERIFY2(psnr > 35, qPrintable(QString::number(psnr)));

        // The margin, read as the tags just checked say.
        const QImage frame = fixtures::frame(out, 0, "scale=in_color_matrix=bt709:in_range=tv");
        QUORVEL_COMPARE_COLOR(frame.pixelColor(3, 3), blue, 3);
        QUORVEL_COMPARE_COLOR(frame.pixelColor(frame.width() - 3, frame.height() - 3), blue, 3);
    }

    void placesTheEdgesExactly_data()
    {
        QTest::addColumn<Placement>("c");
        QTest::newRow("padding 4") << Placement{{64, 48}, 4, {8, 8}, {80, 64}};
        QTest::newRow("no padding") << Placement{{64, 48}, 0, {0, 0}, {64, 48}};
        // Rounded up to even sides, the picture a pixel off the middle.
        QTest::newRow("odd size, fractional padding")
            << Placement{{161, 91}, 2.3, {5, 6}, {172, 102}};
    }

    // A dark picture with a one-pixel border of another colour on each side, against
    // ffmpeg's pad filter: each edge line of the picture, and the line just outside it.
    void placesTheEdgesExactly()
    {
        QFETCH(Placement, c);
        const int w = c.picture.width(), h = c.picture.height();
        QImage picture(c.picture, QImage::Format_RGB888);
        picture.fill(QColor(40, 40, 40));
        QPainter painter(&picture);
        painter.fillRect(0, 0, 1, h, Qt::red);
        painter.fillRect(w - 1, 0, 1, h, Qt::cyan);
        painter.fillRect(0, 0, w, 1, Qt::white);
        painter.fillRect(0, h - 1, w, 1, Qt::yellow);
        painter.end();
        const QString in = path("edges.png"), out = path("edges-out.mp4");
        QVERIFY(picture.save(in));
        const auto outcome = compose(in, out, c.padding);
        QVERIFY2(outcome.kind == Kind::completed, qPrintable(outcome.reason));

        // 4:2:0 is padded by whole chroma pairs, so an odd offset is padded in RGB first.
        const QString reading = fixtures::readAs(fixtures::stream(out));
        const QString toYuv =
            "scale=" + QString(reading).replace("in_", "out_") + ",format=yuv420p";
        const QString pad = QString::asprintf("pad=%d:%d:%d:%d:color=0x808080", c.frame.width(),
                                              c.frame.height(), c.at.x(), c.at.y());
        const bool odd = c.at.x() % 2 || c.at.y() % 2;
        const QString chain = odd ? "format=rgb24," + pad + ',' + toYuv : toYuv + ',' + pad;
        const QImage expected = fixtures::frame(in, 0, chain + ",scale=" + reading),
                     image = fixtures::frame(out);
        QCOMPARE(image.size(), c.frame);
        QCOMPARE(expected.size(), c.frame);
        // Each line as a rectangle one pixel thin: top, bottom, left, right; then one further out.
        for (int beyond = 0; beyond < 2; ++beyond) {
            const QRect lines[] = {{c.at.x(), c.at.y() - beyond, w, 1},
                                   {c.at.x(), c.at.y() + h - 1 + beyond, w, 1},
                                   {c.at.x() - beyond, c.at.y(), 1, h},
                                   {c.at.x() + w - 1 + beyond, c.at.y(), 1, h}};
            for (const QRect& line : lines) {
                if (!QRect(QPoint(), c.frame).contains(line))
                    continue;
                double difference = 0; // mean over the line and the channels
                for (int y = line.top(); y <= line.bottom(); ++y)
                    for (int x = line.left(); x <= line.right(); ++x)
                        for (int ch = 16; ch >= 0; ch -= 8)
                            difference += std::abs(int(image.pixel(x, y) >> ch & 0xff) -
                                                   int(expected.pixel(x, y) >> ch & 0xff));
                difference /= 3 * (line.width() + line.height() - 1);
                QVERIFY2(difference < 10, qPrintable(QString::number(difference)));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestMovieComposer)
#include "tst_movie_composer.moc"
