// The default output's monitor recorded from a real sound server of the
// test's own (tests/record/sound_server.h), a null sink its default output,
// paplay playing a tone into it: a different one on each side, so a swapped
// or mixed channel shows. How the sound lands in a movie is tst_recording's
// and tst_record_command's.

#include "pulse_sound_source.h"
#include "sound_server.h"
#include "test_support.h"

#include <QLocalServer>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <utility>

extern "C" {
#include <libavutil/time.h>
}

namespace {

constexpr double kLeftHz = 1000;
constexpr double kRightHz = 1500;

// What a sink received, from the source's thread: the sound, read once the
// source stopped, and why it ended (set before `ended`).
struct Received {
    std::vector<int16_t> samples;
    struct Chunk {
        int64_t time, frames, arrival;
    };
    std::vector<Chunk> chunks;
    std::atomic<size_t> count{0};
    QString failure;
    std::atomic<bool> ended{false};

    SoundSink sink()
    {
        return {[this](const SoundChunk& chunk) {
                    samples.insert(samples.end(), chunk.samples, chunk.samples + chunk.frames * 2);
                    chunks.push_back({chunk.time, chunk.frames, av_gettime_relative()});
                    ++count;
                },
                [this](const QString& reason) { failure = reason, ended = true; }};
    }
};

// The strength of `hz` in one channel of `frames` interleaved stereo frames.
} // namespace

class TestPulseSoundSource : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        m_server = std::make_unique<test_support::SoundServer>(m_folder.path());
        m_server->applyToThisProcess();
        const QString tone = "-n -r 48000 -c 2 -b 16 %1 synth 3 sine %2 sine %3 vol 0.5";
        const QString made = tone.arg(m_folder.filePath("tone.wav")).arg(kLeftHz).arg(kRightHz);
        QCOMPARE(test_support::run("sox", made.split(' ')).exitCode, 0);
    }

    // No server, or one that takes the connection and never answers: one
    // line each, the latter within seconds.
    void saysWhenNoServerAnswers()
    {
        auto opened = openDefaultOutputMonitor();
        QCOMPARE(opened.error(), QStringLiteral("no sound server is running"));

        QVERIFY(QDir().mkpath(m_folder.filePath("run/pulse")));
        QLocalServer mute;
        QVERIFY(mute.listen(m_folder.filePath("run/pulse/native")));
        const QDeadlineTimer soon(10000);
        opened = openDefaultOutputMonitor();
        QCOMPARE(opened.error(), QStringLiteral("the sound server does not answer"));
        QVERIFY(!soon.hasExpired());
        mute.close();

        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
    }

    void recordsWhatTheOutputPlays()
    {
        QVERIFY(m_server->addNullSink("quorvel_test"));
        auto opened = PulseSoundSource::openDefaultOutputMonitor();
        QVERIFY2(opened.ok(), qPrintable(opened.error()));
        QCOMPARE(opened.value()->monitorName(), QStringLiteral("quorvel_test.monitor"));
        Received received;
        QString error;
        QVERIFY2(opened.value()->start(received.sink(), &error), qPrintable(error));
        QCOMPARE(test_support::run("paplay", {m_folder.filePath("tone.wav")}).exitCode, 0);
        // What is still on its way after paplay is done (the sink's latency).
        const size_t playedAt = received.count;
        QTRY_VERIFY(received.count >= playedAt + 30);
        opened.value()->stop();
        const size_t stoppedAt = received.count;
        QVERIFY(!received.ended);

        // The tone, side by side, at the level it was played (half of full
        // scale), none of it lost: a busy machine may leave a glitch or two.
        const int window = SoundSource::sampleRate / 50;
        int toneWindows = 0, partWindows = 0;
        for (size_t at = 0; at + window * 2 <= received.samples.size(); at += window * 2) {
            const int16_t* w = received.samples.data() + at;
            const double left = test_support::goertzel(w, window, 0, kLeftHz),
                         right = test_support::goertzel(w, window, 1, kRightHz);
            if (left < 8000 || right < 8000) { // silence, or where the tone begins or ends
                partWindows += left > 100 || right > 100;
                continue;
            }
            ++toneWindows;
            QVERIFY2(left < 8400 && right < 8400,
                     qPrintable(QStringLiteral("%1 %2").arg(left).arg(right)));
            QVERIFY(test_support::goertzel(w, window, 0, kRightHz) < left / 50 &&
                    test_support::goertzel(w, window, 1, kLeftHz) < right / 50);
        }
        QVERIFY2(toneWindows >= 146 && partWindows <= 4,
                 qPrintable(QStringLiteral("%1 whole, %2 part").arg(toneWindows).arg(partWindows)));

        // Chunk times: one after the other, and about when the chunk reached
        // us (a null sink's latency is milliseconds): none long before it
        // ends, and not the typical one long after.
        const auto& chunks = received.chunks;
        std::vector<int64_t> lateness;
        for (size_t i = 0; i < chunks.size(); ++i) {
            const int64_t end =
                chunks[i].time + chunks[i].frames * 1000000 / SoundSource::sampleRate;
            lateness.push_back(chunks[i].arrival - end);
            QVERIFY2(lateness.back() > -30000 &&
                         (i + 1 == chunks.size() || std::abs(chunks[i + 1].time - end) < 1000),
                     qPrintable(QStringLiteral("chunk %1").arg(i)));
        }
        // As far apart as the wall clock says, or picture and sound part over
        // a long recording: the soonest of the first and of the last runs,
        // once the tone's start has settled (the server's cycle is not ours).
        QVERIFY(lateness.size() > 150);
        const auto soonest = [&](size_t from) {
            return *std::min_element(lateness.begin() + from, lateness.begin() + from + 40);
        };
        QVERIFY2(std::abs(soonest(lateness.size() - 80) - soonest(50)) < 8000,
                 qPrintable(QString::number(soonest(lateness.size() - 80) - soonest(50))));
        std::nth_element(lateness.begin(), lateness.begin() + lateness.size() / 2, lateness.end());
        QVERIFY2(lateness[lateness.size() / 2] < 30000,
                 qPrintable(QString::number(lateness[lateness.size() / 2])));

        // Nothing after stop(): a running stream would deliver the tone again.
        QCOMPARE(test_support::run("paplay", {m_folder.filePath("tone.wav")}).exitCode, 0);
        QCOMPARE(received.count.load(), stoppedAt);
    }

    // The output going while recording (a headset unplugged): the sound goes
    // on from the output the desktop plays to then. The server going: the
    // sink hears why.
    void followsTheOutputThePersonHears()
    {
        auto opened = PulseSoundSource::openDefaultOutputMonitor();
        QVERIFY2(opened.ok(), qPrintable(opened.error()));
        Received received;
        QString error;
        QVERIFY2(opened.value()->start(received.sink(), &error), qPrintable(error));
        QTRY_VERIFY(received.count > 0);
        QVERIFY(m_server->addNullSink("quorvel_spare")); // the default from now on
        QVERIFY(m_server->removeNullSink("quorvel_test"));
        const size_t removedAt = received.count;
        QTRY_VERIFY(received.count > removedAt + 50);
        QVERIFY(!received.ended);

        m_server->stop();
        QTRY_VERIFY(received.ended);
        QCOMPARE(received.failure, "the sound server went away");
        opened.value()->stop();
        QCOMPARE(opened.value()->monitorName(), "quorvel_spare.monitor");
    }

    void cleanupTestCase() { m_server.reset(); }

private:
    QTemporaryDir m_folder;
    std::unique_ptr<test_support::SoundServer> m_server;
};

QTEST_GUILESS_MAIN(TestPulseSoundSource)
#include "tst_pulse_sound_source.moc"
