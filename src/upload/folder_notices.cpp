#include "upload/folder_notices.h"

#include <QFile>
#include <QFileSystemWatcher>
#include <QSocketNotifier>

#ifdef Q_OS_LINUX
#include <linux/magic.h>
#include <sys/inotify.h>
#include <sys/vfs.h>
#include <unistd.h>
#endif

namespace {

class NoNotices final : public FolderNotices {
public:
    bool watch(const QString&) override { return false; }
};

// The folder's list of entries changed; which entries, and changes inside files, go untold.
class PortableNotices final : public FolderNotices {
public:
    PortableNotices()
    {
        connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &FolderNotices::folderChanged);
    }

    bool watch(const QString& folder) override
    {
        if (!m_watcher.directories().isEmpty())
            m_watcher.removePaths(m_watcher.directories());
        return m_watcher.addPath(folder);
    }

private:
    QFileSystemWatcher m_watcher;
};

#ifdef Q_OS_LINUX

// File systems whose every change passes through this kernel, so that inotify sees it. A network
// or cluster file system (NFS, SMB, FUSE, ...) reports only this machine's changes, and an overlay
// not those made in its layers: anything not listed is polled.
bool changesPassThroughThisKernel(const QByteArray& folder)
{
    struct statfs fs {};
    if (::statfs(folder.constData(), &fs) != 0)
        return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case EXT4_SUPER_MAGIC:  // also ext2 and ext3
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case F2FS_SUPER_MAGIC:
    case TMPFS_MAGIC:
    case RAMFS_MAGIC:
    case MSDOS_SUPER_MAGIC:
    case EXFAT_SUPER_MAGIC:
    case NILFS_SUPER_MAGIC:
    case UDF_SUPER_MAGIC:
        return true;
    default:
        return false;
    }
}

// inotify on the folder: each event names the entry, so only that entry needs a look. A lost
// queue (IN_Q_OVERFLOW) or a folder removed, moved away or unmounted asks for a full reading.
class InotifyNotices final : public FolderNotices {
public:
    InotifyNotices() = default;
    ~InotifyNotices() override
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    InotifyNotices(const InotifyNotices&) = delete;
    InotifyNotices& operator=(const InotifyNotices&) = delete;

    bool watch(const QString& folder) override
    {
        if (m_fd < 0) {
            m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
            if (m_fd < 0)
                return false;
            m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
            connect(m_notifier.get(), &QSocketNotifier::activated, this, &InotifyNotices::readEvents);
        }
        if (m_watch >= 0)
            ::inotify_rm_watch(m_fd, m_watch);
        constexpr uint32_t entryEvents = IN_CREATE | IN_CLOSE_WRITE | IN_MODIFY | IN_ATTRIB | IN_MOVED_FROM |
                                         IN_MOVED_TO | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF;
        const QByteArray path = QFile::encodeName(folder);
        m_watch = ::inotify_add_watch(m_fd, path.constData(), entryEvents | IN_ONLYDIR);
        m_complete = m_watch >= 0 && changesPassThroughThisKernel(path);
        return m_watch >= 0;
    }

    bool complete() const override { return m_complete; }

private:
    void readEvents()
    {
        alignas(inotify_event) char buffer[64 * 1024];
        QSet<QString> names;
        bool everything = false;
        for (;;) {
            const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
            if (got <= 0)
                break;  // EAGAIN: all read
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += ssize_t(sizeof(inotify_event) + event->len);
                if (event->mask & IN_Q_OVERFLOW)
                    everything = true;
                else if (event->wd != m_watch)
                    continue;  // a watch given up on
                else if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED))
                    everything = true;
                else if (event->len > 0 && !(event->mask & IN_ISDIR))
                    names.insert(QFile::decodeName(event->name));
            }
        }
        if (everything)
            emit folderChanged();
        else if (!names.isEmpty())
            emit entriesChanged(names);
    }

    int m_fd = -1;
    int m_watch = -1;
    bool m_complete = false;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

#endif

}  // namespace

std::unique_ptr<FolderNotices> FolderNotices::create(Source source)
{
    switch (source) {
    case Source::None: return std::make_unique<NoNotices>();
#ifdef Q_OS_LINUX
    case Source::Native: return std::make_unique<InotifyNotices>();
#else
    case Source::Native:
#endif
    case Source::Portable: return std::make_unique<PortableNotices>();
    }
    return std::make_unique<NoNotices>();
}
