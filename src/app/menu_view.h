#pragma once

#include "open_flow.h"

#include <QList>
#include <QString>
#include <QWidget>
#include <functional>

class CaptureBackend;
class FilePanel;
class MacUtilityButton;

// The tray panel's content: four ways to start ("Capture Window",
// "Capture Area", "Beautify Image", "Beautify Recording"), a separator and
// "Quit", 240 points wide. Whatever an entry brings in opens in a new editor
// window, through the panel's own OpenFlow, whose Screencapture and
// ScreenRecorder live as long as the panel, so they keep the last picture and
// movie between openings.
//
// Every time it is shown it asks again, without waiting, whether it may see
// the screen; while it may not, a translucent cover with a notice lies over
// all entries.
class MenuView : public QWidget {
    Q_OBJECT

public:
    // The desktop services the panel uses beyond the capture backend and the
    // file panels. `openEditor` and `checkMovie` are OpenFlow's; the others
    // left empty get the real ones: checkScreenCaptureAccessAsync() and
    // QApplication::quit().
    struct Services {
        std::function<void(const EditorRequest&)> openEditor;
        std::function<QString(const QString& path)> checkMovie;
        std::function<void(QObject*, std::function<void(bool)>)> checkAccess;
        std::function<void()> quit;
    };

    // `backend` and `filePanel` must outlive the panel.
    MenuView(CaptureBackend& backend, FilePanel& filePanel, Services services = {},
             QWidget* parent = nullptr);
    ~MenuView() override;

    OpenFlow& flow() { return m_flow; }
    Screencapture& screencapture() { return m_flow.screencapture(); }
    ScreenRecorder& screenRecorder() { return m_flow.screenRecorder(); }
    // Set once the user has chosen a movie, and never cleared.
    bool showVideoPlayer() const { return m_showVideoPlayer; }
    // The answer of the last access check; false until the first showing.
    bool isPermissionGranted() const { return m_flow.isPermissionGranted(); }

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
    void showAccess(bool granted);
    void captureScreenshot(ScreenshotTypes kind);
    void updateQuit();

    Services m_services;
    OpenFlow m_flow;
    bool m_showVideoPlayer = false;

    QWidget* m_stack = nullptr;
    QWidget* m_separator = nullptr;
    QList<MacUtilityButton*> m_entries;
    MacUtilityButton* m_quit = nullptr;
    QWidget* m_cover = nullptr;
};
