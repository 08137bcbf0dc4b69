#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>

// The file-system work on the files of a photo folder that must hold against other programs
// writing into the folder at the same time: reading a file without ever blocking on an entry that
// is no file, and removing a file only if it is still exactly the file that was read.
// Failures are the classic runtime failures: 53 file not found, 70 permission denied, 75 path or
// file access error (not a regular file), 76 path not found, 57 device input/output error.
namespace FolderFiles {

// What a file was when its bytes were read, to tell later whether it is still that file.
struct FileSnapshot {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1;
    qint64 modifiedNs = 0;
    // Modified so shortly before the read that a later write could leave the same modification
    // time (file systems keep it with a granularity of up to two seconds): such a file is also
    // compared by content before it goes.
    bool recentlyModified = false;
    size_t contentHash = 0;  // of the bytes read, when recentlyModified

    bool isValid() const { return size >= 0; }
};

enum class EntryKind {
    Missing,      // nothing under the name
    RegularFile,  // a regular file, or a link that resolves to one
    Other,        // folder, FIFO, socket, device, or a link that resolves to none of the above
};

// What the name is, found without opening it.
EntryKind entryKind(const QString& path);

// The names of the folder's entries that are not folders, unsorted. Every entry is listed, also one
// whose name is no valid text (it reads with replacement characters, so that the run counts it; a
// file under such a name cannot be opened through it).
QStringList fileNames(const QString& folder);

struct FileBytes {
    QByteArray bytes;
    FileSnapshot snapshot;
    bool beyondLimit = false;  // the file held limit bytes or more; bytes holds only the first limit
};

// Reads a regular file (through links), at most limit bytes; one of limit bytes or more is not
// read at all. The open never blocks: an entry that is not a regular file by the time it is opened
// fails with 75 and is not read.
FileBytes readRegularFile(const QString& path, qint64 limit);

// Fails (70) when a delete without forcing would refuse the file: read-only, immutable or
// append-only; 53 / 76 when it is missing.
void checkRemovable(const QString& path);
// Fails (70) when no file can be removed from the folder: no write permission on it, or the folder
// itself is immutable or append-only.
void checkFolderAllowsRemoval(const QString& folder);

enum class RemoveOutcome { Removed, Changed };

// Removes the file only if it is still the one of the snapshot: same file, size and modification
// time, same content where it was recently modified, and (where the platform tells) open in no
// other program. Anything else leaves it in place under its name and gives Changed. As a delete
// without forcing, a read-only file is refused (70).
// On Linux the check and the removal happen on a private name, under a lease that any other
// program's open would break, so no writer can slip in between them.
RemoveOutcome removeIfUnchanged(const QString& path, const FileSnapshot& snapshot);

// Moves the file into folder (which exists) under the same rule: only if it is still the file of
// the snapshot, else it stays and gives Changed. Its name there is its own, or NAME.N when taken.
// Within a file system the move is one rename; across file systems the file is copied, the copy
// synced and named, and only then is the original removed.
RemoveOutcome moveIfUnchanged(const QString& path, const FileSnapshot& snapshot, const QString& folder);

// Makes the folder (with its parents) where it is missing; fails (70, 76) when files cannot be put
// into it or removed from it.
void prepareFolderForFiles(const QString& folder);

// A removal or move checks and disposes of a file under a private name in its folder; a process
// killed in between leaves it there. This puts such files of processes that no longer run back
// under their names, where the next run meets them as photos again.
void recoverInterrupted(const QString& folder);

}  // namespace FolderFiles
