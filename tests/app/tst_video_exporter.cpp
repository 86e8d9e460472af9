// The editor's video export as the user meets it: save panel and file manager
// are stand-ins; the movie pipeline is real, fed movies made by ffmpeg.

#include "test_support.h"
#include "video_exporter.h"

#include <QtTest>
#include <memory>
#include <mutex>

namespace {

// Answers like a person would: later, on the main thread.
struct FakeFilePanel : FilePanel {
    std::optional<QString> answer;
    QList<SaveRequest> saveRequests;
    int answered = 0;

    void chooseFileToOpen(const OpenRequest&, Answer done) override { done(std::nullopt); }
    void chooseSaveLocation(const SaveRequest& request, Answer done) override
    {
        saveRequests << request;
        QTimer::singleShot(0, [this, done, path = answer] {
            ++answered;
            done(path);
        });
    }
};

// An exporter and what the user sees of its runs: lines printed, exporting
// changes and reveals in main-thread order, and whether a line came where none may.
struct Exports : FileReveal {
    FakeFilePanel panel;
    QStringList events;
    std::mutex mutex;
    QStringList lines;
    bool lineOffMainThread = false, lineAfterExporterGone = false;
    bool closeOnStart = false; // the editor closes as the export starts
    std::unique_ptr<VideoExporter> exporter =
        std::make_unique<VideoExporter>(panel, *this, [this](const QString& line) {
            const std::lock_guard lock(mutex);
            lineOffMainThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
            lineAfterExporterGone |= !exporter;
            lines << line;
        });

    void reveal(const QString& path) override { events << "reveal " + path; }
    void start(const QString& source, std::optional<QString> answer,
               const GradientStyle& style = {}, double padding = 10, double radius = 0)
    {
        panel.answer = answer;
        exporter->exportVideo(QUrl::fromLocalFile(source), style, padding, radius, [this](bool on) {
            QCOMPARE(QThread::currentThread(), QCoreApplication::instance()->thread());
            events << (on ? "true" : "false");
            if (on && closeOnStart)
                exporter.reset();
        });
    }
    void finish(int runs = 1)
    {
        QTRY_COMPARE_WITH_TIMEOUT(panel.answered, runs, 5000);
        QVERIFY(QThreadPool::globalInstance()->waitForDone(120000));
        QCoreApplication::sendPostedEvents();
        QVERIFY(!lineOffMainThread);
    }
};

const QString kStarting = QStringLiteral("Starting video export...");
const QString kCompleted = QStringLiteral("✅ Export completed successfully");

} // namespace

class TestVideoExporter : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }
    const QString m_movie = path("source.mp4"), m_audioOnly = path("sound.m4a"),
                  m_text = path("notes.mp4");

    static void ffmpeg(const QString& arguments, const QString& out)
    {
        const auto made = test_support::run(
            "ffmpeg", QString("-y -loglevel error " + arguments).split(' ') + QStringList{out});
        QVERIFY2(made.exitCode == 0, made.err.constData());
    }

private Q_SLOTS:
    void initTestCase()
    {
        ffmpeg("-f lavfi -i testsrc2=size=160x120:rate=30 -t 1 -c:v libx264 -preset ultrafast "
               "-pix_fmt yuv420p",
               m_movie);
        ffmpeg("-f lavfi -i sine -t 1", m_audioOnly);
        QFile text(m_text);
        QVERIFY(text.open(QIODevice::WriteOnly) && text.write("not a movie, whatever the name"));
    }

    // The editor hears true then false, and only then the file manager shows the movie.
    void exportRevealsTheNewMovie()
    {
        Exports run;
        const QString destination = path("exported.mp4");
        run.start(m_movie, destination, GradientStyle::sunset(), 20, 12);
        run.finish();
        QCOMPARE(run.panel.saveRequests.size(), 1);
        QCOMPARE(run.panel.saveRequests[0].nameFilters, QStringList{"MPEG-4 movie (*.mp4)"});
        QCOMPARE(run.panel.saveRequests[0].proposedName, "video_with_background.mp4");
        QCOMPARE(run.lines, (QStringList{kStarting, kCompleted}));
        QCOMPARE(run.events, (QStringList{"true", "false", "reveal " + destination}));
        QVERIFY(QFile::exists(destination));
    }

    // A cancelled panel or a source without pictures ends quietly; a failure prints
    // one line with its reason. Exporting ends at most once, nothing revealed or left behind.
    void endsWithoutAMovie_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<std::optional<QString>>("destination");
        QTest::addColumn<QString>("fails"); // on "source", on "writing", or "" (quietly)
        const auto row = [](const char* name, QString source, std::optional<QString> to,
                            const char* fails) {
            QTest::newRow(name) << source << to << QString(fails);
        };
        row("save panel cancelled", m_movie, std::nullopt, "");
        row("audio only source", m_audioOnly, path("silent.mp4"), "");
        row("not a movie", m_text, path("from_text.mp4"), "source");
        row("missing source", path("nowhere.mp4"), path("from_missing.mp4"), "source");
        row("destination under a file", m_movie, m_text + "/exported.mp4", "writing");
    }
    void endsWithoutAMovie()
    {
        QFETCH(QString, source);
        QFETCH(std::optional<QString>, destination);
        QFETCH(QString, fails);
        Exports run;
        run.start(source, destination, GradientStyle::ocean(), 10, 8);
        run.finish();
        QVERIFY(!destination || !QFile::exists(*destination));
        if (fails.isEmpty()) {
            QCOMPARE(run.lines + run.events, QStringList());
            return;
        }

        QCOMPARE(run.lines.size() - run.lines.count(kStarting), 1);
        const QString line = run.lines.constLast();
        QVERIFY2(line.startsWith("Error exporting video: ") ||
                     (fails == "writing" && line.startsWith("❌ Export failed: ")),
                 qPrintable(line));
        QVERIFY2(line.size() > line.indexOf(':') + 2, "the line gives no reason");
        if (fails == "source")
            QCOMPARE(run.events, QStringList{"false"}); // and no "Starting" line either
        QVERIFY(run.events.count("false") == 1 && run.events.constLast() == "false");
        QCOMPARE(run.events.count("true"), run.lines.count(kStarting));
    }

    // Two exports at once answer each for itself.
    void overlappingRunsAreIndependent()
    {
        Exports run;
        const QString first = path("first.mp4"), second = path("second.mp4");
        run.start(m_movie, first, {}, 5, 4);
        run.start(m_movie, second, GradientStyle::warmGlow(), 30, 0);
        run.finish(2);
        const auto sorted = [](QStringList list) { return list.sort(), list; };
        QCOMPARE(sorted(run.lines), (QStringList{kStarting, kStarting, kCompleted, kCompleted}));
        QCOMPARE(sorted(run.events), (QStringList{"false", "false", "reveal " + first,
                                                  "reveal " + second, "true", "true"}));
        QVERIFY(run.events.indexOf("reveal " + first) > run.events.indexOf("false"));
    }

    // The editor closes mid-run: the movie is still written, nothing reaches the gone exporter.
    void exporterGoneBeforeTheRunEnds()
    {
        Exports run;
        run.closeOnStart = true;
        const QString destination = path("orphan.mp4");
        run.start(m_movie, destination, {}, 10, 10);
        run.finish();
        QCOMPARE(run.events, QStringList{"true"});
        QCOMPARE(run.lines, QStringList{kStarting});
        QVERIFY(!run.lineAfterExporterGone);
        QVERIFY(QFile::exists(destination));
    }
};

QTEST_GUILESS_MAIN(TestVideoExporter)
#include "tst_video_exporter.moc"
