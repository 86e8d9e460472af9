#pragma once

#include "result.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <optional>
#include <sys/types.h>

// File names as the system keeps them: bytes, not always UTF-8. Qt reads
// them as UTF-8 and turns the rest into U+FFFD, which names no file. So a
// command-line argument keeps each byte that is not part of valid UTF-8 as a
// lone surrogate U+DC80..U+DCFF (which valid UTF-8 never decodes to), and the
// command line reaches files only through the bytes nativeName() gives back.
// Printed, such a byte shows as a replacement character.
QString argumentText(const char* bytes);

// The arguments after the program's name, file names kept byte for byte
// (see argumentText()).
QStringList commandLineArguments(int argc, char* argv[]);
QByteArray nativeName(const QString& name);

// What a path names, links followed: two names of one file compare equal.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> fileIdentity(const QString& path);

// Up to `bytes` of a file's start, read from `descriptor` without moving its
// offset; fewer when the file is shorter or a read fails.
QByteArray readHead(int descriptor, qsizetype bytes);

// Creates the folder and any missing parents, as mkdir -p does.
Result<void> makeDirectories(const QString& path);

// A picture read by loadImage(): a regular file where it lies; anything else
// (a pipe, a FIFO, a device) as a stream read to its end first, since it has
// no size and cannot seek.
Result<QImage> loadPicture(const QString& path);

// The same for the picture on standard input (`-` on the command line).
Result<QImage> loadStandardInput();

// Call first thing in main(). A standard stream the caller closed (`>&-`)
// is held by /dev/null opened for reading, so nothing opened later is handed
// its number (to receive a picture meant for standard output), and reading
// it finds nothing while writing to it fails, as for the closed stream.
void holdClosedStandardStreams();

// All of `bytes` to standard output, unbuffered, as a pipe's reader expects
// a binary stream; a closed or broken pipe is a failure with the system's
// words.
Result<void> writeStandardOutput(const QByteArray& bytes);

// A name Qt and FFmpeg can open an existing file `path` by, whatever bytes it
// holds: the path itself when it is UTF-8, otherwise the same file reached
// through a descriptor this object holds open (/proc/self/fd/N).
class OpenableName {
public:
    explicit OpenableName(const QString& path);
    ~OpenableName();
    OpenableName(const OpenableName&) = delete;
    OpenableName& operator=(const OpenableName&) = delete;

    // Empty when the path cannot be reached; error() says why.
    const QString& name() const { return m_name; }
    const QString& error() const { return m_error; }

private:
    int m_descriptor = -1;
    QString m_name;
    QString m_error;
};
