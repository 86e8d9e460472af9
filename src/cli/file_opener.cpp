#include "file_opener.h"

#include "editor_window_opener.h"
#include "libav_holders.h"
#include "movie_source.h"
#include "native_file.h"
#include "picture_format.h"

#include <QFileInfo>
#include <QUrl>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Enough of a file's start for FFmpeg to tell its container by content.
constexpr qsizetype kProbeBytes = 64 * 1024;

// The first bytes of a regular file; empty for anything else, which has been
// read to its end by the picture loader already.
QByteArray fileHead(const QString& path)
{
    const int descriptor = ::open(nativeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return {};
    QByteArray head;
    struct stat status {};
    if (::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode)) {
        head.resize(kProbeBytes);
        qsizetype filled = 0;
        while (filled < head.size()) {
            const ssize_t got =
                ::read(descriptor, head.data() + filled, size_t(head.size() - filled));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            filled += got;
        }
        head.truncate(filled);
    }
    ::close(descriptor);
    return head;
}

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

// Empty when the movie has a picture that decodes; otherwise why not.
QString movieFailure(const QString& path)
{
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

} // namespace

QString FileOpener::open(const QString& path)
{
    const QString fileName = QFileInfo(path).fileName();
    Result<QImage> picture = loadPicture(path);
    if (picture.ok()) {
        m_capture.setImage(std::move(picture).value());
        openEditorWindow(m_capture, m_recorder, false, OpenedFrom::mainWindow, fileName);
        m_capture.setImage(QImage()); // the window holds the only copy
        return {};
    }
    const QByteArray head = fileHead(path);
    if (head.isEmpty() || pictureFormatOf(head) != PictureFormat::unknown)
        return picture.error();
    if (!isMovieContainer(head))
        return QStringLiteral("not a picture or a movie Quorvel can read");
    if (QString failure = movieFailure(path); !failure.isEmpty())
        return failure;
    m_recorder.setLastRecordingURL(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
    openEditorWindow(m_capture, m_recorder, true, OpenedFrom::mainWindow, fileName);
    return {};
}
