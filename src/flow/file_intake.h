#pragma once

#include "result.h"

#include <QImage>
#include <QString>

// A file someone asked us to open, as it was read: a decoded picture, or a
// movie to be checked by the movie pipeline.
struct FileIntake {
    enum class Kind { picture, movie };
    Kind kind = Kind::picture;
    QImage picture; // decoded, for a picture
};

// Reads `path` for an editor, telling a picture from a movie by content,
// never by name. Only a regular file is read: a FIFO or a device would keep
// the reader waiting or feed it without end, so it is refused before a byte
// is read, and opening never waits for a writer. A picture is decoded whole
// within the loader's own limits; of anything else only the first bytes are
// looked at, for a movie container's signature.
//
// Blocks on the disk: call it off the GUI thread. Safe on several threads.
Result<FileIntake> readForEditor(const QString& path);
