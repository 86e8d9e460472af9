#pragma once

#include "editor_request.h"

#include <QString>
#include <QStringList>

// The editor windows, the movie pipeline and the commands that need them are
// a library of their own, libquorvel-editor.so, loaded the first time one of
// them is needed. With them come FFmpeg and Qt Multimedia, well over a
// hundred libraries whose loading would otherwise stand between starting the
// app and its main window on screen.
//
// The program and the library talk through plain values only; `version`
// changes whenever this table or a value in it does, so a library left over
// from another build is refused rather than called.
inline constexpr int kEditorModuleVersion = 3;

struct EditorModule {
    int version; // first, whatever else changes
    // Opens an editor window on a copy of `request`.
    void (*openEditor)(const EditorRequest& request);
    // Empty when the file is a movie with a picture that decodes, else why
    // not. Reads the file: safe on any thread.
    QString (*movieFailure)(const QString& path);
    // Deletes the editor windows still open, before the app goes.
    void (*closeEditorWindows)();
    // `quorvel open FILE...` and `quorvel video ...`, with the arguments after
    // the command's name. `open` makes its own QApplication; `video` runs
    // within the caller's QCoreApplication.
    int (*runOpenCommand)(int& argc, char** argv, const QStringList& arguments);
    int (*runVideoCommand)(const QStringList& arguments);
    // `quorvel record ...`, which makes its own application object.
    int (*runRecordCommand)(int& argc, char** argv, const QStringList& arguments);
};

// The name of the library's one exported function, which returns its
// EditorModule (and quiets or readies its libraries the first time).
inline constexpr char kEditorModuleEntry[] = "quorvelEditorModule";

// Loads the library the first time it is asked for and keeps it for the
// process's life. Null, with the reason in `error`, when it cannot be loaded
// or is of another version. Safe on any thread.
const EditorModule* loadEditorModule(QString* error = nullptr);

// The library if it has been loaded, else null; never loads it.
const EditorModule* loadedEditorModule();

// Opens an editor window through the library. When the library cannot be
// loaded, prints one line saying why and opens nothing.
void openEditorLazily(const EditorRequest& request);

// movieFailure through the library; the reason when it cannot be loaded.
QString movieFailureLazily(const QString& path);
