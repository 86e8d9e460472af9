#pragma once

#include <QStringList>

// `quorvel capture area|window|full`, the command a keyboard shortcut runs.
//
// Without -o the running app takes the capture with its own flow (our windows
// sent back, the capture, an editor on it); when no app runs, this process
// becomes the app, in the background (the tray item, no main window), and
// takes it; Ctrl+C or SIGTERM end that app, closing a capture still on the
// screen first, with exitFailure. With -o FILE the capture is composed straight to a PNG, printed
// as `quorvel compose` prints it, with no editor and no app; --copy also puts
// that PNG on the clipboard. Through the desktop portal it first prints what
// the portal will show ("Capturing area: a drag on the screen ..."). A
// cancelled capture (Escape, the portal's Cancel, or Ctrl+C, SIGTERM or
// SIGHUP on this command, which close the portal's request) writes nothing,
// prints one line and exits with exitFailure.
//
// Makes the QApplication itself: no QCoreApplication may exist yet. `argc`
// and `argv` are main()'s; `arguments` are those after "capture".
int runCaptureCommand(int& argc, char** argv, const QStringList& arguments);
