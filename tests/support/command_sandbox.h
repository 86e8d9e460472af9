#pragma once

// What the command-line tests share: a scratch folder, the quorvel binary run
// in it (optionally under a file size limit), and a file's bytes.

#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <sys/resource.h>

namespace test_support {

class CommandSandbox {
public:
    CommandSandbox() = default;
    // QTemporaryDir cannot remove names that are not UTF-8; rm can.
    ~CommandSandbox()
    {
        QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), m_dir.path()});
    }
    CommandSandbox(const CommandSandbox&) = delete;
    CommandSandbox& operator=(const CommandSandbox&) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString path(const QString& name) const { return m_dir.filePath(name); }

    // Runs `quorvel arguments...` in the folder. With `fileSizeLimit`, no file
    // it writes may grow past that many bytes: the write fails (EFBIG) part
    // way through, as on a full disk.
    ProcessResult quorvel(const QStringList& arguments, rlim_t fileSizeLimit = RLIM_INFINITY) const
    {
        QProcess process;
        process.setWorkingDirectory(m_dir.path());
        if (fileSizeLimit != RLIM_INFINITY) {
            process.setChildProcessModifier([fileSizeLimit] {
                const rlimit limit{fileSizeLimit, fileSizeLimit};
                ::setrlimit(RLIMIT_FSIZE, &limit);
                ::signal(SIGXFSZ, SIG_IGN); // kept across exec
            });
        }
        return finish(process, quorvelBinary(), arguments);
    }

    // Runs a shell line in the folder, with the binary as $Q: for names the
    // test cannot pass as QString (bytes that are not UTF-8, written with
    // printf).
    ProcessResult shell(const QString& line) const
    {
        QProcess process;
        process.setWorkingDirectory(m_dir.path());
        return finish(process, QStringLiteral("sh"),
                      {QStringLiteral("-c"), QStringLiteral("Q=\"$0\"; ") + line, quorvelBinary()});
    }

    // The names in the folder `sub`, hidden ones included.
    QStringList entries(const QString& sub = QStringLiteral(".")) const
    {
        return QDir(path(sub)).entryList(
            QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
    }

private:
    QTemporaryDir m_dir;
};

// Writes `bytes` to `path` when given, then answers what the file holds.
inline QByteArray fileBytes(const QString& path, const QByteArray& bytes = {})
{
    QFile file(path);
    if (!bytes.isEmpty() && file.open(QIODevice::WriteOnly))
        file.write(bytes), file.close();
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace test_support
