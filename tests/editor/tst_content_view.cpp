// The editor window's content: what shows for which capture, the previews
// against the exports, and both exports; only the save panel is a stand-in.

#include "content_view.h"
#include "editor_fixtures.h"
#include "gradient_background.h"
#include "image_compositor.h"
#include "image_editor.h"
#include "movie_fixtures.h"
#include "screenshot_preview.h"
#include "sidebar.h"
#include "test_support.h"
#include "video_editor.h"
#include "video_player_view.h"

#include <QApplication>
#include <QPushButton>

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

    Editor(const QImage& image, const QUrl& movie = {}, bool showVideoPlayer = true)
    {
        models.screencapture.setImage(image);
        models.recorder.setLastRecordingURL(movie);
        view = std::make_unique<ContentView>(models.screencapture, models.recorder, showVideoPlayer,
                                             panel, reveal, nullptr, lines.writer());
        view->resize(1200, 800);
    }
    void show()
    {
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
    }
    void pressImageExport() { view->imageEditor()->exportButton()->click(); }
    void pressVideoExport() { view->videoEditor()->exportButton()->click(); }
};

// Mean channel difference, and the share of pixels off by over 40 in a channel.
QPair<double, double> difference(const QImage& a, const QImage& b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB32), y = b.convertToFormat(x.format());
    qint64 total = 0, far = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row), q = y.pixel(col, row);
            const int d[] = {std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                             std::abs(qBlue(p) - qBlue(q))};
            total += d[0] + d[1] + d[2];
            far += std::max({d[0], d[1], d[2]}) > 40;
        }
    const double pixels = double(x.width()) * x.height();
    return {total / (3 * pixels), far / pixels};
}

const QUrl kMovie = QUrl::fromLocalFile(QStringLiteral("/tmp/recording.mov"));

// Lets every answered panel and started write finish.
void settle()
{
    QCoreApplication::processEvents();
    QVERIFY(QThreadPool::globalInstance()->waitForDone(120000));
    QCoreApplication::processEvents();
}

// Expected lines; one ending in ": " stands for that start plus a reason.
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

class TestContentView : public QObject {
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

    // The view follows its models: nothing without a capture, else the sidebar and
    // a section per capture, screenshot first.
    void followsTheModels()
    {
        Editor editor{QImage(), QUrl()};
        editor.show();
        ContentView& view = *editor.view;
        QVERIFY(!view.sidebar());

        editor.models.screencapture.setImage(screenshot({300, 200}, 1));
        QVERIFY(view.sidebar() && view.sidebar()->isVisible() && view.imageEditor());
        const QRectF wide = view.imageEditor()->preview()->pictureRect();
        editor.models.screencapture.setImage(screenshot({200, 300}, 1));
        QVERIFY(view.imageEditor()->preview()->pictureRect().height() > wide.height());

        editor.models.recorder.setLastRecordingURL(kMovie);
        QVERIFY(view.videoEditor());
        QTRY_VERIFY(view.imageEditor()->geometry().bottom() < view.videoEditor()->geometry().top());
        const QUrl other = QUrl::fromLocalFile("/tmp/other.mp4");
        editor.models.recorder.setLastRecordingURL(other);
        QCOMPARE(view.videoEditor()->player()->url(), other);

        editor.models.screencapture.setImage(QImage());
        editor.models.recorder.setLastRecordingURL(QUrl());
        QVERIFY(!view.sidebar() && !view.imageEditor() && !view.videoEditor());
        for (const QWidget* child : view.findChildren<QWidget*>())
            QVERIFY2(!child->isVisible(), qPrintable(child->metaObject()->className()));

        Editor hidden(screenshot({300, 200}, 1), kMovie, false); // movie not to be shown
        QVERIFY(hidden.view->imageEditor() && !hidden.view->videoEditor());
    }

    // The sidebar's edits land in the view, announced once, and reach both previews.
    void sidebarEditsReachThePreviews()
    {
        Editor editor(screenshot({400, 300}, 1), kMovie);
        editor.show();
        ContentView& view = *editor.view;
        QSignalSpy padding(&view, &ContentView::gradientPaddingChanged),
            radius(&view, &ContentView::cornerRadiusChanged),
            style(&view, &ContentView::selectedGradientChanged);

        Q_EMIT view.sidebar()->gradientPaddingEdited(100);
        Q_EMIT view.sidebar()->cornerRadiusEdited(50);
        Q_EMIT view.sidebar()->selectedGradientEdited(GradientStyle::sunset());
        Q_EMIT view.sidebar()->gradientPaddingEdited(100); // no change, no signal
        QCOMPARE(view.gradientPadding(), 100.0);
        QCOMPARE(view.cornerRadius(), 50.0);
        QCOMPARE(view.selectedGradient(), GradientStyle::sunset());
        QVERIFY(padding.size() == 1 && radius.size() == 1 && style.size() == 1);

        QCOMPARE(view.videoEditor()->background()->style(), GradientStyle::sunset());
        QCOMPARE(view.videoEditor()->player()->cornerRadius(), 10.0);
        const QRect background = view.videoEditor()->background()->rect();
        QCOMPARE(view.videoEditor()->player()->geometry(),
                 background.adjusted(100, 100, -100, -100));
    }

    // The preview is the export scaled, down or up, at any padding and radius.
    void previewShowsTheExportScaled_data()
    {
        QTest::addColumn<QSize>("points"); // at ratio 2 but the small one
        QTest::addColumn<double>("padding");
        QTest::addColumn<double>("radius");
        QTest::newRow("5K, reduced") << QSize(2560, 1440) << 40.0 << 24.0;
        QTest::newRow("small, enlarged") << QSize(240, 160) << 20.0 << 30.0;
        QTest::newRow("tall") << QSize(500, 900) << 100.0 << 60.0;
    }
    void previewShowsTheExportScaled()
    {
        QFETCH(QSize, points);
        QFETCH(double, padding);
        QFETCH(double, radius);
        const QImage shot = screenshot(points, QTest::currentDataTag()[0] == 's' ? 1 : 2);
        Editor editor(shot, QUrl());
        editor.show();
        ScreenshotPreview* preview = editor.view->imageEditor()->preview();
        preview->grab(); // composed once with the first values
        editor.view->setGradientPadding(padding);
        editor.view->setCornerRadius(radius);
        editor.view->setSelectedGradient(GradientStyle::ocean());
        const QRectF shown = preview->pictureRect();

        const QRect inner = shown.toAlignedRect().adjusted(2, 2, -2, -2);
        const QImage grabbed = preview->grab().toImage().copy(inner);
        const QImage exported =
            composeWithBackground(shot, GradientStyle::ocean(), padding, radius);
        QImage expected =
            exported.scaled(shown.size().toSize(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        expected = expected.copy(inner.translated(-shown.topLeft().toPoint()));
        const auto [mean, outliers] = difference(grabbed, expected);
        QVERIFY2(mean < 3 && outliers < 0.01, qPrintable(QString::number(mean)));
    }

    // Background taken at the press, padding and radius at the panel's close; presses are
    // independent exports that outlive their window. A cancel is silent, an unwritable
    // folder says why, and neither touches a file.
    void imageExportsTakeTheirValues()
    {
        QTemporaryDir dir;
        const QString first = dir.filePath("first.png"), second = dir.filePath("second.png");
        const QByteArray older = test_support::fileBytes(dir.filePath("shot.png"), "older");
        auto editor = std::make_unique<Editor>(screenshot({100, 50}, 1));
        editor->panel.hold = true;
        editor->pressImageExport(); // bluePurple
        editor->view->setSelectedGradient(GradientStyle::customColor(Qt::red));
        for (int press = 0; press < 3; ++press)
            editor->pressImageExport();
        editor->view->setSelectedGradient(GradientStyle::customColor(Qt::green));
        editor->view->setGradientPadding(10);
        QCOMPARE(editor->panel.open.size(), 4);
        editor->panel.answerNext(first);
        editor->panel.answerNext(std::nullopt);
        editor->panel.answerNext(dir.filePath("shot.png/new.png"));

        // The window goes while the last panel is open.
        editor->view->setGradientPadding(25);
        editor->view.reset();
        editor->panel.answerNext(second);
        settle();
        QStringList lines = editor->lines.taken();
        lines.sort(); // the writes run side by side
        compareLines(lines, {"Error saving image: ", "Image saved successfully to: " + first,
                             "Image saved successfully to: " + second});
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files),
                 (QStringList{"first.png", "second.png", "shot.png"}));
        QCOMPARE(test_support::fileBytes(dir.filePath("shot.png")), older);

        const QImage a(first, "png"), b(second, "png");
        QCOMPARE(a.size(), QSize(120, 70));
        QCOMPARE(b.size(), QSize(150, 100));      // the last padding the window had
        QVERIFY(a.pixelColor(1, 1).blue() > 200); // bluePurple starts blue
        QCOMPARE(b.pixelColor(1, 1), QColor(Qt::red));
    }

    // The exporter's calls are said and the movie revealed; a cancel or no pictures ends
    // quietly, a failure says why once; other windows untouched. (The notice that stands for
    // the button meanwhile: the editor tour.)
    void movieExportEnds_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<std::optional<QString>>("answer");
        QTest::addColumn<QStringList>("lines");
        using Path = std::optional<QString>;
        using L = QStringList;
        QTest::newRow("exported") << "clip.mp4" << Path("out.mp4")
                                  << L{kPressed, kStarting, kCallbackTrue, kCallbackFalse,
                                       kCompleted};
        QTest::newRow("cancelled") << "clip.mp4" << Path() << L{kPressed};
        QTest::newRow("sound only") << "sound.m4a" << Path("silent.mp4") << L{kPressed};
        QTest::newRow("missing") << "nowhere.mp4" << Path("never.mp4")
                                 << L{kPressed, "Error exporting video: ", kCallbackFalse};
        QTest::newRow("folder is a file") << "clip.mp4" << Path("notes.mp4/out.mp4")
                                          << L{kPressed, kCallbackFalse, "❌ Export failed: "};
    }
    void movieExportEnds()
    {
        QFETCH(QString, source);
        QFETCH(std::optional<QString>, answer);
        QFETCH(QStringList, lines);
        Editor editor(QImage(), QUrl::fromLocalFile(path(source)));
        Editor other(screenshot({100, 100}, 1), clip());
        editor.panel.answer = answer ? std::optional(path(*answer)) : std::nullopt;
        editor.view->setGradientPadding(8);
        editor.pressVideoExport();
        QCOMPARE(editor.lines.taken(), QStringList{kPressed});
        QVERIFY(!editor.view->isExporting()); // not before the exporter says so
        settle();
        compareLines(editor.lines.taken(), lines);
        QVERIFY(!editor.view->isExporting() &&
                !editor.view->videoEditor()->exportButton()->isHidden());
        const bool written = lines.contains(kCompleted);
        QCOMPARE(editor.reveal.revealed, written ? QStringList{path(*answer)} : QStringList());
        QVERIFY(!answer || QFile::exists(path(*answer)) == written);
        if (written)
            QCOMPARE(movie_fixtures::stream(path(*answer))["width"].toInt(), 96 + 4 * 8);
        QVERIFY(other.view->gradientPadding() == 40 && other.lines.taken().isEmpty() &&
                other.panel.saveRequests.isEmpty());
    }

    // Two runs with their own padding outlive the window closed as the first starts.
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
        QVERIFY(!lines.contains(kCompleted) && editor.reveal.revealed.isEmpty());
        QCOMPARE(movie_fixtures::stream(path("wide.mp4"))["width"].toInt(), 96 + 4 * 40);
        QCOMPARE(movie_fixtures::stream(path("narrow.mp4"))["width"].toInt(), 96 + 4 * 20);
    }
};

QTEST_MAIN(TestContentView)
#include "tst_content_view.moc"
