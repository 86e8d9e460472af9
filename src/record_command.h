#pragma once

#include <QStringList>

// `quorvel record area|window|full [--audio] [--no-cursor] -o FILE.mp4` and
// `quorvel record stop`. Arguments start after the word "record"; it makes
// its own application object.
int runRecordCommand(int& argc, char** argv, const QStringList& arguments);
