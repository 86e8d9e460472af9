// Both "Export with Background" flows from the editor window: the save panel
// is a stand-in; the compositor, PNG writer and movie pipeline are real.

#include "content_view.h"
#include "editor_fixtures.h"
#include "exporting_notice.h"
#include "image_editor.h"
#include "movie_fixtures.h"
#include "video_editor.h"

#include <QImageReader>
#include <QPushButton>
#include <QThreadPool>
#include <QtTest>

using namespace editor_fixtures;

namespace {

const QString kPressed = QStringLiteral("🔄 Export button pressed - starting export");
const QString kStarting = QStringLiteral("Starting video export...");
const QString kCompleted = QStringLiteral("✅ Export completed successfully");
const QString kCallbackTrue = QStringLiteral("📱 UI Callback: isExporting = true");
const QString kCallbackFalse = QStringLiteral("📱 UI Callback: isExporting = false");

struct Editor {
    Models models;
    FakeFilePanel panel;
    RecordingReveal reveal;
    Lines lines;
    std::unique_ptr<ContentView> view;

    Editor(const QImage& image, const QUrl& movie = {})
    {
        models.screencapture.setImage(image);
        models.recorder.setLastRecordingURL(movie);
        view = std::make_unique<ContentView>(models.screencapture, models.recorder, true, panel,
                                             reveal, nullptr, lines.writer());
        view->resize(1000, 700);
    }
    void pressImageExport() { view->imageEditor()->exportButton()->click(); }
    void pressVideoExport() { view->videoEditor()->exportButton()->click(); }
};

// Lets every answered panel and started write finish.
void settle()
{
    QCoreApplication::processEvents();
    QVERIFY(QThreadPool::globalInstance()->waitForDone(120000));
    QCoreApplication::processEvents();
}

QImage readBack(const QString& path)
{
    QImageReader reader(path);
    return reader.format() == "png" ? reader.read() : QImage();
}

// Lines equal to the expected ones; an expected line ending in ": " stands
// for that start followed by a reason.
void compareLines(const QStringList& lines, const QStringList& expected)
{
    QCOMPARE(lines.size(), expected.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (expected[i].endsWith(": "))
            QVERIFY2(lines[i].startsWith(expected[i]) && lines[i].size() > expected[i].size(),
                     qPrintable(lines[i]));
        else
            QCOMPARE(lines[i], expected[i]);
    }
}

} // namespace

class TestEditorExports : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QUrl clip() const { return QUrl::fromLocalFile(path("clip.mp4")); }

private Q_SLOTS:
    void initTestCase()
    {
        using movie_fixtures::make;
        QVERIFY(make(path("clip.mp4"), "-f lavfi -i testsrc2=size=96x64:rate=30 -t 0.5 "
                                       "-c:v libx264 -preset ultrafast -pix_fmt yuv420p"));
        QVERIFY(make(path("sound.m4a"), "-f lavfi -i sine -t 1"));
        QVERIFY(movie_fixtures::writeFile(path("notes.mp4"), "not a movie, whatever the name"));
    }

    // A capture of 800 x 600 points from a ratio-2 screen with padding 40 is
    // written as 1760 x 1360 pixels: the full export, replacing what was there.
    void writesTheFullPicture()
    {
        const QString file = path("shot.png");
        QVERIFY(movie_fixtures::writeFile(file, "an older file"));
        Editor editor(screenshot({800, 600}, 2));
        editor.panel.answer = file;
        editor.pressImageExport();
        settle();
        QCOMPARE(editor.lines.taken(), QStringList{"Image saved successfully to: " + file});
        QCOMPARE(readBack(file).size(), QSize(1760, 1360));
        QCOMPARE(editor.panel.saveRequests.size(), 1);
        QCOMPARE(editor.panel.saveRequests[0].proposedName, "screenshot_with_background.png");
    }

    // Cancelling writes nothing and says nothing; a folder that cannot be
    // written to says why, in one line, and leaves no file.
    void endsWithoutAFile_data()
    {
        QTest::addColumn<std::optional<QString>>("answer");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("cancelled") << std::optional<QString>() << QStringList();
        QTest::newRow("folder is a file")
            << std::optional<QString>("plain.txt/shot.png") << QStringList{"Error saving image: "};
    }
    void endsWithoutAFile()
    {
        QFETCH(std::optional<QString>, answer);
        QFETCH(QStringList, lines);
        QTemporaryDir dir;
        QVERIFY(movie_fixtures::writeFile(dir.filePath("plain.txt"), "not a folder"));
        Editor editor(screenshot({200, 100}, 1));
        editor.panel.answer = answer ? std::optional(dir.filePath(*answer)) : std::nullopt;
        editor.pressImageExport();
        settle();
        compareLines(editor.lines.taken(), lines);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"plain.txt"});
        QCOMPARE(editor.view->gradientPadding(), 40.0);
    }

    // The background is the one at the press; padding and radius are those
    // at the panel's close. Two presses are two independent exports, and an
    // export outlives its window.
    void valuesTakenAtPressAndAtClose()
    {
        const QString first = path("first.png"), second = path("second.png");
        auto editor = std::make_unique<Editor>(screenshot({100, 50}, 1));
        editor->panel.hold = true;
        editor->pressImageExport(); // bluePurple
        editor->view->setSelectedGradient(GradientStyle::customColor(Qt::red));
        editor->pressImageExport(); // red
        editor->view->setSelectedGradient(GradientStyle::customColor(Qt::green));
        editor->view->setGradientPadding(10);
        QCOMPARE(editor->panel.open.size(), 2);
        editor->panel.answerNext(first);

        // The window goes while the second panel is open.
        editor->view->setGradientPadding(25);
        editor->view.reset();
        editor->panel.answerNext(second);
        settle();
        QStringList lines = editor->lines.taken();
        lines.sort(); // the two writes run side by side
        QCOMPARE(lines, (QStringList{"Image saved successfully to: " + first,
                                     "Image saved successfully to: " + second}));

        const QImage a = readBack(first), b = readBack(second);
        QCOMPARE(a.size(), QSize(120, 70));
        QCOMPARE(b.size(), QSize(150, 100));      // the last padding the window had
        QVERIFY(a.pixelColor(1, 1).blue() > 200); // bluePurple starts blue
        QCOMPARE(b.pixelColor(1, 1), QColor(Qt::red));
    }

    // The movie's button hands the editor's values to the exporter, whose
    // calls swap the button for the notice and back; only then is the movie
    // shown in the file manager.
    void movieExportSwapsButtonAndNotice()
    {
        const QString out = path("out.mp4");
        Editor editor(QImage(), clip());
        editor.view->setGradientPadding(8);
        editor.panel.answer = out;
        VideoEditor* video = editor.view->videoEditor();
        QStringList seen;
        connect(editor.view.get(), &ContentView::isExportingChanged, this, [&] {
            seen << QStringLiteral("%1 button %2 notice %3 revealed %4")
                        .arg(editor.view->isExporting())
                        .arg(!video->exportButton()->isHidden() &&
                             !video->exportButton()->parentWidget()->isHidden())
                        .arg(!video->notice()->isHidden())
                        .arg(editor.reveal.revealed.size());
        });
        editor.pressVideoExport();
        QCOMPARE(editor.lines.taken(), QStringList{kPressed});
        QVERIFY(!editor.view->isExporting()); // not before the exporter says so
        QTRY_COMPARE_WITH_TIMEOUT(editor.reveal.revealed, QStringList{out}, 60000);
        QCOMPARE(seen,
                 (QStringList{"1 button 0 notice 1 revealed 0", "0 button 1 notice 0 revealed 0"}));
        QCOMPARE(editor.lines.taken(),
                 (QStringList{kPressed, kStarting, kCallbackTrue, kCallbackFalse, kCompleted}));
        QCOMPARE(editor.panel.saveRequests[0].proposedName, "video_with_background.mp4");
        QCOMPARE(editor.panel.saveRequests[0].nameFilters, QStringList{"MPEG-4 movie (*.mp4)"});
        QCOMPARE(movie_fixtures::stream(out)["width"].toInt(), 96 + 4 * 8);
    }

    // A cancelled panel or a source without pictures ends quietly; a failure
    // says why in one line and ends the run once. The button stays, nothing
    // is left behind, and another window is untouched.
    void movieEndsWithoutAMovie_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<std::optional<QString>>("answer");
        QTest::addColumn<QStringList>("lines");
        const QStringList failed{kPressed, "Error exporting video: ", kCallbackFalse};
        QTest::newRow("cancelled")
            << "clip.mp4" << std::optional<QString>() << QStringList{kPressed};
        QTest::newRow("sound only")
            << "sound.m4a" << std::optional<QString>("silent.mp4") << QStringList{kPressed};
        QTest::newRow("not a movie") << "notes.mp4" << std::optional<QString>("text.mp4") << failed;
        QTest::newRow("missing") << "nowhere.mp4" << std::optional<QString>("never.mp4") << failed;
        QTest::newRow("folder is a file")
            << "clip.mp4" << std::optional<QString>("notes.mp4/out.mp4")
            << QStringList{kPressed, kCallbackFalse, "❌ Export failed: "};
    }
    void movieEndsWithoutAMovie()
    {
        QFETCH(QString, source);
        QFETCH(std::optional<QString>, answer);
        QFETCH(QStringList, lines);
        Editor editor(QImage(), QUrl::fromLocalFile(path(source)));
        Editor other(screenshot({100, 100}, 1), clip());
        editor.panel.answer = answer ? std::optional(path(*answer)) : std::nullopt;
        editor.view->setGradientPadding(70);
        editor.pressVideoExport();
        settle();
        compareLines(editor.lines.taken(), lines);
        QVERIFY(!answer || !QFile::exists(path(*answer)));
        QVERIFY(!editor.view->isExporting());
        QVERIFY(!editor.view->videoEditor()->exportButton()->isHidden());
        QVERIFY(editor.reveal.revealed.isEmpty());

        QCOMPARE(other.view->gradientPadding(), 40.0);
        QCOMPARE(other.lines.taken(), QStringList());
        QCOMPARE(other.panel.saveRequests.size(), 0);
    }

    // Two runs at once, each with the padding of its press, and the window
    // closed as the first one starts: both movies are still written, and
    // nothing reaches the window that is gone.
    void moviesOutliveTheirWindow()
    {
        Editor editor(QImage(), clip());
        editor.panel.hold = true;
        editor.pressVideoExport();
        editor.view->setGradientPadding(20);
        editor.pressVideoExport();
        connect(editor.view.get(), &ContentView::isExportingChanged, this,
                [&] { editor.view.reset(); });
        editor.panel.answerNext(path("wide.mp4"));
        editor.panel.answerNext(path("narrow.mp4"));
        settle();
        QVERIFY(!editor.view);
        const QStringList lines = editor.lines.taken();
        QCOMPARE(lines.last(), kCallbackTrue);
        QCOMPARE(lines.count(kCompleted), 0);
        QVERIFY(editor.reveal.revealed.isEmpty());
        QCOMPARE(movie_fixtures::stream(path("wide.mp4"))["width"].toInt(), 96 + 4 * 40);
        QCOMPARE(movie_fixtures::stream(path("narrow.mp4"))["width"].toInt(), 96 + 4 * 20);
    }
};

QTEST_MAIN(TestEditorExports)
#include "tst_editor_exports.moc"
