#include "native_file.h"

#include "image_loader.h"

#include <QBuffer>
#include <QFile>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char16_t kFirstEscape = 0xdc80; // byte 0x80
constexpr char16_t kLastEscape = 0xdcff;  // byte 0xff

// The largest stream read for a picture: what the largest picture we decode
// takes uncompressed at 8 bytes a pixel.
constexpr qint64 kMaxStreamBytes = kMaxImagePixels * 8;

QByteArray folderOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}

bool isUtf8(const QByteArray& bytes)
{
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

Result<QByteArray> readToEnd(int descriptor)
{
    QByteArray bytes;
    for (;;) {
        constexpr qsizetype chunk = 1 << 20;
        if (bytes.size() + chunk > kMaxStreamBytes)
            return Result<QByteArray>::failure(
                QStringLiteral("the stream is larger than %1 GiB, more than any picture "
                               "Quorvel reads")
                    .arg(kMaxStreamBytes >> 30));
        const qsizetype at = bytes.size();
        bytes.resize(at + chunk);
        const ssize_t n = ::read(descriptor, bytes.data() + at, size_t(chunk));
        if (n < 0 && errno == EINTR) {
            bytes.resize(at);
            continue;
        }
        if (n < 0)
            return Result<QByteArray>::systemFailure(errno);
        bytes.resize(at + n);
        if (n == 0)
            return bytes;
    }
}

Result<void> makeFolders(QByteArray folder)
{
    while (folder.size() > 1 && folder.endsWith('/'))
        folder.chop(1);
    struct stat status {};
    if (::stat(folder.constData(), &status) == 0)
        return S_ISDIR(status.st_mode) ? Result<void>() : Result<void>::systemFailure(ENOTDIR);
    if (errno != ENOENT)
        return Result<void>::systemFailure(errno);
    if (folder.contains('/')) {
        const Result<void> parent = makeFolders(folderOf(folder));
        if (!parent.ok())
            return parent;
    }
    if (::mkdir(folder.constData(), 0777) != 0 && errno != EEXIST)
        return Result<void>::systemFailure(errno);
    return {};
}

// Takes `descriptor` over and closes it.
Result<QImage> loadPictureFrom(int descriptor)
{
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || S_ISDIR(status.st_mode)) {
        const int error = S_ISDIR(status.st_mode) ? EISDIR : errno;
        ::close(descriptor);
        return Result<QImage>::systemFailure(error);
    }
    if (S_ISREG(status.st_mode)) {
        QFile file;
        if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
            ::close(descriptor);
            return Result<QImage>::failure(file.errorString());
        }
        return loadImage(file);
    }
    Result<QByteArray> bytes = readToEnd(descriptor);
    ::close(descriptor);
    if (!bytes.ok())
        return Result<QImage>::failure(bytes.error());
    QByteArray data = std::move(bytes).value();
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    return loadImage(buffer);
}

} // namespace

QString argumentText(const char* bytes)
{
    const QByteArray raw(bytes);
    if (isUtf8(raw))
        return QString::fromUtf8(raw);
    QString text;
    for (qsizetype at = 0; at < raw.size();) {
        const uchar lead = uchar(raw[at]);
        const int length = lead < 0x80    ? 1
                           : lead >= 0xf0 ? 4
                           : lead >= 0xe0 ? 3
                           : lead >= 0xc0 ? 2
                                          : 0;
        const QByteArray piece = raw.mid(at, length);
        if (length > 0 && piece.size() == length && isUtf8(piece)) {
            text += QString::fromUtf8(piece);
            at += length;
        } else {
            text += QChar(char16_t(0xdc00 + lead));
            ++at;
        }
    }
    return text;
}

QByteArray nativeName(const QString& name)
{
    QByteArray bytes;
    qsizetype plainFrom = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        // A low surrogate after a high one is half of a real character.
        if (c < kFirstEscape || c > kLastEscape || (i > 0 && name[i - 1].isHighSurrogate()))
            continue;
        bytes += QStringView(name).mid(plainFrom, i - plainFrom).toUtf8();
        bytes += char(c - 0xdc00);
        plainFrom = i + 1;
    }
    bytes += QStringView(name).mid(plainFrom).toUtf8();
    return bytes;
}

std::optional<FileIdentity> fileIdentity(const QString& path)
{
    struct stat status {};
    if (::stat(nativeName(path).constData(), &status) != 0)
        return std::nullopt;
    return FileIdentity{status.st_dev, status.st_ino};
}

Result<void> makeDirectories(const QString& path)
{
    return makeFolders(nativeName(path));
}

QByteArray readHead(int descriptor, qsizetype bytes)
{
    QByteArray head(bytes, Qt::Uninitialized);
    qsizetype filled = 0;
    while (filled < head.size()) {
        const ssize_t got = ::pread(descriptor, head.data() + filled,
                                    size_t(head.size() - filled), off_t(filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        filled += got;
    }
    head.truncate(filled);
    return head;
}

Result<QImage> loadPicture(const QString& path)
{
    const int descriptor = ::open(nativeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return Result<QImage>::systemFailure(errno);
    return loadPictureFrom(descriptor);
}

Result<QImage> loadStandardInput()
{
    // Read through a copy, so the picture's reader closing it leaves fd 0
    // open and nothing else can be handed that number.
    const int descriptor = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
    if (descriptor < 0)
        return Result<QImage>::systemFailure(errno);
    return loadPictureFrom(descriptor);
}

void holdClosedStandardStreams()
{
    for (const int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(stream, F_GETFD) >= 0 || errno != EBADF)
            continue;
        // open() takes the lowest free number, which is this one.
        const int held = ::open("/dev/null", O_RDONLY);
        if (held >= 0 && held != stream)
            ::close(held);
    }
}

Result<void> writeStandardOutput(const QByteArray& bytes)
{
    std::fflush(stdout);
    for (qsizetype at = 0; at < bytes.size();) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.constData() + at, size_t(bytes.size() - at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Result<void>::systemFailure(errno);
        at += n;
    }
    return {};
}

OpenableName::OpenableName(const QString& path)
{
    const QByteArray bytes = nativeName(path);
    if (isUtf8(bytes)) {
        m_name = path;
        return;
    }
    m_descriptor = ::open(bytes.constData(), O_PATH | O_CLOEXEC);
    if (m_descriptor < 0) {
        m_error = systemErrorText(errno);
        return;
    }
    m_name = QStringLiteral("/proc/self/fd/%1").arg(m_descriptor);
}

OpenableName::~OpenableName()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

QStringList commandLineArguments(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(argumentText(argv[i]));
    return arguments;
}
