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
    void staysOnTheClock_data()
    {
        QTest::addColumn<double>("drift"); // how much faster the output's clock runs
        QTest::newRow("same clock") << 0.0;
        QTest::newRow("output fast") << 0.001;
        QTest::newRow("output slow") << -0.001;
    }

    // Ten minutes, in 10 ms chunks: every time within a couple of
    // milliseconds of when the chunk was played, one chunk after the other.
    void staysOnTheClock()
    {
        QFETCH(double, drift);
        std::mt19937 random(7);
        std::uniform_real_distribution<double> jitter(-2000, 2000);
        SoundTimeline timeline;
        const int frames = 480;
        const double usPerFrame = 1e6 / (SoundSource::sampleRate * (1 + drift));
        const double start = 5e9;
        int64_t expected = 0;
        for (int i = 0; i < 60000; ++i) {
            const double played = start + double(i) * frames * usPerFrame;
            const int64_t time = timeline.place(int64_t(played + jitter(random)), frames);
            if (i > 0)
                QVERIFY2(std::abs(time - expected) < 300,
                         qPrintable(QStringLiteral("chunk %1 is %2 µs from the end of the one before")
                                        .arg(i).arg(time - expected)));
            if (i >= 100) // after a second
                QVERIFY2(std::abs(time - played) < 2000,
                         qPrintable(QStringLiteral("chunk %1 is %2 µs off").arg(i).arg(time - played)));
            expected = time + frames * 1000000 / SoundSource::sampleRate;
        }
    }

    // Sound lost on the way shows as a gap at once; sound measured a little
    // early (an overlap) is taken in gently, never stamped over what was.
    void showsLostSound()
    {
        SoundTimeline timeline;
        int64_t played = 1000000;
        for (int i = 0; i < 50; ++i, played += 10000)
            QCOMPARE(timeline.place(played, 480), played);
        played += 200000;
        QCOMPARE(timeline.place(played, 480), played);
        QCOMPARE(timeline.place(played + 10000, 480), played + 10000);

        const int64_t next = played + 20000;
        const int64_t early = timeline.place(next - 20000, 480);
        QVERIFY(early < next && early > next - 2000);
    }
};

QTEST_GUILESS_MAIN(TestSoundTimeline)
#include "tst_sound_timeline.moc"
