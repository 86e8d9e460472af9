// Both "Export with Background" flows from the editor window: the save panel
// is a stand-in, the compositor, PNG writer and movie pipeline are real.

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

} // namespace

class TestEditorExports : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }

private Q_SLOTS:
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
        const QImage written = readBack(file);
        QCOMPARE(written.size(), QSize(1760, 1360));
        QCOMPARE(editor.panel.saveRequests.size(), 1);
        QCOMPARE(editor.panel.saveRequests[0].proposedName, "screenshot_with_background.png");
    }

    // Cancelling writes nothing and says nothing; a folder that cannot be
    // written to says why, in one line, and leaves no file.
    void endsWithoutAFile_data()
    {
        QTest::addColumn<std::optional<QString>>("answer");
        QTest::addColumn<QString>("line");
        QTest::newRow("cancelled") << std::optional<QString>() << QString();
        QTest::newRow("folder is a file")
            << std::optional<QString>("plain.txt/shot.png") << "Error saving image: ";
    }
    void endsWithoutAFile()
    {
        QFETCH(std::optional<QString>, answer);
        QFETCH(QString, line);
        QTemporaryDir dir;
        QVERIFY(movie_fixtures::writeFile(dir.filePath("plain.txt"), "not a folder"));
        if (answer)
            answer = dir.filePath(*answer);
        Editor editor(screenshot({200, 100}, 1));
        editor.panel.answer = answer;
        editor.pressImageExport();
        settle();
        const QStringList lines = editor.lines.taken();
        if (line.isEmpty()) {
            QCOMPARE(lines, QStringList());
        } else {
            QCOMPARE(lines.size(), 1);
            QVERIFY2(lines[0].startsWith(line) && lines[0].size() > line.size(),
                     qPrintable(lines[0]));
        }
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
        FakeFilePanel& panel = editor->panel;
        editor->view->setGradientPadding(25);
        auto keep = std::move(editor->view);
        keep.reset();
        panel.answerNext(second);
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

    // The movie's button hands the editor's values to the exporter, and the
    // exporter's calls swap the button for the notice and back.
    void movieExportSwapsButtonAndNotice()
    {
        const QString clip = path("clip.mp4"), out = path("out.mp4");
        QVERIFY(movie_fixtures::make(clip, "-f lavfi -i testsrc2=size=96x64:rate=30 -t 0.3 "
                                           "-c:v libx264 -preset ultrafast -pix_fmt yuv420p"));
        Editor editor(QImage(), QUrl::fromLocalFile(clip));
        editor.view->setGradientPadding(8);
        editor.panel.answer = out;
        VideoEditor* video = editor.view->videoEditor();
        QStringList seen;
        connect(editor.view.get(), &ContentView::isExportingChanged, this, [&] {
            seen << QStringLiteral("%1 button %2 notice %3")
                        .arg(editor.view->isExporting())
                        .arg(!video->exportButton()->isHidden() &&
                             !video->exportButton()->parentWidget()->isHidden())
                        .arg(!video->notice()->isHidden());
        });
        editor.pressVideoExport();
        QCOMPARE(editor.lines.taken(), QStringList{kPressed});
        QVERIFY(!editor.view->isExporting()); // not before the exporter says so
        QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 2, 60000);
        QCOMPARE(seen, (QStringList{"1 button 0 notice 1", "0 button 1 notice 0"}));
        const QStringList lines = editor.lines.taken();
        QCOMPARE(lines.filter("UI Callback"), (QStringList{kCallbackTrue, kCallbackFalse}));
        QCOMPARE(lines.first(), kPressed);
        QTRY_COMPARE(editor.reveal.revealed, QStringList{out});
        const QJsonObject stream = movie_fixtures::stream(out);
        QCOMPARE(stream["width"].toInt(), 96 + 4 * 8);
    }

    // Cancelling the movie's save panel: only the press is printed; a run
    // that fails before encoding: its reason and one "false". The button
    // stays, and another window's values and state are its own.
    void movieCancelledAndWindowsIndependent()
    {
        Editor editor(QImage(), QUrl::fromLocalFile(path("any.mp4")));
        Editor other(screenshot({100, 100}, 1), QUrl::fromLocalFile(path("any.mp4")));
        editor.panel.answer = std::nullopt;
        editor.view->setGradientPadding(70);
        editor.pressVideoExport();
        settle();
        QCOMPARE(editor.lines.taken(), QStringList{kPressed});
        QVERIFY(!editor.view->isExporting());
        QVERIFY(!editor.view->videoEditor()->exportButton()->isHidden());

        // A source that cannot be read: the exporter says why and reports
        // the end of a run that never started; the button stays.
        QSignalSpy exporting(editor.view.get(), &ContentView::isExportingChanged);
        editor.panel.answer = path("never.mp4");
        editor.pressVideoExport();
        QTRY_COMPARE(editor.lines.taken().size(), 4);
        const QStringList lines = editor.lines.taken();
        QCOMPARE(lines[1], kPressed);
        QVERIFY2(lines[2].startsWith("Error exporting video: "), qPrintable(lines[2]));
        QCOMPARE(lines[3], kCallbackFalse);
        QCOMPARE(exporting.size(), 0);
        QVERIFY(!editor.view->videoEditor()->exportButton()->isHidden());

        QCOMPARE(other.view->gradientPadding(), 40.0);
        QCOMPARE(other.lines.taken(), QStringList());
        QCOMPARE(other.panel.saveRequests.size(), 0);
    }
};

QTEST_MAIN(TestEditorExports)
#include "tst_editor_exports.moc"
