#pragma once

#include <QString>

#include <functional>
#include <memory>

// A watch's look at one folder and its entries. The platform's own calls work relative to a
// descriptor of the folder, held open, and never follow a link in the folder; Qt's portable calls
// stand in elsewhere (and on request, so that they are tested on Linux too).
class FolderEntries {
public:
    enum class Means {
        Native,    // openat/fstatat/readdir on POSIX systems; Portable elsewhere
        Portable,  // QDirIterator and QFileInfo
    };

    struct Entry {
        enum class Kind {
            Missing,
            // A regular file with one name. A symbolic link, or a file with further hard links,
            // could reach a file the folder's writers cannot read: never a photo.
            File,
            Other,
        };
        Kind kind = Kind::Missing;
        quint64 inode = 0;  // 0 where the means do not tell
        qint64 size = -1;
        qint64 modifiedNs = 0;
    };

    enum class FolderState {
        Unchanged,  // as at the last check
        Changed,    // its entries changed since the last check (its modification or status time)
        Opened,     // first seen, or another folder now has its path: opened anew
        Missing,    // no folder under its path
    };

    static std::unique_ptr<FolderEntries> create(Means means, const QString& folder);
    virtual ~FolderEntries() = default;

    // Looks at the folder itself, by its path.
    virtual FolderState check() = 0;
    // Every entry that is not a folder, in no particular order, with its inode number where the
    // listing gives it (else 0).
    virtual void list(const std::function<void(const QString& name, quint64 inode)>& visit) = 0;
    // One entry of the folder opened by the last check.
    virtual Entry look(const QString& name) = 0;
};
