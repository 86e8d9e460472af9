// The default output's monitor recorded from a real sound server of the
// test's own (tests/record/sound_server.h), a null sink its default output,
// paplay playing a tone into it: a different one on each side, so a swapped
// or mixed channel shows.

#include "pulse_sound_source.h"
#include "recording.h"
#include "sound_server.h"
#include "test_support.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QMutex>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

extern "C" {
#include <libavutil/time.h>
}

namespace {

constexpr double kLeftHz = 1000;
constexpr double kRightHz = 1500;

// What a sink received, from the source's thread.
struct Received {
    mutable QMutex mutex;
    std::vector<int16_t> samples;
    struct Chunk {
        int64_t time, frames, arrival;
    };
    std::vector<Chunk> chunks;
    QString failure;

    SoundSink sink()
    {
        return {[this](const SoundChunk& chunk) {
                    const int64_t arrival = av_gettime_relative();
                    QMutexLocker lock(&mutex);
                    samples.insert(samples.end(), chunk.samples, chunk.samples + chunk.frames * 2);
                    chunks.push_back({chunk.time, chunk.frames, arrival});
                },
                [this](const QString& reason) {
                    QMutexLocker lock(&mutex);
                    failure = reason;
                }};
    }
    size_t count() const
    {
        QMutexLocker lock(&mutex);
        return chunks.size();
    }
    QString failed() const
    {
        QMutexLocker lock(&mutex);
        return failure;
    }
};

// The strength of `hz` in one channel of `frames` interleaved stereo frames.
double goertzel(const int16_t* samples, int frames, int channel, double hz)
{
    const double k = 2 * std::cos(2 * M_PI * hz / SoundSource::sampleRate);
    double s1 = 0, s2 = 0;
    for (int i = 0; i < frames; ++i) {
        const double s0 = samples[i * 2 + channel] + k * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return std::sqrt(s1 * s1 + s2 * s2 - k * s1 * s2) / frames;
}

// A grey picture every 1/30 s on a thread of its own, as a screen would.
class GreyFrames : public FrameSource {
public:
    ~GreyFrames() override { stop(); }
    QSize frameSize() const override { return {64, 48}; }
    bool start(FrameSink sink, QString*) override
    {
        first = av_gettime_relative();
        m_thread = std::thread([this, sink] {
            std::vector<uint8_t> pixels(64 * 48 * 4, 128);
            for (int64_t i = 0; !m_stopping; ++i) {
                const int64_t time = first + i * 1000000 / 30;
                while (av_gettime_relative() < time && !m_stopping)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                sink.frame({pixels.data(), 64 * 4, frameSize(), AV_PIX_FMT_BGR0, time});
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
    std::atomic<int64_t> first{0};

private:
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
};

// A sound source passed through, noting when the tone began (µs).
class ToneWatch : public SoundSource {
public:
    explicit ToneWatch(std::unique_ptr<SoundSource> source) : m_source(std::move(source)) {}
    bool start(SoundSink sink, QString* error) override
    {
        auto chunk = sink.chunk;
        sink.chunk = [this, chunk](const SoundChunk& c) {
            for (int i = 0; i < c.frames && onset < 0; ++i)
                if (std::abs(c.samples[2 * i]) > 4000)
                    onset = c.time + int64_t(i) * 1000000 / sampleRate;
            chunk(c);
        };
        return m_source->start(std::move(sink), error);
    }
    void stop() override { m_source->stop(); }
    std::atomic<int64_t> onset{-1};

private:
    std::unique_ptr<SoundSource> m_source;
};

} // namespace

class TestPulseSoundSource : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        m_server = std::make_unique<test_support::SoundServer>(m_folder.path());
        m_server->applyToThisProcess();
        QVERIFY2(!QStandardPaths::findExecutable("sox").isEmpty(), "sox is missing");
        QCOMPARE(QProcess::execute("sox", {"-n", "-r", "48000", "-c", "2", "-b", "16",
                                           m_folder.filePath("tone.wav"), "synth", "3", "sine",
                                           QString::number(kLeftHz), "sine",
                                           QString::number(kRightHz), "vol", "0.5"}),
                 0);
    }

    // No server, or one that takes the connection and never answers: one
    // line each, the latter within seconds.
    void saysWhenNoServerAnswers()
    {
        auto opened = openDefaultOutputMonitor();
        QVERIFY(!opened.ok());
        QCOMPARE(opened.error(), QStringLiteral("no sound server is running"));

        QVERIFY(QDir().mkpath(m_folder.filePath("run/pulse")));
        QLocalServer mute;
        QVERIFY(mute.listen(m_folder.filePath("run/pulse/native")));
        QElapsedTimer waited;
        waited.start();
        opened = openDefaultOutputMonitor();
        QVERIFY(!opened.ok());
        QCOMPARE(opened.error(), QStringLiteral("the sound server does not answer"));
        QVERIFY(waited.elapsed() < 10000);
        mute.close();

        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
    }

    void recordsWhatTheOutputPlays()
    {
        QVERIFY(m_server->addNullSink("quorvel_test"));
        auto opened = PulseSoundSource::openDefaultOutputMonitor();
        QVERIFY2(opened.ok(), qPrintable(opened.error()));
        auto source = std::move(opened).value();
        QCOMPARE(source->monitorName(), QStringLiteral("quorvel_test.monitor"));

        Received received;
        QString error;
        QVERIFY2(source->start(received.sink(), &error), qPrintable(error));
        auto player = m_server->client("paplay", {m_folder.filePath("tone.wav")});
        QVERIFY(player->waitForStarted());
        QVERIFY(player->waitForFinished(20000));
        QCOMPARE(player->exitCode(), 0);
        // What is still on its way after paplay is done (the sink's latency).
        const size_t playedAt = received.count();
        QTRY_VERIFY(received.count() >= playedAt + 30);
        source->stop();
        const size_t stoppedAt = received.count();
        QVERIFY(received.failed().isEmpty());

        // The tone, side by side, at the level it was played: half of full scale.
        const int window = SoundSource::sampleRate / 50;
        const auto& samples = received.samples;
        int toneWindows = 0, partWindows = 0;
        int64_t toneFrom = -1, toneTo = -1; // frames
        for (size_t at = 0; at + window * 2 <= samples.size(); at += window * 2) {
            const int16_t* w = samples.data() + at;
            const double left = goertzel(w, window, 0, kLeftHz);
            const double right = goertzel(w, window, 1, kRightHz);
            if (left < 8000 || right < 8000) {
                // Silence before and after, and where the tone begins and ends.
                partWindows += left > 100 || right > 100;
                continue;
            }
            ++toneWindows;
            if (toneFrom < 0)
                toneFrom = int64_t(at / 2);
            toneTo = int64_t(at / 2) + window;
            QVERIFY2(left < 8400 && right < 8400,
                     qPrintable(QStringLiteral("tone levels %1 %2").arg(left).arg(right)));
            QVERIFY(goertzel(w, window, 0, kRightHz) < left / 50);
            QVERIFY(goertzel(w, window, 1, kLeftHz) < right / 50);
        }
        // 3 s played, none lost (a busy machine may leave a glitch or two).
        QVERIFY2(toneWindows >= 146 && partWindows <= 4,
                 qPrintable(QStringLiteral("%1 windows with the tone, %2 with part of it")
                                .arg(toneWindows).arg(partWindows)));

        // Chunk times: one after the other, and about when the chunk reached
        // us: a null sink's latency is milliseconds. None comes long before it
        // ends; a busy machine may hold some back, but not the typical one.
        const auto& chunks = received.chunks;
        std::vector<int64_t> lateness; // when each chunk came after it ended
        for (size_t i = 0; i < chunks.size(); ++i) {
            const int64_t end = chunks[i].time + chunks[i].frames * 1000000 / SoundSource::sampleRate;
            lateness.push_back(chunks[i].arrival - end);
            QVERIFY2(lateness.back() > -30000,
                     qPrintable(QStringLiteral("chunk %1 arrives %2 µs before it ends")
                                    .arg(i).arg(-lateness.back())));
            if (i + 1 < chunks.size())
                QVERIFY2(std::abs(chunks[i + 1].time - end) < 1000,
                         qPrintable(QStringLiteral("%1 µs between chunks %2 and %3")
                                        .arg(chunks[i + 1].time - end).arg(i).arg(i + 1)));
        }
        std::vector<int64_t> sorted = lateness;
        std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
        QVERIFY2(sorted[sorted.size() / 2] < 30000, qPrintable(QString::number(sorted[sorted.size() / 2])));
        // And as far apart as the wall clock says, while the tone plays: its
        // start changes the server's latency, taken in over half a second.
        // Chunks come unevenly (the server's cycle is not ours), so the
        // soonest of a run of them is compared. The server's reports of its
        // latency (up to 1.5 s apart) differ by a few milliseconds.
        std::vector<int64_t> during;
        int64_t frame = 0;
        for (size_t i = 0; i < chunks.size(); frame += chunks[i].frames, ++i)
            if (frame >= toneFrom + SoundSource::sampleRate / 2 && frame + chunks[i].frames <= toneTo)
                during.push_back(lateness[i]);
        QVERIFY2(during.size() >= 200, qPrintable(QString::number(during.size())));
        const int64_t first = *std::min_element(during.begin(), during.begin() + 50);
        const int64_t last = *std::min_element(during.end() - 50, during.end());
        QVERIFY2(std::abs(last - first) < 8000,
                 qPrintable(QStringLiteral("%1 µs apart from the clock over %2 s")
                                .arg(last - first).arg(double(toneTo - toneFrom) / SoundSource::sampleRate - 0.5)));

        // Nothing comes after stop(): a stream still running would have
        // delivered the tone played again by the time it is over.
        player = m_server->client("paplay", {m_folder.filePath("tone.wav")});
        QVERIFY(player->waitForFinished(20000));
        QCOMPARE(received.count(), stoppedAt);
    }

    // A recording with this sound: an AAC track holding the tone where it
    // was played against the picture, and starting with the picture.
    void recordsTheToneIntoTheMovie()
    {
        auto opened = openDefaultOutputMonitor();
        QVERIFY2(opened.ok(), qPrintable(opened.error()));
        auto frames = std::make_unique<GreyFrames>();
        auto sound = std::make_unique<ToneWatch>(std::move(opened).value());
        GreyFrames* picture = frames.get();
        ToneWatch* tone = sound.get();
        const QString movie = m_folder.filePath("recording.mp4");
        auto recording = Recording::start({movie, std::move(frames), std::move(sound)});
        QVERIFY2(recording.ok(), qPrintable(recording.error()));
        QTRY_VERIFY(recording.value()->counts().delivered >= 10);
        auto player = m_server->client("paplay", {m_folder.filePath("tone.wav")});
        QVERIFY(player->waitForFinished(20000));
        QCOMPARE(player->exitCode(), 0);
        QTRY_VERIFY(recording.value()->counts().delivered >= 150);
        const auto finished = recording.value()->finish();
        QVERIFY2(finished.ok(), qPrintable(finished.error()));
        QVERIFY(tone->onset > picture->first);

        const auto probed = test_support::run(
            "ffprobe", {"-v", "error", "-of", "json", "-show_streams", movie});
        QCOMPARE(probed.exitCode, 0);
        double videoStart = -1, audioStart = -1;
        for (const auto stream : QJsonDocument::fromJson(probed.out)["streams"].toArray()) {
            const auto o = stream.toObject();
            if (o["codec_type"] == "video")
                videoStart = o["start_time"].toString().toDouble();
            if (o["codec_type"] == "audio") {
                QCOMPARE(o["codec_name"].toString(), QStringLiteral("aac"));
                audioStart = o["start_time"].toString().toDouble();
            }
        }
        QVERIFY2(audioStart >= 0 && std::abs(audioStart - videoStart) < 1.0 / 30,
                 qPrintable(QStringLiteral("picture from %1 s, sound from %2 s").arg(videoStart).arg(audioStart)));

        // The sound decoded: where the tone begins against the picture's start.
        const QString raw = m_folder.filePath("sound.raw");
        QCOMPARE(test_support::run("ffmpeg", {"-v", "error", "-y", "-i", movie, "-map", "0:a", "-f",
                                              "s16le", "-ac", "2", "-ar", "48000", raw})
                     .exitCode,
                 0);
        QFile file(raw);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const auto* samples = reinterpret_cast<const int16_t*>(bytes.constData());
        const int frameCount = int(bytes.size() / 4);
        int heard = -1;
        for (int i = 0; i < frameCount && heard < 0; ++i)
            if (std::abs(samples[2 * i]) > 4000)
                heard = i;
        QVERIFY(heard >= 0);
        const double expected = double(tone->onset - picture->first) / 1e6;
        // Where the decoded sound begins (the encoder's priming samples may
        // or may not be dropped).
        const auto decoded = test_support::run(
            "ffprobe", {"-v", "error", "-select_streams", "a", "-show_frames", "-read_intervals",
                        "%+#1", "-show_entries", "frame=pts_time", "-of", "csv=p=0", movie});
        QCOMPARE(decoded.exitCode, 0);
        bool number = false;
        const double soundFrom = decoded.out.trimmed().toDouble(&number);
        QVERIFY2(number, decoded.out.constData());
        const double at = soundFrom + double(heard) / 48000 - videoStart;
        QVERIFY2(std::abs(at - expected) < 1.0 / 30,
                 qPrintable(QStringLiteral("the tone begins %1 s into the movie, played %2 s in")
                                .arg(at).arg(expected)));
        // Lossy, but the tone each side at about the level played.
        const int window = 960;
        const int16_t* middle = samples + 2 * (heard + 48000);
        QVERIFY(heard + 48000 + window <= frameCount);
        QVERIFY(std::abs(goertzel(middle, window, 0, kLeftHz) - 8192) < 800);
        QVERIFY(std::abs(goertzel(middle, window, 1, kRightHz) - 8192) < 800);
        QVERIFY(goertzel(middle, window, 0, kRightHz) < 400);
    }

    // The output or the whole server going while recording: the sink hears why, once.
    void saysWhenTheSoundGoes()
    {
        auto opened = openDefaultOutputMonitor();
        QVERIFY2(opened.ok(), qPrintable(opened.error()));
        Received received;
        QString error;
        QVERIFY2(opened.value()->start(received.sink(), &error), qPrintable(error));
        QTRY_VERIFY(received.count() > 0);
        QVERIFY(m_server->removeNullSink());
        QTRY_COMPARE(received.failed(), QStringLiteral("the sound output being recorded went away"));
        opened.value()->stop();

        QVERIFY(m_server->addNullSink("quorvel_test"));
        opened = openDefaultOutputMonitor();
        QVERIFY2(opened.ok(), qPrintable(opened.error()));
        Received again;
        QVERIFY2(opened.value()->start(again.sink(), &error), qPrintable(error));
        QTRY_VERIFY(again.count() > 0);
        m_server->killPulseServer();
        QTRY_COMPARE(again.failed(), QStringLiteral("the sound server went away"));
    }

    void cleanupTestCase() { m_server.reset(); }

private:
    QTemporaryDir m_folder;
    std::unique_ptr<test_support::SoundServer> m_server;
};

QTEST_GUILESS_MAIN(TestPulseSoundSource)
#include "tst_pulse_sound_source.moc"
