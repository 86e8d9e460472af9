// A recording made from scripted pictures and sound through the real encoders,
// read back with ffprobe and ffmpeg.

#include "../video/movie_fixtures.h"
#include "recording.h"
#include "recording_writer.h"

extern "C" {
#include <libavutil/log.h>
#include <libavutil/time.h>
}

#include <QPainter>
#include <QtTest>
#include <csignal>
#include <random>
#include <thread>

namespace fixtures = movie_fixtures;
using test_support::filled;

namespace {

constexpr int64_t frameTime = 1000000 / 30;

void sleepUntil(int64_t time)
{
    if (const int64_t wait = time - av_gettime_relative(); wait > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(wait));
}

// Calls `tick(sink, i, time)` at origin + i × period, `count` times (forever
// when negative), from a thread of its own, as a screen or a sound output would.
template <class Source, class Sink> class Scripted : public Source {
public:
    using Tick = std::function<void(const Sink&, int, int64_t)>;
    Scripted(int64_t origin, int64_t period, int count, Tick tick)
        : m_origin(origin), m_period(period), m_count(count), m_tick(std::move(tick))
    {
    }
    ~Scripted() override { stop(); }
    bool start(Sink sink, QString*) override
    {
        m_thread = std::thread([this, sink] {
            for (int i = 0; (m_count < 0 || i < m_count) && !m_stopping; ++i) {
                sleepUntil(m_origin + i * m_period);
                m_tick(sink, i, m_origin + i * m_period);
            }
            delivered = true;
        });
        return true;
    }
    void stop() override
    {
        m_stopping = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    std::atomic<bool> delivered{false};

private:
    int64_t m_origin, m_period;
    int m_count;
    Tick m_tick;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
};

// Delivers `paint(i)` at origin + i/30 s.
struct ScriptedFrames : Scripted<FrameSource, FrameSink> {
    ScriptedFrames(QSize size, int count, int64_t origin, std::function<QImage(int)> paint,
                   AVPixelFormat format = AV_PIX_FMT_BGR0)
        : Scripted(origin, frameTime, count,
                   [paint, format](const FrameSink& sink, int i, int64_t time) {
                       const QImage image = paint(i).convertToFormat(format == AV_PIX_FMT_RGB0
                                                                         ? QImage::Format_RGBA8888
                                                                         : QImage::Format_ARGB32);
                       sink.frame({image.constBits(), int(image.bytesPerLine()), image.size(),
                                   format, time});
                   }),
          m_size(size)
    {
    }
    QSize frameSize() const override { return m_size; }
    QSize m_size;
};

const QColor quadrants[] = {QColor(200, 40, 40), QColor(40, 160, 60), QColor(50, 60, 200),
                            QColor(40, 40, 40)};

// Four quadrants of known colours; while `bar` is non-negative, a white bar
// moves across the bottom.
QImage quartered(QSize size, int bar)
{
    QImage image(size, QImage::Format_ARGB32);
    QPainter painter(&image);
    const int w = size.width() / 2, h = size.height() / 2;
    for (int q = 0; q < 4; ++q)
        painter.fillRect(q % 2 * w, q / 2 * h, q % 2 ? size.width() - w : w,
                         q / 2 ? size.height() - h : h, quadrants[q]);
    if (bar >= 0)
        painter.fillRect(bar * 4 % size.width(), size.height() - 8, 6, 8, Qt::white);
    return image;
}

QImage noise(QSize size, int seed)
{
    QImage image(size, QImage::Format_ARGB32);
    std::mt19937 random{uint32_t(seed)};
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            reinterpret_cast<uint32_t*>(image.scanLine(y))[x] = random() | 0xff000000u;
    return image;
}

// The time of the last packet in `path`, in seconds; -1 when it reads nothing.
double lastPacketTime(const QString& path)
{
    const auto packets =
        fixtures::probe(path, {"-show_entries", "packet=pts_time"})["packets"].toArray();
    return packets.isEmpty() ? -1 : packets.last().toObject()["pts_time"].toString().toDouble();
}

// When the lavfi `graph` of `path` first gives `tag` above `threshold`, in seconds.
double onset(const QString& path, const QString& graph, const QString& tag, double threshold)
{
    const QStringList show = {"-f", "lavfi", "-show_entries", "frame=pts_time:frame_tags=" + tag};
    for (const auto frame : fixtures::probe(graph.arg(path), show)["frames"].toArray())
        if (frame.toObject()["tags"][tag].toString().toDouble() > threshold)
            return frame.toObject()["pts_time"].toString().toDouble();
    return -1;
}

QImage lastFrame(const QString& path)
{
    return fixtures::frame(path, fixtures::stream(path)["nb_read_frames"].toString().toInt() - 1);
}

} // namespace

class RecordingTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    std::unique_ptr<Recording> m_recording;

    // Records `frames` (and `sound`) into `name` until every picture is
    // delivered and the clock reaches `end`; the movie made, or nothing.
    QString record(const QString& name, ScriptedFrames* frames, SoundSource* sound = nullptr,
                   int64_t end = 0)
    {
        const QString destination = m_dir.filePath(name);
        auto started = Recording::start({destination, std::unique_ptr<FrameSource>(frames),
                                         std::unique_ptr<SoundSource>(sound)});
        if (!started.ok())
            return qWarning("%s", qPrintable(started.error())), QString();
        m_recording = std::move(started).value();
        if (!QTest::qWaitFor([&] { return bool(frames->delivered); }, 20000))
            return {};
        sleepUntil(end);
        const auto made = m_recording->finish();
        return made.ok() ? made.value() : (qWarning("%s", qPrintable(made.error())), QString());
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // Half a second of moving content then a still screen: only the changes
    // are encoded, and the movie keeps the picture's colours and the clock's length.
    void keepsWhatTheScreenShowed_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QSize>("size");
        QTest::newRow("BGR0, odd sides") << int(AV_PIX_FMT_BGR0) << QSize(161, 121);
        QTest::newRow("RGB0") << int(AV_PIX_FMT_RGB0) << QSize(160, 120);
    }
    void keepsWhatTheScreenShowed()
    {
        QFETCH(int, format);
        QFETCH(QSize, size);
        const int64_t origin = av_gettime_relative() + 300000;
        const QString name = QStringLiteral("still-%1.mp4").arg(format);
        const auto paint = [size](int i) { return quartered(size, i < 15 ? i : -1); };
        const QString made =
            record(name, new ScriptedFrames(size, 60, origin, paint, AVPixelFormat(format)),
                   nullptr, origin + 60 * frameTime);
        QCOMPARE(made, m_dir.filePath(name));
        QVERIFY(!QFile::exists(Recording::intermediateFor(made)));
        const auto counts = m_recording->counts();
        QCOMPARE(QList<int64_t>({counts.delivered, counts.dropped, counts.encoded}),
                 QList<int64_t>({60, 0, 16}));

        const QJsonObject video = fixtures::stream(made);
        QStringList form;
        for (const char* key :
             {"codec_name", "pix_fmt", "color_space", "color_primaries", "color_range"})
            form << video[key].toString();
        QCOMPARE(form.join(' '), "h264 yuv420p bt709 bt709 tv");
        // Sixteen pictures, a second's repeat of the still one and the last.
        QVERIFY(video["nb_read_frames"].toString().toInt() <= 19);
        const double length =
            fixtures::probe(made, {"-show_format"})["format"]["duration"].toString().toDouble();
        QVERIFY2(std::abs(length - 2.0) < 0.1, qPrintable(QString::number(length)));
        const QImage end = lastFrame(made);
        QCOMPARE(end.size(), QSize(160, 120));
        for (int q = 0; q < 4; ++q)
            QUORVEL_COMPARE_COLOR(end.pixelColor(40 + q % 2 * 80, 30 + q / 2 * 60), quadrants[q],
                                  6);
    }

    // A source faster than the encoder loses pictures, counted, rather than
    // waiting or piling them up without end.
    void dropsWhatTheEncoderCannotTake()
    {
        const QSize size(1920, 1080);
        const QImage pictures[] = {noise(size, 1), noise(size, 2)};
        auto* frames =
            new ScriptedFrames(size, 60, av_gettime_relative() - 10000000, [&pictures](int i) {
                QImage picture = pictures[i % 2].copy();
                picture.setPixel(0, 0, uint(i)); // none alike
                return picture;
            });
        QVERIFY(!record("fast.mp4", frames).isEmpty());
        const auto c = m_recording->counts();
        QVERIFY(c.delivered == 60 && c.dropped > 0 && c.encoded + c.dropped == 60);
    }

    // A source that gives up as it starts makes start() fail, saying why, with no file left.
    void failsWithASourceThatGivesUp()
    {
        struct Failing : ScriptedFrames {
            using ScriptedFrames::ScriptedFrames;
            bool start(FrameSink sink, QString*) override { return sink.failed("gone"), true; }
        };
        const QString destination = m_dir.filePath("gone.mp4");
        auto started = Recording::start(
            {destination, std::make_unique<Failing>(QSize(64, 48), 0, 0, nullptr), {}});
        QVERIFY(!started.ok());
        QCOMPARE(started.error(), "gone");
        QVERIFY(!QFile::exists(Recording::intermediateFor(destination)));
    }

    // A window that becomes narrower is fitted into the movie's first size,
    // centred on black, neither stretched nor cut.
    void fitsAResizedWindow()
    {
        const auto paint = [](int i) {
            return i < 10 ? filled(Qt::white, {160, 120}) : filled(QColor(200, 40, 40), {80, 120});
        };
        const QImage last = lastFrame(
            record("resized.mp4",
                   new ScriptedFrames({160, 120}, 20, av_gettime_relative() + 300000, paint)));
        for (const QPoint at : {QPoint(44, 10), QPoint(80, 60), QPoint(115, 110)})
            QUORVEL_COMPARE_COLOR(last.pixelColor(at), QColor(200, 40, 40), 6);
        for (const QPoint at : {QPoint(2, 60), QPoint(157, 60), QPoint(30, 5)})
            QUORVEL_COMPARE_COLOR(last.pixelColor(at), QColor(Qt::black), 6);
    }

    // Sound that starts before the first picture and misses a chunk stays in
    // step with the picture: a tone and a flash that begin together play together.
    // Sound that then goes for good (a headset unplugged) leaves silence: the
    // picture goes on, the track lasts as long, and the news comes once, late
    // listeners included.
    void soundStaysWithThePicture()
    {
        const int64_t origin = av_gettime_relative() + 300000, flash = origin + 20 * frameTime;
        const auto paint = [](int i) { return filled(i < 20 ? Qt::black : Qt::white); };
        // Silence, then a 1 kHz tone from the flash; a tenth of a second lost.
        const auto play = [flash, gap = origin + 200000](const SoundSink& sink, int n,
                                                         int64_t time) {
            if (time >= flash + 300000)
                return sink.failed("unplugged");
            std::vector<int16_t> samples(2 * 480);
            for (int i = 0; i < 480; ++i)
                if (time + i * 1000000 / 48000 >= flash)
                    samples[2 * i] = samples[2 * i + 1] =
                        int16_t(12000 * std::sin(M_PI * (n * 480 + i) / 24));
            if (time < gap || time >= gap + 100000)
                sink.chunk({samples.data(), 480, time});
        };
        const QString made =
            record("sound.mp4", new ScriptedFrames({40, 30}, 60, origin, paint),
                   new Scripted<SoundSource, SoundSink>(origin - 300000, 10000, -1, play));
        QStringList told;
        m_recording->setSoundLostHandler([&told](const QString& reason) { told << reason; });
        QCOMPARE(told, QStringList{"unplugged"});
        const double length = fixtures::stream(made)["duration"].toString().toDouble();
        const double heard = fixtures::stream(made, "a")["duration"].toString().toDouble();
        QVERIFY2(length > 1.8 && std::abs(heard - length) < 0.15,
                 qPrintable(QStringLiteral("picture %1 s, sound %2 s").arg(length).arg(heard)));
        const double picture = onset(made, "movie=%1,signalstats", "lavfi.signalstats.YAVG", 128);
        const double tone = onset(made, "amovie=%1,astats=metadata=1:reset=1",
                                  "lavfi.astats.Overall.RMS_level", -30);
        QVERIFY2(picture > 0.6 && std::abs(tone - picture) < 0.04,
                 qPrintable(QStringLiteral("flash %1 s, tone %2 s").arg(picture).arg(tone)));
    }

    // A recording killed outright, even of a still screen, plays up to about
    // a second before the kill, and can be made into a movie.
    void survivesAKill()
    {
        const QString destination = m_dir.filePath("killed.mp4");
        const QString intermediate = Recording::intermediateFor(destination);
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {"--record-forever", destination});
        QTRY_VERIFY_WITH_TIMEOUT(child.canReadLine(), 10000);
        const int64_t origin = child.readLine().trimmed().toLongLong();
        // Polled by hand: each poll runs ffprobe, and QTRY counts polls.
        QDeadlineTimer deadline(20000);
        while (lastPacketTime(intermediate) < 3.0 && !deadline.hasExpired())
            QTest::qWait(100);
        const double killed = double(av_gettime_relative() - origin) / 1e6;
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished());

        const double kept = lastPacketTime(intermediate);
        QVERIFY2(kept >= 3.0 && kept >= killed - 1.3,
                 qPrintable(QStringLiteral("killed at %1 s, kept %2 s").arg(killed).arg(kept)));
        const auto decoded = test_support::run(
            "ffmpeg", {"-v", "error", "-xerror", "-i", intermediate, "-f", "null", "-"});
        QVERIFY2(decoded.exitCode == 0, decoded.err.constData());
        QVERIFY(RecordingWriter::remux(intermediate, QFile::encodeName(destination)).ok());
        QVERIFY(lastPacketTime(destination) >= 2.9);
    }

    // A disk that fills up stops the recording once, saying so, and what was
    // written stays; the movie cannot be made beside it, and nothing else is left.
    void stopsOnAFullDisk()
    {
        const QString folder = m_dir.filePath("full");
        QVERIFY(QDir().mkpath(folder));
        const auto run =
            test_support::run("unshare", {"-m", "sh", "-c",
                                          "mount -t tmpfs -o size=2m quorvel-test \"$1\" && exec "
                                          "\"$2\" --record-until-full \"$1/full.mp4\"",
                                          "sh", folder, QCoreApplication::applicationFilePath()});
        QVERIFY2(run.exitCode == 0, run.err.constData());
        const QString out = run.out;
        QVERIFY2(out.startsWith("stopped 1 time: the disk is full; finish: the disk is full; "
                                "files: full.mp4.recording.mkv; length: ") &&
                     out.section("length: ", 1).toDouble() > 0,
                 run.out.constData());
    }
};

// The children of the kill and full-disk tests.
static int recordForever(const QString& destination, bool untilFull)
{
    const QSize size(320, 240);
    const int64_t origin = av_gettime_relative();
    // Noise fills the disk at once; a still screen gives the encoder nothing
    // to write but what the recording adds to keep its length.
    auto started = Recording::start(
        {destination,
         std::make_unique<ScriptedFrames>(
             size, -1, origin,
             [size, untilFull](int i) { return untilFull ? noise(size, i) : quartered(size, -1); }),
         {}});
    if (!started.ok())
        return std::fprintf(stderr, "%s\n", qPrintable(started.error())), 1;
    auto recording = std::move(started).value();
    std::atomic<int> stops{0};
    QString reason;
    recording->setStoppedHandler([&](const QString& why) { reason = why, ++stops; });
    if (!untilFull)
        std::printf("%lld\n", static_cast<long long>(origin)), std::fflush(stdout);
    // Killed by the test, or until the disk fills (thirty seconds at most).
    for (int waited = 0; !untilFull || (stops == 0 && waited < 300); ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto made = recording->finish();
    const QDir folder = QFileInfo(destination).dir();
    std::printf("stopped %d time: %s; finish: %s; files: %s; length: %f\n", stops.load(),
                qPrintable(reason), made.ok() ? "ok" : qPrintable(made.error()),
                qPrintable(folder.entryList(QDir::Files | QDir::Hidden).join(',')),
                lastPacketTime(Recording::intermediateFor(destination)));
    return 0;
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    av_log_set_level(AV_LOG_ERROR);
    const QStringList arguments = app.arguments();
    if (arguments.size() == 3 && arguments[1].startsWith("--record-"))
        return recordForever(arguments[2], arguments[1] == "--record-until-full");
    RecordingTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_recording.moc"
