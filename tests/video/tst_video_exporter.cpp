// The editor's video export as the user meets it: the save panel, the lines
// printed, the exporting state the editor is told about and the file manager
// showing the result. The panel and the file manager are stand-ins; the
// movie pipeline is the real one, fed movies made by the ffmpeg program.

#include "test_support.h"
#include "video_exporter.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>
#include <QtTest>
#include <memory>
#include <mutex>

namespace {

// Answers like a person would: later, on the main thread.
class FakeFilePanel : public FilePanel {
public:
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

// The callbacks and reveals the main thread saw, in the order it saw them.
struct MainThreadEvents : FileReveal {
    QStringList events;
    void reveal(const QString& path) override { events << QStringLiteral("reveal ") + path; }
    std::function<void(bool)> exportingChanged()
    {
        return [this](bool exporting) {
            QCOMPARE(QThread::currentThread(), QCoreApplication::instance()->thread());
            events << (exporting ? QStringLiteral("true") : QStringLiteral("false"));
        };
    }
};

struct PrintedLines {
    std::mutex mutex;
    QStringList lines;
    VideoExporter::LineWriter writer()
    {
        return [this](const QString& line) {
            const std::lock_guard lock(mutex);
            lines << line;
        };
    }
};

const QString kStarting = QStringLiteral("Starting video export...");
const QString kCompleted = QStringLiteral("✅ Export completed successfully");

} // namespace

class TestVideoExporter : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_movie;
    QString m_audioOnly;
    QString m_text;

    QString path(const QString& name) const { return m_dir.filePath(name); }

    // Lets the panel answer, the background run end and its postings arrive.
    static void waitForRuns(const FakeFilePanel& panel, int runs = 1)
    {
        QTRY_COMPARE_WITH_TIMEOUT(panel.answered, runs, 5000);
        QVERIFY(QThreadPool::globalInstance()->waitForDone(120000));
        QCoreApplication::sendPostedEvents();
    }

    static void ffmpeg(const QStringList& arguments)
    {
        const auto made = test_support::run(
            QStringLiteral("ffmpeg"), QStringList{QStringLiteral("-y"), QStringLiteral("-loglevel"),
                                                  QStringLiteral("error")} +
                                          arguments);
        QVERIFY2(made.exitCode == 0, made.err.constData());
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_movie = path(QStringLiteral("source.mp4"));
        m_audioOnly = path(QStringLiteral("sound.m4a"));
        m_text = path(QStringLiteral("notes.mp4"));
        ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=30", "-t", "1", "-c:v", "libx264",
                "-preset", "ultrafast", "-pix_fmt", "yuv420p", m_movie});
        ffmpeg({"-f", "lavfi", "-i", "sine", "-t", "1", m_audioOnly});
        QFile text(m_text);
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("not a movie, whatever the name says\n");
    }

    // The save panel proposes the name, the lines tell the story, the editor
    // hears true then false, and only then the file manager shows the movie.
    void exportRevealsTheNewMovie()
    {
        FakeFilePanel panel;
        MainThreadEvents onMain;
        PrintedLines printed;
        const QString destination = path(QStringLiteral("exported.mp4"));
        panel.answer = destination;

        VideoExporter exporter(panel, onMain, printed.writer());
        exporter.exportVideo(QUrl::fromLocalFile(m_movie), GradientStyle::sunset(), 20, 12,
                             onMain.exportingChanged());
        waitForRuns(panel);

        QCOMPARE(panel.saveRequests.size(), 1);
        QCOMPARE(panel.saveRequests[0].nameFilters,
                 QStringList{QStringLiteral("MPEG-4 movie (*.mp4)")});
        QCOMPARE(panel.saveRequests[0].proposedName, QStringLiteral("video_with_background.mp4"));
        QCOMPARE(printed.lines, (QStringList{kStarting, kCompleted}));
        QCOMPARE(onMain.events,
                 (QStringList{"true", "false", QStringLiteral("reveal ") + destination}));

        const auto probe = test_support::run(
            QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                        "stream=codec_name", "-of", "csv=p=0", destination});
        QCOMPARE(probe.exitCode, 0);
        QCOMPARE(probe.out.trimmed(), QByteArray("h264"));
    }

    // A cancelled panel and a source without pictures both end quietly.
    void silentStops_data()
    {
        QTest::addColumn<bool>("cancelPanel");
        QTest::addColumn<QString>("source");
        QTest::newRow("save panel cancelled") << true << m_movie;
        QTest::newRow("audio only source") << false << m_audioOnly;
    }
    void silentStops()
    {
        QFETCH(bool, cancelPanel);
        QFETCH(QString, source);
        FakeFilePanel panel;
        MainThreadEvents onMain;
        PrintedLines printed;
        const QString destination = path(QStringLiteral("silent.mp4"));
        if (!cancelPanel)
            panel.answer = destination;

        VideoExporter exporter(panel, onMain, printed.writer());
        exporter.exportVideo(QUrl::fromLocalFile(source), GradientStyle(), 10, 0,
                             onMain.exportingChanged());
        waitForRuns(panel);

        QCOMPARE(printed.lines, QStringList());
        QCOMPARE(onMain.events, QStringList());
        QVERIFY(!QFile::exists(destination));
    }

    // Each failure prints one line with its reason and ends the exporting
    // state exactly once; nothing is revealed and no file is left behind.
    void failuresSayWhy_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("destination");
        QTest::addColumn<bool>("failsOnSource");
        QTest::newRow("not a movie") << m_text << path("from_text.mp4") << true;
        QTest::newRow("missing source") << path("nowhere.mp4") << path("from_missing.mp4") << true;
        // The parent is a regular file, so no movie can be written there.
        QTest::newRow("unwritable destination") << m_movie << m_text + "/exported.mp4" << false;
    }
    void failuresSayWhy()
    {
        QFETCH(QString, source);
        QFETCH(QString, destination);
        QFETCH(bool, failsOnSource);
        FakeFilePanel panel;
        MainThreadEvents onMain;
        PrintedLines printed;
        panel.answer = destination;

        VideoExporter exporter(panel, onMain, printed.writer());
        exporter.exportVideo(QUrl::fromLocalFile(source), GradientStyle::ocean(), 10, 8,
                             onMain.exportingChanged());
        waitForRuns(panel);

        QStringList failures = printed.lines;
        failures.removeAll(kStarting);
        QCOMPARE(failures.size(), 1);
        const QString& line = failures.constFirst();
        if (failsOnSource) {
            QVERIFY2(line.startsWith("Error exporting video: "), qPrintable(line));
            QCOMPARE(printed.lines.size(), 1);
            QCOMPARE(onMain.events, QStringList{"false"});
        } else {
            QVERIFY2(line.startsWith("Error exporting video: ") ||
                         line.startsWith("❌ Export failed: "),
                     qPrintable(line));
            QCOMPARE(onMain.events.count("false"), 1);
            QCOMPARE(onMain.events.constLast(), QStringLiteral("false"));
            QCOMPARE(onMain.events.count("true"), printed.lines.count(kStarting));
        }
        QVERIFY2(line.size() > line.indexOf(':') + 2, "the line gives no reason");
        QVERIFY(!QFile::exists(destination));
    }

    // Two exports at once answer each for itself.
    void overlappingRunsAreIndependent()
    {
        FakeFilePanel panel;
        MainThreadEvents onMain;
        PrintedLines printed;
        const QString first = path(QStringLiteral("first.mp4"));
        const QString second = path(QStringLiteral("second.mp4"));

        VideoExporter exporter(panel, onMain, printed.writer());
        panel.answer = first;
        exporter.exportVideo(QUrl::fromLocalFile(m_movie), GradientStyle(), 5, 4,
                             onMain.exportingChanged());
        panel.answer = second;
        exporter.exportVideo(QUrl::fromLocalFile(m_movie), GradientStyle::warmGlow(), 30, 0,
                             onMain.exportingChanged());
        waitForRuns(panel, 2);

        QCOMPARE(printed.lines.count(kStarting), 2);
        QCOMPARE(printed.lines.count(kCompleted), 2);
        QCOMPARE(onMain.events.count("true"), 2);
        QCOMPARE(onMain.events.count("false"), 2);
        QVERIFY(onMain.events.indexOf("reveal " + first) > onMain.events.indexOf("false"));
        QVERIFY(onMain.events.contains("reveal " + second));
        QCOMPARE(onMain.events.size(), 6);
    }

    // The editor may close while its export runs: the movie is still
    // written, but nothing is posted back to the exporter that is gone.
    void exporterGoneBeforeTheRunEnds()
    {
        FakeFilePanel panel;
        MainThreadEvents onMain;
        PrintedLines printed;
        const QString destination = path(QStringLiteral("orphan.mp4"));
        panel.answer = destination;

        auto exporter = std::make_unique<VideoExporter>(panel, onMain, printed.writer());
        exporter->exportVideo(QUrl::fromLocalFile(m_movie), GradientStyle(), 10, 10,
                              onMain.exportingChanged());
        QTRY_COMPARE(panel.answered, 1);
        exporter.reset();
        waitForRuns(panel);

        QCOMPARE(onMain.events, QStringList());
        QCOMPARE(printed.lines, (QStringList{kStarting, kCompleted}));
        QVERIFY(QFile::exists(destination));
    }
};

QTEST_GUILESS_MAIN(TestVideoExporter)
#include "tst_video_exporter.moc"
