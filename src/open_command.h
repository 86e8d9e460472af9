#pragma once

#include <QStringList>

// `quorvel open FILE...`: shows each file, a picture or a movie told apart by
// its content, in an editor window of its own, and returns once the last
// window is closed. A file that is neither gets one line on standard error
// and no window. Returns exitFailure when some file could not be opened (at
// once when none could), exitUsage for a wrong command line.
//
// Makes the QApplication itself, once the command line is good and there is
// a display to show windows on: no QCoreApplication may exist yet. `argc` and
// `argv` are main()'s; `arguments` are those after "open".
int runOpenCommand(int& argc, char** argv, const QStringList& arguments);
