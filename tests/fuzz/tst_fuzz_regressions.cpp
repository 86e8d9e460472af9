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
class FuzzRegressionsTest : public QObject {
    Q_OBJECT

private:
    using Entry = void (*)(const uint8_t*, size_t);

    static void addRows(const char* target)
    {
        const QDir kept(QStringLiteral(FUZZ_REGRESSIONS "/") + QLatin1String(target));
        const QStringList names = kept.entryList(QDir::Files, QDir::Name);
        QVERIFY2(!names.isEmpty(), target);
        for (const QString& name : names)
            QTest::newRow(qPrintable(name)) << kept.filePath(name);
    }

    // Runs `entry` on the file; what it wrote on standard error meanwhile.
    static QByteArray replay(Entry entry, const QString& path)
    {
        const QByteArray bytes = test_support::fileBytes(path);
        return test_support::stdoutOf(
            [&] { entry(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size())); },
            STDERR_FILENO);
    }

private Q_SLOTS:
    void initTestCase()
    {
        // As `quorvel video` has it: its own line says what went wrong.
        av_log_set_level(AV_LOG_QUIET);
    }

    void pictures_data()
    {
        QTest::addColumn<QString>("path");
        addRows("image_loader");
    }

    // Beyond not crashing: a damaged picture's only words are the reason the
    // loader returns, so nothing reaches the terminal on the way.
    void pictures()
    {
        QFETCH(QString, path);
        QCOMPARE(replay(readPictureBytes, path), QByteArray());
    }

    void movies_data()
    {
        QTest::addColumn<QString>("path");
        addRows("movie_source");
    }

    void movies()
    {
        QFETCH(QString, path);
        QCOMPARE(replay(readMovieBytes, path), QByteArray());
    }

    void options_data()
    {
        QTest::addColumn<QString>("path");
        addRows("option_parsers");
    }

    // Usage errors are printed, by design; only an abort fails here.
    void options()
    {
        QFETCH(QString, path);
        replay(parseOptionBytes, path);
    }
};

QTEST_GUILESS_MAIN(FuzzRegressionsTest)
#include "tst_fuzz_regressions.moc"
