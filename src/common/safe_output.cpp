#include "common/safe_output.h"

#include "common/failure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_LINUX
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QSaveFile>
#endif

namespace SafeOutput {

namespace {

Failure outputFailure(int32_t number, const QString& path, const QString& reason)
{
    return Failure(number, QStringLiteral("Retratix"),
                   QStringLiteral("No se puede escribir el archivo %1: %2").arg(QDir::toNativeSeparators(path), reason));
}

}  // namespace

#ifdef Q_OS_LINUX

namespace {

Failure failureForErrno(int error, const QString& path)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR: return outputFailure(RuntimeError::PathNotFound, path, QStringLiteral("no existe la carpeta"));
    case EISDIR: return outputFailure(RuntimeError::PathFileAccessError, path, QStringLiteral("es una carpeta"));
    case ENAMETOOLONG:
        return outputFailure(RuntimeError::PathFileAccessError, path, QStringLiteral("el nombre es demasiado largo"));
    case ENOSPC:
    case EDQUOT: return outputFailure(RuntimeError::DeviceIoError, path, QStringLiteral("no queda espacio en el disco"));
    case EIO: return outputFailure(RuntimeError::DeviceIoError, path, QStringLiteral("error de E/S del disco"));
    case EROFS:
        return outputFailure(RuntimeError::PermissionDenied, path, QStringLiteral("el disco es de solo lectura"));
    default: return outputFailure(RuntimeError::PermissionDenied, path, QStringLiteral("permiso denegado"));
    }
}

// Creates an empty file under a new name in the folder that nobody can have chosen in advance;
// -1 with errno when it cannot. The name goes to privateName.
int createPrivately(int folder, int access, mode_t mode, QByteArray& privateName)
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        privateName = QByteArrayLiteral(".retratix-") +
                      QByteArray::number(QRandomGenerator::system()->generate64(), 16) + QByteArrayLiteral(".tmp");
        int fd;
        do
            fd = ::openat(folder, privateName.constData(), access | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        while (fd < 0 && errno == EINTR);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

// What is at the name, refusing what a new file must not replace; false when the name is free.
bool entryToReplace(int folder, const QByteArray& name, const QString& path, struct stat& entry)
{
    if (::fstatat(folder, name.constData(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            return false;
        throw failureForErrno(errno, path);
    }
    const auto notRegular = [&path] {
        return outputFailure(RuntimeError::PathFileAccessError, path,
                             QStringLiteral("ya hay en ese nombre algo que no es un archivo normal; no se sustituye"));
    };
    if (S_ISDIR(entry.st_mode))
        throw failureForErrno(EISDIR, path);
    if (S_ISLNK(entry.st_mode)) {
        // Only to see whether the link stands for a device or the like (/dev/stdout): its target is
        // never opened, and a link that leads nowhere (or nowhere this account may look) is replaced.
        struct stat target;
        if (::fstatat(folder, name.constData(), &target, 0) == 0 && !S_ISREG(target.st_mode))
            throw notRegular();
        return true;
    }
    if (!S_ISREG(entry.st_mode))
        throw notRegular();
    return true;
}

void closeKeepingErrno(int fd)
{
    const int saved = errno;
    ::close(fd);
    errno = saved;
}

}  // namespace

struct NewFile::Private {
    QString path;
    QByteArray name;
    QByteArray privateName;
    int folder = -1;
    int fd = -1;
    // The permissions of the program's own file that the new one replaces, kept as a write over
    // it would; -1: a new file's.
    int keptMode = -1;
    QFile file;

    ~Private()
    {
        file.close();
        if (fd >= 0)
            ::close(fd);
        if (!privateName.isEmpty())
            ::unlinkat(folder, privateName.constData(), 0);
        if (folder >= 0)
            ::close(folder);
    }
};

NewFile::NewFile(const QString& path) : d(std::make_unique<Private>())
{
    d->path = path;
    const QFileInfo info(path);
    const QString name = info.fileName();
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        throw failureForErrno(EISDIR, path);
    d->name = QFile::encodeName(name);
    do
        d->folder = ::open(QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (d->folder < 0 && errno == EINTR);
    if (d->folder < 0)
        throw failureForErrno(errno, path);
    struct stat entry;
    if (entryToReplace(d->folder, d->name, path, entry) && S_ISREG(entry.st_mode) && entry.st_uid == ::geteuid())
        d->keptMode = int(entry.st_mode & 0777);
    // Never more open while it is written than it will be at the name.
    d->fd = createPrivately(d->folder, O_WRONLY, d->keptMode >= 0 ? mode_t(d->keptMode & 0666) : 0666, d->privateName);
    if (d->fd < 0) {
        d->privateName.clear();
        throw failureForErrno(errno, path);
    }
    if (!d->file.open(d->fd, QIODevice::WriteOnly, QFileDevice::DontCloseHandle))
        throw failureForErrno(EBADF, path);
}

NewFile::~NewFile() = default;

QIODevice& NewFile::device() { return d->file; }

void NewFile::commit()
{
    if (!d->file.flush() || d->file.error() != QFileDevice::NoError)
        throw outputFailure(RuntimeError::DeviceIoError, d->path,
                            QStringLiteral("error de escritura (%1)").arg(d->file.errorString()));
    if (d->keptMode >= 0 && ::fchmod(d->fd, mode_t(d->keptMode)) != 0)
        throw failureForErrno(errno, d->path);
    if (::fsync(d->fd) != 0)
        throw failureForErrno(errno, d->path);
    struct stat entry;
    entryToReplace(d->folder, d->name, d->path, entry);
    if (::renameat(d->folder, d->privateName.constData(), d->folder, d->name.constData()) != 0) {
        const int error = errno;
        struct stat folder;
        if ((error == EPERM || error == EACCES) && ::fstat(d->folder, &folder) == 0 && (folder.st_mode & S_ISVTX))
            throw outputFailure(RuntimeError::PermissionDenied, d->path,
                                QStringLiteral("el nombre es de otra cuenta en una carpeta compartida; no se sustituye"));
        throw failureForErrno(error, d->path);
    }
    d->privateName.clear();
    // The new name reaches the disk with the file; a file system that cannot sync folders says EINVAL.
    if (::fsync(d->folder) != 0 && errno != EINVAL)
        throw failureForErrno(errno, d->path);
}

int openSharedFile(const QString& path, const QString& permissionsOf)
{
    const QFileInfo info(path);
    const QByteArray name = QFile::encodeName(info.fileName());
    const int folder = ::open(QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return -1;
    struct stat like;
    const bool likeKnown = ::stat(QFile::encodeName(permissionsOf).constData(), &like) == 0;
    for (int attempt = 0; attempt < 8; ++attempt) {
        int fd;
        do
            fd = ::openat(folder, name.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        while (fd < 0 && errno == EINTR);
        bool replace = true;
        if (fd >= 0) {
            struct stat st;
            if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
                ::close(folder);
                return fd;
            }
            ::close(fd);  // a FIFO or socket someone placed there
        } else if (errno == ENOENT) {
            replace = false;
        } else if (errno != ELOOP && errno != ENXIO) {  // a link; a socket
            closeKeepingErrno(folder);
            return -1;
        }
        QByteArray privateName;
        fd = createPrivately(folder, O_RDWR, likeKnown ? 0600 : 0644, privateName);
        if (fd < 0) {
            closeKeepingErrno(folder);
            return -1;
        }
        if (likeKnown) {
            // Where this account is not in the database's group, the file keeps the folder's.
            [[maybe_unused]] const int grouped = ::fchown(fd, uid_t(-1), like.st_gid);
            ::fchmod(fd, like.st_mode & 0666);
        }
        // A missing file is created only if no other process created one meanwhile; a link or a
        // FIFO is replaced. Two processes replacing at once end on different files: isFileAt()
        // after the lock tells the one that must open again.
        int placed = replace ? -1
                             : ::renameat2(folder, privateName.constData(), folder, name.constData(), RENAME_NOREPLACE);
        if (replace || (placed != 0 && errno == EINVAL))  // a file system without RENAME_NOREPLACE
            placed = ::renameat(folder, privateName.constData(), folder, name.constData());
        if (placed == 0) {
            ::close(folder);
            return fd;
        }
        const int error = errno;
        ::unlinkat(folder, privateName.constData(), 0);
        ::close(fd);
        if (error != EEXIST) {
            ::close(folder);
            errno = error;
            return -1;
        }
    }
    ::close(folder);
    errno = ELOOP;
    return -1;
}

bool isFileAt(int fd, const QString& path)
{
    struct stat open;
    struct stat named;
    return ::fstat(fd, &open) == 0 &&
           ::fstatat(AT_FDCWD, QFile::encodeName(path).constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

#else  // other platforms: Qt's own save file, written whole and renamed into place

struct NewFile::Private {
    explicit Private(const QString& path) : path(path), file(path) {}
    QString path;
    QSaveFile file;
};

NewFile::NewFile(const QString& path) : d(std::make_unique<Private>(path))
{
    if (!QFileInfo(path).absoluteDir().exists())
        throw outputFailure(RuntimeError::PathNotFound, path, QStringLiteral("no existe la carpeta"));
    if (!d->file.open(QIODevice::WriteOnly))
        throw outputFailure(RuntimeError::PermissionDenied, path, d->file.errorString());
}

NewFile::~NewFile() = default;

QIODevice& NewFile::device() { return d->file; }

void NewFile::commit()
{
    if (!d->file.commit())
        throw outputFailure(RuntimeError::DeviceIoError, d->path, d->file.errorString());
}

#endif

void writeFile(const QString& path, const QByteArray& bytes)
{
    NewFile file(path);
    if (file.device().write(bytes) != bytes.size())
        throw outputFailure(RuntimeError::DeviceIoError, path,
                            QStringLiteral("error de escritura (%1)").arg(file.device().errorString()));
    file.commit();
}

}  // namespace SafeOutput
