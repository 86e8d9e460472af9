#pragma once

#include "open_flow.h"

#include <QWidget>
#include <functional>

class CaptureBackend;
class FilePanel;
class PermissionOverlay;
class ProminentButtonStyle;

// The content of the main window: the icon, the name and what Quorvel does,
// and its four ways in (capture a window, capture an area, beautify an image
// file, beautify a movie file), each ending in a new editor window. While we
// may not capture the screen a PermissionOverlay covers it all.
//
// Two more ways in, with no control of their own: Ctrl+V opens the
// clipboard's picture, and picture and movie files dropped on the window
// open as "Beautify Image" and "Beautify Recording" open the file chosen.
//
// Every way in goes through its OpenFlow, which owns the view's Screencapture
// (over the given backend) and ScreenRecorder for its whole life; every
// editor gets its own copy of what they hold.
class MainView : public QWidget {
    Q_OBJECT

public:
    // Starts a program without waiting for it; false when it could not start.
    using Launcher = std::function<bool(const QString& program, const QStringList& arguments)>;

    // The desktop services the view works through. Those given by reference
    // must outlive the view; the rest default to the real ones.
    struct Services {
        CaptureBackend& backend;
        FilePanel& panel;
        // How an editor opens, and how a movie is checked: OpenFlow's.
        std::function<void(const EditorRequest&)> openEditor;
        std::function<QString(const QString& path)> checkMovie;
        // Whether we may capture the screen; checkScreenCaptureAccessAsync.
        std::function<void(QObject*, std::function<void(bool)>)> checkAccess;
        // printLine.
        std::function<void(const QString&)> writeLine;
        // QProcess::startDetached.
        Launcher launch;
        // Which desktop's settings to open; XDG_CURRENT_DESKTOP.
        QString currentDesktop;
    };

    explicit MainView(Services services, QWidget* parent = nullptr);
    ~MainView() override;

    OpenFlow& flow() { return m_flow; }
    Screencapture& screencapture() { return m_flow.screencapture(); }
    ScreenRecorder& screenRecorder() { return m_flow.screenRecorder(); }
    // The cover, made the first time a check says no; null until then.
    PermissionOverlay* permissionOverlay() const { return m_overlay; }
    // What draws the view's background, and so is painted whenever the view is:
    // the view itself never is, being covered by it. Watch it for the first frame.
    QWidget* surface() const { return m_surface; }

    // The answer of the last access check; false until the first.
    bool isPermissionGranted() const { return m_flow.isPermissionGranted(); }
    // Asks again without waiting; when the answer comes, "Permission check:
    // <answer>" is printed and the view covered or uncovered. Runs when the
    // view is shown, whenever the application becomes active and on the
    // overlay's "Refresh".
    void checkPermission();

    // The four ways in, as their buttons run them.
    void captureWindow() { startCapture(ScreenshotTypes::window); }
    void captureArea() { startCapture(ScreenshotTypes::area); }
    // Sends our active window back, then captures `kind` and opens an editor
    // on the result, as the buttons do; also how a shortcut's capture runs.
    // Empty when it started, else why not (one is under way already).
    QString startCapture(ScreenshotTypes kind);
    void beautifyImage();
    void beautifyRecording();
    // The clipboard's picture in an editor, as a capture's; with none there,
    // only a line saying so.
    void pastePicture();
    // Opens the desktop's privacy settings, or says where to go when we
    // don't know them.
    void openSystemPreferences();

protected:
    void showEvent(QShowEvent* event) override;
    // A drop is taken only when every item is a local file of a kind the
    // panels offer; anything else is refused before it is let go.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void setPermissionGranted(bool granted);
    PermissionOverlay* overlay();

    Services m_services;
    OpenFlow m_flow;
    QWidget* m_content;
    QWidget* m_surface;
    PermissionOverlay* m_overlay = nullptr;
};
