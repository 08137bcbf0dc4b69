// The file code of FolderFiles on other platforms: Qt's portable calls by path; the check and the
// removal are two steps. Compiled and tested on Linux too (RETRATIX_PORTABLE_FILES, tests/upload).
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

namespace FolderFiles {

using namespace detail;

namespace {

FileSnapshot snapshotOf(const QFileInfo& info)
{
    FileSnapshot snapshot;
    snapshot.size = info.size();
    snapshot.modifiedNs = info.lastModified().toMSecsSinceEpoch() * 1'000'000;
    return snapshot;
}

}  // namespace

namespace {

// The path below folder that path names, or a null string when it lies elsewhere.
QString pathWithin(const QString& folder, const QString& path)
{
    const QString base = QDir::cleanPath(QDir(folder).absolutePath());
    const QString target = QDir::cleanPath(QDir(path).absolutePath());
    if (target == base)
        return QStringLiteral(".");
    const QString prefix = base.endsWith(QLatin1Char('/')) ? base : base + QLatin1Char('/');
    return target.startsWith(prefix) ? target.mid(prefix.size()) : QString();
}

}  // namespace

const Guarantees& guarantees()
{
    static const Guarantees portable;
    return portable;
}

void setStepObserver(std::function<void(Step, int)>) {}

struct Folder::State {};

Folder::Folder(const QString& path) : m_path(path), m_state(std::make_unique<State>())
{
    if (!QFileInfo(path).isDir())
        throw RuntimeError::failure(RuntimeError::PathNotFound);
}

Folder::Folder(QString path, std::unique_ptr<State> state) : m_path(std::move(path)), m_state(std::move(state)) {}

Folder::~Folder() = default;

QStringList Folder::fileNames() const
{
    return QDir(m_path).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Unsorted);
}

void Folder::forEachFile(const std::function<void(const QString& name, quint64 inode)>& visit) const
{
    QDirIterator it(m_path, QDir::Files | QDir::Hidden | QDir::System);
    while (it.hasNext()) {
        it.next();
        visit(it.fileName(), 0);
    }
}

EntryStatus Folder::entryStatus(const QString& name) const
{
    const QFileInfo info(filePath(name));
    EntryStatus status;
    if (info.isSymLink() || info.isShortcut() || info.isJunction())
        status.kind = EntryKind::Link;
    else if (info.isFile())
        status.kind = EntryKind::RegularFile;
    else if (info.exists())
        status.kind = EntryKind::Other;
    if (status.kind == EntryKind::RegularFile) {
        const FileSnapshot snapshot = snapshotOf(info);
        status.size = snapshot.size;
        status.modifiedNs = snapshot.modifiedNs;
    }
    return status;
}

qint64 Folder::fileSize(const QString& name) const
{
    const QFileInfo info(filePath(name));
    return info.exists() ? info.size() : -1;
}

FileBytes Folder::readRegularFile(const QString& name, qint64 limit) const
{
    if (entryKind(name) == EntryKind::Missing)
        throw RuntimeError::failure(RuntimeError::FileNotFound);
    if (entryKind(name) != EntryKind::RegularFile)
        throw RuntimeError::failure(RuntimeError::PathFileAccessError);
    const QFileInfo info(filePath(name));
    QFile file(info.filePath());
    if (!file.open(QIODevice::ReadOnly))
        throw RuntimeError::failure(RuntimeError::PermissionDenied);
    FileBytes result;
    result.snapshot = snapshotOf(info);
    result.snapshot.recentlyModified =
        result.snapshot.modifiedNs >= QDateTime::currentMSecsSinceEpoch() * 1'000'000 - RecentNs;
    if (info.size() >= limit) {
        result.beyondLimit = true;
        return result;
    }
    result.bytes = file.read(limit);
    if (file.error() != QFileDevice::NoError)
        throw RuntimeError::failure(RuntimeError::DeviceIoError);
    result.beyondLimit = result.bytes.size() >= limit;
    if (result.snapshot.recentlyModified)
        result.snapshot.contentHash = contentHash(result.bytes);
    return result;
}

void Folder::checkRemovable(const QString& name) const
{
    const QString path = filePath(name);
    if (!QFileInfo::exists(path))
        throw RuntimeError::failure(RuntimeError::FileNotFound);
    if (!(QFile::permissions(path) & QFileDevice::WriteOwner))
        throw RuntimeError::failure(RuntimeError::PermissionDenied);
}

void Folder::checkAllowsRemoval() const
{
    if (!QFileInfo(m_path).isWritable())
        throw RuntimeError::failure(RuntimeError::PermissionDenied);
}

void Folder::prepareRemovals() { checkAllowsRemoval(); }

RemoveOutcome Folder::removeIfUnchanged(const QString& name, const FileSnapshot& snapshot)
{
    return dispose(name, snapshot, nullptr);
}

RemoveOutcome Folder::moveIfUnchanged(const QString& name, const FileSnapshot& snapshot, Folder& destination)
{
    return dispose(name, snapshot, &destination);
}

RemoveOutcome Folder::dispose(const QString& name, const FileSnapshot& snapshot, Folder* destination)
{
    checkRemovable(name);
    const QString path = filePath(name);
    const QFileInfo info(path);
    if (entryKind(name) != EntryKind::RegularFile || !sameFile(snapshotOf(info), snapshot))
        return RemoveOutcome::Changed;
    if (snapshot.recentlyModified) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly) || contentHash(file.read(snapshot.size + 1)) != snapshot.contentHash)
            return RemoveOutcome::Changed;
    }
    if (!destination) {
        if (!QFile::remove(path))
            throw RuntimeError::failure(RuntimeError::PermissionDenied);
        return RemoveOutcome::Removed;
    }
    QString target = destination->filePath(name);
    for (int attempt = 1; QFileInfo::exists(target); ++attempt)
        target = destination->filePath(name + QLatin1Char('.') + QString::number(attempt));
    // QFile::rename copies across volumes and removes the original only once the copy is whole.
    if (!QFile::rename(path, target))
        throw RuntimeError::failure(RuntimeError::PermissionDenied);
    return RemoveOutcome::Removed;
}

Folder Folder::subfolder(const QString& relativePath) const
{
    QString path = m_path;
    for (const QString& component : relativeNames(relativePath)) {
        path = QDir(path).filePath(component);
        if (QFileInfo(path).isSymLink())
            throw RuntimeError::failure(RuntimeError::PathFileAccessError);
        if (!QDir().mkpath(path))
            throw RuntimeError::failure(RuntimeError::PathNotFound);
    }
    return Folder(path);
}

Folder Folder::openOrCreate(const QString& path, const Folder* within)
{
    if (within) {
        const QString below = pathWithin(within->path(), path);
        if (!below.isNull())
            return within->subfolder(below);
    }
    if (!QDir().mkpath(path))
        throw RuntimeError::failure(RuntimeError::PathNotFound);
    return Folder(path);
}

void Folder::recoverInterrupted() {}

Folder::Folder(Folder&&) noexcept = default;
Folder& Folder::operator=(Folder&&) noexcept = default;

}  // namespace FolderFiles
