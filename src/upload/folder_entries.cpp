#include "upload/folder_entries.h"

#include "common/failure.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_LINUX
#include <sys/stat.h>
#endif

FolderEntries::FolderState FolderEntries::check()
{
    Identity now;
#ifdef Q_OS_LINUX
    struct stat st {};
    if (::stat(QFile::encodeName(m_path).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        m_folder.reset();
        return FolderState::Missing;
    }
    const auto nanoseconds = [](const timespec& time) { return qint64(time.tv_sec) * 1'000'000'000 + time.tv_nsec; };
    now = {st.st_dev, st.st_ino, nanoseconds(st.st_mtim), nanoseconds(st.st_ctim)};
#else
    const QFileInfo info(m_path);
    if (!info.isDir()) {
        m_folder.reset();
        return FolderState::Missing;
    }
    now.modifiedNs = info.lastModified().toMSecsSinceEpoch() * 1'000'000;
    now.statusChangedNs = info.metadataChangeTime().toMSecsSinceEpoch() * 1'000'000;
#endif
    const Identity before = std::exchange(m_identity, now);
    if (!m_folder || now.device != before.device || now.inode != before.inode) {
        try {
            m_folder.emplace(m_path);
        } catch (const Failure&) {
            m_folder.reset();
            return FolderState::Missing;
        }
        return FolderState::Opened;
    }
    return now == before ? FolderState::Unchanged : FolderState::Changed;
}

void FolderEntries::list(const std::function<void(const QString& name, quint64 inode)>& visit) const
{
    if (m_folder)
        m_folder->forEachFile(visit);
}

FolderEntries::Entry FolderEntries::look(const QString& name) const
{
    return m_folder ? m_folder->entryStatus(name) : Entry{};
}
