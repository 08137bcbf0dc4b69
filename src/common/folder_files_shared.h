#pragma once

// What the platforms' file code of FolderFiles shares (internal to src/common): folder_files.cpp
// holds what is the same everywhere, folder_files_linux.cpp, folder_files_windows.cpp and
// folder_files_portable.cpp (other platforms, and tests of it on Linux) one platform's each.

#include "common/failure.h"
#include "common/folder_files.h"

#include <QDir>
#include <QHashFunctions>

namespace FolderFiles::detail {

// Within this time before the read, a modification time may not change for a later write
// (FAT keeps it to two seconds).
constexpr qint64 RecentNs = 3'000'000'000;

inline size_t contentHash(const QByteArray& bytes) { return qHashBits(bytes.constData(), size_t(bytes.size()), 0); }

inline bool sameFile(const FileSnapshot& a, const FileSnapshot& b)
{
    return a.device == b.device && a.inode == b.inode && a.size == b.size && a.modifiedNs == b.modifiedNs;
}

// The names on the way from a folder to one below it, refused where one would leave it.
inline QStringList relativeNames(const QString& relativePath)
{
    const QStringList names = QDir::fromNativeSeparators(relativePath).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& name : names)
        if (name == QLatin1String(".."))
            throw RuntimeError::failure(RuntimeError::PathFileAccessError);
    return names;
}

}  // namespace FolderFiles::detail
