#include "native_file.h"

#include "image_loader.h"

#include <QBuffer>
#include <QFile>
#include <atomic>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

constexpr char16_t kFirstEscape = 0xdc80; // byte 0x80
constexpr char16_t kLastEscape = 0xdcff;  // byte 0xff

// The largest stream read for a picture: what the largest picture we decode
// takes uncompressed at 8 bytes a pixel.
constexpr qint64 kMaxStreamBytes = kMaxImagePixels * 8;

QString reason(int error)
{
    return QString::fromStdString(std::generic_category().message(error));
}

template <typename T> Result<T> failure(int error)
{
    return Result<T>::failure(reason(error));
}

QByteArray folderOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}

QByteArray fileNameOf(const QByteArray& path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

bool isUtf8(const QByteArray& bytes)
{
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

// Where writing through `path` lands: links followed to the file they name,
// which need not exist yet.
QByteArray linkTarget(QByteArray path)
{
    for (int hops = 0; hops < 40; ++hops) { // the system's own limit on links
        struct stat status {};
        if (::lstat(path.constData(), &status) != 0 || !S_ISLNK(status.st_mode))
            break;
        QByteArray target(PATH_MAX, '\0');
        const ssize_t length = ::readlink(path.constData(), target.data(), size_t(target.size()));
        if (length <= 0)
            break;
        target.truncate(length);
        path = target.startsWith('/') ? target : folderOf(path) + '/' + target;
    }
    return path;
}

// A new file of our own beside `target`, created with the umask's
// permissions; its name is left in `name`.
int createBeside(const QByteArray& target, QByteArray& name)
{
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = folderOf(target) + "/.quorvel-" + QByteArray::number(::getpid()) + '-' +
               QByteArray::number(counter++) + ".part";
        const int descriptor =
            ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor >= 0 || errno != EEXIST)
            return descriptor;
    }
    return -1;
}

bool writeAll(int descriptor, const QByteArray& data)
{
    for (qsizetype written = 0; written < data.size();) {
        const ssize_t n =
            ::write(descriptor, data.constData() + written, size_t(data.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            errno = n == 0 ? EIO : errno;
            return false;
        }
        written += n;
    }
    return true;
}

Result<QByteArray> readToEnd(int descriptor)
{
    QByteArray bytes;
    for (;;) {
        constexpr qsizetype chunk = 1 << 20;
        if (bytes.size() + chunk > kMaxStreamBytes)
            return Result<QByteArray>::failure(
                QStringLiteral("the stream is larger than any picture Quorvel reads"));
        const qsizetype at = bytes.size();
        bytes.resize(at + chunk);
        const ssize_t n = ::read(descriptor, bytes.data() + at, size_t(chunk));
        if (n < 0 && errno == EINTR) {
            bytes.resize(at);
            continue;
        }
        if (n < 0)
            return failure<QByteArray>(errno);
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
        return S_ISDIR(status.st_mode) ? Result<void>() : failure<void>(ENOTDIR);
    if (errno != ENOENT)
        return failure<void>(errno);
    if (folder.contains('/')) {
        const Result<void> parent = makeFolders(folderOf(folder));
        if (!parent.ok())
            return parent;
    }
    if (::mkdir(folder.constData(), 0777) != 0 && errno != EEXIST)
        return failure<void>(errno);
    return {};
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

Result<QImage> loadPicture(const QString& path)
{
    const int descriptor = ::open(nativeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return failure<QImage>(errno);
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || S_ISDIR(status.st_mode)) {
        const int error = S_ISDIR(status.st_mode) ? EISDIR : errno;
        ::close(descriptor);
        return failure<QImage>(error);
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

Result<void> replaceFile(const QString& path, const QByteArray& data)
{
    const QByteArray target = linkTarget(nativeName(path));
    QByteArray temporary;
    const int descriptor = createBeside(target, temporary);
    if (descriptor < 0)
        return failure<void>(errno);
    int error = 0;
    struct stat existing {};
    if (::stat(target.constData(), &existing) == 0 && S_ISREG(existing.st_mode) &&
        ::fchmod(descriptor, existing.st_mode & 07777) != 0)
        error = errno;
    if (!error && !writeAll(descriptor, data))
        error = errno;
    if (!error && ::fsync(descriptor) != 0)
        error = errno;
    if (::close(descriptor) != 0 && !error)
        error = errno;
    if (!error && ::rename(temporary.constData(), target.constData()) != 0)
        error = errno;
    if (!error)
        return {};
    ::unlink(temporary.constData());
    return failure<void>(error);
}

OpenableName::OpenableName(const QString& path, bool parentOnly)
{
    const QByteArray bytes = nativeName(path);
    if (isUtf8(bytes)) {
        m_name = path;
        return;
    }
    const QByteArray reached = parentOnly ? folderOf(bytes) : bytes;
    if (parentOnly && !isUtf8(fileNameOf(bytes))) {
        m_error = QStringLiteral("this name is not UTF-8; choose one that is");
        return;
    }
    m_descriptor = ::open(reached.constData(), O_PATH | O_CLOEXEC);
    if (m_descriptor < 0) {
        m_error = reason(errno);
        return;
    }
    m_name = QStringLiteral("/proc/self/fd/%1").arg(m_descriptor);
    if (parentOnly)
        m_name += QLatin1Char('/') + QString::fromUtf8(fileNameOf(bytes));
}

OpenableName::~OpenableName()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}
