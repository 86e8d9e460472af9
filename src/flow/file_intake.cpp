#include "file_intake.h"

#include "image_loader.h"
#include "native_file.h"
#include "picture_format.h"

#include <QByteArrayView>
#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Enough of a file's start for any signature below.
constexpr qsizetype kHeadBytes = 512;

// The containers a screen recording or camera movie comes in; the movie
// pipeline checks that one really holds a picture before an editor opens.
bool looksLikeMovie(QByteArrayView head)
{
    auto at = [&](qsizetype offset, QByteArrayView bytes) {
        return head.size() >= offset + bytes.size() && head.sliced(offset, bytes.size()) == bytes;
    };
    // ISO base media (MP4, M4V) and QuickTime: a box type after its size.
    for (const char* box : {"ftyp", "moov", "mdat", "free", "skip", "wide", "pnot"})
        if (at(4, box))
            return true;
    return at(0, "\x1a\x45\xdf\xa3")                  // Matroska, WebM
           || (at(0, "RIFF") && at(8, "AVI "))         // AVI
           || at(0, QByteArrayView("\0\0\x01\xba", 4)) // MPEG program stream
           || (head.size() > 188 && head[0] == 0x47 && head[188] == 0x47) // MPEG transport
           || at(0, "OggS") || at(0, "FLV");
}

} // namespace

Result<FileIntake> readForEditor(const QString& path)
{
    // Non-blocking, so a FIFO with no writer cannot hold us at open().
    const int descriptor =
        ::open(nativeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (descriptor < 0)
        return Result<FileIntake>::systemFailure(errno);
    struct stat status {};
    if (::fstat(descriptor, &status) != 0) {
        const int error = errno;
        ::close(descriptor);
        return Result<FileIntake>::systemFailure(error);
    }
    if (!S_ISREG(status.st_mode)) {
        ::close(descriptor);
        if (S_ISDIR(status.st_mode))
            return Result<FileIntake>::systemFailure(EISDIR);
        return Result<FileIntake>::failure(
            QStringLiteral("not a regular file (a pipe or a device cannot be opened)"));
    }
    // Reads of a regular file never wait; back to blocking for Qt's readers.
    ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
    const QByteArray head = readHead(descriptor, kHeadBytes);
    if (head.isEmpty()) {
        ::close(descriptor);
        return Result<FileIntake>::failure(QStringLiteral("the file is empty"));
    }
    if (pictureFormatOf(head) != PictureFormat::unknown) {
        QFile file;
        if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
            ::close(descriptor);
            return Result<FileIntake>::failure(file.errorString());
        }
        Result<QImage> picture = loadImage(file);
        if (!picture.ok())
            return Result<FileIntake>::failure(picture.error());
        return FileIntake{FileIntake::Kind::picture, std::move(picture).value()};
    }
    ::close(descriptor);
    if (!looksLikeMovie(head))
        return Result<FileIntake>::failure(
            QStringLiteral("not a picture or a movie Quorvel can read"));
    return FileIntake{FileIntake::Kind::movie, {}};
}
