#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <memory>

class QIODevice;

// Files the program writes where other accounts may write too (reports, CSV, the lock file beside
// a SQLite database). Nothing is ever written through a link planted at the name: a new file is
// created under a private, unpredictable name in the target's folder (O_CREAT | O_EXCL |
// O_NOFOLLOW), written, synced and renamed into place, which replaces a link at the name and never
// follows it; the folder is synced after. A failed write leaves any earlier file as it was.
//
// The name may be free, a regular file (replaced; its permissions are kept when the program owns
// it), or a link to a regular file or to nothing (the link is replaced, its target untouched).
// Anything else stays and the write fails (75): a folder, a FIFO, a device such as /dev/null, or a
// link to one (/dev/stdout). In a shared folder with the sticky bit (/tmp), a name that another
// account owns cannot be replaced: the write fails (70) and says so rather than follow it.
// A new file gets the mode a plain create gives (0666 less the umask).
//
// Failures are the classic runtime failures with the program as source and a description that
// names the file and the reason: 76 the folder does not exist, 70 not allowed, 75 the name holds
// something that is no regular file, 57 the disk failed or is full.
namespace SafeOutput {

class NewFile final {
public:
    // Creates the private file in the folder of path (absolute, or relative to the working folder).
    explicit NewFile(const QString& path);
    // Without commit(), the private file is removed and nothing at the name changes.
    ~NewFile();
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    // Open for writing, positioned at the start of the empty private file.
    QIODevice& device();
    // Syncs the file, renames it into place and syncs the folder.
    void commit();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// The bytes as the whole file at path, as NewFile writes.
void writeFile(const QString& path, const QByteArray& bytes);

#ifdef Q_OS_LINUX
// A file that several processes open at once, read and write, to lock parts of it (the run numbers
// beside a SQLite database): opened without following a link and without blocking on a FIFO.
// A link or anything else but a regular file at the name is replaced by a new empty file (created
// privately and renamed into place), as is a missing file; a new file takes the read and write
// permissions and the group of permissionsOf (the database), so that every account that may write
// the database may open it. -1 (errno set) when it cannot be opened: a folder at the name, a folder
// the program may not write in.
int openSharedFile(const QString& path, const QString& permissionsOf);
// Whether the descriptor is still the file at path (same device and inode): another process may
// have replaced what was at the name between the open and a lock taken on it.
bool isFileAt(int fd, const QString& path);
#endif

}  // namespace SafeOutput
