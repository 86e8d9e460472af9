// Chunk times against a simulated output: its clock a little off ours, the
// measurements of when it played jittery, and sound lost on the way.

#include "sound_source.h"
#include "sound_timeline.h"

#include <QtTest>
#include <cmath>
#include <random>

class TestSoundTimeline : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Ten minutes, in 10 ms chunks, 200 ms of them lost halfway, the output's
    // clock a little fast or slow: after the first second every time within
    // a couple of milliseconds of when the chunk was played, each chunk right
    // after the one before (early measurements never stamp over it), and the
    // lost sound a gap at once.
    void staysOnTheClock()
    {
        for (const double drift : {0.001, -0.001}) {
            std::mt19937 random(7);
            std::uniform_real_distribution<double> jitter(-2000, 2000);
            SoundTimeline timeline;
            const int frames = 480;
            const double usPerFrame = 1e6 / (SoundSource::sampleRate * (1 + drift));
            int64_t expected = 0;
            for (int i = 0, played = 0; i < 60000; ++i, ++played) {
                played += i == 30000 ? 20 : 0;
                const double at = 5e9 + double(played) * frames * usPerFrame;
                const int64_t time = timeline.place(int64_t(at + jitter(random)), frames);
                const bool inStep = i == 0 || i == 30000 || std::abs(time - expected) < 300;
                QVERIFY2(inStep && (i < 100 || std::abs(time - at) < 2000),
                         qPrintable(QStringLiteral("chunk %1, drift %2").arg(i).arg(drift)));
                expected = time + frames * 1000000 / SoundSource::sampleRate;
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestSoundTimeline)
#include "tst_sound_timeline.moc"
