#pragma once

#include <QByteArray>
#include <QString>

// Sets the clipboard to a PNG: its own bytes for "image/png", so nothing is
// lost or re-encoded, and the decoded picture for the other image types a
// program may ask for. Empty when done, else why not (the bytes are not a
// PNG picture). Needs a QGuiApplication.
QString putPictureOnClipboard(const QByteArray& png);

// The background keeper started by handOffToClipboard(): reads a PNG from
// standard input, puts it on the clipboard, says "ok" on standard output (or
// why not) and lets go of both, then runs until another program owns the
// clipboard. `argc` and `argv` are main()'s; no QCoreApplication may exist.
int runClipboardHolder(int& argc, char** argv);
