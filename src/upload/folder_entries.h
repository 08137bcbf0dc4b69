#pragma once

#include "common/folder_files.h"

#include <QString>

#include <functional>
#include <optional>

// A watch's look at one folder and its entries: the folder is opened by its path (the
// administrator's choice, links allowed) and its entries are looked at through it, as the upload
// looks at them (FolderFiles), never following a link in the folder.
class FolderEntries final {
public:
    using Entry = FolderFiles::EntryStatus;

    enum class FolderState {
        Unchanged,  // as at the last check
        Changed,    // its entries changed since the last check (its modification or status time)
        Opened,     // first seen, or another folder now has its path: opened anew
        Missing,    // no folder under its path
    };

    explicit FolderEntries(QString folder) : m_path(std::move(folder)) {}

    // Looks at the folder itself, by its path.
    FolderState check();
    // Every entry that is not a folder, in no particular order, with its inode number where the
    // listing gives it (else 0).
    void list(const std::function<void(const QString& name, quint64 inode)>& visit) const;
    // One entry of the folder opened by the last check.
    Entry look(const QString& name) const;

private:
    QString m_path;
    std::optional<FolderFiles::Folder> m_folder;
    struct Identity {
        quint64 device = 0;
        quint64 inode = 0;
        qint64 modifiedNs = 0;
        qint64 statusChangedNs = 0;
        bool operator==(const Identity&) const = default;
    } m_identity;
};
