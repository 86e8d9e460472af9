#pragma once

#include <QStringList>
#include <optional>

// `quorvel record area|window|full [--audio] [--no-cursor]` without -o: a
// recording for the app, which opens it in an editor when it is saved.
//
// The running app takes it over the session bus and records with its own
// recorder child; when no app runs, this process becomes the app, in the
// background (the tray item, no main window), and records. A start while a
// recording is under way is refused with one line and exitFailure. Without a
// tray, the app this command became ends once the recording ends without an
// editor to show (cancelled or failed), or with the last editor window.
//
// `record stop` is answered here too: it only asks over the bus, so the
// editor library is not loaded for it. Whatever else `record` is asked (-o
// FILE, --help, a wrong line) is the recorder's own command:
// wantsRecordRoute() says which is which, from the arguments after "record".
bool wantsRecordRoute(const QStringList& arguments);

// Makes the QApplication itself: no QCoreApplication may exist yet. `argc`
// and `argv` are main()'s; `arguments` are those after "record".
int runRecordRoute(int& argc, char** argv, const QStringList& arguments);
