#pragma once

#include <QStringList>

// `quorvel video [options] INPUT -o OUTPUT.mp4`: a movie placed on a
// background and written as MPEG-4. Arguments start after the word "video".
int runVideoCommand(const QStringList& arguments);
