#include "upload/folder_entries.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_LINUX
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Qt's portable calls: no inode numbers, no hard-link counts, times in milliseconds.
class PortableFolderEntries final : public FolderEntries {
public:
    explicit PortableFolderEntries(const QString& folder) : m_folder(folder) {}

    FolderState check() override
    {
        const QFileInfo info(m_folder);
        if (!info.isDir()) {
            m_opened = false;
            return FolderState::Missing;
        }
        const qint64 modified = info.lastModified().toMSecsSinceEpoch();
        const qint64 statusChanged = info.metadataChangeTime().toMSecsSinceEpoch();
        const bool wasOpened = std::exchange(m_opened, true);
        const bool changed = modified != m_modifiedMs || statusChanged != m_statusChangedMs;
        m_modifiedMs = modified;
        m_statusChangedMs = statusChanged;
        return !wasOpened ? FolderState::Opened : changed ? FolderState::Changed : FolderState::Unchanged;
    }

    void list(const std::function<void(const QString& name, quint64 inode)>& visit) override
    {
        QDirIterator it(m_folder, QDir::Files | QDir::System | QDir::Hidden);
        while (it.hasNext()) {
            it.next();
            visit(it.fileName(), 0);
        }
    }

    Entry look(const QString& name) override
    {
        const QFileInfo info(QDir(m_folder).filePath(name));
        Entry entry;
        if (info.isSymLink())
            entry.kind = Entry::Kind::Other;
        else if (info.isFile())
            entry.kind = Entry::Kind::File;
        else if (info.exists())
            entry.kind = Entry::Kind::Other;
        if (entry.kind == Entry::Kind::File) {
            entry.size = info.size();
            entry.modifiedNs = info.lastModified().toMSecsSinceEpoch() * 1'000'000;
        }
        return entry;
    }

private:
    QString m_folder;
    bool m_opened = false;
    qint64 m_modifiedMs = 0;
    qint64 m_statusChangedMs = 0;
};

#ifdef Q_OS_LINUX

qint64 nanoseconds(const timespec& time) { return qint64(time.tv_sec) * 1'000'000'000 + time.tv_nsec; }

// The folder is opened by its path (the administrator's choice, links allowed); its entries are
// looked at through the descriptor, without following links.
class LinuxFolderEntries final : public FolderEntries {
public:
    explicit LinuxFolderEntries(const QString& folder) : m_path(QFile::encodeName(folder)) {}
    ~LinuxFolderEntries() override { closeFolder(); }
    LinuxFolderEntries(const LinuxFolderEntries&) = delete;
    LinuxFolderEntries& operator=(const LinuxFolderEntries&) = delete;

    FolderState check() override
    {
        struct stat st {};
        if (::stat(m_path.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            closeFolder();
            return FolderState::Missing;
        }
        if (m_fd < 0 || st.st_dev != m_folder.st_dev || st.st_ino != m_folder.st_ino) {
            closeFolder();
            m_fd = ::open(m_path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (m_fd < 0 || ::fstat(m_fd, &m_folder) != 0) {
                closeFolder();
                return FolderState::Missing;
            }
            return FolderState::Opened;
        }
        const bool changed = nanoseconds(st.st_mtim) != nanoseconds(m_folder.st_mtim) ||
                             nanoseconds(st.st_ctim) != nanoseconds(m_folder.st_ctim);
        m_folder = st;
        return changed ? FolderState::Changed : FolderState::Unchanged;
    }

    void list(const std::function<void(const QString& name, quint64 inode)>& visit) override
    {
        // A descriptor of its own: the directory stream takes it over and moves its position.
        const int fd = m_fd < 0 ? -1 : ::openat(m_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR* directory = fd < 0 ? nullptr : ::fdopendir(fd);
        if (!directory) {
            if (fd >= 0)
                ::close(fd);
            return;
        }
        while (const dirent* entry = ::readdir(directory)) {
            if (entry->d_type == DT_DIR)
                continue;
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
                continue;
            visit(QFile::decodeName(name), entry->d_ino);
        }
        ::closedir(directory);
    }

    Entry look(const QString& name) override
    {
        Entry entry;
        struct stat st {};
        if (m_fd < 0 || ::fstatat(m_fd, QFile::encodeName(name).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return entry;
        entry.kind = S_ISREG(st.st_mode) && st.st_nlink == 1 ? Entry::Kind::File : Entry::Kind::Other;
        entry.inode = st.st_ino;
        entry.size = st.st_size;
        entry.modifiedNs = nanoseconds(st.st_mtim);
        return entry;
    }

private:
    void closeFolder()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    QByteArray m_path;
    int m_fd = -1;
    struct stat m_folder {};
};

#endif

}  // namespace

std::unique_ptr<FolderEntries> FolderEntries::create(Means means, const QString& folder)
{
#ifdef Q_OS_LINUX
    if (means == Means::Native)
        return std::make_unique<LinuxFolderEntries>(folder);
#endif
    return std::make_unique<PortableFolderEntries>(folder);
}
