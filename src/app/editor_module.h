#pragma once

#include "opened_from.h"

#include <QString>

class EditorWindow;
class Screencapture;
class ScreenRecorder;

// The editor windows, the movie pipeline and the command line's commands are
// a library of their own, libquorvel-editor.so, loaded the first time one of
// them is needed. With them come FFmpeg and Qt Multimedia, well over a
// hundred libraries whose loading would otherwise stand between starting the
// app and its main window on screen.
struct EditorModule {
    // openEditorWindow()
    EditorWindow* (*openEditorWindow)(const Screencapture& capture, const ScreenRecorder& recorder,
                                      bool showVideoPlayer, OpenedFrom from,
                                      const QString& fileName);
    // Opens a picture or movie file, told apart by its content, in an editor
    // window; empty when it opened, else why not.
    QString (*openFile)(const QString& path);
    // Deletes the editor windows still open, before the models they came from go.
    void (*closeEditorWindows)();
    // Runs `quorvel COMMAND ...` from main()'s arguments: `open` with its
    // windows, the others with no display. No QCoreApplication may exist yet.
    int (*runCommand)(int& argc, char** argv);
};

// The name of the library's one exported function, which returns its
// EditorModule (and quiets or readies its libraries the first time).
inline constexpr char kEditorModuleEntry[] = "quorvelEditorModule";

// Loads the library the first time it is asked for and keeps it for the
// process's life. Null, with the reason in `error`, when it cannot be loaded.
const EditorModule* loadEditorModule(QString* error = nullptr);

// The library if it has been loaded, else null; never loads it.
const EditorModule* loadedEditorModule();

// Opens an editor window through the library, as openEditorWindow does. When
// the library cannot be loaded, prints one line saying why and opens nothing.
void openEditorWindowLazily(const Screencapture& capture, const ScreenRecorder& recorder,
                            bool showVideoPlayer, OpenedFrom from, const QString& fileName);

// openFile through the library; the reason when the library cannot be loaded.
QString openFileLazily(const QString& path);
