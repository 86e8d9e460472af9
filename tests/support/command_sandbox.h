#pragma once

// A scratch folder for the command-line tests, with the quorvel binary run in it.

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
    ~CommandSandbox() { QProcess::execute("rm", {"-rf", m_dir.path()}); }
    CommandSandbox(const CommandSandbox&) = delete;
    CommandSandbox& operator=(const CommandSandbox&) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString path(const QString& name) const { return m_dir.filePath(name); }

    // With `fileSizeLimit`, a write past that many bytes fails (EFBIG), as on a full disk.
    ProcessResult quorvel(const QStringList& arguments, rlim_t fileSizeLimit = RLIM_INFINITY) const
    {
        QProcess process;
        process.setWorkingDirectory(m_dir.path());
        process.setChildProcessModifier([fileSizeLimit] {
            const rlimit limit{fileSizeLimit, fileSizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            ::signal(SIGXFSZ, SIG_IGN);
        });
        return finish(process, quorvelBinary(), arguments);
    }

    // A shell line run in the folder with the binary as $Q, for names that are not UTF-8.
    ProcessResult shell(const QString& line) const
    {
        return run("sh", {"-c", "Q=\"$0\"; " + line, quorvelBinary()}, m_dir.path());
    }

    QStringList entries(const QString& sub) const
    {
        return QDir(path(sub)).entryList(
            QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
    }

private:
    QTemporaryDir m_dir;
};

} // namespace test_support
