#pragma once

#include "editor_request.h"
#include "opened_from.h"

#include <QList>
#include <QString>

class EditorWindow;
class Screencapture;
class ScreenRecorder;

int minimumEditorHeight(OpenedFrom from);

// Opens a new editor window for a capture: the picture of `capture`, or, when
// `showVideoPlayer` is set, the movie at `recorder.lastRecordingURL`. The
// window gets a copy of just that into models of its own; the given models
// are left as they are, and nothing they do later reaches the window. Every
// call opens another window, 1200 x 800 (less on a screen with less room),
// centred on the screen under the pointer, raised and active. It is titled
// after `fileName` when the capture came from a file (a movie's own name is
// used when none is given).
//
// The window deletes itself, and everything it holds, when the user closes it.
// Returns it for the caller that wants to follow it; it is never null.
EditorWindow* openEditorWindow(const Screencapture& capture, const ScreenRecorder& recorder,
                               bool showVideoPlayer, OpenedFrom from, const QString& fileName = {});

// The same for a plain value, as the app's windows and the one-instance
// service ask for an editor.
EditorWindow* openEditorWindow(const EditorRequest& request);

// The editor windows open in this process, oldest first.
const QList<EditorWindow*>& editorWindows();
