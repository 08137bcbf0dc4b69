// The Linux file code of FolderFiles: directory descriptors, exclusive renames, leases.
#include "common/folder_files.h"
#include "common/folder_files_shared.h"

#include "common/failure.h"
#include "common/platform.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHashFunctions>
#include <QRegularExpression>

#include <utility>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <functional>
#include <set>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FolderFiles {

using namespace detail;

const Guarantees& guarantees()
{
    static const Guarantees linux{true, true, true, true, true};
    return linux;
}

namespace {

std::function<void(Step, int)>& stepObserver()
{
    static std::function<void(Step, int)> observer;
    return observer;
}

void tell(Step step, int fd)
{
    if (stepObserver())
        stepObserver()(step, fd);
}

QByteArray native(const QString& name) { return QFile::encodeName(name); }

Failure failureForErrno(int error)
{
    switch (error) {
    case ENOENT: return RuntimeError::failure(RuntimeError::FileNotFound);
    case ENOTDIR: return RuntimeError::failure(RuntimeError::PathNotFound);
    case EIO: return RuntimeError::failure(RuntimeError::DeviceIoError);
    case ENAMETOOLONG: return RuntimeError::failure(RuntimeError::BadFileName);
    case ENXIO: case ELOOP: case EISDIR: return RuntimeError::failure(RuntimeError::PathFileAccessError);
    default: return RuntimeError::failure(RuntimeError::PermissionDenied);  // EACCES, EPERM, EROFS, EBUSY...
    }
}

class Descriptor final {
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

int retryOnInterrupt(const auto& call)
{
    int result;
    do
        result = call();
    while (result < 0 && errno == EINTR);
    return result;
}

// Never blocks (a FIFO opens at once and is then refused, a device without a reader too) and never
// follows a link.
int openForReading(int folder, const QByteArray& name)
{
    return retryOnInterrupt(
        [&] { return ::openat(folder, name.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY); });
}

int openFolder(int parent, const QByteArray& name, bool followLinks)
{
    return retryOnInterrupt([&] {
        return ::openat(parent, name.constData(),
                        O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW));
    });
}

FileSnapshot snapshotOf(const struct stat& st)
{
    FileSnapshot snapshot;
    snapshot.device = st.st_dev;
    snapshot.inode = st.st_ino;
    snapshot.size = st.st_size;
    snapshot.modifiedNs = qint64(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    snapshot.mode = st.st_mode & 0777;
    return snapshot;
}

// A regular file that no other name reaches: only such a file is surely the folder's own.
bool isOwnRegularFile(const struct stat& st) { return S_ISREG(st.st_mode) && st.st_nlink == 1; }

qint64 nowNs()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Reads from the descriptor's start until its end or limit bytes; false with errno on failure.
bool readAll(int fd, qint64 limit, QByteArray& bytes, qint64 expectedSize = 1 << 16)
{
    bytes.clear();
    // One more byte than expected: the read that finds the end needs no second buffer.
    qint64 capacity = qMin<qint64>(limit, qMax<qint64>(expectedSize + 1, 4096));
    bytes.resize(capacity);
    qint64 total = 0;
    while (total < limit) {
        if (total == capacity) {
            capacity = qMin<qint64>(limit, capacity * 2);
            bytes.resize(capacity);
        }
        const ssize_t got = ::pread(fd, bytes.data() + total, size_t(capacity - total), total);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0)
            break;
        total += got;
    }
    bytes.resize(total);
    return true;
}

// A broken lease is signalled with SIGIO, which would end the program: nothing here needs the signal.
void ignoreLeaseBreakSignal()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current {};
        if (sigaction(SIGIO, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            std::signal(SIGIO, SIG_IGN);
    });
}

// Whether the file open on fd is still the one of the snapshot and open nowhere else.
bool stillTheSnapshot(int fd, const FileSnapshot& snapshot)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !isOwnRegularFile(st))
        return false;
    // A write lease is granted only while no other descriptor has the file open; from then on any
    // other open waits for it. Not granted for other owners without the capability, nor on file
    // systems without leases: there the checks below stand alone.
    ignoreLeaseBreakSignal();
    bool leased = ::fcntl(fd, F_SETLEASE, F_WRLCK) == 0;
    if (!leased && errno == EAGAIN)
        return false;
    if (!sameFile(snapshotOf(st), snapshot))
        return false;
    if (snapshot.recentlyModified) {
        QByteArray content;
        if (!readAll(fd, snapshot.size + 1, content) || content.size() != snapshot.size ||
            contentHash(content) != snapshot.contentHash)
            return false;
    }
    // A program that began to open the file since the lease was granted has broken it: it must
    // find the file, so it stays. This is the last look before the removal.
    tell(Step::LastLook, fd);
    return !leased || ::fcntl(fd, F_GETLEASE) == F_WRLCK;
}

// The name cut (at a character's edge) so that prefix + name + suffix fits in one name of the
// file system: a file's own name may take all of it.
QByteArray fittedName(const QByteArray& prefix, const QByteArray& name, const QByteArray& suffix)
{
    const qsizetype room = NAME_MAX - prefix.size() - suffix.size();
    qsizetype kept = qMin(name.size(), room);
    while (kept > 0 && kept < name.size() && (uchar(name.at(kept)) & 0xC0) == 0x80)
        --kept;
    return prefix + name.left(kept) + suffix;
}

// The copy's bytes on disk before it takes the file's name; errno on failure.
int syncFile(int fd)
{
    if (::fsync(fd) != 0)
        return errno;
    tell(Step::CopySynced, fd);
    return 0;
}

// The folder's entries on disk: a new name survives a power cut before its original goes.
void syncFolder(int fd)
{
    ::fsync(fd);
    tell(Step::DestinationSynced, fd);
}

std::atomic<unsigned> privateCounter{0};

// The private folders this process works in: a recovery in this process leaves them alone, while
// one of an earlier process that had the same number is taken back.
std::mutex livePrivateFoldersMutex;
std::set<std::pair<dev_t, ino_t>> livePrivateFolders;

void setPrivateFolderLive(const struct stat& st, bool live)
{
    const std::lock_guard lock(livePrivateFoldersMutex);
    if (live)
        livePrivateFolders.insert({st.st_dev, st.st_ino});
    else
        livePrivateFolders.erase({st.st_dev, st.st_ino});
}

bool isPrivateFolderLive(const struct stat& st)
{
    const std::lock_guard lock(livePrivateFoldersMutex);
    return livePrivateFolders.count({st.st_dev, st.st_ino}) > 0;
}

bool processRuns(pid_t process) { return ::kill(process, 0) == 0 || errno == EPERM; }

// Puts the file of the private folder back under its name in the folder; when a new file has taken
// the name meanwhile, beside it under a name that is no photo's, so neither is lost.
int putBack(int privateFolder, const QByteArray& name, int folder)
{
    if (::renameat2(privateFolder, name.constData(), folder, name.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EEXIST)
        return errno;
    const QByteArray beside =
        fittedName("retratix-conservado-" + QByteArray::number(QDateTime::currentMSecsSinceEpoch()) + '-', name, {});
    return ::renameat2(privateFolder, name.constData(), folder, beside.constData(), RENAME_NOREPLACE) == 0 ? 0 : errno;
}

// Calls take(name, type, inode) for each entry of the open folder but "." and ".."; nothing when it
// cannot be read. Entries are seen one at a time, so a large folder costs no memory here.
template <typename Take>
void forEachEntry(int folder, Take take)
{
    // A descriptor of its own: the listing's position is not shared with the folder's.
    const int listing = openFolder(folder, ".", true);
    if (listing < 0)
        return;
    DIR* directory = ::fdopendir(listing);
    if (!directory) {
        ::close(listing);
        return;
    }
    while (const dirent* entry = ::readdir(directory))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            take(entry->d_name, entry->d_type, entry->d_ino);
    ::closedir(directory);
}

}  // namespace

struct Folder::State {
    Descriptor fd;
    // The private folder in which files are checked and disposed of, made at the first need.
    Descriptor privateFd;
    QByteArray privateName;
    struct stat privateStat {};

    ~State() { dropPrivateFolder(); }

    void dropPrivateFolder()
    {
        if (privateFd.get() < 0)
            return;
        setPrivateFolderLive(privateStat, false);
        privateFd.reset();
        // Left in place only when a file could not be put back; the failure named it.
        ::unlinkat(fd.get(), privateName.constData(), AT_REMOVEDIR);
    }

    // ".retratix-PID-N": no photo's name, and it tells a later run whose it was, should this
    // process die while a file is in it.
    void makePrivateFolder()
    {
        if (privateFd.get() >= 0)
            return;
        for (int attempt = 0;; ++attempt) {
            const QByteArray name = ".retratix-" + QByteArray::number(::getpid()) + '-' +
                                    QByteArray::number(privateCounter.fetch_add(1));
            if (::mkdirat(fd.get(), name.constData(), 0700) != 0) {
                // A name taken by someone else's entry: another one.
                if (errno == EEXIST && attempt < 100)
                    continue;
                throw failureForErrno(errno);
            }
            Descriptor made(openFolder(fd.get(), name, false));
            struct stat st {};
            if (made.get() < 0 || ::fstat(made.get(), &st) != 0)
                throw failureForErrno(errno);
            // Swapped for another folder between its making and its opening: not ours to use.
            if (st.st_uid != ::geteuid()) {
                if (attempt < 100)
                    continue;
                throw RuntimeError::failure(RuntimeError::PermissionDenied);
            }
            // A default ACL of the folder may have given the new one more.
            if ((st.st_mode & 077) && ::fchmod(made.get(), 0700) != 0)
                throw failureForErrno(errno);
            privateFd.reset(made.release());
            privateName = name;
            privateStat = st;
            setPrivateFolderLive(st, true);
            return;
        }
    }
};

void setStepObserver(std::function<void(Step, int)> observer) { stepObserver() = std::move(observer); }

Folder::Folder(const QString& path) : m_path(path), m_state(std::make_unique<State>())
{
    m_state->fd.reset(openFolder(AT_FDCWD, native(path), true));
    if (m_state->fd.get() < 0)
        throw RuntimeError::failure(RuntimeError::PathNotFound);
}

Folder::Folder(QString path, std::unique_ptr<State> state) : m_path(std::move(path)), m_state(std::move(state)) {}

Folder::~Folder() = default;

void Folder::forEachFile(const std::function<void(const QString& name, quint64 inode)>& visit) const
{
    const int folder = m_state->fd.get();
    forEachEntry(folder, [&](const char* name, unsigned char type, ino_t inode) {
        bool isFolder = type == DT_DIR;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            isFolder = ::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        if (!isFolder)
            visit(QFile::decodeName(name), inode);
    });
}

QStringList Folder::fileNames() const
{
    QStringList names;
    forEachFile([&names](const QString& name, quint64) { names.append(name); });
    return names;
}

EntryStatus Folder::entryStatus(const QString& name) const
{
    EntryStatus status;
    struct stat st {};
    if (::fstatat(m_state->fd.get(), native(name).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return status;
    if (S_ISLNK(st.st_mode) || (S_ISREG(st.st_mode) && st.st_nlink > 1))
        status.kind = EntryKind::Link;
    else
        status.kind = S_ISREG(st.st_mode) ? EntryKind::RegularFile : EntryKind::Other;
    const FileSnapshot snapshot = snapshotOf(st);
    status.inode = snapshot.inode;
    status.size = snapshot.size;
    status.modifiedNs = snapshot.modifiedNs;
    return status;
}

qint64 Folder::fileSize(const QString& name) const
{
    struct stat st {};
    if (::fstatat(m_state->fd.get(), native(name).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return -1;
    return st.st_size;
}

FileBytes Folder::readRegularFile(const QString& name, qint64 limit) const
{
    const Descriptor fd(openForReading(m_state->fd.get(), native(name)));
    if (fd.get() < 0)
        throw failureForErrno(errno);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        throw failureForErrno(errno);
    if (!isOwnRegularFile(st))
        throw RuntimeError::failure(RuntimeError::PathFileAccessError);
    FileBytes file;
    file.snapshot = snapshotOf(st);
    file.snapshot.recentlyModified = file.snapshot.modifiedNs >= nowNs() - RecentNs;
    // A file of the limit or more is not read at all.
    if (st.st_size >= limit) {
        file.beyondLimit = true;
        return file;
    }
    if (!readAll(fd.get(), limit, file.bytes, st.st_size))
        throw failureForErrno(errno);
    file.beyondLimit = file.bytes.size() >= limit;
    if (file.snapshot.recentlyModified)
        file.snapshot.contentHash = contentHash(file.bytes);
    return file;
}

void Folder::checkRemovable(const QString& name) const
{
    const int folder = m_state->fd.get();
    const QByteArray entry = native(name);
    struct stat st {};
    if (::fstatat(folder, entry.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        throw failureForErrno(errno);
    // Read-only: no write permission for the owner, what a delete without forcing refuses.
    if (!S_ISLNK(st.st_mode) && !(st.st_mode & S_IWUSR))
        throw RuntimeError::failure(RuntimeError::PermissionDenied);
    struct statx attributes {};
    if (::statx(folder, entry.constData(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &attributes) == 0 &&
        (attributes.stx_attributes & (STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND)))
        throw RuntimeError::failure(RuntimeError::PermissionDenied);
    // In a folder with the sticky bit only the owner of the file or of the folder removes it.
    struct stat folderStat {};
    if (::fstat(folder, &folderStat) == 0 && (folderStat.st_mode & S_ISVTX) && ::geteuid() != 0 &&
        st.st_uid != ::geteuid() && folderStat.st_uid != ::geteuid())
        throw RuntimeError::failure(RuntimeError::PermissionDenied);
}

void Folder::checkAllowsRemoval() const
{
    const int folder = m_state->fd.get();
    if (::faccessat(folder, ".", W_OK | X_OK, AT_EACCESS) != 0)
        throw failureForErrno(errno == ENOENT ? ENOTDIR : errno);
    struct statx attributes {};
    if (::statx(folder, "", AT_EMPTY_PATH, STATX_BASIC_STATS, &attributes) == 0 &&
        (attributes.stx_attributes & (STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND)))
        throw RuntimeError::failure(RuntimeError::PermissionDenied);
}

void Folder::prepareRemovals()
{
    checkAllowsRemoval();
    m_state->makePrivateFolder();
}

namespace {

// Copies what fd holds into a new file of the folder under a private name, with the source's
// permissions (and owner, where the program may give it), synced; the name, or errno.
int copyInto(int fd, const struct stat& source, int folder, QByteArray& copyName)
{
    static std::atomic<unsigned> copies{0};
    copyName = ".retratix-copia-" + QByteArray::number(::getpid()) + '-' + QByteArray::number(copies.fetch_add(1));
    const Descriptor out(retryOnInterrupt([&] {
        return ::openat(folder, copyName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    }));
    if (out.get() < 0)
        return errno;
    const auto fail = [&](int error) {
        ::unlinkat(folder, copyName.constData(), 0);
        return error;
    };
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    for (off_t offset = 0;;) {
        const ssize_t got = ::pread(fd, buffer.data(), size_t(buffer.size()), offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return fail(errno);
        if (got == 0)
            break;
        for (ssize_t written = 0; written < got;) {
            const ssize_t put = ::write(out.get(), buffer.constData() + written, size_t(got - written));
            if (put < 0 && errno == EINTR)
                continue;
            if (put < 0)
                return fail(errno);
            written += put;
        }
        offset += got;
    }
    // As a move within the file system would leave it: the same owner (as mv gives it) and
    // permissions, never more readable than the original was.
    if (::geteuid() == 0 && ::fchown(out.get(), source.st_uid, source.st_gid) != 0) {
        // A file system without owners (FAT) keeps the program's: the permissions still hold.
    }
    if (::fchmod(out.get(), source.st_mode & 0777) != 0) {
        // A file system that keeps no permissions (FAT) gives its own: taken only where they let
        // no other account read more than the original did.
        struct stat copy {};
        if (::fstat(out.get(), &copy) != 0 || (copy.st_mode & ~source.st_mode & 0077))
            return fail(EPERM);
    }
    if (const int error = syncFile(out.get()))
        return fail(error);
    return 0;
}

// Moves the file open on fd (the entry name of the folder from) into destination under its name,
// or NAME.N when taken; across file systems a synced copy is made first and the original removed
// last. errno, or 0 once the file is in destination for good.
int moveInto(int fd, int from, const QByteArray& name, int destination)
{
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const QByteArray target = attempt == 0 ? name : fittedName({}, name, '.' + QByteArray::number(attempt));
        if (::renameat2(from, name.constData(), destination, target.constData(), RENAME_NOREPLACE) == 0) {
            syncFolder(destination);
            return 0;
        }
        if (errno == EEXIST)
            continue;
        if (errno != EXDEV)
            return errno;
        struct stat source {};
        if (::fstat(fd, &source) != 0)
            return errno;
        QByteArray copy;
        if (const int error = copyInto(fd, source, destination, copy))
            return error;
        if (::renameat2(destination, copy.constData(), destination, target.constData(), RENAME_NOREPLACE) != 0) {
            const int error = errno;
            ::unlinkat(destination, copy.constData(), 0);
            if (error == EEXIST)
                continue;
            return error;
        }
        tell(Step::CopyNamed, fd);
        syncFolder(destination);
        if (::unlinkat(from, name.constData(), 0) != 0)
            return errno;
        tell(Step::SourceRemoved, fd);
        return 0;
    }
    return EEXIST;
}

}  // namespace

RemoveOutcome Folder::removeIfUnchanged(const QString& name, const FileSnapshot& snapshot)
{
    return dispose(name, snapshot, nullptr);
}

RemoveOutcome Folder::moveIfUnchanged(const QString& name, const FileSnapshot& snapshot, Folder& destination)
{
    return dispose(name, snapshot, &destination);
}

RemoveOutcome Folder::dispose(const QString& fileName, const FileSnapshot& snapshot, Folder* destination)
{
    State& state = *m_state;
    const int folder = state.fd.get();
    const QByteArray name = native(fileName);
    state.makePrivateFolder();
    const int privateFolder = state.privateFd.get();
    const auto disposeFrom = [&](int fd, int from) {
        if (destination)
            return moveInto(fd, from, name, destination->m_state->fd.get());
        return ::unlinkat(from, name.constData(), 0) == 0 ? 0 : errno;
    };
    // In the private folder no one else can reach the file: a writer that opens the photo's name
    // makes a new file, and nothing can be put in its place before the removal.
    if (::renameat2(folder, name.constData(), privateFolder, name.constData(), RENAME_NOREPLACE) != 0) {
        if (errno != EINVAL && errno != ENOSYS)
            throw failureForErrno(errno);
        // A file system without the exclusive rename: checked and disposed of under the name.
        Descriptor fd(openForReading(folder, name));
        if (fd.get() < 0)
            throw failureForErrno(errno);
        if (!stillTheSnapshot(fd.get(), snapshot))
            return RemoveOutcome::Changed;
        if (const int error = disposeFrom(fd.get(), folder))
            throw failureForErrno(error);
        return RemoveOutcome::Removed;
    }
    const auto restore = [&] {
        if (const int error = putBack(privateFolder, name, folder)) {
            Failure failure = failureForErrno(error);
            failure.description += QStringLiteral(" (") + QFile::decodeName(state.privateName) + QLatin1Char('/') +
                                   fileName + QLatin1Char(')');
            throw failure;
        }
    };
    Descriptor fd(openForReading(privateFolder, name));
    struct stat st {};
    if (fd.get() >= 0 && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR)) {
        // Read-only: a delete without forcing refuses it.
        fd.reset();
        restore();
        throw RuntimeError::failure(RuntimeError::PermissionDenied);
    }
    if (fd.get() >= 0 && stillTheSnapshot(fd.get(), snapshot)) {
        const int error = disposeFrom(fd.get(), privateFolder);
        if (error == 0)
            return RemoveOutcome::Removed;
        fd.reset();
        restore();
        throw failureForErrno(error);
    }
    fd.reset();  // releases the lease
    restore();
    return RemoveOutcome::Changed;
}

namespace {

bool isSameFolder(int fd, const struct stat& folder)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 && st.st_dev == folder.st_dev && st.st_ino == folder.st_ino;
}

// Walks from the open folder start through names, making each missing folder private (0700, also
// where a default ACL would give more). Links are followed only while followLinks says so of the
// folder reached; a link or a file in the way otherwise fails (75). The descriptor of the last.
int walkFolders(int start, const QStringList& names, const std::function<bool(int)>& followLinks)
{
    Descriptor fd(::fcntl(start, F_DUPFD_CLOEXEC, 0));
    if (fd.get() < 0)
        throw failureForErrno(errno);
    for (const QString& component : names) {
        const QByteArray name = native(component);
        const bool follow = followLinks(fd.get());
        int next = openFolder(fd.get(), name, follow);
        if (next < 0 && errno == ENOENT) {
            if (::mkdirat(fd.get(), name.constData(), 0700) != 0 && errno != EEXIST)
                throw failureForErrno(errno);
            next = openFolder(fd.get(), name, follow);
            if (next >= 0)
                ::fchmod(next, 0700);
        }
        if (next < 0)
            throw failureForErrno(!follow && errno == ENOTDIR ? ELOOP : errno);
        fd.reset(next);
    }
    return fd.release();
}

}  // namespace

Folder Folder::subfolder(const QString& relativePath) const
{
    auto state = std::make_unique<State>();
    state->fd.reset(walkFolders(m_state->fd.get(), relativeNames(relativePath), [](int) { return false; }));
    QString path = m_path;
    for (const QString& component : relativeNames(relativePath))
        path = QDir(path).filePath(component);
    return Folder(path, std::move(state));
}

Folder Folder::openOrCreate(const QString& path, const Folder* within)
{
    // From the root down: the administrator's links are followed until the walk reaches the photo
    // folder; below it, none is, whatever way the path takes into it.
    struct stat photoFolder {};
    const bool checkWithin = within && ::fstat(within->m_state->fd.get(), &photoFolder) == 0;
    bool below = false;
    const auto followLinks = [&](int fd) {
        below = below || (checkWithin && isSameFolder(fd, photoFolder));
        return !below;
    };
    const Descriptor root(openFolder(AT_FDCWD, "/", true));
    if (root.get() < 0)
        throw failureForErrno(errno);
    const QString absolute = QDir::cleanPath(QDir(path).absolutePath());
    auto state = std::make_unique<State>();
    state->fd.reset(walkFolders(root.get(), relativeNames(absolute), followLinks));
    return Folder(path, std::move(state));
}

void Folder::recoverInterrupted()
{
    // Files of earlier versions: ".retratix-PID-N-NAME" beside the photos.
    static const QRegularExpression leftoverFile(QStringLiteral("^\\.retratix-(\\d+)-\\d+-(.+)$"));
    static const QRegularExpression privateFolder(QStringLiteral("^\\.retratix-(\\d+)-\\d+$"));
    const int folder = m_state->fd.get();
    // Only the names with the private prefix are decoded: a folder of many entries costs no memory.
    QList<QByteArray> names;
    forEachEntry(folder, [&names](const char* name, unsigned char, ino_t) {
        static constexpr char prefix[] = ".retratix-";
        if (std::strncmp(name, prefix, sizeof prefix - 1) == 0)
            names.append(QByteArray(name));
    });
    for (const QByteArray& name : std::as_const(names)) {
        const QString text = QFile::decodeName(name);
        struct stat st {};
        if (::fstatat(folder, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (const QRegularExpressionMatch match = privateFolder.match(text); match.hasMatch() && S_ISDIR(st.st_mode)) {
            const pid_t owner = pid_t(match.captured(1).toLongLong());
            // Another run at work still has its files in hand; so may this process.
            if ((owner != ::getpid() && processRuns(owner)) || isPrivateFolderLive(st))
                continue;
            const Descriptor leftovers(openFolder(folder, name, false));
            if (leftovers.get() < 0)
                continue;
            QList<QByteArray> files;
            forEachEntry(leftovers.get(),
                         [&files](const char* file, unsigned char, ino_t) { files.append(QByteArray(file)); });
            for (const QByteArray& file : std::as_const(files))
                putBack(leftovers.get(), file, folder);
            ::unlinkat(folder, name.constData(), AT_REMOVEDIR);
            continue;
        }
        const QRegularExpressionMatch match = leftoverFile.match(text);
        if (!match.hasMatch() || !S_ISREG(st.st_mode))
            continue;
        const pid_t owner = pid_t(match.captured(1).toLongLong());
        if (owner == ::getpid() || processRuns(owner))
            continue;
        ::renameat2(folder, name.constData(), folder, native(match.captured(2)).constData(), RENAME_NOREPLACE);
    }
}

Folder::Folder(Folder&&) noexcept = default;
Folder& Folder::operator=(Folder&&) noexcept = default;

}  // namespace FolderFiles
