#pragma once

#include <QString>

// Empty when the file at `path` is a movie container FFmpeg recognises by its
// content and its first picture decodes; otherwise why not, in a few words.
// Reads the file: call it off the GUI thread. Safe on several threads.
QString movieFailure(const QString& path);
