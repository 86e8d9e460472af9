#include "editor_window_opener.h"

#include "editor_window.h"
#include "null_capture_backend.h"
#include "screen_recorder.h"
#include "screencapture.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

namespace {

// Every open editor window; one leaves the list as it is destroyed.
QList<EditorWindow*>& openWindows()
{
    static QList<EditorWindow*> windows;
    return windows;
}

void centreOnPointerScreen(EditorWindow& window)
{
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    window.fitTo(screen);
    const QRect available = screen->availableGeometry();
    // The frame is known once the window is shown (on X11, once the window
    // manager says so); until then the window's own size stands in for it.
    QRect frame(QPoint(), window.frameGeometry().size());
    frame.moveCenter(available.center());
    // A screen smaller than the window gets its top left corner, so the
    // title bar stays reachable.
    window.move(std::max(frame.left(), available.left()), std::max(frame.top(), available.top()));
}

} // namespace

int minimumEditorHeight(OpenedFrom from)
{
    return from == OpenedFrom::trayPanel ? 800 : 400;
}

EditorWindow* openEditorWindow(const Screencapture& capture, const ScreenRecorder& recorder,
                               bool showVideoPlayer, OpenedFrom from, const QString& fileName)
{
    auto* window = new EditorWindow(capture, recorder, showVideoPlayer, minimumEditorHeight(from));
    const QString name =
        fileName.isEmpty() && showVideoPlayer ? recorder.lastRecordingURL().fileName() : fileName;
    window->setWindowTitle(EditorWindow::titleFor(name, showVideoPlayer));
    centreOnPointerScreen(*window);

    openWindows().append(window);
    QObject::connect(window, &QObject::destroyed, [window] { openWindows().removeOne(window); });

    window->show();
    centreOnPointerScreen(*window);
    window->raise();
    window->activateWindow();
    return window;
}

EditorWindow* openEditorWindow(const EditorRequest& request)
{
    NullCaptureBackend backend;
    Screencapture capture(backend);
    capture.setImage(request.picture);
    ScreenRecorder recorder;
    recorder.setLastRecordingURL(request.movie);
    return openEditorWindow(capture, recorder, request.showVideoPlayer, request.from,
                            request.fileName);
}

const QList<EditorWindow*>& editorWindows()
{
    return openWindows();
}
