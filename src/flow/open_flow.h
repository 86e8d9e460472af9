#pragma once

#include "editor_request.h"
#include "screen_recorder.h"
#include "screencapture.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>

class CaptureBackend;
class FilePanel;

// How every window of the app starts an editor: a capture, a chosen picture
// or movie, a drop, the clipboard's picture, or files someone asked us to
// open. The main window, the tray panel and the one-instance service each
// hold one and differ only in where their editors say they came from.
//
// It owns one Screencapture and one ScreenRecorder for its whole life; every
// editor gets a copy of what they hold (an EditorRequest), never the models.
// Nothing here waits: files are read and decoded on the thread pool, the
// access check is asked without blocking, and the answers come back through
// the event loop.
//
// The rules, the same wherever the editor is started from:
//  - a capture opens an editor when there is a picture to show; after a
//    cancelled capture that is the clipboard's picture or the last one, and
//    with neither nothing opens;
//  - one capture at a time: another asked for meanwhile is refused;
//  - a chosen picture that cannot be read prints its line, then the editor
//    opens with the previous picture (none: nothing opens);
//  - dropped or named files open one editor each; one that cannot be read
//    opens nothing, and the answer says why;
//  - pictures and movies are told apart by their content.
class OpenFlow : public QObject {
    Q_OBJECT

public:
    struct Services {
        // Both must outlive the flow.
        CaptureBackend& backend;
        FilePanel& panel;
        // Opens an editor window; openEditorWindow() or the editor library's.
        std::function<void(const EditorRequest&)> openEditor;
        // Empty when the movie at `path` has a picture that decodes, else
        // why not. Runs on a pool thread.
        std::function<QString(const QString& path)> checkMovie;
        // Each default is the real service: printLine, and the screenshot
        // portal's answer (checkScreenCaptureAccessAsync).
        std::function<void(const QString&)> writeLine = {};
        std::function<void(QObject* context, std::function<void(bool)> answer)> checkAccess = {};
    };

    // Why dropped files opened, or not: one entry for each, empty when it did.
    using Answer = std::function<void(const QStringList& failures)>;

    OpenFlow(Services services, OpenedFrom from, QObject* parent = nullptr);
    ~OpenFlow() override;

    Screencapture& screencapture() { return m_capture; }
    ScreenRecorder& screenRecorder() { return m_recorder; }

    // The last answer of the access check; false until the first comes.
    bool isPermissionGranted() const { return m_granted; }
    // Asks again without waiting; permissionChanged() brings the answer and
    // "Permission check: <answer>" is printed. Asks made while one is on its
    // way are answered by that one.
    void refreshPermission();

    // Gets our own windows out of the picture, then captures `kind` and opens
    // an editor on the result. Empty when it started, else why not. Out of
    // the picture is the step-aside's way when it takes it, else our focused
    // window sent back; either way the window manager has a moment to redraw
    // before the screen is taken.
    QString startCapture(ScreenshotTypes kind);
    // Moves our windows out of the way of a capture and returns how to bring
    // them back, which runs as soon as the backend has answered (whatever
    // the answer); returns nothing to leave it to lowering the focused window.
    using StepAside = std::function<std::function<void()>()>;
    void setStepAside(StepAside stepAside) { m_stepAside = std::move(stepAside); }
    bool isCapturing() const { return m_capturePending || m_capture.isTakingScreenshot(); }

    // The "Beautify Image" and "Beautify Recording" ways in: a file panel,
    // then an editor.
    void chooseImage();
    void chooseMovie();
    // The clipboard's picture in an editor; a line when there is none.
    void pastePicture();
    // Opens each file in an editor of its own; `done` gets why for each that
    // did not open. At most kMostFilesAtOnce open from one call.
    void openFiles(const QStringList& paths, Answer done = {});
    // Opens the movie at `path` as "Beautify Recording" does once its file is
    // chosen: lastRecordingURL set, then an editor on it. A finished screen
    // recording comes in this way too.
    void openMovie(const QString& path);

    // The delay between sending our window back and capturing.
    static constexpr int kCaptureDelayMs = 100;
    // More files than this from one drop or one `open` are refused, so a
    // mistaken glob cannot open thousands of windows.
    static constexpr int kMostFilesAtOnce = 20;

Q_SIGNALS:
    void permissionChanged(bool granted);

private:
    void takeScreenshot(ScreenshotTypes kind);
    void screenshotFinished();
    void bringBack();
    void openEditor(EditorRequest request);
    void replacePicture(const QImage& picture);
    void openChosenImage(const QString& path);
    void openPicture(const QImage& picture, const QString& path);

    Services m_services;
    OpenedFrom m_from;
    Screencapture m_capture;
    ScreenRecorder m_recorder;
    bool m_granted = false;
    bool m_checking = false;
    // From the request to the delayed start of the capture.
    bool m_capturePending = false;
    // Whether a screenshot under way was asked for by this flow.
    bool m_ownScreenshot = false;
    StepAside m_stepAside;
    // Undoes the step-aside of the capture under way.
    std::function<void()> m_bringBack;
};
