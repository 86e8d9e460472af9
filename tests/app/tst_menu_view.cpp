// The tray panel's content offscreen, over a scripted capture backend and a
// stand-in file panel; real editors where the window itself is the result.

#include "editor_window.h"
#include "editor_window_opener.h"
#include "file_panel.h"
#include "mac_utility_button_style.h"
#include "menu_view.h"
#include "screen_recorder.h"
#include "screencapture.h"
#include "scripted_backend.h"
#include "test_support.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QClipboard>
#include <QEnterEvent>
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Answers each request with the next scripted path, or cancels.
struct ScriptedPanel : FilePanel {
    QList<std::optional<QString>> answers;
    QList<OpenRequest> requests;
    void chooseFileToOpen(const OpenRequest& request, Answer done) override
    {
        requests.append(request);
        QTimer::singleShot(
            0, [done, a = answers.isEmpty() ? std::nullopt : answers.takeFirst()] { done(a); });
    }
    void chooseSaveLocation(const SaveRequest&, Answer) override { QFAIL("no saving here"); }
};

struct Opened {
    QImage image;
    QUrl movie;
    bool video;
    QString fileName;
};

QImage filled(QColor color, QSize size = {40, 30})
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    return image;
}

QString accessibleName(QWidget* widget)
{
    return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
}

} // namespace

class MenuViewTest : public QObject {
    Q_OBJECT

    ScriptedBackend m_backend;
    ScriptedPanel m_panel;
    QList<Opened> m_opened;
    bool m_access = true;
    int m_checks = 0;
    int m_quits = 0;
    std::unique_ptr<MenuView> m_view;

    MenuView::Services standIns()
    {
        return {[this] { return ++m_checks, m_access; },
                [this](const Screencapture& c, const ScreenRecorder& r, bool video,
                       const QString& name) {
                    m_opened.append({c.image(), r.lastRecordingURL(), video, name});
                },
                [this] { ++m_quits; }};
    }
    MacUtilityButton* entry(const QString& text) const
    {
        for (MacUtilityButton* button : m_view->entries())
            if (button->text() == text)
                return button;
        return nullptr;
    }
    void showView()
    {
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
        QApplication::setActiveWindow(m_view.get());
        QTRY_COMPARE(QApplication::activeWindow(), m_view.get());
    }

private Q_SLOTS:
    void init()
    {
        m_backend.answers.clear(), m_backend.asked.clear();
        m_panel.answers.clear(), m_panel.requests.clear();
        m_opened.clear();
        m_access = true, m_checks = 0, m_quits = 0;
        m_view = std::make_unique<MenuView>(m_backend, m_panel, standIns());
    }
    void cleanup()
    {
        m_view.reset();
        qDeleteAll(editorWindows());
    }

    // Five entries in order, each named by its text, in the tab order, pressed
    // with Space and by its accessible action; "Quit" is inert while recording.
    void entriesInOrderAndUsableFromTheKeyboard()
    {
        showView();
        const auto entries = m_view->entries();
        QStringList shown;
        for (MacUtilityButton* button : entries) {
            shown << button->text();
            QCOMPARE(accessibleName(button), button->text());
            QVERIFY(!button->icon().isNull());
        }
        QCOMPARE(shown, (QStringList{"Capture Window", "Capture Area", "Beautify Image",
                                     "Beautify Recording", "Quit"}));
        entries[0]->setFocus(Qt::TabFocusReason);
        for (int i = 1; i < entries.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), entries[i]);
        }
        QTest::keyClick(entries[4], Qt::Key_Space);
        QCOMPARE(m_quits, 1);
        QAccessible::queryAccessibleInterface(entries[4])
            ->actionInterface()
            ->doAction(QAccessibleActionInterface::pressAction());
        QTRY_COMPARE(m_quits, 2); // a press shows itself briefly first

        m_view->screenRecorder().setIsRecording(true);
        QVERIFY(!entries[4]->isEnabled());
        QTest::mouseClick(entries[4], Qt::LeftButton);
        m_view->screenRecorder().setIsRecording(false);
        QTest::mouseClick(entries[4], Qt::LeftButton);
        QCOMPARE(m_quits, 3);
    }

    // The pointer lights an entry gradually; leaving fades it back. On both palettes.
    void hoverTintsAndFadesBack()
    {
        showView();
        MacUtilityButton* button = entry("Beautify Image");
        // The far right of the entry holds neither icon nor text.
        const QPoint inside(button->width() - 20, button->height() / 2);
        const auto pixel = [&] {
            return m_view->grab().toImage().pixelColor(button->mapTo(m_view.get(), inside));
        };
        for (const bool dark : {false, true}) {
            if (dark)
                m_view->setPalette(QPalette(QColor(40, 40, 42)));
            const QColor window = m_view->palette().color(QPalette::Window);
            QUORVEL_COMPARE_COLOR(pixel(), window, 2);
            QEnterEvent enter{QPointF(inside), QPointF(inside),
                              QPointF(button->mapToGlobal(inside))};
            QApplication::sendEvent(button, &enter);
            QVERIFY(button->isHovered());
            QVERIFY(button->hoverProgress() < 1);
            QTRY_COMPARE(button->hoverProgress(), 1.0);
            QVERIFY(pixel() != window);
            QEvent leave(QEvent::Leave);
            QApplication::sendEvent(button, &leave);
            QVERIFY(!button->isHovered());
            QTRY_COMPARE(button->hoverProgress(), 0.0);
            QUORVEL_COMPARE_COLOR(pixel(), window, 2);
        }
    }

    // Without access a cover with its notice lies over every entry; each showing asks again.
    void coverWhileAccessIsMissing()
    {
        m_access = false;
        MenuView view(m_backend, m_panel, standIns());
        QVERIFY(!view.isPermissionGranted());
        QVERIFY(!view.permissionCover()->isHidden()); // before anyone asked
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCOMPARE(m_checks, 1);
        QVERIFY(view.permissionCover()->isVisible());
        QCOMPARE(view.permissionCover()->geometry(), view.rect());
        auto* notice = view.permissionCover()->findChild<QLabel*>();
        QCOMPARE(notice->text(),
                 "No Screen Recording Permission please grant persmission in system preferences");
        QCOMPARE(accessibleName(notice), notice->text());
        for (MacUtilityButton* button : view.entries())
            QVERIFY(!button->isEnabled());
        QTest::mouseClick(view.entries().last(), Qt::LeftButton);
        QCOMPARE(m_quits, 0);

        m_access = true; // takes effect at the next showing
        QVERIFY(view.permissionCover()->isVisible());
        view.hide();
        view.show();
        QCOMPARE(m_checks, 2);
        QVERIFY(view.isPermissionGranted());
        QVERIFY(view.permissionCover()->isHidden());
        QVERIFY(view.entries().first()->isEnabled());
    }

    // A capture hides the active window at once and starts 0.1 s later; its
    // end, even a failure, opens an editor. Two captures open two editors.
    void capturesOpenAnEditorEach()
    {
        m_backend.answers = {QVariant::fromValue(filled(Qt::red)), QStringLiteral("no screen")};
        showView();
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(entry("Capture Window"), Qt::LeftButton);
        QVERIFY(m_view->isHidden());
        QVERIFY(m_backend.asked.isEmpty());
        QTRY_COMPARE(m_opened.size(), 1);
        QVERIFY(clock.elapsed() >= 100);
        QCOMPARE(m_backend.asked, QList{ScreenshotTypes::window});
        QCOMPARE(m_opened[0].image, QGuiApplication::clipboard()->image());
        QCOMPARE(m_opened[0].image.pixelColor(0, 0), QColor(Qt::red));
        QVERIFY(!m_opened[0].video);

        showView();
        QByteArray printed = test_support::stdoutOf([&] {
            QTest::mouseClick(entry("Capture Area"), Qt::LeftButton);
            QTRY_COMPARE(m_opened.size(), 2);
        });
        QCOMPARE(printed, "Failed to take screenshot: no screen\n");
        QCOMPARE(m_backend.asked.last(), ScreenshotTypes::area);
        // The failure keeps the earlier picture, and the editor gets what is there.
        QCOMPARE(m_opened[1].image.pixelColor(0, 0), QColor(Qt::red));
        QVERIFY(!m_opened[1].video);
    }

    // A cancel changes nothing; a movie opens a movie editor and leaves the picture alone; a
    // picture opens, even an unreadable one. The models keep it all between showings.
    void fileFlows()
    {
        QTemporaryDir dir;
        const QString png = dir.filePath("shot.png"), movie = dir.filePath("clip.mov");
        QVERIFY(filled(Qt::green).save(png));
        showView();
        m_view->screencapture().setImage(filled(Qt::blue));
        QSignalSpy imageChanges(&m_view->screencapture(), &Screencapture::imageChanged);
        QSignalSpy movieChanges(&m_view->screenRecorder(),
                                &ScreenRecorder::lastRecordingURLChanged);

        QTest::mouseClick(entry("Beautify Image"), Qt::LeftButton);
        QTest::mouseClick(entry("Beautify Recording"), Qt::LeftButton);
        QTRY_COMPARE(m_panel.requests.size(), 2);
        QTest::qWait(20);
        QVERIFY(m_opened.isEmpty());
        QVERIFY(imageChanges.isEmpty() && movieChanges.isEmpty());
        QVERIFY(!m_view->showVideoPlayer());
        QCOMPARE(m_panel.requests[0].prompt, "Choose Image");
        QCOMPARE(m_panel.requests[1].prompt, "Choose Video");

        m_panel.answers = {movie};
        QTest::mouseClick(entry("Beautify Recording"), Qt::LeftButton);
        QTRY_COMPARE(m_opened.size(), 1);
        QVERIFY(m_opened[0].video);
        QCOMPARE(m_opened[0].movie, QUrl::fromLocalFile(movie));
        QCOMPARE(m_opened[0].fileName, "clip.mov");
        QVERIFY(m_view->showVideoPlayer());
        QVERIFY(imageChanges.isEmpty());
        QCOMPARE(m_view->screencapture().image(), filled(Qt::blue));

        m_panel.answers = {png, dir.filePath("missing.png")};
        QTest::mouseClick(entry("Beautify Image"), Qt::LeftButton);
        QTRY_COMPARE(m_opened.size(), 2);
        QVERIFY(!m_opened[1].video);
        QCOMPARE(m_opened[1].fileName, "shot.png");
        QCOMPARE(m_opened[1].image.pixelColor(0, 0), QColor(Qt::green));
        const QByteArray printed = test_support::stdoutOf([&] {
            QTest::mouseClick(entry("Beautify Image"), Qt::LeftButton);
            QTRY_COMPARE(m_opened.size(), 3);
        });
        QVERIFY(printed.startsWith("Failed to load image from URL: "));
        QCOMPARE(m_opened[2].image.pixelColor(0, 0), QColor(Qt::green));

        m_view->hide();
        showView();
        QCOMPARE(m_view->screencapture().image().pixelColor(0, 0), QColor(Qt::green));
        QCOMPARE(m_view->screenRecorder().lastRecordingURL(), QUrl::fromLocalFile(movie));
        QVERIFY(m_view->showVideoPlayer());
    }

    // Left to itself, the panel opens real editors, one per capture.
    void realEditorsByDefault()
    {
        m_backend.answers = {QVariant::fromValue(filled(Qt::red)),
                             QVariant::fromValue(filled(Qt::yellow))};
        MenuView view(m_backend, m_panel, {[] { return true; }, {}, [] {}});
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QTest::mouseClick(view.entries()[1], Qt::LeftButton);
        QTRY_COMPARE(editorWindows().size(), 1);
        QTest::mouseClick(view.entries()[1], Qt::LeftButton);
        QTRY_COMPARE(editorWindows().size(), 2);
        QCOMPARE(editorWindows()[0]->screencapture().image().pixelColor(0, 0), QColor(Qt::red));
        QCOMPARE(editorWindows()[1]->screencapture().image().pixelColor(0, 0), QColor(Qt::yellow));
    }
};

QTEST_MAIN(MenuViewTest)
#include "tst_menu_view.moc"
