#include "fuzz_entries.h"
#include "test_support.h"

#include <QDir>
#include <QtTest>
#include <unistd.h>

extern "C" {
#include <libavutil/log.h>
}

// Every input a fuzz target once failed on goes through that target's entry
// function again; an input that fails again aborts with the broken promise.
// Beyond not crashing, a damaged picture's or movie's only words are the reason
// the loader returns, so nothing reaches the terminal on the way; usage errors
// are printed, by design.
namespace {
const struct {
    const char* name;
    void (*entry)(const uint8_t*, size_t);
    bool mayPrint;
} kTargets[] = {{"image_loader", readPictureBytes, false},
                {"movie_source", readMovieBytes, false},
                {"option_parsers", parseOptionBytes, true}};
} // namespace

class FuzzRegressionsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // As `quorvel video` has it: its own line says what went wrong.
        av_log_set_level(AV_LOG_QUIET);
    }

    void replays_data()
    {
        QTest::addColumn<int>("target");
        QTest::addColumn<QString>("path");
        for (int target = 0; target < int(std::size(kTargets)); ++target) {
            const QDir kept(QStringLiteral(FUZZ_REGRESSIONS "/") + kTargets[target].name);
            const QStringList names = kept.entryList(QDir::Files, QDir::Name);
            QVERIFY2(!names.isEmpty(), kTargets[target].name);
            for (const QString& name : names)
                QTest::addRow("%s/%s", kTargets[target].name, qPrintable(name))
                    << target << kept.filePath(name);
        }
    }
    void replays()
    {
        QFETCH(int, target);
        QFETCH(QString, path);
        const QByteArray bytes = test_support::fileBytes(path);
        const QByteArray said = test_support::stdoutOf(
            [&] {
                kTargets[target].entry(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                       size_t(bytes.size()));
            },
            STDERR_FILENO);
        QVERIFY2(kTargets[target].mayPrint || said.isEmpty(), said.constData());
    }
};

QTEST_GUILESS_MAIN(FuzzRegressionsTest)
#include "tst_fuzz_regressions.moc"
