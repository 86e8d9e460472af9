// A recording made from scripted pictures and sound through the real encoders,
// read back with ffprobe and ffmpeg.

#include "../video/movie_fixtures.h"
#include "recording.h"
#include "recording_writer.h"

extern "C" {
#include <libavutil/log.h>
#include <libavutil/time.h>
}

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <functional>
#include <random>
#include <thread>

namespace fixtures = movie_fixtures;

namespace {

constexpr int64_t frameTime = 1000000 / 30;

void sleepUntil(int64_t time)
{
    const int64_t wait = time - av_gettime_relative();
    if (wait > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(wait));
}

// Delivers `paint(i)` at origin + i/30 s, as a screen would, for `count`
// pictures (forever when negative).
class ScriptedFrames : public FrameSource {
public:
    ScriptedFrames(QSize size, int count, int64_t origin, std::function<QImage(int)> paint,
                   AVPixelFormat format = AV_PIX_FMT_BGR0)
        : m_size(size), m_count(count), m_origin(origin), m_paint(std::move(paint)),
          m_format(format)
    {
    }
    ~ScriptedFrames() override { stop(); }
    QSize frameSize() const override { return m_size; }
    bool start(FrameSink sink, QString*) override
    {
        m_thread = std::thread([this, sink] {
            for (int i = 0; (m_count < 0 || i < m_count) && !m_stopping; ++i) {
                const QImage image = m_paint(i).convertToFormat(
                    m_format == AV_PIX_FMT_RGBA || m_format == AV_PIX_FMT_RGB0
                        ? QImage::Format_RGBA8888
                        : QImage::Format_ARGB32);
                sleepUntil(m_origin + i * frameTime);
                sink.frame({image.constBits(), int(image.bytesPerLine()), image.size(), m_format,
                            m_origin + i * frameTime});
            }
            m_delivered = true;
        });
        return true;
    }
    void stop() override
    {
        m_stopping = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    std::atomic<bool> m_delivered{false};

private:
    QSize m_size;
    int m_count;
    int64_t m_origin;
    std::function<QImage(int)> m_paint;
    AVPixelFormat m_format;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
};

// Sound in chunks of 10 ms from `origin` on: silence, then a 1 kHz tone from
// `onset`; the chunks between `gapFrom` and `gapTo` never come.
class ScriptedSound : public SoundSource {
public:
    ScriptedSound(int64_t origin, int64_t onset, int64_t gapFrom, int64_t gapTo)
        : m_origin(origin), m_onset(onset), m_gapFrom(gapFrom), m_gapTo(gapTo)
    {
    }
    ~ScriptedSound() override { stop(); }
    bool start(SoundSink sink, QString*) override
    {
        m_thread = std::thread([this, sink] {
            constexpr int chunk = sampleRate / 100;
            std::vector<int16_t> samples(chunk * 2);
            for (int64_t n = 0; !m_stopping; n += chunk) {
                const int64_t time = m_origin + n * 1000000 / sampleRate;
                sleepUntil(time);
                if (time >= m_gapFrom && time < m_gapTo)
                    continue;
                for (int i = 0; i < chunk; ++i) {
                    const int64_t at = time + int64_t(i) * 1000000 / sampleRate;
                    const double value =
                        at < m_onset ? 0 : 12000 * std::sin(2 * M_PI * 1000 * double(n + i) / sampleRate);
                    samples[2 * i] = samples[2 * i + 1] = int16_t(value);
                }
                sink.chunk({samples.data(), chunk, time});
            }
        });
        return true;
    }
    void stop() override
    {
        m_stopping = true;
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    int64_t m_origin, m_onset, m_gapFrom, m_gapTo;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
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
    painter.fillRect(0, 0, w, h, quadrants[0]);
    painter.fillRect(w, 0, size.width() - w, h, quadrants[1]);
    painter.fillRect(0, h, w, size.height() - h, quadrants[2]);
    painter.fillRect(w, h, size.width() - w, size.height() - h, quadrants[3]);
    if (bar >= 0)
        painter.fillRect(bar * 4 % size.width(), size.height() - 8, 6, 8, Qt::white);
    return image;
}

QImage noise(QSize size, int seed)
{
    QImage image(size, QImage::Format_ARGB32);
    std::mt19937 random{uint32_t(seed)};
    for (int y = 0; y < size.height(); ++y) {
        auto* row = reinterpret_cast<uint32_t*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            row[x] = random() | 0xff000000u;
    }
    return image;
}

// The time of the last packet in `path`, in seconds; -1 when it reads nothing.
double lastPacketTime(const QString& path)
{
    const auto packets = fixtures::probe(path, {"-show_entries", "packet=pts_time"})["packets"]
                             .toArray();
    return packets.isEmpty() ? -1 : packets.last().toObject()["pts_time"].toString().toDouble();
}

// Times of the frames of `kind` ("movie" or "amovie") where `tag` first passes `threshold`.
double onset(const QString& path, const QString& graph, const QString& tag, double threshold)
{
    const auto frames = QJsonDocument::fromJson(
                            test_support::run("ffprobe", {"-v", "error", "-of", "json", "-f",
                                                          "lavfi", "-i", graph.arg(path),
                                                          "-show_entries", "frame=pts_time:frame_tags=" + tag})
                                .out)["frames"]
                            .toArray();
    for (const auto frame : frames) {
        if (frame.toObject()["tags"].toObject()[tag].toString().toDouble() > threshold)
            return frame.toObject()["pts_time"].toString().toDouble();
    }
    return -1;
}

// Polls `condition` until it holds or `milliseconds` of real time passed
// (QTRY counts its polls, and each of these runs ffprobe).
bool becomes(const std::function<bool()>& condition, int milliseconds)
{
    QDeadlineTimer deadline(milliseconds);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(100);
    }
    return true;
}

int64_t soon()
{
    return av_gettime_relative() + 300000;
}

} // namespace

class RecordingTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_recorded; // the first test's movie, for the export test
    double m_recordedLength = 0;

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
        const QString destination = m_dir.filePath(QStringLiteral("still-%1.mp4").arg(format));
        const int64_t origin = soon();
        auto* frames = new ScriptedFrames(
            size, 60, origin, [size](int i) { return quartered(size, i < 15 ? i : -1); },
            AVPixelFormat(format));
        auto started = Recording::start({destination, std::unique_ptr<FrameSource>(frames), {}});
        QVERIFY2(started.ok(), qPrintable(started.error()));
        auto recording = std::move(started).value();
        QTRY_VERIFY_WITH_TIMEOUT(frames->m_delivered, 10000);
        sleepUntil(origin + 60 * frameTime);
        const auto made = recording->finish();
        QVERIFY2(made.ok(), qPrintable(made.error()));
        QCOMPARE(made.value(), destination);
        QVERIFY(!QFile::exists(Recording::intermediateFor(destination)));

        const auto counts = recording->counts();
        QCOMPARE(counts.delivered, 60);
        QCOMPARE(counts.dropped, 0);
        QCOMPARE(counts.encoded, 16);

        const QJsonObject video = fixtures::stream(destination);
        QCOMPARE(video["codec_name"].toString(), "h264");
        QCOMPARE(video["pix_fmt"].toString(), "yuv420p");
        QCOMPARE(video["color_space"].toString(), "bt709");
        QCOMPARE(video["color_primaries"].toString(), "bt709");
        QCOMPARE(video["color_range"].toString(), "tv");
        QCOMPARE(QSize(video["width"].toInt(), video["height"].toInt()), QSize(160, 120));
        // Sixteen pictures, a second's repeat of the still one and the last.
        QVERIFY2(video["nb_read_frames"].toString().toInt() <= 19,
                 qPrintable(video["nb_read_frames"].toString()));
        const double length =
            fixtures::probe(destination, {"-show_format"})["format"]["duration"].toString().toDouble();
        QVERIFY2(std::abs(length - 2.0) < 0.1, qPrintable(QString::number(length)));

        const QImage last = fixtures::frame(destination, video["nb_read_frames"].toString().toInt() - 1);
        QCOMPARE(last.size(), QSize(160, 120));
        const QPoint centres[] = {{40, 30}, {120, 30}, {40, 90}, {120, 90}};
        for (int q = 0; q < 4; ++q)
            QVERIFY2(test_support::near(last.pixelColor(centres[q]), quadrants[q], 6),
                     qPrintable(test_support::describe(last.pixelColor(centres[q]))));
        m_recorded = destination;
        m_recordedLength = length;
    }

    // A source faster than the encoder loses pictures, counted, rather than
    // waiting or piling them up without end.
    void dropsWhatTheEncoderCannotTake()
    {
        const QSize size(1920, 1080);
        const QImage pictures[] = {noise(size, 1), noise(size, 2)};
        auto* frames = new ScriptedFrames(size, 60, av_gettime_relative() - 10000000,
                                          [&pictures](int i) {
                                              QImage picture = pictures[i % 2].copy();
                                              picture.setPixel(0, 0, uint(i)); // none alike
                                              return picture;
                                          });
        auto started = Recording::start({m_dir.filePath("fast.mp4"), std::unique_ptr<FrameSource>(frames), {}});
        QVERIFY2(started.ok(), qPrintable(started.error()));
        auto recording = std::move(started).value();
        QTRY_VERIFY_WITH_TIMEOUT(frames->m_delivered, 20000);
        QVERIFY(recording->counts().dropped > 0);
        QVERIFY2(recording->finish().ok(), "finish");
        const auto counts = recording->counts();
        QCOMPARE(counts.delivered, 60);
        QCOMPARE(counts.encoded + counts.dropped, 60);
    }

    // A window that becomes narrower is fitted into the movie's first size,
    // centred on black, neither stretched nor cut.
    void fitsAResizedWindow()
    {
        const QString destination = m_dir.filePath("resized.mp4");
        auto* frames = new ScriptedFrames(QSize(160, 120), 20, soon(), [](int i) {
            QImage image(i < 10 ? QSize(160, 120) : QSize(80, 120), QImage::Format_ARGB32);
            image.fill(i < 10 ? Qt::white : QColor(200, 40, 40));
            return image;
        });
        auto started = Recording::start({destination, std::unique_ptr<FrameSource>(frames), {}});
        QVERIFY2(started.ok(), qPrintable(started.error()));
        auto recording = std::move(started).value();
        QTRY_VERIFY_WITH_TIMEOUT(frames->m_delivered, 10000);
        const auto made = recording->finish();
        QVERIFY2(made.ok(), qPrintable(made.error()));
        const QImage last = fixtures::frame(destination, fixtures::stream(destination)["nb_read_frames"].toString().toInt() - 1);
        QCOMPARE(last.size(), QSize(160, 120));
        for (const QPoint at : {QPoint(44, 10), QPoint(80, 60), QPoint(115, 110)})
            QVERIFY2(test_support::near(last.pixelColor(at), QColor(200, 40, 40), 6), qPrintable(test_support::describe(last.pixelColor(at))));
        for (const QPoint at : {QPoint(2, 60), QPoint(157, 60), QPoint(30, 5)})
            QVERIFY2(test_support::near(last.pixelColor(at), Qt::black, 6), qPrintable(test_support::describe(last.pixelColor(at))));
    }

    // Sound that starts before the first picture and misses a chunk stays in
    // step with the picture: a tone and a flash that begin together play together.
    void soundStaysWithThePicture()
    {
        const QString destination = m_dir.filePath("sound.mp4");
        const int64_t origin = soon();
        const int64_t flash = origin + 20 * frameTime;
        auto* frames = new ScriptedFrames(QSize(64, 48), 40, origin, [](int i) {
            QImage image(64, 48, QImage::Format_ARGB32);
            image.fill(i < 20 ? Qt::black : Qt::white);
            return image;
        });
        auto* sound = new ScriptedSound(origin - 300000, flash, origin + 200000, origin + 300000);
        auto started = Recording::start({destination, std::unique_ptr<FrameSource>(frames),
                                         std::unique_ptr<SoundSource>(sound)});
        QVERIFY2(started.ok(), qPrintable(started.error()));
        auto recording = std::move(started).value();
        QTRY_VERIFY_WITH_TIMEOUT(frames->m_delivered, 10000);
        const auto made = recording->finish();
        QVERIFY2(made.ok(), qPrintable(made.error()));

        const double picture = onset(destination, "movie=%1,signalstats", "lavfi.signalstats.YAVG", 128);
        const double tone = onset(destination, "amovie=%1,astats=metadata=1:reset=1",
                                  "lavfi.astats.Overall.RMS_level", -30);
        QVERIFY2(picture > 0.6 && std::abs(tone - picture) < 0.04,
                 qPrintable(QStringLiteral("picture at %1 s, tone at %2 s").arg(picture).arg(tone)));
    }

    // The editor's export takes a recording (variable frame rate, from the
    // first test) and writes it at 30 frames a second.
    void exportsTheRecording()
    {
        QVERIFY(!m_recorded.isEmpty());
        const QString exported = m_dir.filePath("exported.mp4");
        const auto run = test_support::run(test_support::quorvelBinary(),
                                           {"video", "-q", m_recorded, "-o", exported});
        QVERIFY2(run.exitCode == 0, run.err.constData());
        const QJsonObject video = fixtures::stream(exported);
        QCOMPARE(video["r_frame_rate"].toString(), "30/1");
        const int frames = video["nb_read_frames"].toString().toInt();
        QVERIFY2(std::abs(frames - m_recordedLength * 30) <= 2, qPrintable(QString::number(frames)));
    }

    // A recording killed outright, even of a still screen, plays up to about
    // a second before the kill, and can be made into a movie.
    void survivesAKill()
    {
        const QString destination = m_dir.filePath("killed.mp4");
        const QString intermediate = Recording::intermediateFor(destination);
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {"--record-forever", destination});
        QTRY_VERIFY_WITH_TIMEOUT(child.canReadLine(), 10000);
        const int64_t origin = child.readLine().trimmed().toLongLong();
        QVERIFY(becomes([&] { return lastPacketTime(intermediate) >= 3.0; }, 20000));
        const double killed = double(av_gettime_relative() - origin) / 1e6;
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished());

        const double kept = lastPacketTime(intermediate);
        QVERIFY2(kept >= killed - 1.3,
                 qPrintable(QStringLiteral("killed at %1 s, kept %2 s").arg(killed).arg(kept)));
        const auto decoded = test_support::run(
            "ffmpeg", {"-v", "error", "-xerror", "-i", intermediate, "-f", "null", "-"});
        QVERIFY2(decoded.exitCode == 0, decoded.err.constData());
        const auto made = RecordingWriter::remux(intermediate, QFile::encodeName(destination));
        QVERIFY2(made.ok(), qPrintable(made.error()));
        QVERIFY(fixtures::probe(destination, {"-show_format"})["format"]["duration"].toString().toDouble() >= 3.0);
    }

    // A disk that fills up stops the recording once, saying so, and what was
    // written stays; the movie cannot be made beside it, and nothing else is left.
    void stopsOnAFullDisk()
    {
        const QString folder = m_dir.filePath("full");
        QVERIFY(QDir().mkpath(folder));
        const QString script = QStringLiteral("mount -t tmpfs -o size=2m quorvel-test \"$1\" && "
                                              "exec \"$2\" --record-until-full \"$1/full.mp4\"");
        const auto run = test_support::run(
            "unshare", {"-m", "sh", "-c", script, "sh", folder, QCoreApplication::applicationFilePath()});
        QVERIFY2(run.exitCode == 0, run.err.constData());
        const QStringList lines = QString(run.out).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.value(0), "stopped 1 time: the disk is full");
        QCOMPARE(lines.value(1), "finish: the disk is full");
        QCOMPARE(lines.value(2), "files: full.mp4.recording.mkv");
        QVERIFY2(lines.value(3).section(' ', 1).toDouble() > 0, qPrintable(lines.value(3)));
    }
};

// The children of the kill and full-disk tests.
static int recordForever(const QString& destination, bool untilFull)
{
    const QSize size(320, 240);
    const int64_t origin = av_gettime_relative();
    auto frames = std::make_unique<ScriptedFrames>(size, -1, origin, [size, untilFull](int i) {
        // Noise fills the disk at once; a still screen gives the encoder
        // nothing to write but what the recording adds to keep its length.
        return untilFull ? noise(size, i) : quartered(size, -1);
    });
    auto started = Recording::start({destination, std::move(frames), {}});
    if (!started.ok()) {
        std::fprintf(stderr, "%s\n", qPrintable(started.error()));
        return 1;
    }
    auto recording = std::move(started).value();
    std::atomic<int> stops{0};
    QString reason;
    recording->setStoppedHandler([&](const QString& why) {
        reason = why;
        ++stops;
    });
    if (!untilFull) {
        std::printf("%lld\n", static_cast<long long>(origin));
        std::fflush(stdout);
        for (;;)
            std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    for (int waited = 0; stops == 0 && waited < 300; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto made = recording->finish();
    std::printf("stopped %d time: %s\n", stops.load(), qPrintable(reason));
    std::printf("finish: %s\n", made.ok() ? "ok" : qPrintable(made.error()));
    const QString folder = QFileInfo(destination).path();
    std::printf("files: %s\n", qPrintable(QDir(folder).entryList(QDir::Files | QDir::Hidden).join(',')));
    std::printf("length: %f\n", lastPacketTime(Recording::intermediateFor(destination)));
    return 0;
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    av_log_set_level(AV_LOG_ERROR);
    const QStringList arguments = app.arguments();
    if (arguments.size() == 3 && arguments[1] == "--record-forever")
        return recordForever(arguments[2], false);
    if (arguments.size() == 3 && arguments[1] == "--record-until-full")
        return recordForever(arguments[2], true);
    RecordingTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_recording.moc"
