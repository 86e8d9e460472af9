#include "quorvel_app.h"

#include "capture_backend.h"
#include "check_for_updates_view_model.h"
#include "console.h"
#include "editor_module.h"
#include "main_view.h"
#include "menu_view.h"
#include "named_colors.h"
#include "open_flow.h"
#include "qt_file_panel.h"
#include "update_dialog.h"
#include "updater.h"
#include "viewfinder_icon.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>

namespace {

// A printed line as the tray shows it: without the program's name before it.
QString asSentence(QString line)
{
    if (line.startsWith(QLatin1String("quorvel: ")))
        line.remove(0, 9);
    if (!line.isEmpty())
        line[0] = line[0].toUpper();
    return line;
}

// The viewfinder of data/icons/<app id>.svg, drawn at the sizes trays and
// window managers ask for.
QIcon applicationIcon()
{
    QIcon icon;
    for (const int side : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(viewfinderIcon(side, 1.0));
    return icon;
}

// Tells the app when the main window is closed; with a tray the window only
// hides, as QMainWindow does anyway.
class CloseWatcher : public QObject {
public:
    CloseWatcher(std::function<void()> closed, QObject* parent)
        : QObject(parent), m_closed(std::move(closed))
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Close && event->isAccepted())
            m_closed();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_closed;
};

// Makes a plain frameless window act as a popup: it goes away when the user
// turns to another window or presses Escape. (A real Qt::Popup would, but
// Qt leaves popups out of the accessibility tree, and screen readers with it.)
class PanelDismisser : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* panel = static_cast<QWidget*>(watched);
        const bool escape = event->type() == QEvent::KeyPress &&
                            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape;
        if (event->type() == QEvent::WindowDeactivate || escape)
            panel->hide();
        return QObject::eventFilter(watched, event);
    }
};

// Runs a function when the widget it watches is first drawn.
class FirstPaintWatcher : public QObject {
public:
    FirstPaintWatcher(std::function<void()> painted, QObject* parent)
        : QObject(parent), m_painted(std::move(painted))
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            m_painted();
            deleteLater();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_painted;
};

} // namespace

QuorvelApp::QuorvelApp(Services services, QObject* parent)
    : QObject(parent), m_services(std::move(services))
{
    if (!m_services.backend)
        m_services.backend = loadCaptureBackend();
    if (!m_services.filePanel)
        m_services.filePanel = std::make_unique<QtFilePanel>();
    if (!m_services.trayAvailable)
        m_services.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    if (!m_services.writeLine)
        m_services.writeLine = printLine;
    if (!m_services.quit)
        m_services.quit = [] { QApplication::quit(); };
    if (!m_services.openEditor)
        m_services.openEditor = openEditorLazily;
    if (!m_services.checkMovie)
        m_services.checkMovie = movieFailureLazily;
    m_openFlow = std::make_unique<OpenFlow>(
        OpenFlow::Services{*m_services.backend, *m_services.filePanel, m_services.openEditor,
                           m_services.checkMovie, m_services.writeLine, m_services.checkAccess},
        OpenedFrom::mainWindow);
    if (!m_services.recording.writeLine)
        m_services.recording.writeLine = m_services.writeLine;
    m_recording = std::make_unique<RecordingFlow>(m_services.recording);

    // The update check runs on its own schedule from start-up on, before
    // any window shows.
    m_updater = m_services.updater
                    ? std::move(m_services.updater)
                    : std::make_unique<Updater>(readUpdaterSettings(installedUpdaterSettingsPath()),
                                                QCoreApplication::applicationVersion());
    m_updater->start();
    UpdateDialog::showForChecks(*m_updater);
    m_checkModel = new CheckForUpdatesViewModel(*m_updater, this);

    QApplication::setWindowIcon(applicationIcon());
    // We decide when the process ends: the tray keeps it alive past the main
    // window, and editor windows never end it on their own.
    QApplication::setQuitOnLastWindowClosed(false);

    buildMainWindow();
    buildTray();

    m_recording->drive(m_mainView->screenRecorder());
    m_recording->drive(m_openFlow->screenRecorder());
    connect(m_recording.get(), &RecordingFlow::stateChanged, this, &QuorvelApp::recordingChanged);
    connect(m_recording.get(), &RecordingFlow::isRecordingChanged, this,
            &QuorvelApp::recordingChanged);
    connect(m_recording.get(), &RecordingFlow::failed, this, &QuorvelApp::tellRecordingFailed);
    connect(m_recording.get(), &RecordingFlow::noticed, this,
            [this](const QString& line) { tellAboutRecording(line, false); });
    connect(&m_recordingClock, &QTimer::timeout, this, &QuorvelApp::showRecordingTime);
    m_recordingClock.setInterval(1000);
    recordingChanged();
}

QuorvelApp::~QuorvelApp()
{
    // The views hold the backend and the file panel by reference.
    m_mainWindow.reset();
    m_panel.reset();
    m_openFlow.reset();
}

void QuorvelApp::buildMainWindow()
{
    m_mainWindow = std::make_unique<QMainWindow>();
    m_mainWindow->setWindowTitle(QStringLiteral("Quorvel"));
    m_mainView = new MainView(MainView::Services{*m_services.backend,
                                                 *m_services.filePanel,
                                                 m_services.openEditor,
                                                 m_services.checkMovie,
                                                 m_services.checkAccess,
                                                 m_services.writeLine,
                                                 {},
                                                 {}},
                              m_mainWindow.get());
    m_mainWindow->setCentralWidget(m_mainView);
    m_mainView->flow().setStepAside(stepAside());

    m_appMenu = m_mainWindow->menuBar()->addMenu(QStringLiteral("Quorvel"));
    QAction* about = m_appMenu->addAction(tr("About Quorvel"));
    about->setMenuRole(QAction::AboutRole);
    connect(about, &QAction::triggered, this, &QuorvelApp::showAbout);
    m_checkForUpdates = m_checkModel->createAction(m_appMenu);
    m_appMenu->addAction(m_checkForUpdates);
    m_appMenu->addSeparator();
    // Recordings made from the main window open as its chosen movies do.
    OpenFlow& opener = m_mainView->flow();
    m_stopRecording = new QAction(tr("Stop Recording"), m_appMenu);
    connect(m_stopRecording, &QAction::triggered, this, [this] { m_recording->stop(); });
    connect(m_appMenu->addAction(tr("Record Area…")), &QAction::triggered, this,
            [this, &opener] { recordFromMenu(ScreenshotTypes::area, opener); });
    connect(m_appMenu->addAction(tr("Record Screen…")), &QAction::triggered, this,
            [this, &opener] { recordFromMenu(ScreenshotTypes::full, opener); });
    m_recordActions << m_appMenu->actions().mid(m_appMenu->actions().size() - 2);
    m_appMenu->addSeparator();
    QAction* quit = m_appMenu->addAction(tr("Quit"));
    quit->setMenuRole(QAction::QuitRole);
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, this, [this] { m_services.quit(); });
    // Off while recording (recordingChanged): quitting would end the recorder.
    m_quitActions << quit;

    if (qEnvironmentVariableIsSet("QUORVEL_REPORT_FIRST_PAINT"))
        // "first paint" on stderr for the startup benchmark.
        m_mainView->surface()->installEventFilter(new FirstPaintWatcher(
            [] {
                std::fputs("first paint\n", stderr);
                std::fflush(stderr);
            },
            m_mainView));
    m_mainWindow->installEventFilter(
        new CloseWatcher([this] { mainWindowClosed(); }, m_mainWindow.get()));
}

QWidget* QuorvelApp::trayPanel()
{
    buildTrayPanel();
    return m_panel.get();
}

MenuView* QuorvelApp::menuView()
{
    buildTrayPanel();
    return m_menuView;
}

// Made the first time it is wanted, not at start-up, where it would only
// delay the main window.
void QuorvelApp::buildTrayPanel()
{
    if (m_panel)
        return;
    // The panel and its models live as long as the process: what it captured
    // is still there when it opens again.
    m_panel = std::make_unique<QWidget>(nullptr, Qt::Tool | Qt::FramelessWindowHint |
                                                     Qt::WindowStaysOnTopHint);
    m_panel->setWindowTitle(QStringLiteral("Quorvel"));
    m_panel->installEventFilter(new PanelDismisser(m_panel.get()));
    auto* layout = new QVBoxLayout(m_panel.get());
    layout->setContentsMargins(0, 0, 0, 0);
    MenuView::Services panelServices;
    panelServices.openEditor = m_services.openEditor;
    panelServices.checkMovie = m_services.checkMovie;
    panelServices.checkAccess = m_services.checkAccess;
    panelServices.quit = [this] { m_services.quit(); };
    m_menuView = new MenuView(*m_services.backend, *m_services.filePanel, std::move(panelServices),
                              m_panel.get());
    layout->addWidget(m_menuView);
    m_menuView->flow().setStepAside(stepAside());
    // Its Quit is off while recording, as the menus' are.
    m_recording->drive(m_menuView->screenRecorder());
}

std::function<std::function<void()>()> QuorvelApp::stepAside()
{
    return [this]() -> std::function<void()> {
        // Our own overlay freezes the X screen once the window manager has
        // restacked: lowering is enough there, and the window stays put.
        if (m_services.backend->name() == u"x11")
            return {};
        // Elsewhere the desktop takes the picture, and a Wayland compositor
        // ignores a client's lowering: our windows leave the screen instead.
        // The panel, a popup, stays closed, as it does whenever the person
        // turns to another window (such as the portal's dialog).
        if (m_panel)
            m_panel->hide();
        if (!m_mainWindow->isVisible())
            return [] {};
        m_mainWindow->hide();
        return [window = QPointer<QMainWindow>(m_mainWindow.get())] {
            if (window)
                window->show();
        };
    };
}

void QuorvelApp::buildTray()
{
    m_trayMenu = std::make_unique<QMenu>();
    m_trayStopRecording = new QAction(tr("Stop Recording"), m_trayMenu.get());
    connect(m_trayStopRecording, &QAction::triggered, this, [this] { m_recording->stop(); });
    // Recordings made from the tray open as the tray panel's movies do.
    connect(m_trayMenu->addAction(tr("Record Area…")), &QAction::triggered, this,
            [this] { recordFromMenu(ScreenshotTypes::area, menuView()->flow()); });
    connect(m_trayMenu->addAction(tr("Record Screen…")), &QAction::triggered, this,
            [this] { recordFromMenu(ScreenshotTypes::full, menuView()->flow()); });
    m_recordActions << m_trayMenu->actions();
    m_trayMenu->addSeparator();
    connect(m_trayMenu->addAction(tr("Show Quorvel")), &QAction::triggered, this,
            &QuorvelApp::showMainWindow);
    QAction* quit = m_trayMenu->addAction(tr("Quit"));
    connect(quit, &QAction::triggered, this, [this] { m_services.quit(); });
    m_quitActions << quit;

    if (!m_services.trayAvailable())
        return;
    m_tray = new QSystemTrayIcon(QApplication::windowIcon(), this);
    m_tray->setToolTip(QStringLiteral("Quorvel"));
    m_tray->setContextMenu(m_trayMenu.get());
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    showTrayPanel();
            });
}

void QuorvelApp::show()
{
    showMainWindow();
    // The tray icon comes up once the main window has been drawn: putting it
    // up talks to the tray host, which the first frame need not wait for. A
    // window that is not drawn soon (no compositor showing it, say) does not
    // hold the icon back for long.
    m_mainView->surface()->installEventFilter(new FirstPaintWatcher(
        [this] { QTimer::singleShot(0, this, &QuorvelApp::showTrayIcon); }, m_mainView));
    QTimer::singleShot(kTrayIconLatestMs, this, &QuorvelApp::showTrayIcon);
}

void QuorvelApp::showTrayIcon()
{
    if (m_tray && !m_tray->isVisible())
        m_tray->show();
}

void QuorvelApp::showInBackground()
{
    if (m_tray) {
        m_tray->show();
        return;
    }
    connect(qApp, &QGuiApplication::lastWindowClosed, this, [this] {
        if (!m_mainWindow->isVisible())
            m_services.quit();
    });
}

void QuorvelApp::showMainWindow()
{
    // First shown at the size it asks for, as far as the screen has room:
    // Qt alone would stop at two thirds of a small screen, and scroll early.
    // The window manager's frame is not known before then: a title bar's
    // height is left for it.
    if (!m_mainWindow->testAttribute(Qt::WA_Resized)) {
        if (const QScreen* screen = m_mainWindow->screen()) {
            const int titleBar = m_mainWindow->style()->pixelMetric(QStyle::PM_TitleBarHeight);
            m_mainWindow->resize(m_mainWindow->sizeHint().boundedTo(
                screen->availableGeometry().size() - QSize(0, titleBar)));
        }
    }
    // A minimised window only comes back when told to; show() alone leaves it.
    m_mainWindow->setWindowState(m_mainWindow->windowState() & ~Qt::WindowMinimized);
    m_mainWindow->show();
    m_mainWindow->raise();
    m_mainWindow->activateWindow();
}

void QuorvelApp::showTrayPanel()
{
    buildTrayPanel();
    m_panel->adjustSize();
    const QSize size = m_panel->size();
    const QRect icon = m_tray ? m_tray->geometry() : QRect();
    const QPoint anchor = icon.isValid() ? icon.center() : QCursor::pos();
    QScreen* screen = QGuiApplication::screenAt(anchor);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect area = screen->availableGeometry();
    // Below the icon when the tray is at the top, above it otherwise.
    QPoint at(anchor.x() - size.width() / 2,
              anchor.y() < area.center().y()
                  ? (icon.isValid() ? icon.bottom() + 1 : anchor.y())
                  : (icon.isValid() ? icon.top() : anchor.y()) - size.height());
    at.setX(
        std::clamp(at.x(), area.left(), std::max(area.left(), area.right() - size.width() + 1)));
    at.setY(
        std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() - size.height() + 1)));
    m_panel->move(at);
    m_panel->show();
    m_panel->activateWindow();
}

void QuorvelApp::showAbout()
{
    if (!m_about) {
        m_about = new QMessageBox(QMessageBox::NoIcon, tr("About Quorvel"),
                                  tr("<b>Quorvel</b> %1<br>Screen captures on a background.")
                                      .arg(QCoreApplication::applicationVersion()),
                                  QMessageBox::Ok, m_mainWindow.get());
        m_about->setIconPixmap(QApplication::windowIcon().pixmap(64));
        m_about->setAttribute(Qt::WA_DeleteOnClose);
        m_about->setWindowModality(Qt::NonModal);
    }
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}

QString QuorvelApp::capture(ScreenshotTypes kind)
{
    const CaptureBackend& backend = *m_services.backend;
    if (backend.supportedKinds().isEmpty())
        return QStringLiteral("this desktop offers no way to capture the screen");
    if (!backend.supportedKinds().contains(kind))
        return QStringLiteral("this desktop cannot capture the %1")
            .arg(kind == ScreenshotTypes::full ? QStringLiteral("full screen")
                                               : screenshotTypeName(kind));
    // One capture at a time, whichever window or shortcut asked for it.
    if (m_mainView->flow().isCapturing() || (m_menuView && m_menuView->flow().isCapturing()))
        return QStringLiteral("a capture is already under way");
    return m_mainView->startCapture(kind);
}

SingleInstance::Handlers QuorvelApp::instanceHandlers()
{
    return {[this] { showMainWindow(); },
            [this](const QStringList& paths, std::function<void(const QStringList&)> done) {
                m_openFlow->openFiles(paths, std::move(done));
            },
            [this](ScreenshotTypes kind) { return capture(kind); },
            [this](ScreenshotTypes kind, bool sound, bool pointer) {
                return record(kind, {sound, pointer});
            }};
}

QString QuorvelApp::record(ScreenshotTypes kind, RecordingFlow::Options options)
{
    return m_recording->start(kind, options, m_mainView->flow());
}

void QuorvelApp::recordFromMenu(ScreenshotTypes kind, OpenFlow& opener)
{
    // The settings of the model the recording is made for.
    const ScreenRecorder& settings = opener.screenRecorder();
    const QString why =
        m_recording->start(kind, {settings.capturesAudio(), settings.showsCursor()}, opener);
    if (why.isEmpty())
        return;
    const QString line = oneLine(
        QStringLiteral("Cannot record %1: %2")
            .arg(kind == ScreenshotTypes::full ? QStringLiteral("the screen")
                                               : screenshotTypeName(kind),
                 why));
    m_services.writeLine(line);
    tellRecordingFailed(line);
}

void QuorvelApp::tellRecordingFailed(const QString& line)
{
    tellAboutRecording(line, true);
}

void QuorvelApp::tellAboutRecording(const QString& line, bool warning)
{
    // Printed already; a person at the tray reads it there.
    if (m_tray && m_tray->isVisible())
        m_tray->showMessage(tr("Recording"), asSentence(line),
                            warning ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information);
}

void QuorvelApp::recordingChanged()
{
    const bool recording = m_recording->isRecording();
    const bool free = !recording && m_recording->state() == RecordingFlow::State::idle;
    for (QAction* action : std::as_const(m_recordActions))
        action->setEnabled(free);
    for (QAction* action : std::as_const(m_quitActions))
        action->setEnabled(!recording);
    // "Stop Recording" heads the menus exactly while there is one to stop.
    const auto place = [recording](QMenu* menu, QAction* stop, QAction* before) {
        if (recording && !menu->actions().contains(stop))
            menu->insertAction(before, stop);
        else if (!recording)
            menu->removeAction(stop);
    };
    place(m_trayMenu.get(), m_trayStopRecording, m_trayMenu->actions().value(0));
    place(m_appMenu, m_stopRecording, m_recordActions.value(0));
    if (m_tray)
        m_tray->setIcon(recording ? recordingIcon() : QApplication::windowIcon());
    if (recording)
        m_recordingClock.start();
    else
        m_recordingClock.stop();
    showRecordingTime();
}

void QuorvelApp::showRecordingTime()
{
    if (!m_tray)
        return;
    m_tray->setToolTip(
        m_recording->isRecording()
            ? tr("Quorvel: recording %1").arg(RecordingFlow::elapsedText(m_recording->elapsedMs()))
            : QStringLiteral("Quorvel"));
}

QIcon QuorvelApp::recordingIcon()
{
    // The app's viewfinder with a red recording dot over its centre.
    QIcon icon;
    for (const int side : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap = viewfinderIcon(side, 1.0);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const qreal diameter = side * 0.5;
        const QRectF dot((side - diameter) / 2, (side - diameter) / 2, diameter, diameter);
        painter.setPen(QPen(Qt::white, std::max(1.0, side / 16.0)));
        painter.setBrush(named_colors::red());
        painter.drawEllipse(dot);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

void QuorvelApp::mainWindowClosed()
{
    if (!m_tray)
        m_services.quit();
}
