#pragma once

#include <QStringList>
#include <span>

struct EditorModule;

// One `quorvel COMMAND`, as runCommandLine() runs it.
struct Command {
    const char* name;
    const char* summary; // the line in --help; null for one nobody types
    // Makes its own QApplication, once its command line is good; the others
    // run in a QCoreApplication that runCommandLine() makes.
    bool needsDisplay;
    // Runs in the editor's library (FFmpeg, the editor windows), which is
    // loaded before `run` and handed to it; the others never load it.
    bool needsEditorLibrary;
    // `arguments` are those after the command's name.
    int (*run)(int& argc, char** argv, const QStringList& arguments, const EditorModule* editor);
};

// Every command, in the order --help lists them.
std::span<const Command> commands();

// `quorvel [COMMAND ...]` from main()'s arguments: the app itself with no
// command (or the launcher's `quorvel open` with no files), --help and
// --version, or the command named. No QCoreApplication may exist yet.
int runCommandLine(int& argc, char** argv);
