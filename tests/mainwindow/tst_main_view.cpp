// MainView and its permission cover over a scripted backend, panel and editor opener.

#include "file_panel.h"
#include "main_view.h"
#include "permission_overlay.h"
#include "privacy_settings.h"
#include "prominent_button_style.h"
#include "scripted_backend.h"
#include "secondary_button_style.h"
#include "test_support.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QStyle>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct AnsweredPanel : FilePanel {
    QList<OpenRequest> requests;
    QList<Answer> pending;
    void chooseFileToOpen(const OpenRequest& request, Answer done) override
    {
        requests.append(request);
        pending.append(std::move(done));
    }
    void chooseSaveLocation(const SaveRequest&, Answer) override { QFAIL("no saving here"); }
    void answer(std::optional<QString> path) { pending.takeFirst()(std::move(path)); }
};

struct OpenedEditor {
    QImage image;
    QUrl movie;
    bool showVideoPlayer;
    OpenedFrom from;
    QString fileName;
};

QImage picture(QColor color)
{
    QImage image(40, 30, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    return image;
}

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
    AnsweredPanel m_panel;
    QList<OpenedEditor> m_opened;
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
            [this] { return m_access; },
            [this](const Screencapture& c, const ScreenRecorder& r, bool movie, OpenedFrom from,
                   const QString& name) {
                m_opened.append({c.image(), r.lastRecordingURL(), movie, from, name});
            },
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
        QCOMPARE(shownTexts<QLabel>(view),
                 (QStringList{"Quorvel", "Instantly give your screenshots and videos Stunning "
                                         "backgrounds"}));

        button(view, kActions[0])->setFocus();
        for (const QString& text : kActions.mid(1)) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(qobject_cast<QPushButton*>(QApplication::focusWidget())->text(), text);
        }
        QTest::keyClick(button(view, "Beautify Recording"), Qt::Key_Space);
        QCOMPARE(m_panel.requests.size(), 1);
    }

    // Both looks shrink the whole shape while held and restore it on release.
    void buttonLooks()
    {
        QWidget window;
        window.setPalette(QApplication::style()->standardPalette());
        auto* layout = new QHBoxLayout(&window);
        const QList<PressScaleButton*> buttons{new ProminentButtonStyle("Refresh", &window),
                                               new SecondaryButtonStyle("Refresh", &window)};
        for (PressScaleButton* b : buttons) {
            b->setFocusPolicy(Qt::NoFocus); // no focus ring over the edge checked below
            layout->addWidget(b);
        }
        window.resize(500, 80);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QColor bare = window.palette().color(QPalette::Window);
        for (PressScaleButton* b : buttons) {
            const QPoint edge(2, b->height() / 2); // filled at rest, bare while held
            QVERIFY(b->grab().toImage().pixelColor(edge) != bare);
            QTest::mousePress(b, Qt::LeftButton);
            QTRY_COMPARE(b->pressScale(), PressScaleButton::kPressedScale);
            QUORVEL_COMPARE_COLOR(b->grab().toImage().pixelColor(edge), bare, 1);
            QTest::mouseRelease(b, Qt::LeftButton);
            QTRY_COMPARE(b->pressScale(), 1.0);
        }
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
        QCOMPARE(shownTexts<QLabel>(*overlay),
                 (QStringList{"Screen Recording Permission Required",
                              "Please grant screen recording permission in System "
                              "Preferences > Privacy & Security > Screen Recording"}));

        QTest::keyClick(overlay->refreshButton(), Qt::Key_Space);
        QTest::mouseClick(overlay->refreshButton(), Qt::LeftButton);
        QCOMPARE(m_lines.size(), 3);
        QVERIFY(overlay->isVisible());

        m_access = true;
        Q_EMIT qApp->applicationStateChanged(Qt::ApplicationInactive);
        QCOMPARE(m_lines.size(), 3);
        Q_EMIT qApp->applicationStateChanged(Qt::ApplicationActive);
        QCOMPARE(m_lines.last(), "Permission check: true");
        QVERIFY(!overlay->isVisible() && button(view, kActions[0])->isEnabled());
        QVERIFY(view.isPermissionGranted());

        m_access = false;
        Q_EMIT qApp->applicationStateChanged(Qt::ApplicationActive);
        QCOMPARE(m_lines.size(), 5);
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
                     {"ubuntu:GNOME", true, {"gnome-control-center", "privacy"}},
                     {"KDE", true, {"systemsettings"}},
                     {"KDE", false, {"systemsettings"}}, // settings missing
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

    // Captures wait a tenth of a second, then each, whatever its end, opens one editor from
    // the main window with what the capture holds: nothing, or the last picture.
    void capturesOpenOneEditorEach()
    {
        MainView& view = makeView();
        m_backend.answers = {QString("no screen"), QVariant::fromValue(picture(Qt::red)),
                             QString("no screen")};
        const QByteArray out = test_support::stdoutOf([&] {
            view.captureArea();
            QTRY_COMPARE(m_opened.size(), 1);
        });
        QCOMPARE(out, "Failed to take screenshot: no screen\n");
        QVERIFY(m_opened[0].image.isNull());
        QTest::mouseClick(button(view, "Capture Window"), Qt::LeftButton);
        QTest::mouseClick(button(view, "Capture Window"), Qt::LeftButton);
        QCOMPARE(m_backend.asked.size(), 1);
        test_support::stdoutOf([&] { QTRY_COMPARE(m_opened.size(), 3); });
        QCOMPARE(m_backend.asked,
                 (QList{ScreenshotTypes::area, ScreenshotTypes::window, ScreenshotTypes::window}));
        QCOMPARE(m_opened[1].image, picture(Qt::red));
        QCOMPARE(m_opened[2].image, picture(Qt::red));
        for (const OpenedEditor& editor : m_opened) {
            QVERIFY(!editor.showVideoPlayer);
            QCOMPARE(editor.from, OpenedFrom::mainWindow);
        }
    }

    // A cancelled panel changes nothing; a picture opens an editor named after its file; a
    // movie opens a movie editor and leaves the picture alone; a capture after it is a picture.
    void fileFlows()
    {
        MainView& view = makeView();
        const QString png = m_dir.filePath("shot.png");
        QVERIFY(picture(Qt::green).save(png));
        const QString broken = m_dir.filePath("broken.png");
        test_support::fileBytes(broken, "not a picture");

        view.beautifyImage();
        view.beautifyRecording();
        QCOMPARE(m_panel.requests[0].prompt, "Choose Image");
        QVERIFY(m_panel.requests[0].nameFilters.join(' ').contains("*.heic"));
        QCOMPARE(m_panel.requests[1].prompt, "Choose Video");
        QVERIFY(m_panel.requests[1].nameFilters.join(' ').contains("*.mov"));
        m_panel.answer(std::nullopt);
        m_panel.answer(std::nullopt);
        QVERIFY(m_opened.isEmpty());
        QVERIFY(view.screencapture().image().isNull());
        QVERIFY(view.screenRecorder().lastRecordingURL().isEmpty());

        view.beautifyImage();
        m_panel.answer(png);
        view.beautifyImage();
        test_support::stdoutOf([&] { m_panel.answer(broken); });
        view.beautifyRecording();
        m_panel.answer(m_dir.filePath("take.mov"));
        m_backend.answers = {QString("no screen")};
        test_support::stdoutOf([&] {
            view.captureArea();
            QTRY_COMPARE(m_opened.size(), 4);
        });

        const QImage green = QImage(png).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        const auto movie = QUrl::fromLocalFile(m_dir.filePath("take.mov"));
        QCOMPARE(m_opened[0].fileName, "shot.png");
        QCOMPARE(m_opened[1].fileName, QString()); // the old picture, not the broken file
        for (int i : {0, 1, 3}) {
            QCOMPARE(m_opened[i].image.convertToFormat(QImage::Format_ARGB32_Premultiplied), green);
            QVERIFY(!m_opened[i].showVideoPlayer);
        }
        QVERIFY(m_opened[2].showVideoPlayer);
        QCOMPARE(m_opened[2].movie, movie);
        QCOMPARE(view.screenRecorder().lastRecordingURL(), movie);
        for (const OpenedEditor& editor : m_opened)
            QCOMPARE(editor.from, OpenedFrom::mainWindow);
    }

    // Dropped files open as the panels' files do, one editor each; a drop with anything the
    // panels would not offer is refused whole. Under the cover neither a drop nor Ctrl+V gets in.
    void dropsAndTheCover()
    {
        MainView& view = makeView();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        const QString png = m_dir.filePath("drop.PNG"), broken = m_dir.filePath("broken.jpg");
        QVERIFY(picture(Qt::green).save(png, "PNG"));
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
        QCOMPARE(drop({}, "some text"), "refused");
        QCOMPARE(drop({QUrl("https://example.com/shot.png")}), "refused");
        QCOMPARE(drop({file(m_dir.filePath("notes.txt"))}), "refused");
        QCOMPARE(drop({file(png), file(m_dir.filePath("notes.txt"))}), "refused");
        m_access = false;
        view.checkPermission();
        QCOMPARE(drop({file(png)}), "refused");
        QGuiApplication::clipboard()->setImage(picture(Qt::blue));
        QTest::keyClick(&view, Qt::Key_V, Qt::ControlModifier);
        QVERIFY(m_opened.isEmpty());
        m_access = true;
        view.checkPermission();

        const QByteArray out = test_support::stdoutOf([&] {
            QCOMPARE(drop({file(png), file(broken), movie}), "taken");
            QTRY_COMPARE(m_opened.size(), 2);
        });
        QCOMPARE(out, "Failed to load image from URL: " + file(broken).toString().toUtf8() + "\n");
        QCOMPARE(m_opened[0].image.convertToFormat(QImage::Format_ARGB32_Premultiplied),
                 picture(Qt::green));
        QCOMPARE(m_opened[0].fileName, "drop.PNG");
        QVERIFY(m_opened[1].showVideoPlayer);
        QCOMPARE(m_opened[1].movie, movie);
        // Uncovered, the same key gets in.
        QTest::keyClick(&view, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(m_opened.size(), 3);
    }
};

QTEST_MAIN(MainViewTest)
#include "tst_main_view.moc"
