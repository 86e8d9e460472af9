// The tray panel's content offscreen, over a scripted capture backend and a
// stand-in file panel; its symbols against icon themes built on the spot.

#include "file_panel.h"
#include "mac_utility_button_style.h"
#include "menu_view.h"
#include "panel_symbols.h"
#include "screen_recorder.h"
#include "screencapture.h"
#include "scripted_backend.h"
#include "stand_in_panel.h"
#include "test_support.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

static QString accessibleName(QWidget* widget)
{
    return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
}

enum class Art { outline, fullColour, tiny };

class MenuViewTest : public QObject {
    Q_OBJECT

    ScriptedBackend m_backend;
    StandInPanel m_panel;
    QList<EditorRequest> m_opened;
    bool m_access = true;
    int m_checks = 0;
    int m_quits = 0;
    std::unique_ptr<MenuView> m_view;

    MenuView::Services standIns()
    {
        return {[this](const EditorRequest& request) { m_opened << request; },
                {},
                [this](QObject*, std::function<void(bool)> answer) {
                    ++m_checks;
                    answer(m_access);
                },
                [this] { ++m_quits; }};
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
        m_panel = {};
        m_opened.clear();
        m_access = true, m_checks = 0, m_quits = 0;
        m_view = std::make_unique<MenuView>(m_backend, m_panel, standIns());
    }
    void cleanup() { m_view.reset(); }

    // Five entries in order (heard by their texts: the app tour), in the tab order, pressed
    // with Space and by its accessible action; "Quit" is inert while recording.
    void entriesInOrderAndUsableFromTheKeyboard()
    {
        showView();
        const auto entries = m_view->entries();
        QStringList shown;
        for (MacUtilityButton* button : entries) {
            shown << button->text();
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

    // Without access a cover with its notice lies over every entry; each showing asks again.
    void coverWhileAccessIsMissing()
    {
        m_access = false;
        MenuView view(m_backend, m_panel, standIns());
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCOMPARE(m_checks, 1);
        QCOMPARE(view.permissionCover()->geometry(), view.rect());
        auto* notice = view.permissionCover()->findChild<QLabel*>();
        QVERIFY(!notice->text().isEmpty() && accessibleName(notice) == notice->text());
        for (MacUtilityButton* button : view.entries())
            QVERIFY(!button->isEnabled());
        QTest::mouseClick(view.entries().last(), Qt::LeftButton);
        QCOMPARE(m_quits, 0);

        m_access = true; // takes effect at the next showing
        QVERIFY(view.permissionCover()->isVisible());
        view.hide();
        view.show();
        QCOMPARE(m_checks, 2);
        QVERIFY(view.permissionCover()->isHidden() && view.entries().first()->isEnabled());
    }

    // A capture hides the active window at once and starts 0.1 s later; the editor says it
    // came from the panel. The entries reach the panels, and a movie chosen sticks.
    void entriesStartTheFlow()
    {
        m_backend.answers = {QVariant::fromValue(test_support::filled(Qt::red))};
        showView();
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(m_view->entries()[0], Qt::LeftButton); // Capture Window
        QVERIFY(m_view->isHidden());
        QVERIFY(m_backend.asked.isEmpty());
        QTRY_COMPARE(m_opened.size(), 1);
        QVERIFY(clock.elapsed() >= 100);
        QCOMPARE(m_backend.asked, QList{ScreenshotTypes::window});
        QCOMPARE(m_opened[0].from, OpenedFrom::trayPanel);

        showView();
        QTest::mouseClick(m_view->entries()[2], Qt::LeftButton); // Beautify Image
        QTest::mouseClick(m_view->entries()[3], Qt::LeftButton); // Beautify Recording
        QCOMPARE(m_panel.requests.size(), 2);
        QVERIFY(!m_view->showVideoPlayer());
        m_panel.answer(std::nullopt);
        m_panel.answer("/tmp/clip.mov");
        QCOMPARE(m_opened.size(), 2);
        QVERIFY(m_opened[1].showVideoPlayer);
        QCOMPARE(m_opened[1].from, OpenedFrom::trayPanel);
        QVERIFY(m_view->showVideoPlayer());
    }

    // A theme's icon is taken only when it works as a template; the drawn symbol fills in
    // otherwise. Last, as it changes the icon theme.
    void takesOnlyTemplateLikeThemeIcons_data()
    {
        QTest::addColumn<int>("art");
        QTest::addColumn<bool>("themeIconKept");
        QTest::newRow("outline") << int(Art::outline) << true;
        // File-type artwork would come out as a solid block in the label's colour.
        QTest::newRow("full colour") << int(Art::fullColour) << false;
        QTest::newRow("only far smaller than shown") << int(Art::tiny) << false;
    }
    void takesOnlyTemplateLikeThemeIcons()
    {
        QFETCH(int, art);
        QFETCH(bool, themeIconKept);
        QTemporaryDir root;
        const QString theme = QStringLiteral("probe%1").arg(art);
        const int side = Art(art) == Art::tiny ? 8 : 16;
        const QString context = QStringLiteral("%1x%1/actions").arg(side);
        const QString dir = root.filePath(theme + u'/' + context);
        QVERIFY(QDir().mkpath(dir));
        test_support::fileBytes(root.filePath(theme + "/index.theme"),
                                QStringLiteral("[Icon Theme]\nName=%1\nDirectories=%2\n\n[%2]\n"
                                               "Size=%3\nType=Fixed\n")
                                    .arg(theme, context)
                                    .arg(side)
                                    .toUtf8());
        QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        if (Art(art) == Art::fullColour) {
            painter.fillRect(QRect(1, 0, 14, 16), QColor(0x3d, 0x84, 0xe6));
            painter.fillRect(QRect(3, 4, 10, 8), Qt::white);
        } else {
            painter.drawRect(image.rect().adjusted(1, 1, -2, -2));
        }
        painter.end();
        for (const char* name : {"image-x-generic", "video-x-generic", "system-shutdown"})
            QVERIFY(image.save(dir + u'/' + QLatin1String(name) + ".png"));

        QIcon::setThemeSearchPaths({root.path()});
        QIcon::setThemeName(theme);
        for (PanelSymbol symbol : {PanelSymbol::photo, PanelSymbol::film, PanelSymbol::power}) {
            const QIcon icon = panelSymbol(symbol);
            QCOMPARE(!icon.name().isEmpty(), themeIconKept); // the drawn ones have no name
            QVERIFY(!icon.pixmap(kPanelSymbolSize).isNull());
        }
        QIcon::setThemeName(QString());
    }
};

QTEST_MAIN(MenuViewTest)
#include "tst_menu_view.moc"
