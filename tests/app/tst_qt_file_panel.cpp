// The Qt file panels as a person meets them: dialogs over a window that stays
// usable, answered (or not) once each. Only the person's clicks in the dialog
// are stood in for, by accept() and reject().

#include "editor_window.h"
#include "editor_window_opener.h"
#include "null_capture_backend.h"
#include "qt_file_panel.h"
#include "screen_recorder.h"
#include "screencapture.h"

#include <QApplication>
#include <QFileDialog>
#include <QPointer>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {

// Every answer a panel gave, in order.
struct Answers {
    QList<std::optional<QString>> given;
    FilePanel::Answer record()
    {
        return [this](std::optional<QString> path) { given.append(std::move(path)); };
    }
};

const FilePanel::SaveRequest kSave{{QStringLiteral("PNG image (*.png)")},
                                   QStringLiteral("screenshot_with_background.png")};
const FilePanel::OpenRequest kOpen{{QStringLiteral("Images (*.png)")},
                                   QStringLiteral("Choose Image")};

// What the dialog's confirming button does (QFileDialog hides accept()).
void confirm(QDialog* box)
{
    box->accept();
}

} // namespace

class QtFilePanelTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QFile existing(m_dir.filePath(QStringLiteral("existing.png")));
        QVERIFY(existing.open(QIODevice::WriteOnly));
    }

    void answersOnceWithWhatWasChosen_data()
    {
        QTest::addColumn<bool>("save");
        QTest::addColumn<QString>("chosen"); // empty: the dialog is cancelled
        QTest::newRow("save") << true << "new.png";
        QTest::newRow("save cancelled") << true << QString();
        QTest::newRow("open") << false << "existing.png";
        QTest::newRow("open cancelled") << false << QString();
    }
    void answersOnceWithWhatWasChosen()
    {
        QFETCH(bool, save);
        QFETCH(QString, chosen);
        QWidget window;
        window.show();
        QtFilePanel panel(&window);
        Answers answers;
        if (save)
            panel.chooseSaveLocation(kSave, answers.record());
        else
            panel.chooseFileToOpen(kOpen, answers.record());

        QCOMPARE(panel.openDialogs().size(), 1);
        QPointer<QFileDialog> dialog = panel.openDialogs().first();
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->parentWidget(), &window);
        QCOMPARE(dialog->acceptMode(), save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        if (save)
            QCOMPARE(dialog->selectedFiles().value(0).section('/', -1), kSave.proposedName);
        else
            QCOMPARE(dialog->labelText(QFileDialog::Accept), kOpen.prompt);
        QVERIFY(answers.given.isEmpty());

        dialog->setDirectory(m_dir.path());
        if (chosen.isEmpty()) {
            dialog->reject();
        } else {
            dialog->selectFile(chosen);
            confirm(dialog);
        }
        QTRY_VERIFY(dialog.isNull());
        const std::optional<QString> expected =
            chosen.isEmpty() ? std::nullopt : std::optional(m_dir.filePath(chosen));
        QCOMPARE(answers.given, QList<std::optional<QString>>{expected});
        QVERIFY(panel.openDialogs().isEmpty());
    }

    // The window behind taking real input is checked under X (tst_editor_windows).
    void panelsAreModelessAndIndependent()
    {
        QWidget window;
        window.show();
        QtFilePanel panel(&window);
        Answers first, second;
        panel.chooseSaveLocation(kSave, first.record());
        QCOMPARE(QApplication::activeModalWidget(), nullptr);

        // A second press opens a second panel; each answers for itself.
        panel.chooseSaveLocation(kSave, second.record());
        const QList<QFileDialog*> dialogs = panel.openDialogs();
        QCOMPARE(dialogs.size(), 2);
        QVERIFY(dialogs[0]->isVisible() && dialogs[1]->isVisible());
        dialogs[1]->setDirectory(m_dir.path());
        dialogs[1]->selectFile(QStringLiteral("second.png"));
        confirm(dialogs[1]);
        QTRY_COMPARE(second.given.size(), 1);
        QCOMPARE(second.given.first(), m_dir.filePath(QStringLiteral("second.png")));
        QVERIFY(first.given.isEmpty());
        QCOMPARE(panel.openDialogs(), QList<QFileDialog*>{dialogs[0]});
        dialogs[0]->reject();
        QTRY_COMPARE(first.given.size(), 1);
        QCOMPARE(first.given.first(), std::nullopt);
        QCOMPARE(second.given.size(), 1);
    }

    // The answer of a dialog that outlives what it answers to is dropped,
    // never run: it would reach state that is gone.
    void goingAwayFirstDropsTheAnswer_data()
    {
        QTest::addColumn<QString>("goesFirst");
        QTest::newRow("window") << "window";
        QTest::newRow("panel") << "panel";
        QTest::newRow("editor window closed") << "editor";
    }
    void goingAwayFirstDropsTheAnswer()
    {
        QFETCH(QString, goesFirst);
        Answers answers;
        QPointer<QFileDialog> dialog;
        if (goesFirst == QLatin1String("editor")) {
            NullCaptureBackend backend;
            Screencapture capture(backend);
            ScreenRecorder recorder;
            QPointer<EditorWindow> window =
                openEditorWindow(capture, recorder, false, OpenedFrom::mainWindow);
            window->filePanel().chooseSaveLocation(kSave, answers.record());
            dialog = window->filePanel().openDialogs().value(0);
            QVERIFY(dialog);
            window->close();
            QTRY_VERIFY(window.isNull());
        } else {
            auto window = std::make_unique<QWidget>();
            window->show();
            auto panel = std::make_unique<QtFilePanel>(window.get());
            panel->chooseFileToOpen(kOpen, answers.record());
            dialog = panel->openDialogs().value(0);
            QVERIFY(dialog);
            if (goesFirst == QLatin1String("window"))
                window.reset();
            else
                panel.reset();
            QVERIFY(dialog.isNull());
        }
        QVERIFY(dialog.isNull());
        QTest::qWait(10);
        QVERIFY(answers.given.isEmpty());
    }
};

QTEST_MAIN(QtFilePanelTest)
#include "tst_qt_file_panel.moc"
