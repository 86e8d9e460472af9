#pragma once

#include "screenshot_types.h"

#include <QList>
#include <QString>
#include <QWidget>
#include <functional>

class CaptureBackend;
class FilePanel;
class MacUtilityButton;
class ScreenRecorder;
class Screencapture;

// The tray panel's content: four ways to start ("Capture Window",
// "Capture Area", "Beautify Image", "Beautify Recording"), a separator and
// "Quit", 240 points wide. Whatever an entry brings in opens in a new editor
// window. The panel owns one Screencapture and one ScreenRecorder for its whole
// life, so they keep the last picture and movie between openings.
//
// Every time it is shown it asks whether it may see the screen; while it may
// not, a translucent cover with a notice lies over all entries.
class MenuView : public QWidget {
    Q_OBJECT

public:
    // Opens an editor for the panel's models; `showVideoPlayer` for a movie,
    // `fileName` when the capture came from a file.
    using EditorOpener =
        std::function<void(const Screencapture& capture, const ScreenRecorder& recorder,
                           bool showVideoPlayer, const QString& fileName)>;

    // The desktop services the panel uses beyond the capture backend and the
    // file panels. Each left empty gets the real one: checkScreenCaptureAccess(),
    // openEditorWindowLazily(..., OpenedFrom::trayPanel) and QApplication::quit().
    struct Services {
        std::function<bool()> checkAccess;
        EditorOpener openEditor;
        std::function<void()> quit;
    };

    // `backend` and `filePanel` must outlive the panel.
    MenuView(CaptureBackend& backend, FilePanel& filePanel, Services services = {},
             QWidget* parent = nullptr);
    ~MenuView() override;

    Screencapture& screencapture() const { return *m_screencapture; }
    ScreenRecorder& screenRecorder() const { return *m_screenRecorder; }
    // Set once the user has chosen a movie, and never cleared.
    bool showVideoPlayer() const { return m_showVideoPlayer; }
    // The answer of the last access check; false until the first showing.
    bool isPermissionGranted() const { return m_permissionGranted; }

    // The entries, top to bottom, "Quit" last.
    QList<MacUtilityButton*> entries() const;
    // The cover over the entries; visible exactly while access is missing.
    QWidget* permissionCover() const;

    // The notice on the cover.
    static QString permissionNotice();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void buildEntries();
    void refreshAccess();
    void captureScreenshot(ScreenshotTypes kind);
    void chooseImage();
    void chooseRecording();
    void openEditor(bool showVideoPlayer, const QString& fileName = {});
    void updateQuit();

    FilePanel& m_filePanel;
    Services m_services;
    Screencapture* m_screencapture;
    ScreenRecorder* m_screenRecorder;
    bool m_showVideoPlayer = false;
    bool m_permissionGranted = false;

    QWidget* m_stack = nullptr;
    QWidget* m_separator = nullptr;
    QList<MacUtilityButton*> m_entries;
    MacUtilityButton* m_quit = nullptr;
    QWidget* m_cover = nullptr;
};
