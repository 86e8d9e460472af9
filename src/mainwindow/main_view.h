#pragma once

#include "opened_from.h"
#include "screen_recorder.h"
#include "screencapture.h"

#include <QQueue>
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
// It owns one Screencapture (over the given backend) and one ScreenRecorder
// for its whole life; every editor gets its own copy of what they hold.
class MainView : public QWidget {
    Q_OBJECT

public:
    // Opens an editor for a capture, as openEditorWindow does.
    using EditorOpener =
        std::function<void(const Screencapture&, const ScreenRecorder&, bool showVideoPlayer,
                           OpenedFrom, const QString& fileName)>;
    // Starts a program without waiting for it; false when it could not start.
    using Launcher = std::function<bool(const QString& program, const QStringList& arguments)>;

    // The desktop services the view works through. Those given by reference
    // must outlive the view; the rest default to the real ones.
    struct Services {
        CaptureBackend& backend;
        FilePanel& panel;
        // Whether we may capture the screen; checkScreenCaptureAccess.
        std::function<bool()> checkAccess;
        // openEditorWindowLazily.
        EditorOpener openEditor;
        // printLine.
        std::function<void(const QString&)> writeLine;
        // QProcess::startDetached.
        Launcher launch;
        // Which desktop's settings to open; XDG_CURRENT_DESKTOP.
        QString currentDesktop;
    };

    explicit MainView(Services services, QWidget* parent = nullptr);
    ~MainView() override;

    Screencapture& screencapture() { return m_screencapture; }
    ScreenRecorder& screenRecorder() { return m_screenRecorder; }
    // The cover, made the first time a check says no; null until then.
    PermissionOverlay* permissionOverlay() const { return m_overlay; }

    // The answer of the last access check; false until the first.
    bool isPermissionGranted() const { return m_isPermissionGranted; }
    // Asks again, prints "Permission check: <answer>" and covers or uncovers
    // the view. Runs when the view is shown, whenever the application
    // becomes active and on the overlay's "Refresh".
    void checkPermission();

    // The four ways in, as their buttons run them.
    void captureWindow() { startCapture(ScreenshotTypes::window); }
    void captureArea() { startCapture(ScreenshotTypes::area); }
    // Sends our active window back, then captures `kind` and opens an editor
    // on the result, as the buttons do; also how a shortcut's capture runs.
    void startCapture(ScreenshotTypes kind);
    void beautifyImage();
    void beautifyRecording();
    // The clipboard's picture in an editor, as a capture's; with none there,
    // only a line saying so.
    void pastePicture();
    // Opens the desktop's privacy settings, or says where to go when we
    // don't know them.
    void openSystemPreferences();

    // The delay between sending our window back and capturing, so the
    // window manager has restacked before the screen is taken. With none of
    // ours in front there is nothing to wait for.
    static constexpr int kCaptureDelayMs = 100;

protected:
    void showEvent(QShowEvent* event) override;
    // A drop is taken only when every item is a local file of a kind the
    // panels offer; anything else is refused before it is let go.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void takeNextScreenshot();
    void screenshotFinished();
    void setPermissionGranted(bool granted);
    PermissionOverlay* overlay();
    // Whether `load` changed the picture (a failed load leaves it as it was).
    bool imageChangedBy(const std::function<void()>& load);
    // The file flows after their panel, shared with drops.
    bool openImageFile(const QString& path);
    void openMovieFile(const QString& path);

    Services m_services;
    Screencapture m_screencapture;
    ScreenRecorder m_screenRecorder;
    bool m_isPermissionGranted = false;
    // Captures asked for while another was still being taken; each gets its
    // own turn and its own editor.
    QQueue<ScreenshotTypes> m_waitingCaptures;
    int m_capturesUnderway = 0;
    QWidget* m_content;
    PermissionOverlay* m_overlay = nullptr;
};
