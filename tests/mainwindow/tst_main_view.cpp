// MainView and its permission cover over a scripted backend, panel and editor opener. What
// its ways in open is the flow's, tested on its own. The installed icon and the one the app
// draws for its windows and tray must be the same picture: the SVG, rendered by librsvg as
// desktops render it, is compared with viewfinderIcon() pixel by pixel.

#include "main_view.h"
#include "permission_overlay.h"
#include "privacy_settings.h"
#include "prominent_button_style.h"
#include "scripted_backend.h"
#include "secondary_button_style.h"
#include "stand_in_panel.h"
#include "test_support.h"
#include "viewfinder_icon.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMimeData>
#include <QTemporaryDir>
#include <QtTest>

namespace {

using test_support::filled;

// The visible texts top to bottom, marked where a screen reader would say something else.
template <typename Widget> QStringList shownTexts(const QWidget& root)
{
    QList<Widget*> widgets = root.findChildren<Widget*>();
    widgets.removeIf([](Widget* w) { return !w->isVisibleTo(w->window()) || w->text().isEmpty(); });
    std::sort(widgets.begin(), widgets.end(), [](Widget* a, Widget* b) {
        return a->mapTo(a->window(), QPoint()).y() < b->mapTo(b->window(), QPoint()).y();
    });
    QStringList texts;
    for (Widget* w : widgets) {
        const QString heard = QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
        texts << (heard == w->text() ? w->text() : w->text() + " (heard: " + heard + ")");
    }
    return texts;
}

QPushButton* button(const QWidget& root, const QString& text)
{
    for (QPushButton* b : root.findChildren<QPushButton*>())
        if (b->text() == text)
            return b;
    return nullptr;
}

const QStringList kActions{"Capture Window", "Capture Area", "Beautify Image",
                           "Beautify Recording"};

} // namespace

class MainViewTest : public QObject {
    Q_OBJECT

    ScriptedBackend m_backend;
    StandInPanel m_panel;
    QList<EditorRequest> m_opened;
    QStringList m_lines;
    QList<QStringList> m_launched;
    bool m_access = true;
    bool m_launchWorks = true;
    QString m_desktop = QStringLiteral("GNOME");
    std::unique_ptr<MainView> m_view;
    QTemporaryDir m_dir;

    MainView& makeView()
    {
        MainView::Services services{
            m_backend,
            m_panel,
            [this](const EditorRequest& request) { m_opened << request; },
            {},
            [this](QObject*, std::function<void(bool)> answer) { answer(m_access); },
            [this](const QString& line) { m_lines << line; },
            [this](const QString& program, const QStringList& arguments) {
                m_launched << (QStringList{program} + arguments);
                return m_launchWorks;
            },
            m_desktop,
        };
        m_view = std::make_unique<MainView>(std::move(services));
        m_view->resize(520, 640);
        m_view->show();
        return *m_view;
    }

private Q_SLOTS:
    void init()
    {
        QGuiApplication::clipboard()->clear();
        m_backend.answers.clear(), m_backend.asked.clear(), m_backend.answerAfterMs = 5;
        m_panel = {};
        m_opened.clear(), m_lines.clear(), m_launched.clear();
        m_access = m_launchWorks = true;
        m_desktop = QStringLiteral("GNOME");
    }
    void cleanup() { m_view.reset(); }

    // Name and promise above the four buttons, heard as shown, in Tab order, pressed by Space.
    void showsItsWaysInInOrder()
    {
        MainView& view = makeView();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCOMPARE(shownTexts<QPushButton>(view), kActions);
        QCOMPARE(shownTexts<QLabel>(view).value(0), "Quorvel");

        button(view, kActions[0])->setFocus();
        for (const QString& text : kActions.mid(1)) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(qobject_cast<QPushButton*>(QApplication::focusWidget())->text(), text);
        }
        QTest::keyClick(button(view, "Beautify Recording"), Qt::Key_Space);
        QCOMPARE(m_panel.requests.size(), 1);
    }

    // The cover is up exactly while the last check (at showing, activation, "Refresh", one
    // line each) said no; beneath it the buttons are out of reach.
    void coverFollowsEveryCheck()
    {
        m_access = false;
        MainView& view = makeView();
        PermissionOverlay* overlay = view.permissionOverlay();
        QCOMPARE(m_lines, QStringList{"Permission check: false"});
        QVERIFY(overlay->isVisible() && !button(view, kActions[0])->isEnabled());
        QCOMPARE(overlay->geometry(), view.rect());
        QCOMPARE(shownTexts<QPushButton>(*overlay),
                 (QStringList{"Open System Preferences", "Refresh"}));

        QTest::keyClick(overlay->refreshButton(), Qt::Key_Space);
        QCOMPARE(m_lines.size(), 2);
        QVERIFY(overlay->isVisible());

        m_access = true;
        Q_EMIT qApp->applicationStateChanged(Qt::ApplicationActive);
        QCOMPARE(m_lines.last(), "Permission check: true");
        QVERIFY(!overlay->isVisible() && button(view, kActions[0])->isEnabled());

        m_access = false;
        Q_EMIT qApp->applicationStateChanged(Qt::ApplicationActive);
        QCOMPARE(m_lines.size(), 4);
        QCOMPARE(m_lines.last(), "Permission check: false");
        QVERIFY(overlay->isVisible());
        view.resize(700, 500);
        QCOMPARE(overlay->geometry(), view.rect());
    }

    // The desktop's own settings where known, else a note; only a check changes the cover.
    void openSystemPreferences()
    {
        const struct {
            const char* desktop;
            bool launchWorks;
            QStringList launched;
        } cases[] = {{"GNOME", true, {"gnome-control-center", "privacy"}},
                     {"KDE", false, {"systemsettings"}}, // settings missing: a note
                     {"XFCE", true, {}}};
        m_access = false;
        for (const auto& [desktop, launchWorks, launched] : cases) {
            m_desktop = desktop, m_launchWorks = launchWorks;
            m_launched.clear(), m_lines.clear();
            MainView& view = makeView();
            QTest::mouseClick(view.permissionOverlay()->openSettingsButton(), Qt::LeftButton);
            QCOMPARE(m_launched,
                     launched.isEmpty() ? QList<QStringList>{} : QList<QStringList>{launched});
            QCOMPARE(!view.permissionOverlay()->note().isEmpty(),
                     launched.isEmpty() || !launchWorks);
            QVERIFY(view.permissionOverlay()->isVisible());
            QCOMPARE(m_lines.size(), 1);
        }
    }

    // Dropped files open one editor each; a drop with anything the panels would not offer is
    // refused whole, and a dropped file that cannot be read opens nothing and says so. Under
    // the cover neither a drop nor Ctrl+V gets in.
    void dropsAndTheCover()
    {
        MainView& view = makeView();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        const QString png = m_dir.filePath("drop.PNG"), broken = m_dir.filePath("broken.jpg");
        QVERIFY(filled(Qt::green).save(png, "PNG"));
        test_support::fileBytes(broken, "not a picture");
        const auto drop = [&view](const QList<QUrl>& urls, const QString& text = {}) {
            QMimeData data;
            data.setUrls(urls);
            if (!text.isEmpty())
                data.setText(text);
            const QPoint at = view.rect().center();
            QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&view, &enter);
            QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&view, &dropped);
            return enter.isAccepted() && dropped.isAccepted()     ? "taken"
                   : !enter.isAccepted() && !dropped.isAccepted() ? "refused"
                                                                  : "mixed";
        };
        const auto file = &QUrl::fromLocalFile;
        const QUrl movie = file(m_dir.filePath("take.m4v"));
        QCOMPARE(drop({QUrl("https://example.com/shot.png")}, "some text"), "refused");
        QCOMPARE(drop({file(png), file(m_dir.filePath("notes.txt"))}), "refused");
        m_access = false;
        view.checkPermission();
        QCOMPARE(drop({file(png)}), "refused");
        QGuiApplication::clipboard()->setImage(filled(Qt::blue));
        QTest::keyClick(&view, Qt::Key_V, Qt::ControlModifier);
        QVERIFY(m_opened.isEmpty());
        m_access = true;
        view.checkPermission();

        test_support::fileBytes(movie.toLocalFile(), QByteArray("\0\0\0\x18" "ftypisom", 12));
        QCOMPARE(drop({file(png), file(broken), movie}), "taken");
        QTRY_COMPARE(m_opened.size(), 2);
        QCOMPARE(m_lines.last(), "Failed to open " + broken + ": " +
                                     "not a picture or a movie Quorvel can read");
        QCOMPARE(m_opened[1].movie, movie); // what each opens: tst_open_flow
        QCOMPARE(m_opened[1].from, OpenedFrom::mainWindow);
        QTest::keyClick(&view, Qt::Key_V, Qt::ControlModifier); // uncovered, it gets in
        QCOMPARE(m_opened.size(), 3);
    }

    // At the launcher's size and the tray's.
    void svgMatchesDrawing()
    {
        for (const int side : {256, 24}) {
            QTemporaryDir dir;
            const QString rendered = dir.filePath(QStringLiteral("icon.png"));
            const auto rsvg = test_support::run("rsvg-convert", {"-w", QString::number(side), "-h",
                                                                 QString::number(side), "-o",
                                                                 rendered, QUORVEL_ICON_SVG});
            QVERIFY2(rsvg.exitCode == 0, rsvg.err.constData());

            const QImage svg = QImage(rendered).convertToFormat(QImage::Format_ARGB32);
            const QImage drawn =
                viewfinderIcon(side, 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
            QCOMPARE(svg.size(), drawn.size());

            // Two rasterisers shade the edges of a shape a little differently;
            // a moved or resized shape differs by far more, over whole runs of
            // pixels.
            int far = 0;
            for (int y = 0; y < side; ++y)
                for (int x = 0; x < side; ++x)
                    far += !test_support::near(svg.pixelColor(x, y), drawn.pixelColor(x, y), 48);
            QVERIFY2(
                far <= side * side / 200,
                qPrintable(QStringLiteral("%1 of %2 pixels differ").arg(far).arg(side * side)));
        }
    }
};

QTEST_MAIN(MainViewTest)
#include "tst_main_view.moc"
