#pragma once

#include "capture_backend.h"
#include "editor_request.h"
#include "file_panel.h"
#include "recording_flow.h"
#include "single_instance.h"
#include "updater.h"

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>

class CheckForUpdatesViewModel;
class MainView;
class OpenFlow;
class MenuView;
class QAction;
class QMainWindow;
class QMenu;
class QSystemTrayIcon;
class QWidget;

// The application: the update check, the main window with its "Quorvel"
// menu, and the tray item whose click shows the capture panel.
//
// The updater starts in the constructor, so its schedule runs before any
// window shows; show() then puts up the main window, and the tray item once
// the window has been drawn. With
// a tray, closing the main window leaves the process running in the tray
// ("Show Quorvel" brings the window back); without one, closing it quits.
//
// Screen recordings start from "Record Area…" and "Record Screen…" in both
// menus (and over the bus); one RecordingFlow serves them all. While one is
// under way the tray icon turns to the recording icon with the time in its
// tooltip, "Stop Recording" heads the menus, the Record entries are off, and
// so is every Quit: quitting would end the recorder.
class QuorvelApp : public QObject {
    Q_OBJECT

public:
    struct Services {
        // Each default is the real desktop service.
        std::unique_ptr<CaptureBackend> backend;       // loadCaptureBackend()
        std::unique_ptr<FilePanel> filePanel;          // Qt's file dialogs
        std::unique_ptr<Updater> updater;              // the installed feed settings
        std::function<bool()> trayAvailable;           // QSystemTrayIcon::isSystemTrayAvailable
        std::function<void(QObject*, std::function<void(bool)>)>
            checkAccess;                               // checkScreenCaptureAccessAsync
        std::function<void(const EditorRequest&)> openEditor; // openEditorLazily
        std::function<QString(const QString&)> checkMovie;    // movieFailureLazily
        std::function<void(const QString&)> writeLine; // printLine
        std::function<void()> quit;                    // QApplication::quit
        RecordingFlow::Services recording;             // this program, ~/Videos
    };

    explicit QuorvelApp(Services services = {}, QObject* parent = nullptr);
    ~QuorvelApp() override;

    void show();
    // Starts without the main window, as a shortcut's capture does: the tray
    // item alone, or, with no tray, nothing until a window opens, and the app
    // ends when its last window closes.
    void showInBackground();

    Updater& updater() const { return *m_updater; }
    CaptureBackend& captureBackend() const { return *m_services.backend; }
    QMainWindow* mainWindow() const { return m_mainWindow.get(); }
    MainView* mainView() const { return m_mainView; }
    QMenu* applicationMenu() const { return m_appMenu; }
    QAction* checkForUpdatesAction() const { return m_checkForUpdates; }
    QSystemTrayIcon* trayIcon() const { return m_tray; } // null without a tray
    QMenu* trayMenu() const { return m_trayMenu.get(); }
    // The panel the tray icon shows, and its content; made on first use.
    QWidget* trayPanel();
    MenuView* menuView();

    // Shows the panel next to the tray icon, or under the pointer when the
    // tray does not say where its icon is.
    void showTrayPanel();
    void showMainWindow();
    // Modeless: the app goes on answering (the bus, the tray) while it shows.
    void showAbout();
    QMessageBox* aboutBox() const { return m_about; }

    // What the one-instance service does for the bus methods.
    SingleInstance::Handlers instanceHandlers();
    // Starts a capture as the main window's buttons do; empty when it
    // started, else why not.
    QString capture(ScreenshotTypes kind);
    // Starts recording as the menus do, the finished file opening as the main
    // window's movies do; empty when it started, else why not.
    QString record(ScreenshotTypes kind, RecordingFlow::Options options);

    RecordingFlow& recordingFlow() const { return *m_recording; }
    QAction* stopRecordingAction() const { return m_stopRecording; }
    QAction* trayStopRecordingAction() const { return m_trayStopRecording; }
    // The tray icon's look while recording.
    static QIcon recordingIcon();

private:
    void buildMainWindow();
    void buildTray();
    void buildTrayPanel();
    void showTrayIcon();
    // How our windows make way for a capture; see OpenFlow::setStepAside.
    std::function<std::function<void()>()> stepAside();

    // How long the tray icon waits at most for the main window's first frame.
    static constexpr int kTrayIconLatestMs = 1000;
    void mainWindowClosed();
    void recordFromMenu(ScreenshotTypes kind, OpenFlow& opener);
    void recordingChanged();
    void showRecordingTime();
    void tellRecordingFailed(const QString& line);
    // A printed line about a recording, shown at the tray when there is one.
    void tellAboutRecording(const QString& line, bool warning);

    Services m_services;
    std::unique_ptr<Updater> m_updater;
    CheckForUpdatesViewModel* m_checkModel = nullptr;
    std::unique_ptr<QMainWindow> m_mainWindow;
    MainView* m_mainView = nullptr;
    QMenu* m_appMenu = nullptr;
    QAction* m_checkForUpdates = nullptr;
    std::unique_ptr<QWidget> m_panel;
    MenuView* m_menuView = nullptr;
    // Files others ask us to open; its editors count as the main window's.
    std::unique_ptr<OpenFlow> m_openFlow;
    QPointer<QMessageBox> m_about;
    std::unique_ptr<QMenu> m_trayMenu;
    QSystemTrayIcon* m_tray = nullptr;

    std::unique_ptr<RecordingFlow> m_recording;
    // Off while a recording is made or being started.
    QList<QAction*> m_recordActions;
    // Off while a recording is made.
    QList<QAction*> m_quitActions;
    QAction* m_stopRecording = nullptr;
    QAction* m_trayStopRecording = nullptr;
    // Brings the tooltip's recording time up to date.
    QTimer m_recordingClock;
};
