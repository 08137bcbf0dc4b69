#include "common/folder_files.h"

#include "common/failure.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHashFunctions>
#include <QRegularExpression>

#ifdef Q_OS_LINUX
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace FolderFiles {

namespace {

// Within this time before the read, a modification time may not change for a later write
// (FAT keeps it to two seconds).
constexpr qint64 RecentNs = 3'000'000'000;

size_t contentHash(const QByteArray& bytes) { return qHashBits(bytes.constData(), size_t(bytes.size()), 0); }

bool sameFile(const FileSnapshot& a, const FileSnapshot& b)
{
    return a.device == b.device && a.inode == b.inode && a.size == b.size && a.modifiedNs == b.modifiedNs;
}

// A missing name: the file (53) when its folder is there, else the path (76).
Failure missingFailure(const QString& path)
{
    return RuntimeError::failure(QFileInfo(path).absoluteDir().exists() ? RuntimeError::FileNotFound
                                                                        : RuntimeError::PathNotFound);
}

}  // namespace

#ifdef Q_OS_LINUX

namespace {

QByteArray native(const QString& path) { return QFile::encodeName(path); }

Failure failureForErrno(int error, const QString& path)
{
    switch (error) {
    case ENOENT: return missingFailure(path);
    case ENOTDIR: return RuntimeError::failure(RuntimeError::PathNotFound);
    case EIO: return RuntimeError::failure(RuntimeError::DeviceIoError);
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
    void reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

// Never blocks: a FIFO opens at once (and is then refused), a device without a reader too.
int openForReading(const QByteArray& path)
{
    int fd;
    do
        fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    while (fd < 0 && errno == EINTR);
    return fd;
}

FileSnapshot snapshotOf(const struct stat& st)
{
    FileSnapshot snapshot;
    snapshot.device = st.st_dev;
    snapshot.inode = st.st_ino;
    snapshot.size = st.st_size;
    snapshot.modifiedNs = qint64(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    return snapshot;
}

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
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
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
    return !leased || ::fcntl(fd, F_GETLEASE) == F_WRLCK;
}

std::atomic<unsigned> privateNameCounter{0};

// ".retratix-PID-N-NAME": no photo's name (its member code is empty), and it tells a later run whose
// it was and what it was called, should this process die before it is done with it.
QString privateNameIn(const QString& folder, const QString& fileName)
{
    return folder + QStringLiteral("/.retratix-%1-%2-%3")
                        .arg(QCoreApplication::applicationPid())
                        .arg(privateNameCounter.fetch_add(1))
                        .arg(fileName);
}

void syncFolder(const QString& folder)
{
    const Descriptor fd(::open(native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0)
        ::fsync(fd.get());
}

// Copies what fd holds into a new file, synced; errno on failure (the new file is gone then).
int copyInto(int fd, const QByteArray& target)
{
    const Descriptor out(::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (out.get() < 0)
        return errno;
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    off_t offset = 0;
    while (true) {
        const ssize_t got = ::pread(fd, buffer.data(), size_t(buffer.size()), offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            const int error = got < 0 ? errno : (::fsync(out.get()) == 0 ? 0 : errno);
            if (error)
                ::unlink(target.constData());
            return error;
        }
        for (ssize_t written = 0; written < got;) {
            const ssize_t put = ::write(out.get(), buffer.constData() + written, size_t(got - written));
            if (put < 0 && errno == EINTR)
                continue;
            if (put < 0) {
                const int error = errno;
                ::unlink(target.constData());
                return error;
            }
            written += put;
        }
        offset += got;
    }
}

// Moves the file open on fd, now under privateName, into folder under fileName (or fileName.N
// when taken); across file systems a synced copy is made first and the original removed last.
// errno, or 0 once the file is in folder for good.
int moveInto(int fd, const QByteArray& privateName, const QString& fileName, const QString& folder)
{
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const QString name = attempt == 0 ? fileName : fileName + QLatin1Char('.') + QString::number(attempt);
        const QByteArray target = native(folder + QLatin1Char('/') + name);
        if (::renameat2(AT_FDCWD, privateName.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0) {
            syncFolder(folder);
            return 0;
        }
        if (errno == EEXIST)
            continue;
        if (errno != EXDEV)
            return errno;
        const QByteArray copy = native(privateNameIn(folder, name));
        if (const int error = copyInto(fd, copy))
            return error;
        if (::renameat2(AT_FDCWD, copy.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) != 0) {
            const int error = errno;
            ::unlink(copy.constData());
            if (error == EEXIST)
                continue;
            return error;
        }
        syncFolder(folder);
        return ::unlink(privateName.constData()) == 0 ? 0 : errno;
    }
    return EEXIST;
}


// Puts the file back under its name; when a new file has taken the name meanwhile, beside it under
// a name that is no photo's, so neither is lost.
void restore(const QByteArray& privateName, const QString& path)
{
    if (::renameat2(AT_FDCWD, privateName.constData(), AT_FDCWD, native(path).constData(), RENAME_NOREPLACE) == 0)
        return;
    int error = errno;
    if (error == EEXIST) {
        const QFileInfo info(path);
        const QString beside = info.absolutePath() + QStringLiteral("/retratix-conservado-%1-%2")
                                                         .arg(QDateTime::currentMSecsSinceEpoch())
                                                         .arg(info.fileName());
        if (::renameat2(AT_FDCWD, privateName.constData(), AT_FDCWD, native(beside).constData(), RENAME_NOREPLACE) == 0)
            return;
        error = errno;
    }
    Failure failure = failureForErrno(error, path);
    failure.description += QStringLiteral(" (") + QFile::decodeName(privateName) + QLatin1Char(')');
    throw failure;
}

// Calls take(directory, entry) for each entry of the folder but "." and ".."; nothing when the
// folder cannot be read. Entries are seen one at a time, so a large folder costs no memory here.
template <typename Take>
void forEachEntry(const QString& folder, Take take)
{
    DIR* directory = ::opendir(native(folder).constData());
    if (!directory)
        return;
    while (const dirent* entry = ::readdir(directory))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            take(directory, *entry);
    ::closedir(directory);
}

}  // namespace

QStringList fileNames(const QString& folder)
{
    QStringList names;
    forEachEntry(folder, [&names](DIR* directory, const dirent& entry) {
        bool isFolder = entry.d_type == DT_DIR;
        if (entry.d_type == DT_UNKNOWN) {
            struct stat st {};
            isFolder =
                ::fstatat(::dirfd(directory), entry.d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        if (!isFolder)
            names.append(QFile::decodeName(entry.d_name));
    });
    return names;
}

EntryKind entryKind(const QString& path)
{
    struct stat st {};
    if (::stat(native(path).constData(), &st) == 0)
        return S_ISREG(st.st_mode) ? EntryKind::RegularFile : EntryKind::Other;
    // A link whose target is missing is a name with nothing behind it to read.
    if (::lstat(native(path).constData(), &st) == 0)
        return EntryKind::Other;
    return EntryKind::Missing;
}

FileBytes readRegularFile(const QString& path, qint64 limit)
{
    const Descriptor fd(openForReading(native(path)));
    if (fd.get() < 0)
        throw failureForErrno(errno, path);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        throw failureForErrno(errno, path);
    if (!S_ISREG(st.st_mode))
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
        throw failureForErrno(errno, path);
    file.beyondLimit = file.bytes.size() >= limit;
    if (file.snapshot.recentlyModified)
        file.snapshot.contentHash = contentHash(file.bytes);
    return file;
}

void checkRemovable(const QString& path)
{
    const QByteArray name = native(path);
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0)
        throw failureForErrno(errno, path);
    // Read-only: no write permission for the owner (what a delete without forcing refuses), of the
    // file behind a link as the program has always judged it.
    struct stat target {};
    if (::stat(name.constData(), &target) == 0 && !(target.st_mode & S_IWUSR))
        throw RuntimeError::failure(RuntimeError::PermissionDenied);
    struct statx attributes {};
    if (::statx(AT_FDCWD, name.constData(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &attributes) == 0 &&
        (attributes.stx_attributes & (STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND)))
        throw RuntimeError::failure(RuntimeError::PermissionDenied);
    // In a folder with the sticky bit only the owner of the file or of the folder removes it.
    struct stat folder {};
    const QByteArray folderName = native(QFileInfo(path).absolutePath());
    if (::stat(folderName.constData(), &folder) == 0 && (folder.st_mode & S_ISVTX) && ::geteuid() != 0 &&
        st.st_uid != ::geteuid() && folder.st_uid != ::geteuid())
        throw RuntimeError::failure(RuntimeError::PermissionDenied);
}

void checkFolderAllowsRemoval(const QString& folder)
{
    const QByteArray name = native(folder);
    if (::faccessat(AT_FDCWD, name.constData(), W_OK | X_OK, AT_EACCESS) != 0)
        throw failureForErrno(errno == ENOENT ? ENOTDIR : errno, folder);
    struct statx attributes {};
    if (::statx(AT_FDCWD, name.constData(), 0, STATX_BASIC_STATS, &attributes) == 0 &&
        (attributes.stx_attributes & (STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND)))
        throw RuntimeError::failure(RuntimeError::PermissionDenied);
}

namespace {

// Removes the file, or moves it into destination, only if it is still the snapshot's.
RemoveOutcome disposeIfUnchanged(const QString& path, const FileSnapshot& snapshot, const QString* destination)
{
    const QFileInfo info(path);
    const QByteArray name = native(path);
    const QByteArray privateName = native(privateNameIn(info.absolutePath(), info.fileName()));
    const auto dispose = [&](int fd, const QByteArray& current) {
        if (destination)
            return moveInto(fd, current, info.fileName(), *destination);
        return ::unlink(current.constData()) == 0 ? 0 : errno;
    };
    // Once the file has its private name, a writer that opens the photo's name makes a new file.
    if (::renameat2(AT_FDCWD, name.constData(), AT_FDCWD, privateName.constData(), RENAME_NOREPLACE) != 0) {
        if (errno != EINVAL && errno != ENOSYS)
            throw failureForErrno(errno, path);
        // A file system without the exclusive rename: checked and disposed of under the name.
        Descriptor fd(openForReading(name));
        if (fd.get() < 0)
            throw failureForErrno(errno, path);
        if (!stillTheSnapshot(fd.get(), snapshot))
            return RemoveOutcome::Changed;
        if (const int error = dispose(fd.get(), name))
            throw failureForErrno(error, path);
        return RemoveOutcome::Removed;
    }
    Descriptor fd(openForReading(privateName));
    struct stat st {};
    if (fd.get() >= 0 && ::fstat(fd.get(), &st) == 0 && !(st.st_mode & S_IWUSR)) {
        // Read-only: a delete without forcing refuses it.
        fd.reset();
        restore(privateName, path);
        throw RuntimeError::failure(RuntimeError::PermissionDenied);
    }
    if (fd.get() >= 0 && stillTheSnapshot(fd.get(), snapshot)) {
        const int error = dispose(fd.get(), privateName);
        if (error == 0)
            return RemoveOutcome::Removed;
        fd.reset();
        restore(privateName, path);
        throw failureForErrno(error, path);
    }
    fd.reset();  // releases the lease
    restore(privateName, path);
    return RemoveOutcome::Changed;
}

}  // namespace

RemoveOutcome removeIfUnchanged(const QString& path, const FileSnapshot& snapshot)
{
    return disposeIfUnchanged(path, snapshot, nullptr);
}

RemoveOutcome moveIfUnchanged(const QString& path, const FileSnapshot& snapshot, const QString& folder)
{
    return disposeIfUnchanged(path, snapshot, &folder);
}

void prepareFolderForFiles(const QString& folder)
{
    if (!QDir().mkpath(folder))
        throw RuntimeError::failure(QFileInfo(folder).exists() ? RuntimeError::PermissionDenied
                                                               : RuntimeError::PathNotFound);
    checkFolderAllowsRemoval(folder);
}

void recoverInterrupted(const QString& folder)
{
    static const QRegularExpression leftover(QStringLiteral("^\\.retratix-(\\d+)-\\d+-(.+)$"));
    // Only the names with the private prefix are decoded: a folder of many entries costs no memory.
    QStringList names;
    forEachEntry(folder, [&names](DIR*, const dirent& entry) {
        static constexpr char prefix[] = ".retratix-";
        if (std::strncmp(entry.d_name, prefix, sizeof prefix - 1) == 0)
            names.append(QFile::decodeName(entry.d_name));
    });
    for (const QString& name : std::as_const(names)) {
        const QRegularExpressionMatch match = leftover.match(name);
        if (!match.hasMatch())
            continue;
        const pid_t owner = pid_t(match.captured(1).toLongLong());
        // Another run at work on this folder still has its file in hand.
        if (owner == ::getpid() || ::kill(owner, 0) == 0 || errno == EPERM)
            continue;
        const QByteArray from = native(folder + QLatin1Char('/') + name);
        const QByteArray to = native(folder + QLatin1Char('/') + match.captured(2));
        ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE);
    }
}

#else  // other platforms: Qt's portable calls; the check and the removal are two steps

namespace {

FileSnapshot snapshotOf(const QFileInfo& info)
{
    FileSnapshot snapshot;
    snapshot.size = info.size();
    snapshot.modifiedNs = info.lastModified(QTimeZone::UTC).toMSecsSinceEpoch() * 1'000'000;
    return snapshot;
}

// Calls take(directory, entry) for each entry of the folder but "." and ".."; nothing when the
// folder cannot be read. Entries are seen one at a time, so a large folder costs no memory here.
template <typename Take>
void forEachEntry(const QString& folder, Take take)
{
    DIR* directory = ::opendir(native(folder).constData());
    if (!directory)
        return;
    while (const dirent* entry = ::readdir(directory))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            take(directory, *entry);
    ::closedir(directory);
}

}  // namespace

QStringList fileNames(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Unsorted);
}

EntryKind entryKind(const QString& path)
{
    const QFileInfo info(path);
    if (info.isFile())
        return EntryKind::RegularFile;
    return info.exists() || info.isSymLink() ? EntryKind::Other : EntryKind::Missing;
}

FileBytes readRegularFile(const QString& path, qint64 limit)
{
    const QFileInfo info(path);
    if (!info.exists())
        throw missingFailure(path);
    if (!info.isFile())
        throw RuntimeError::failure(RuntimeError::PathFileAccessError);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw RuntimeError::failure(RuntimeError::PermissionDenied);
    FileBytes result;
    result.snapshot = snapshotOf(info);
    result.snapshot.recentlyModified =
        result.snapshot.modifiedNs >= QDateTime::currentMSecsSinceEpoch() * 1'000'000 - RecentNs;
    result.bytes = file.read(limit);
    if (file.error() != QFileDevice::NoError)
        throw RuntimeError::failure(RuntimeError::DeviceIoError);
    result.beyondLimit = result.bytes.size() >= limit;
    if (result.snapshot.recentlyModified)
        result.snapshot.contentHash = contentHash(result.bytes);
    return result;
}

void checkRemovable(const QString& path)
{
    if (!QFileInfo::exists(path))
        throw missingFailure(path);
    if (!(QFile::permissions(path) & QFileDevice::WriteOwner))
        throw RuntimeError::failure(RuntimeError::PermissionDenied);
}

void checkFolderAllowsRemoval(const QString& folder)
{
    if (!QFileInfo(folder).isWritable())
        throw RuntimeError::failure(RuntimeError::PermissionDenied);
}

namespace {

bool stillTheSnapshot(const QString& path, const FileSnapshot& snapshot)
{
    checkRemovable(path);
    const QFileInfo info(path);
    if (!sameFile(snapshotOf(info), snapshot))
        return false;
    if (!snapshot.recentlyModified)
        return true;
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && contentHash(file.read(snapshot.size + 1)) == snapshot.contentHash;
}

}  // namespace

RemoveOutcome removeIfUnchanged(const QString& path, const FileSnapshot& snapshot)
{
    if (!stillTheSnapshot(path, snapshot))
        return RemoveOutcome::Changed;
    if (!QFile::remove(path))
        throw RuntimeError::failure(RuntimeError::PermissionDenied);
    return RemoveOutcome::Removed;
}

RemoveOutcome moveIfUnchanged(const QString& path, const FileSnapshot& snapshot, const QString& folder)
{
    if (!stillTheSnapshot(path, snapshot))
        return RemoveOutcome::Changed;
    const QString name = QFileInfo(path).fileName();
    QString target = folder + QLatin1Char('/') + name;
    for (int attempt = 1; QFileInfo::exists(target); ++attempt)
        target = folder + QLatin1Char('/') + name + QLatin1Char('.') + QString::number(attempt);
    // QFile::rename copies across volumes and removes the original only once the copy is whole.
    if (!QFile::rename(path, target))
        throw RuntimeError::failure(RuntimeError::PermissionDenied);
    return RemoveOutcome::Removed;
}

void prepareFolderForFiles(const QString& folder)
{
    if (!QDir().mkpath(folder))
        throw RuntimeError::failure(RuntimeError::PathNotFound);
    checkFolderAllowsRemoval(folder);
}

void recoverInterrupted(const QString&) {}

#endif

}  // namespace FolderFiles
