#pragma once

#include "result.h"

#include <QByteArray>
#include <QImage>
#include <QString>

// The picture in PNG bytes meant for the clipboard, within the picture
// loader's limits, or why not ("not a PNG picture", "picture too large: ...",
// "the file is cut short"). Safe on any thread.
Result<QImage> decodeClipboardPng(const QByteArray& png);

// Sets the clipboard to a PNG: its own bytes for "image/png", so nothing is
// lost or re-encoded, and its decoded `picture` for the other image types a
// program may ask for. Needs a QGuiApplication.
void setClipboardPicture(const QImage& picture, const QByteArray& png);

// Both at once; empty when done, else why not.
QString putPictureOnClipboard(const QByteArray& png);

// The background keeper started by handOffToClipboard(): reads a PNG from
// standard input, puts it on the clipboard, says "ok" on standard output (or
// why not) and lets go of both, then runs until another program owns the
// clipboard. `argc` and `argv` are main()'s; no QCoreApplication may exist.
int runClipboardHolder(int& argc, char** argv);
