#include "pending_file.h"

#include <QRandomGenerator>
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// The file `path` finally names once every symbolic link on the way is
// followed; it need not exist yet (a dangling link names the file to make).
Result<QByteArray> finalTarget(QByteArray path)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat status {};
        if (::lstat(path.constData(), &status) != 0) {
            if (errno == ENOENT)
                return path;
            return Result<QByteArray>::systemFailure(errno);
        }
        if (S_ISDIR(status.st_mode))
            return Result<QByteArray>::systemFailure(EISDIR);
        if (!S_ISLNK(status.st_mode))
            return path;
        QByteArray link(PATH_MAX, '\0');
        const ssize_t length = ::readlink(path.constData(), link.data(), size_t(link.size()));
        if (length < 0)
            return Result<QByteArray>::systemFailure(errno);
        link.truncate(length);
        path = link.startsWith('/') ? link : path.left(path.lastIndexOf('/') + 1) + link;
    }
    return Result<QByteArray>::systemFailure(ELOOP);
}

// Relative names are resolved now: the name the file is reached by while it
// is written must not depend on the working folder then.
QByteArray absolute(const QByteArray& path)
{
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::current_path(error);
    if (path.startsWith('/') || error)
        return path;
    return QByteArray::fromStdString(folder.native()) + '/' + path;
}

bool processRuns(pid_t pid)
{
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

} // namespace

Result<std::unique_ptr<PendingFile>> PendingFile::create(const QByteArray& destination)
{
    using Created = std::unique_ptr<PendingFile>;
    Created file(new PendingFile);
    auto step = file->openFolder(destination);
    if (step.ok()) {
        file->removeStaleLeftovers();
        step = file->openFile();
    }
    // Cleaners lock before they remove, so a held lock keeps the file ours.
    if (step.ok() && ::flock(file->m_file, LOCK_EX) != 0)
        step = Result<void>::systemFailure(errno);
    if (!step.ok())
        return Result<Created>::failure(step.error());
    return Created(std::move(file));
}

PendingFile::~PendingFile()
{
    if (!m_temporary.isEmpty())
        ::unlinkat(m_folder, m_temporary.constData(), 0);
    if (m_file >= 0)
        ::close(m_file);
    if (m_folder >= 0)
        ::close(m_folder);
}

Result<void> PendingFile::openFolder(const QByteArray& destination)
{
    if (destination.isEmpty())
        return Result<void>::systemFailure(ENOENT);
    auto target = finalTarget(absolute(destination));
    if (!target.ok())
        return Result<void>::failure(target.error());
    const QByteArray& path = target.value();
    const qsizetype slash = path.lastIndexOf('/');
    m_name = path.mid(slash + 1);
    if (m_name.isEmpty()) // "folder/" that does not exist yet
        return Result<void>::systemFailure(ENOENT);
    m_folderPath = path.left(slash); // empty for the root: names are then "/NAME"
    m_folder =
        ::open(slash > 0 ? m_folderPath.constData() : "/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return m_folder >= 0 ? Result<void>() : Result<void>::systemFailure(errno);
}

Result<void> PendingFile::openFile()
{
    // Unnamed, the file vanishes with the process however it ends. libavformat
    // opens files by name, so it reaches this one through /proc.
    m_file = ::openat(m_folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (m_file >= 0) {
        m_path = "/proc/self/fd/" + QByteArray::number(m_file);
        if (::access(m_path.constData(), R_OK | W_OK) == 0)
            return {};
        ::close(m_file); // no /proc: fall back to a name
        m_file = -1;
    } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return Result<void>::systemFailure(errno); // EISDIR and EINVAL: a kernel without O_TMPFILE
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name = uniqueName();
        m_file = ::openat(m_folder, name.constData(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
        if (m_file >= 0) {
            m_temporary = name;
            m_path = m_folderPath + '/' + name;
            return {};
        }
        if (errno != EEXIST)
            return Result<void>::systemFailure(errno);
    }
    return Result<void>::systemFailure(EEXIST);
}

QByteArray PendingFile::leftoverPrefix() const
{
    // Room for the rest within a file name's 255 bytes.
    return '.' + m_name.left(200) + '.';
}

// .NAME.PID-RANDOM.part: the writer's process, so a later run can tell a
// leftover of a killed run from a file still being written.
QByteArray PendingFile::uniqueName() const
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray random(6, '\0');
    for (char& letter : random)
        letter = letters[QRandomGenerator::global()->bounded(int(sizeof letters - 1))];
    return leftoverPrefix() + QByteArray::number(::getpid()) + '-' + random + ".part";
}

// Leftovers of this destination whose writer is gone: its process no longer
// runs and no one holds its lock. Best effort; what cannot be proven dead stays.
void PendingFile::removeStaleLeftovers() const
{
    const int listing = ::openat(m_folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0)
        return;
    DIR* folder = ::fdopendir(listing);
    if (!folder) {
        ::close(listing);
        return;
    }
    const QByteArray prefix = leftoverPrefix();
    while (const dirent* entry = ::readdir(folder)) {
        const QByteArray name(entry->d_name);
        if (!name.startsWith(prefix) || !name.endsWith(".part"))
            continue;
        const QByteArray middle = name.mid(prefix.size(), name.size() - prefix.size() - 5);
        const qsizetype dash = middle.indexOf('-');
        bool isNumber = false;
        const pid_t pid = pid_t(middle.left(dash).toInt(&isNumber));
        if (dash <= 0 || middle.size() - dash != 7 || !isNumber || pid <= 0 || processRuns(pid))
            continue;
        const int file =
            ::openat(m_folder, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (file < 0)
            continue;
        struct stat status {};
        if (::fstat(file, &status) == 0 && S_ISREG(status.st_mode) &&
            ::flock(file, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(m_folder, name.constData(), 0);
        ::close(file);
    }
    ::closedir(folder);
}

Result<void> PendingFile::write(const QByteArray& bytes)
{
    for (qsizetype written = 0; written < bytes.size();) {
        const ssize_t n =
            ::write(m_file, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Result<void>::systemFailure(n == 0 ? EIO : errno);
        written += n;
    }
    return {};
}

Result<void> PendingFile::giveName()
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name = uniqueName();
        if (::linkat(AT_FDCWD, m_path.constData(), m_folder, name.constData(), AT_SYMLINK_FOLLOW) ==
            0) {
            m_temporary = name;
            return {};
        }
        if (errno != EEXIST)
            return Result<void>::systemFailure(errno);
    }
    return Result<void>::systemFailure(EEXIST);
}

Result<void> PendingFile::publish()
{
    // The file it replaces keeps its permissions; a new one has what the umask
    // left. Set only now: libavformat reopens the file to read it back.
    struct stat replaced {};
    if (::fstatat(m_folder, m_name.constData(), &replaced, 0) == 0 &&
        ::fchmod(m_file, replaced.st_mode & 07777) != 0)
        return Result<void>::systemFailure(errno);
    // On disk before it has the destination's name: a crash right after must
    // not leave an empty file there.
    if (::fsync(m_file) != 0)
        return Result<void>::systemFailure(errno);
    if (m_temporary.isEmpty()) {
        if (auto named = giveName(); !named.ok())
            return named;
    }
    if (::renameat(m_folder, m_temporary.constData(), m_folder, m_name.constData()) != 0)
        return Result<void>::systemFailure(errno);
    m_temporary.clear();
    // The rename itself is durable once the folder is. Some file systems
    // cannot sync a folder (EINVAL); there is nothing more to do then.
    if (::fsync(m_folder) != 0 && errno != EINVAL)
        return Result<void>::systemFailure(errno);
    const int file = std::exchange(m_file, -1);
    if (::close(file) != 0)
        return Result<void>::systemFailure(errno);
    return {};
}

Result<void> replaceFileContents(const QByteArray& destination, const QByteArray& contents)
{
    auto created = PendingFile::create(destination);
    if (!created.ok())
        return Result<void>::failure(created.error());
    PendingFile& file = *created.value();
    if (auto written = file.write(contents); !written.ok())
        return written;
    return file.publish();
}
