// The application's wiring: menus, closing the main window with and without a tray, the tray
// panel, and a recording's state in the menus and the tray (a stand-in recorder on a private bus).

#include "main_view.h"
#include "menu_view.h"
#include "mac_utility_button_style.h"
#include "null_capture_backend.h"
#include "private_bus.h"
#include "quorvel_app.h"
#include "scripted_backend.h"
#include "stand_in_panel.h"
#include "test_support.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QStringList texts(const QMenu* menu)
{
    QStringList all;
    for (const QAction* action : menu->actions())
        all.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    return all;
}

} // namespace

class QuorvelAppTest : public QObject {
    Q_OBJECT

    int m_quits = 0;
    QTemporaryDir m_dir;
    test_support::PrivateBus m_bus;
    QList<EditorRequest> m_opened;
    QStringList m_lines;

    std::unique_ptr<QuorvelApp> makeApp(bool tray, std::unique_ptr<CaptureBackend> backend = {})
    {
        QuorvelApp::Services services;
        services.backend = backend ? std::move(backend) : std::make_unique<NullCaptureBackend>();
        services.filePanel = std::make_unique<StandInPanel>();
        services.updater =
            std::make_unique<Updater>(UpdaterSettings{}, QStringLiteral("1.0")); // no feed
        services.trayAvailable = [tray] { return tray; };
        services.checkAccess = [](QObject*, std::function<void(bool)> answer) { answer(true); };
        services.writeLine = [this](const QString& line) { m_lines << line; };
        services.quit = [this] { ++m_quits; };
        services.openEditor = [this](const EditorRequest& request) { m_opened << request; };
        services.recording.program = QStringLiteral(QUORVEL_STAND_IN_RECORDER);
        services.recording.folder = m_dir.filePath("Videos");
        return std::make_unique<QuorvelApp>(std::move(services));
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_bus.start(m_dir.path(), "quorvel-app-test")); }
    void init()
    {
        m_quits = 0;
        m_opened.clear();
        m_lines.clear();
    }

    void menusAndStartUp()
    {
        const auto app = makeApp(true);
        // The update check is running before anything shows.
        QVERIFY(app->updater().canCheckForUpdates());
        QVERIFY(!app->mainWindow()->isVisible());
        QCOMPARE(app->mainWindow()->menuBar()->actions().value(0)->text(), "Quorvel");
        QCOMPARE(texts(app->applicationMenu()),
                 (QStringList{"About Quorvel", "Check for Updates…", "-", "Record Area…",
                              "Record Screen…", "-", "Quit"}));
        QVERIFY(app->checkForUpdatesAction()->isEnabled());
        QCOMPARE(texts(app->trayMenu()),
                 (QStringList{"Record Area…", "Record Screen…", "-", "Show Quorvel", "Quit"}));
        // About returns at once, leaving a box that waits for nobody: no loop runs inside it
        // to serve bus calls in the middle of another.
        app->applicationMenu()->actions().first()->trigger(); // About
        QVERIFY(app->aboutBox() && app->aboutBox()->isVisible());
        QCOMPARE(app->aboutBox()->windowModality(), Qt::NonModal);
        app->aboutBox()->close();

        app->show();
        QVERIFY(QTest::qWaitForWindowExposed(app->mainWindow()));

        // Both Quits end the process through the same door.
        app->applicationMenu()->actions().last()->trigger();
        app->trayMenu()->actions().last()->trigger();
        QCOMPARE(m_quits, 2);
    }

    // Closing the main window: with a tray the app keeps running, else it quits. "Show
    // Quorvel" brings the same window, with the same view, back.
    void closingTheMainWindow()
    {
        for (const bool tray : {true, false}) {
            m_quits = 0;
            const auto app = makeApp(tray);
            QCOMPARE(app->trayIcon() != nullptr, tray);
            QVERIFY(!QApplication::quitOnLastWindowClosed());
            app->show();
            QVERIFY(QTest::qWaitForWindowExposed(app->mainWindow()));
            QVERIFY(app->mainWindow()->close());
            QVERIFY(!app->mainWindow()->isVisible());
            QCOMPARE(m_quits, tray ? 0 : 1);
            MainView* view = app->mainView();
            app->trayMenu()->actions().at(3)->trigger(); // Show Quorvel
            QVERIFY(QTest::qWaitForWindowExposed(app->mainWindow()));
            QCOMPARE(app->mainView(), view);
        }
    }

    // A 1280 × 720 screen at scale 2 has 640 × 360 points: the window asks for no more, and Tab
    // brings each of the four buttons fully into sight.
    void mainWindowFitsASmallScreen()
    {
        const auto app = makeApp(false);
        app->show();
        QMainWindow* window = app->mainWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        const QSize small(640, 360);
        QCOMPARE(window->minimumSizeHint().boundedTo(small), window->minimumSizeHint());
        window->resize(small);
        QTRY_COMPARE(window->size(), small);
        const QList<QPushButton*> buttons = app->mainView()->findChildren<QPushButton*>();
        QCOMPARE(buttons.size(), 4);
        QVERIFY(buttons.last()->visibleRegion() != QRegion(buttons.last()->rect()));
        for (QPushButton* button : buttons) {
            for (int tabs = 0; window->focusWidget() != button && tabs < 8; ++tabs)
                QTest::keyClick(window->focusWidget(), Qt::Key_Tab); // as the keyboard sends it
            QCOMPARE(window->focusWidget(), button);
            QCOMPARE(button->visibleRegion(), QRegion(button->rect()));
        }
    }

    // Where the desktop takes the picture, our windows leave the screen while it does and the
    // main window comes back whatever the answer (captured: tst_sway_session).
    void windowsStepAsideForACapture()
    {
        auto scripted = std::make_unique<ScriptedBackend>();
        ScriptedBackend& backend = *scripted;
        backend.answers = {QVariant(), QStringLiteral("no picture")}; // cancelled, failed
        backend.answerAfterMs = 500; // time to see the windows gone while it is asked
        const auto app = makeApp(true, std::move(scripted));
        app->show();
        app->showTrayPanel();
        QVERIFY(QTest::qWaitForWindowExposed(app->trayPanel()));
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(app->capture(ScreenshotTypes::area), QString());
            QVERIFY(!app->mainWindow()->isVisible() && !app->trayPanel()->isVisible());
            QTRY_COMPARE(backend.asked.size(), i + 1);
            QVERIFY(!app->mainWindow()->isVisible());
            QTRY_VERIFY(app->mainWindow()->isVisible());
        }
        QVERIFY(!app->trayPanel()->isVisible()); // a popup that stays closed
    }

    void trayPanelKeepsItsModels()
    {
        const auto app = makeApp(true);
        QWidget* panel = app->trayPanel();
        QCOMPARE(app->menuView()->window(), panel);

        // Escape puts it away (a screen reader finds it open: the app tour).
        app->showTrayPanel();
        QVERIFY(QTest::qWaitForWindowExposed(panel));
        QTest::keyClick(panel, Qt::Key_Escape);
        QVERIFY(!panel->isVisible());
        app->showTrayPanel();
        QVERIFY(QTest::qWaitForWindowExposed(panel));
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY2(area.contains(panel->frameGeometry()), "the panel stays on the screen");

        const QImage shot = test_support::filled(Qt::red);
        app->menuView()->screencapture().setImage(shot);
        panel->hide();
        app->showTrayPanel();
        QVERIFY(QTest::qWaitForWindowExposed(panel));
        QCOMPARE(app->menuView()->screencapture().image(), shot);
        // The panel's models are its own, not the main window's.
        QVERIFY(app->mainView()->screencapture().image().isNull());
    }

    // Started from the tray: the tray shows it, Stop heads its menu and every
    // Quit is off until the recording is saved and open in an editor.
    void recordingFromTheTray()
    {
        const auto app = makeApp(true);
        app->show();
        const QStringList idleMenu = texts(app->trayMenu());

        app->trayMenu()->actions().at(1)->trigger(); // Record Screen…
        QTRY_COMPARE(app->trayIcon()->toolTip(), QStringLiteral("Quorvel: recording 0:01"));
        QCOMPARE(texts(app->trayMenu()), QStringList{"Stop Recording"} + idleMenu);
        for (QMenu* menu : {app->trayMenu(), app->applicationMenu()}) {
            QVERIFY(!menu->actions().at(texts(menu).indexOf("Record Area…"))->isEnabled());
            QVERIFY(!menu->actions().last()->isEnabled()); // Quit
        }
        // The tray panel's Quit too, though the panel came after the start.
        app->showTrayPanel();
        MacUtilityButton* panelQuit = app->menuView()->entries().last();
        QVERIFY(!panelQuit->isEnabled());

        // Stopped the way a screen reader would: the first item of the tray's menu.
        QAccessibleInterface* stop =
            QAccessible::queryAccessibleInterface(app->trayMenu())->child(0);
        QCOMPARE(stop->text(QAccessible::Name), QStringLiteral("Stop Recording"));
        stop->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QTRY_COMPARE_WITH_TIMEOUT(m_opened.size(), 1, 20000);
        QCOMPARE(m_opened.first().from, OpenedFrom::trayPanel);
        QTRY_VERIFY(panelQuit->isEnabled());
        QCOMPARE(texts(app->trayMenu()), idleMenu);
    }
};

QTEST_MAIN(QuorvelAppTest)
#include "tst_quorvel_app.moc"
