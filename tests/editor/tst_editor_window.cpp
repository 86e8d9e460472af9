// Editor windows and their Qt file panels offscreen; a person's clicks in a dialog are
// stood in for by accept() and reject(). Placement on a real screen is checked under X.

#include "content_view.h"
#include "editor_window.h"
#include "editor_window_opener.h"
#include "image_editor.h"
#include "qt_file_panel.h"
#include "sidebar.h"
#include "test_support.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QPushButton>
#include <QScreen>
#include <QSlider>

namespace {

using test_support::filled;

const QUrl kMovie = QUrl::fromLocalFile(QStringLiteral("/tmp/recording.mp4"));

using Answers = QList<std::optional<QString>>;
FilePanel::Answer into(Answers& answers)
{
    return [&answers](std::optional<QString> path) { answers.append(std::move(path)); };
}

const FilePanel::SaveRequest kSave{{QStringLiteral("PNG image (*.png)")},
                                   QStringLiteral("screenshot_with_background.png")};
const FilePanel::OpenRequest kOpen{{QStringLiteral("Images (*.png)")},
                                   QStringLiteral("Choose Image")};

} // namespace

class EditorWindowTest : public QObject {
    Q_OBJECT

    NullCaptureBackend m_backend;
    Screencapture m_capture{m_backend};
    ScreenRecorder m_recorder;
    QTemporaryDir m_dir;

private Q_SLOTS:
    void init()
    {
        m_capture.setImage(filled(Qt::red));
        m_recorder.setLastRecordingURL(kMovie);
    }
    void cleanup() { qDeleteAll(editorWindows()); }

    // A window copies only the capture its mode shows and leaves the source alone; each
    // window's values and models are its own.
    void eachWindowHasItsOwnCopy()
    {
        EditorWindow* shot = openEditorWindow(m_capture, m_recorder, false, OpenedFrom::trayPanel);
        EditorWindow* movie = openEditorWindow(m_capture, m_recorder, true, OpenedFrom::trayPanel);
        QCOMPARE(m_capture.image(), filled(Qt::red));
        QCOMPARE(m_recorder.lastRecordingURL(), kMovie);
        m_capture.setImage(filled(Qt::blue));
        EditorWindow* file =
            openEditorWindow(m_capture, m_recorder, false, OpenedFrom::mainWindow, "shot.png");
        QCOMPARE(editorWindows(), (QList<EditorWindow*>{shot, movie, file}));
        for (auto [window, title] :
             {std::pair{shot, "Screenshot"}, {movie, "recording.mp4"}, {file, "shot.png"}})
            QCOMPARE(window->windowTitle(), QString(title) + " — Quorvel");
        QCOMPARE(shot->screencapture().image(), filled(Qt::red));
        QCOMPARE(shot->screenRecorder().lastRecordingURL(), QUrl());
        QVERIFY(movie->screencapture().image().isNull());
        QCOMPARE(movie->screenRecorder().lastRecordingURL(), kMovie);
        QCOMPARE(file->screencapture().image(), filled(Qt::blue));

        shot->contentView().setGradientPadding(12);
        QCOMPARE(file->contentView().gradientPadding(), 40.0);
        shot->screencapture().setImage(filled(Qt::green));
        QCOMPARE(m_capture.image(), filled(Qt::blue));
        QCOMPARE(file->screencapture().image(), filled(Qt::blue));
    }

    // On a 1280 x 720 screen (a laptop, a tile) the tray's window, which asks for 800 points of
    // height, fits: the sidebar and its export button are on the screen. Moved back to the
    // large screen, it may grow again.
    void fitsASmallScreen()
    {
        QScreen* small = QGuiApplication::screens().value(0);
        for (QScreen* screen : QGuiApplication::screens())
            small = screen->name() == "small" ? screen : small;
        QCOMPARE(small->name(), "small");
        QCursor::setPos(small->geometry().center());
        EditorWindow* window =
            openEditorWindow(m_capture, m_recorder, false, OpenedFrom::trayPanel);
        QVERIFY(QTest::qWaitForWindowExposed(window));
        const QRect room = small->availableGeometry();
        QVERIFY(room.contains(window->frameGeometry()) && window->minimumHeight() <= room.height());
        QVERIFY(window->findChild<Sidebar*>()->isVisible());
        QPushButton* exportButton = window->contentView().imageEditor()->exportButton();
        QVERIFY(exportButton->isVisible());
        QVERIFY(room.contains(QRect(exportButton->mapToGlobal(QPoint()), exportButton->size())));

        window->move(100, 100);
        QTRY_COMPARE(window->minimumSize(), QSize(1200, 800));
        QCursor::setPos(0, 0);
    }

    // Closing a window (an ordinary, active one: tst_editor_windows) frees it, its models, its
    // open file panels (never answered) and, once any preview is composed, its pixels.
    void anOrdinaryWindowFreedOnClose()
    {
        // Once the source moves on, isDetached() tells whether the editor still holds them.
        QImage pixels = filled(Qt::red);
        m_capture.setImage(pixels);
        EditorWindow* window =
            openEditorWindow(m_capture, m_recorder, false, OpenedFrom::trayPanel);
        m_capture.setImage(QImage());
        QVERIFY(!pixels.isDetached());
        QPointer<EditorWindow> alive(window);
        QPointer<Screencapture> model(&window->screencapture());
        QVERIFY(QTest::qWaitForWindowExposed(window));
        Answers answers;
        window->filePanel().chooseSaveLocation(kSave, into(answers));
        QPointer<QFileDialog> panel = window->filePanel().openDialogs().value(0);
        QVERIFY(panel && window->close());
        QTRY_VERIFY(alive.isNull());
        QVERIFY(model.isNull() && panel.isNull() && editorWindows().isEmpty());
        QTRY_VERIFY(pixels.isDetached());
        QVERIFY(answers.isEmpty());
    }

    // Ctrl+S from anywhere in the window asks where to save what is shown; Ctrl+C copies a
    // picture, and nothing in a movie window.
    void keysOfTheWindow()
    {
        for (const bool movie : {false, true}) {
            QGuiApplication::clipboard()->setText(QStringLiteral("kept"));
            EditorWindow* window =
                openEditorWindow(m_capture, m_recorder, movie, OpenedFrom::mainWindow);
            QVERIFY(QTest::qWaitForWindowActive(window));
            auto* inSidebar = window->contentView().sidebar()->findChild<QSlider*>();
            inSidebar->setFocus();
            QTest::keyClick(inSidebar, Qt::Key_C, Qt::ControlModifier);
            QTest::keyClick(inSidebar, Qt::Key_S, Qt::ControlModifier);
            const QList<QFileDialog*> dialogs = window->filePanel().openDialogs();
            QCOMPARE(dialogs.size(), 1);
            QCOMPARE(dialogs[0]->selectedFiles().value(0).section('/', -1),
                     movie ? "video_with_background.mp4" : "screenshot_with_background.png");
            dialogs[0]->reject();
            QCOMPARE(QGuiApplication::clipboard()->mimeData()->hasImage(), !movie);
            QVERIFY(window->close());
        }
        QCOMPARE(QGuiApplication::clipboard()->text(), "kept");
    }

    // A save and an open panel up at once, neither modal: each answers once, for itself. A
    // panel that goes first (as its window's member does) closes its dialog, answering nothing.
    void panelsAnswerOnceEach()
    {
        QWidget window;
        window.show();
        auto panel = std::make_unique<QtFilePanel>(&window);
        Answers saveAnswers, openAnswers;
        panel->chooseSaveLocation(kSave, into(saveAnswers));
        panel->chooseFileToOpen(kOpen, into(openAnswers));
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        const QList<QFileDialog*> dialogs = panel->openDialogs();
        QCOMPARE(dialogs.size(), 2);
        dialogs[1]->reject();
        QTRY_COMPARE(openAnswers, Answers{std::nullopt});
        QCOMPARE(panel->openDialogs(), QList<QFileDialog*>{dialogs[0]});
        dialogs[0]->setDirectory(m_dir.path());
        dialogs[0]->selectFile("new.png");
        static_cast<QDialog*>(dialogs[0])->accept(); // what its confirming button does
        QTRY_COMPARE(saveAnswers, Answers{m_dir.filePath("new.png")});

        panel->chooseFileToOpen(kOpen, into(openAnswers));
        QPointer<QFileDialog> dialog = panel->openDialogs().value(0);
        QVERIFY(dialog);
        panel.reset();
        QVERIFY(dialog.isNull());
        QCoreApplication::processEvents();
        QCOMPARE(openAnswers.size(), 1);
        QCOMPARE(saveAnswers.size(), 1);
    }
};

QTEST_MAIN(EditorWindowTest)
#include "tst_editor_window.moc"
