#include "movie_check.h"

#include "libav_holders.h"
#include "movie_source.h"
#include "native_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// True when FFmpeg recognises a container in these bytes by their content
// alone; by name it would take any text file for a terminal animation.
bool isMovieContainer(const QByteArray& head)
{
    QByteArray padded = head;
    padded.append(QByteArray(AVPROBE_PADDING_SIZE, '\0'));
    AVProbeData probe{};
    probe.filename = "";
    probe.buf = reinterpret_cast<unsigned char*>(padded.data());
    probe.buf_size = int(head.size());
    int score = AVPROBE_SCORE_RETRY;
    return av_probe_input_format2(&probe, 1, &score) != nullptr;
}

// The first bytes of a regular file; empty for anything else, which could
// keep the reader waiting.
QByteArray fileHead(const QString& path)
{
    constexpr qsizetype kProbeBytes = 64 * 1024;
    const int descriptor =
        ::open(nativeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (descriptor < 0)
        return {};
    QByteArray head;
    struct stat status {};
    if (::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode))
        head = readHead(descriptor, kProbeBytes);
    ::close(descriptor);
    return head;
}

} // namespace

QString movieFailure(const QString& path)
{
    if (!isMovieContainer(fileHead(path)))
        return QStringLiteral("not a picture or a movie Quorvel can read");
    const OpenableName name(path);
    if (name.name().isEmpty())
        return name.error();
    auto opened = MovieSource::open(name.name());
    if (!opened.ok())
        return opened.error();
    MovieSource& movie = *opened.value();
    if (!movie.hasVideo())
        return QStringLiteral("the movie has no picture");
    for (;;) {
        Result<MovieSource::Item> item = movie.next();
        if (!item.ok())
            return item.error();
        if (item.value().kind == MovieSource::Item::Kind::picture)
            return {};
        if (item.value().kind == MovieSource::Item::Kind::end)
            return QStringLiteral("the movie has no picture");
    }
}

