#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <functional>
#include <memory>

// The file-system work on the files of a photo folder. It holds against other programs writing
// into the folder at the same time, and against the folder's writers when the program has more
// rights than they have: every entry is reached through the folder's open descriptor and never
// through a link, so nothing in the folder can make the program read, copy, move, create or
// overwrite anything outside it.
// Failures are the classic runtime failures: 53 file not found, 64 bad file name (too long),
// 70 permission denied, 75 path or file access error (not a regular file), 76 path not found,
// 57 device input/output error.
namespace FolderFiles {

// What a file was when its bytes were read, to tell later whether it is still that file.
struct FileSnapshot {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1;
    qint64 modifiedNs = 0;
    quint32 mode = 0644;  // permission bits, which a copy keeps
    // Modified so shortly before the read that a later write could leave the same modification
    // time (file systems keep it with a granularity of up to two seconds): such a file is also
    // compared by content before it goes.
    bool recentlyModified = false;
    size_t contentHash = 0;  // of the bytes read, when recentlyModified

    bool isValid() const { return size >= 0; }
};

enum class EntryKind {
    Missing,      // nothing under the name
    RegularFile,  // a regular file with this one name
    // A symbolic link, or a regular file with other names (hard links) that may lie anywhere on
    // the file system: what it leads to need not be the folder's, so it is never read.
    Link,
    Other,  // folder, FIFO, socket, device
};

// What an entry is now, found without opening it or following it.
struct EntryStatus {
    EntryKind kind = EntryKind::Missing;
    quint64 inode = 0;  // 0 where the platform does not tell
    qint64 size = -1;
    qint64 modifiedNs = 0;
};

struct FileBytes {
    QByteArray bytes;
    FileSnapshot snapshot;
    bool beyondLimit = false;  // the file held limit bytes or more; bytes holds only the first limit
};

enum class RemoveOutcome { Removed, Changed };

// A folder opened once, by the path given (the administrator's choice, links in it followed);
// from then on every entry is reached through the open folder, whatever happens to its path.
class Folder final {
public:
    // Fails with 76 when there is no folder at path.
    explicit Folder(const QString& path);
    ~Folder();
    Folder(Folder&&) noexcept;
    Folder& operator=(Folder&&) noexcept;

    const QString& path() const { return m_path; }
    // The entry's path, for messages: the folder and the name joined with the platform's separator.
    QString filePath(const QString& name) const;

    // The names of the entries that are not folders, unsorted. Every entry is listed, also one whose
    // name is no valid text (it reads with replacement characters, so that the run counts it; a
    // file under such a name cannot be opened through it).
    QStringList fileNames() const;
    // Calls visit with the name and inode number (0 where the listing does not give it) of each
    // entry that is not a folder, one at a time, in no particular order.
    void forEachFile(const std::function<void(const QString& name, quint64 inode)>& visit) const;
    // What the name is, found without opening it or following it.
    EntryKind entryKind(const QString& name) const { return entryStatus(name).kind; }
    EntryStatus entryStatus(const QString& name) const;

    // The size of the entry itself (a link's own, never its target's); -1 when it is missing.
    qint64 fileSize(const QString& name) const;
    // Reads a regular file of one name (never through a link), at most limit bytes; one of limit
    // bytes or more is not read at all. The open never blocks: an entry that is no such file by
    // the time it is opened fails with 75 and is not read.
    FileBytes readRegularFile(const QString& name, qint64 limit) const;

    // Fails (70) when a delete without forcing would refuse the file: read-only, immutable or
    // append-only; 53 when it is missing.
    void checkRemovable(const QString& name) const;
    // Fails (70) when no file can be removed from the folder: no write permission on it, or the
    // folder itself is immutable or append-only.
    void checkAllowsRemoval() const;
    // Checks as checkAllowsRemoval() and makes what removals from the folder need, so that a
    // removal cannot fail for want of it later.
    void prepareRemovals();

    // Removes the file only if it is still the one of the snapshot: same file, size and
    // modification time, same content where it was recently modified, and (where the platform
    // tells) open in no other program. Anything else leaves it in place under its name and gives
    // Changed. As a delete without forcing, a read-only file is refused (70).
    // On Linux the check and the removal happen in a private folder of the program's (made inside
    // this one, so that the file keeps its name and never leaves the file system), under a lease
    // that any other program's open would break, so no writer can slip in between them.
    RemoveOutcome removeIfUnchanged(const QString& name, const FileSnapshot& snapshot);
    // Moves the file into destination under the same rule: only if it is still the file of the
    // snapshot, else it stays and gives Changed. Its name there is its own, or NAME.N when taken.
    // Within a file system the move is one rename; across file systems the file is copied (keeping
    // its permissions), the copy synced and named, and only then is the original removed.
    RemoveOutcome moveIfUnchanged(const QString& name, const FileSnapshot& snapshot, Folder& destination);

    // The subfolder at relativePath (one or more names joined by "/"), each missing folder made
    // private to the program's account (0700). No name on the way may be a link (75): the folder's
    // writers could point it anywhere.
    Folder subfolder(const QString& relativePath) const;
    // The folder at path, made where missing as subfolder() makes them; within this folder, no
    // name below it may be a link. Elsewhere (the administrator's choice) links are followed.
    static Folder openOrCreate(const QString& path, const Folder* within = nullptr);

    // A removal or move disposes of a file from a private folder; a process killed in between
    // leaves it there. This puts such files of processes that no longer run back under their
    // names, where the next run meets them as photos again.
    void recoverInterrupted();

private:
    struct State;
    Folder(QString path, std::unique_ptr<State> state);
    RemoveOutcome dispose(const QString& name, const FileSnapshot& snapshot, Folder* destination);

    QString m_path;
    std::unique_ptr<State> m_state;
};

// The steps of a removal or move whose order is part of its promise, told to an observer as they
// are taken (for tests): a copy is synced and named, and its folder synced, before its original
// goes; nothing is disposed of after a program opened the file.
enum class Step {
    LastLook,           // the file was compared with its snapshot; the lease is looked at last
    CopySynced,         // across file systems: the copy's bytes are on disk
    CopyNamed,          // the copy has the file's name in the destination
    DestinationSynced,  // the destination folder's entry is on disk
    SourceRemoved,      // the original is gone
};
// The observer is called with the step and the descriptor of the file at hand; none by default.
void setStepObserver(std::function<void(Step step, int fd)> observer);

// What the platform's file code sees beyond Qt's portable calls, which see names, sizes, times,
// links and write permission only. Where a promise is missing, the README says so.
struct Guarantees {
    bool fileIdentity = false;   // device and inode: a file replaced by one of the same size and time
    bool linkCount = false;      // a second name of a file (a hard link), which is no photo
    bool openElsewhere = false;  // a file another program has open is never removed (a lease)
    bool attributes = false;     // immutable and append-only files and folders, seen before a store
    bool killedRuns = false;     // a file a killed run had in hand is put back by the next run
};
const Guarantees& guarantees();

// The names of the entries of the folder at path that are not folders (none when it cannot be
// opened), unsorted.
QStringList fileNames(const QString& folder);

// Reads the regular file at path as Folder::readRegularFile reads a name of its folder.
FileBytes readRegularFile(const QString& path, qint64 limit);

}  // namespace FolderFiles
