#pragma once

#include "opened_from.h"

#include <QImage>
#include <QString>
#include <QUrl>

// What an editor window opens on, as a plain value: the window copies it into
// models of its own, so nothing the caller does later reaches the window, and
// the editor's library never sees the caller's models.
struct EditorRequest {
    QImage picture;               // the picture shown, when not a movie
    QUrl movie;                   // the movie's file, when showVideoPlayer
    bool showVideoPlayer = false; // a movie editor rather than a picture's
    QString fileName;             // the title, when it came from a file
    OpenedFrom from = OpenedFrom::mainWindow;
};
