// The movie pipeline against movies made by ffmpeg: placement, background, timing,
// sound, shape and colours, and what is left on disk when a run goes wrong.

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

// A source (made by ffmpeg unless made beforehand), how long it runs, the sound the
// movie gets and its frame; and ffmpeg's filters for the same pictures in the movie's
// form (none: the size alone is checked).
struct Source {
    QString make, name;
    double duration;
    QString audioCodec;
    QSize shown;
    QString reference;
};

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
    void leavesNothingButAFinishedMovie_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("cancelOnProgress");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<Stage>("stage");
        QVERIFY(fixtures::make(path("whole.mp4"), twoTone({64, 48}, 1.5)));
        QVERIFY(QFile::copy(path("whole.mp4"), path("truncated.mp4")) &&
                QFile::resize(path("truncated.mp4"), QFileInfo(path("whole.mp4")).size() / 2));
        QVERIFY(fixtures::writeFile(path("text.mp4"), "not a movie\n"));

        const QString whole = path("whole.mp4");
        QTest::newRow("completed") << whole << false << Kind::completed << Stage::source;
        QTest::newRow("cancelled") << whole << true << Kind::cancelled << Stage::source;
        for (const char* name : {"text.mp4", "truncated.mp4"})
            QTest::newRow(name) << path(name) << false << Kind::failed << Stage::source;
        QTest::newRow("folder is a file") << whole << false << Kind::failed << Stage::encoding;
    }

    // Only a finished movie replaces an earlier file, and nothing is left beside it.
    void leavesNothingButAFinishedMovie()
    {
        QFETCH(QString, source);
        QFETCH(bool, cancelOnProgress);
        QFETCH(Kind, kind);
        QFETCH(Stage, stage);
        QTemporaryDir folder;
        const bool blocked = stage == Stage::encoding, completed = kind == Kind::completed;
        const QString kept = folder.filePath(blocked ? "file" : "movie.mp4");
        // A finished movie comes where there was none, to show the mode it is given.
        QVERIFY(completed || fixtures::writeFile(kept, "earlier"));
        std::atomic<bool> cancel = false;
        QStringList calls;
        MovieComposer::Callbacks callbacks{[&](const auto&) { calls << "starts"; },
                                           [&](double f) {
                                               QVERIFY(f >= 0 && f <= 1);
                                               calls << "progress";
                                               cancel = cancelOnProgress;
                                           }};
        const mode_t mask = umask(022);
        const auto outcome = MovieComposer::compose(source, blocked ? kept + "/movie.mp4" : kept,
                                                    {}, callbacks, &cancel);
        umask(mask);
        QCOMPARE(outcome.kind, kind);
        if (kind == Kind::failed) {
            QCOMPARE(outcome.stage, stage);
            QVERIFY(!outcome.reason.isEmpty() && !outcome.reason.contains('\n'));
        }
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QFileInfo(kept).fileName()});
        QCOMPARE(test_support::fileBytes(kept) == "earlier", !completed);
        if (completed) // rw-r--r--, as the umask leaves it
            QCOMPARE(int(QFileInfo(kept).permissions() & 0x777), 0x644);
        if (completed || kind == Kind::cancelled) {
            QCOMPARE(calls.lastIndexOf("starts"), 0); // once, before any progress
            QVERIFY(calls.size() <= (cancelOnProgress ? 2 : 300));
        } else {
            QCOMPARE(calls, QStringList());
        }
    }
    void keepsTimeSoundAndLooks_data()
    {
        QTest::addColumn<Source>("c");
        const QSize size(96, 64), small(80, 48);
        QVERIFY(fixtures::make(path("upright.mp4"), twoTone(small, 0.3)));
        // Blue with a yellow band at a quarter of the width.
        const QString band = "-f lavfi -i color=c=blue:s=96x72:d=0.3,drawbox=x=24:w=24:h=ih:"
                             "c=yellow:t=fill,setsar=";
        QVERIFY(fixtures::make(path("wide.mp4"), band + "4/3"));
        // Red, green, blue, white and grey bars, 16 pixels each.
        QUORVEL_MAGICK("-size", "16x48", "xc:red", "xc:lime", "xc:blue", "xc:white",
                       "xc:" + grey.name(), "+append", "png24:" + path("bars.png"));
        QUORVEL_MAGICK(path("bars.png"), "png8:" + path("palette.png"));
        const QString still = "-loop 1 -t 0.3 -i " + path("bars.png") + ' ';

        // Sources in the movie's own colours; RGB turned into them; a palette is looked
        // up first, as swscale reads palettes as BT.601.
        const QString same = "format=yuv420p", widened = "scale=iw*sar:ih," + same;
        const QString toMovie = "out_color_matrix=bt709:out_range=tv," + same,
                      rgb = "scale=" + toMovie;
        const QString turn = " -c copy -metadata:s:v rotate=90", none;
        const auto row = [](const char* name, const Source& source) {
            QTest::newRow(name) << source;
        };
        row("25 fps, no sound", {twoTone(size, 1.2, 25), "a.mp4", 1.2, "", size, same});
        const QString tone = "-f lavfi -i sine=frequency=440:sample_rate=44100:d=%1 ";
        row("60 fps, AAC copied", {twoTone(size, 1.5, 60) + tone.arg(1.5) + "-c:a aac -shortest",
                                   "b.mp4", 1.5, "aac", size, same});
        row("PCM re-encoded", {twoTone(size, 1) + tone.arg(1) + "-c:v mpeg4 -c:a pcm_s16le",
                               "c.mov", 1, "aac", size, same});
        // 10 frames at 10 per second, then 30 frames at 30 per second: two seconds.
        row("variable rate",
            {twoTone(size, 40.0 / 30) +
                 "-vf setpts='if(lt(N,10),N/10,1+(N-10)/30)/TB' -fps_mode passthrough",
             "d.mkv", 2, "", size, same});
        row("4:2:2 ProRes",
            {twoTone(small, 0.3) + "-c:v prores_ks", "prores.mov", 0.3, "", small, same});
        // ffmpeg turns the source upright itself: our picture must look like its.
        row("turned a quarter",
            {"-i " + path("upright.mp4") + turn, "turned.mp4", 0.3, "", small.transposed(), same});
        row("wide pixels", {{}, "wide.mp4", 0.3, "", {128, 72}, widened});
        row("tall pixels", {band + "3/4", "tall.mp4", 0.3, "", {72, 72}, widened});
        // ffmpeg turns the picture before it reads the pixels' shape: the size alone.
        row("wide pixels, turned",
            {"-i " + path("wide.mp4") + turn, "wide-turned.mp4", 0.3, "", {72, 128}, none});
        row("RGB movie", {still + "-c:v png", "rgb.mov", 0.3, "", {80, 48}, rgb});
        row("palette picture", {{}, "palette.png", 0, "", {80, 48}, "format=rgb24," + rgb});
        const QString bt601 =
            "-colorspace smpte170m -color_primaries smpte170m -color_trc smpte170m";
        row("BT.601 movie",
            {still + "-vf scale=out_color_matrix=bt601:out_range=tv,format=yuv420p " + bt601,
             "bt601.mp4",
             0.3,
             "",
             {80, 48},
             "scale=in_color_matrix=bt601:in_range=tv:" + toMovie});
    }

    // Every source becomes H.264 High, 4:2:0, at 30 frames a second with square pixels,
    // lasting as long, its sound kept or made AAC, looking as ffmpeg shows the source.
    void keepsTimeSoundAndLooks()
    {
        QFETCH(Source, c);
        const QString in = path(c.name), out = path("out.mp4");
        QVERIFY(c.make.isEmpty() || fixtures::make(in, c.make));
        const auto outcome = compose(in, out);
        QVERIFY2(outcome.kind == Kind::completed, qPrintable(outcome.reason));

        const QJsonObject video = fixtures::stream(out, "v"), audio = fixtures::stream(out, "a");
        QStringList form;
        for (const char* key :
             {"codec_name", "profile", "pix_fmt", "avg_frame_rate", "sample_aspect_ratio"})
            form << video[key].toString();
        QCOMPARE(form.join(' '), QStringLiteral("h264 High yuv420p 30/1 1:1"));
        QCOMPARE(QSize(video["width"].toInt(), video["height"].toInt()), c.shown);
        const int frames = video["nb_read_frames"].toString().toInt();
        QVERIFY(std::abs(frames - c.duration * 30) <= 1);
        QVERIFY(std::abs(video["duration"].toString().toDouble() - c.duration) <= 1.0 / 30 + 1e-3);
        QCOMPARE(audio["codec_name"].toString(), c.audioCodec);
        if (!c.audioCodec.isEmpty()) {
            QCOMPARE(audio["sample_rate"].toString(), QStringLiteral("44100"));
            QVERIFY(std::abs(audio["duration"].toString().toDouble() - c.duration) < 0.1 &&
                    std::abs(audio["start_time"].toString().toDouble()) < 0.05);
        }
        if (!c.reference.isEmpty()) {
            const double psnr = fixtures::psnr(out, {QPoint(), c.shown}, in, c.reference);
            QVERIFY2(psnr > 30, qPrintable(QString::number(psnr)));
        }
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

    void placesTheEdgesExactly()
    {
        // The picture, the padding, where the picture's top left lands and the frame; an odd
        // size is rounded up to even sides, the picture a pixel off the middle.
        const std::tuple<QSize, double, QPoint, QSize> cases[] = {
            {{64, 48}, 4, {8, 8}, {80, 64}}, {{161, 91}, 2.3, {5, 6}, {172, 102}}};
        for (const auto& [picture, padding, at, frame] : cases) {
            const int r = picture.width() - 1, b = picture.height() - 1;
            const QString in = path("edges.png"), out = path("edges-out.mp4");
            const auto line = [](int x0, int y0, int x1, int y1) {
                return QString::asprintf("line %d,%d %d,%d", x0, y0, x1, y1);
            };
            QUORVEL_MAGICK("-size", QString::asprintf("%dx%d", r + 1, b + 1), "xc:#282828",
                           "+antialias", "-fill", "red", "-draw", line(0, 0, 0, b), "-fill", "cyan",
                           "-draw", line(r, 0, r, b), "-fill", "white", "-draw", line(0, 0, r, 0),
                           "-fill", "yellow", "-draw", line(0, b, r, b), "png24:" + in);
            const auto outcome = compose(in, out, padding);
            QVERIFY2(outcome.kind == Kind::completed, qPrintable(outcome.reason));
            const QJsonObject video = fixtures::stream(out);
            QCOMPARE(QSize(video["width"].toInt(), video["height"].toInt()), frame);

            // 4:2:0 is padded by whole chroma pairs, so an odd offset is padded in RGB first.
            const QString toYuv =
                "scale=" + fixtures::readAs(video).replace("in_", "out_") + ",format=yuv420p";
            const QString pad = QString::asprintf("pad=%d:%d:%d:%d:color=0x808080", frame.width(),
                                                  frame.height(), at.x(), at.y());
            const bool odd = at.x() % 2 || at.y() % 2;
            const double psnr =
                fixtures::psnr(out, QRect(QPoint(), frame), in,
                               odd ? "format=rgb24," + pad + ',' + toYuv : toYuv + ',' + pad);
            QVERIFY2(psnr > 35,
                     qPrintable(QStringLiteral("%1 dB, padding %2").arg(psnr).arg(padding)));
        }
    }
};

QTEST_GUILESS_MAIN(TestMovieComposer)
#include "tst_movie_composer.moc"
