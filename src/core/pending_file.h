#pragma once

#include "result.h"

#include <QByteArray>
#include <memory>

// A file being written to take the place of a destination, named by the
// system's bytes (not always UTF-8). It is made in the folder of the file the
// destination finally names (symbolic links followed, so a link stays a
// link), where no one sees it: an unnamed file where the file system allows,
// otherwise a hidden name that a later run removes once its writer is
// provably gone. publish() makes the content durable, then
// renames it over the target in one step; dropped unpublished, it leaves
// nothing behind.
class PendingFile {
public:
    static Result<std::unique_ptr<PendingFile>> create(const QByteArray& destination);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // A path that opens this very file, for writing or for reading back,
    // while it is being made.
    const QByteArray& path() const { return m_path; }

    // Appends `bytes` through the file's own descriptor.
    Result<void> write(const QByteArray& bytes);

    // Call once everything written through path() is closed.
    Result<void> publish();

private:
    PendingFile() = default;
    Result<void> openFolder(const QByteArray& destination);
    Result<void> openFile();
    Result<void> giveName();
    void removeStaleLeftovers() const;
    QByteArray uniqueName() const;
    QByteArray leftoverPrefix() const;

    int m_folder = -1; // the target's folder
    int m_file = -1;
    QByteArray m_folderPath;
    QByteArray m_name;      // the target's name in its folder
    QByteArray m_path;      // see path()
    QByteArray m_temporary; // its name in the folder while it has one; removed unless renamed
};

// Puts `contents` in place of the file `destination` names, through a
// PendingFile: all of it or, on failure, nothing changed.
Result<void> replaceFileContents(const QByteArray& destination, const QByteArray& contents);
