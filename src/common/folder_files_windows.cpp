// The Windows file code of FolderFiles. A file is disposed of through a handle opened with no
// sharing at all: while the program holds it, no other program can open, write, rename or remove
// the file, and one that has it open keeps the program from opening it (the file stays). The check
// against the snapshot and the removal or rename happen on that one handle. Entries are never
// reached through a reparse point (symbolic link, junction), which counts as a link; the folders in
// use are held open without delete sharing, so that their paths keep naming them.
#include "common/folder_files.h"
#include "common/folder_files_shared.h"

#include "common/failure.h"

#include <QDir>
#include <QFileInfo>

#include <windows.h>
#include <sddl.h>

#include <atomic>
#include <string>
#include <utility>
#include <vector>

namespace FolderFiles {

using namespace detail;

namespace {

std::function<void(Step, int)>& stepObserver()
{
    static std::function<void(Step, int)> observer;
    return observer;
}

void tell(Step step, HANDLE handle)
{
    if (stepObserver())
        stepObserver()(step, int(HandleToLong(handle)));
}

Failure failureForError(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND: return RuntimeError::failure(RuntimeError::FileNotFound);
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DIRECTORY:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME: return RuntimeError::failure(RuntimeError::PathNotFound);
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_INVALID_NAME: return RuntimeError::failure(RuntimeError::BadFileName);
    case ERROR_CRC:
    case ERROR_IO_DEVICE:
    case ERROR_NOT_READY:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_NETNAME_DELETED:
    case ERROR_UNEXP_NET_ERR: return RuntimeError::failure(RuntimeError::DeviceIoError);
    case ERROR_CANT_ACCESS_FILE:
    case ERROR_CANT_RESOLVE_FILENAME:
    case ERROR_NOT_A_REPARSE_POINT: return RuntimeError::failure(RuntimeError::PathFileAccessError);
    default: return RuntimeError::failure(RuntimeError::PermissionDenied);  // access denied, sharing, write-protected
    }
}

[[noreturn]] void failWithLastError() { throw failureForError(::GetLastError()); }

class Handle final {
public:
    explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : m_handle(handle) {}
    ~Handle() { reset(); }
    Handle(Handle&& other) noexcept : m_handle(other.release()) {}
    Handle& operator=(Handle&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    HANDLE get() const { return m_handle; }
    bool isValid() const { return m_handle != INVALID_HANDLE_VALUE; }
    HANDLE release() { return std::exchange(m_handle, INVALID_HANDLE_VALUE); }
    void reset(HANDLE handle = INVALID_HANDLE_VALUE)
    {
        if (m_handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(m_handle);
        m_handle = handle;
    }

private:
    HANDLE m_handle;
};

const wchar_t* wide(const QString& text) { return reinterpret_cast<const wchar_t*>(text.utf16()); }

// The path in the form that lifts the length limit of 260 characters: absolute, with backslashes,
// "\\?\" before it ("\\?\UNC\" for a share).
QString longPath(const QString& path)
{
    QString native = QDir::toNativeSeparators(QDir::cleanPath(QDir(path).absolutePath()));
    if (native.startsWith(QLatin1String("\\\\?\\")))
        return native;
    if (native.startsWith(QLatin1String("\\\\")))
        return QStringLiteral("\\\\?\\UNC\\") + native.mid(2);
    return QStringLiteral("\\\\?\\") + native;
}

// A name of the folder's own: no separator, no drive or stream (":"), not "." or "..".
bool isPlainName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('\\')) && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char(':'));
}

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Held open, a folder cannot be renamed or removed (no delete sharing); files come and go in it.
constexpr DWORD FolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD FolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

// 100-nanosecond intervals since 1601 to nanoseconds since 1970.
qint64 nanoseconds(const FILETIME& time)
{
    const qint64 ticks = (qint64(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return (ticks - 116'444'736'000'000'000) * 100;
}

qint64 nowNs()
{
    FILETIME now{};
    ::GetSystemTimePreciseAsFileTime(&now);
    return nanoseconds(now);
}

FileSnapshot snapshotOf(const BY_HANDLE_FILE_INFORMATION& info)
{
    FileSnapshot snapshot;
    snapshot.device = info.dwVolumeSerialNumber;
    snapshot.inode = (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    snapshot.size = (qint64(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    snapshot.modifiedNs = nanoseconds(info.ftLastWriteTime);
    snapshot.mode = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0644;
    return snapshot;
}

bool isReparsePoint(DWORD attributes) { return attributes & FILE_ATTRIBUTE_REPARSE_POINT; }
bool isFolder(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) && !isReparsePoint(attributes); }

// A regular file that no other name reaches: only such a file is surely the folder's own.
bool isOwnRegularFile(const BY_HANDLE_FILE_INFORMATION& info)
{
    return !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) &&
           info.nNumberOfLinks == 1;
}

bool isReadOnlyFile(const BY_HANDLE_FILE_INFORMATION& info)
{
    return (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) &&
           !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

// Reads from the file's start until its end or limit bytes; false with the last error set.
bool readAll(HANDLE file, qint64 limit, QByteArray& bytes, qint64 expectedSize = 1 << 16)
{
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        return false;
    bytes.clear();
    qint64 capacity = qMin<qint64>(limit, qMax<qint64>(expectedSize + 1, 4096));
    bytes.resize(capacity);
    qint64 total = 0;
    while (total < limit) {
        if (total == capacity) {
            capacity = qMin<qint64>(limit, capacity * 2);
            bytes.resize(capacity);
        }
        DWORD got = 0;
        const DWORD wanted = DWORD(qMin<qint64>(capacity - total, 1 << 30));
        if (!::ReadFile(file, bytes.data() + total, wanted, &got, nullptr))
            return false;
        if (got == 0)
            break;
        total += got;
    }
    bytes.resize(total);
    return true;
}

// Opens a folder (following links only where told), refusing anything that is no folder (76; 75
// where no link is followed).
Handle openFolder(const QString& path, bool followLinks)
{
    Handle folder(::CreateFileW(wide(longPath(path)), FolderAccess, FolderShare, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT),
                                nullptr));
    if (!folder.isValid())
        failWithLastError();
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(folder.get(), &info))
        failWithLastError();
    if (isReparsePoint(info.dwFileAttributes))
        throw RuntimeError::failure(RuntimeError::PathFileAccessError);
    // Below the photo folder a file in the way is refused as a link is.
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        throw RuntimeError::failure(followLinks ? RuntimeError::PathNotFound : RuntimeError::PathFileAccessError);
    return folder;
}

bool sameObject(HANDLE a, HANDLE b)
{
    BY_HANDLE_FILE_INFORMATION first{};
    BY_HANDLE_FILE_INFORMATION second{};
    return ::GetFileInformationByHandle(a, &first) && ::GetFileInformationByHandle(b, &second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

// A new folder private to the program's account (with the system's and the administrators', who
// can take any folder anyway), as 0700 makes one on Linux; false with the last error set.
bool createPrivateFolder(const QString& path)
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    const Handle tokenHandle(token);
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<char> user(size);
    wchar_t* sid = nullptr;
    if (size == 0 || !::GetTokenInformation(token, TokenUser, user.data(), size, &size) ||
        !::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid))
        return false;
    const QString sddl = QStringLiteral("D:P(A;OICI;FA;;;%1)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)")
                             .arg(QString::fromWCharArray(sid));
    ::LocalFree(sid);
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(wide(sddl), SDDL_REVISION_1,
                                                                &attributes.lpSecurityDescriptor, nullptr))
        return false;
    const BOOL made = ::CreateDirectoryW(wide(longPath(path)), &attributes);
    const DWORD error = ::GetLastError();
    ::LocalFree(attributes.lpSecurityDescriptor);
    ::SetLastError(error);
    return made;
}

// Walks from the folder start (open as startHandle) through names, making each missing folder
// private; no name on the way may be a link (75). The handles on the way stay open until the last
// is reached, so no folder can be swapped for a link behind the walk.
Handle walkFolders(const QString& start, HANDLE startHandle, const QStringList& names, QString& path)
{
    path = start;
    std::vector<Handle> held;
    held.push_back(openFolder(start, true));
    if (!sameObject(held.back().get(), startHandle))
        throw RuntimeError::failure(RuntimeError::PathFileAccessError);
    for (const QString& name : names) {
        path = QDir(path).filePath(name);
        if (!createPrivateFolder(path) && ::GetLastError() != ERROR_ALREADY_EXISTS)
            failWithLastError();
        held.push_back(openFolder(path, false));
    }
    return std::move(held.back());
}

std::atomic<unsigned> copyCounter{0};

bool renameUnsupported(DWORD error)
{
    return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_CALL_NOT_IMPLEMENTED ||
           error == ERROR_INVALID_FUNCTION;
}

}  // namespace

const Guarantees& guarantees()
{
    // Identity (volume serial and file index) and link count come with the handle; a file another
    // program has open cannot be opened without sharing, so it is never removed. Windows has no
    // immutable or append-only files (a read-only one is refused as on Linux), and nothing is
    // taken out of its name, so a killed run leaves nothing to put back.
    static const Guarantees windows{true, true, true, false, false};
    return windows;
}

void setStepObserver(std::function<void(Step, int)> observer) { stepObserver() = std::move(observer); }

struct Folder::State {
    Handle folder;
    QString longPath;  // the folder's, for the names in it

    std::wstring entry(const QString& name) const
    {
        QString path = longPath;
        if (!path.endsWith(QLatin1Char('\\')))
            path += QLatin1Char('\\');
        path += name;
        return std::wstring(wide(path), size_t(path.size()));
    }
};

Folder::Folder(const QString& path) : m_path(path), m_state(std::make_unique<State>())
{
    try {
        m_state->folder = openFolder(path, true);
    } catch (const Failure&) {
        throw RuntimeError::failure(RuntimeError::PathNotFound);
    }
    m_state->longPath = longPath(path);
}

Folder::Folder(QString path, std::unique_ptr<State> state) : m_path(std::move(path)), m_state(std::move(state)) {}

Folder::~Folder() = default;

void Folder::forEachFile(const std::function<void(const QString& name, quint64 inode)>& visit) const
{
    const std::wstring pattern = m_state->entry(QStringLiteral("*"));
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                             FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const QString name = QString::fromWCharArray(found.cFileName);
        if (name != QLatin1String(".") && name != QLatin1String("..") && !isFolder(found.dwFileAttributes))
            visit(name, 0);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
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
    if (!isPlainName(name))
        return status;
    const std::wstring path = m_state->entry(name);
    // Attributes only: such an open needs no sharing and never disturbs another program.
    const Handle entry(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, ShareAll, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (entry.isValid() && ::GetFileInformationByHandle(entry.get(), &info)) {
        const FileSnapshot snapshot = snapshotOf(info);
        status.inode = snapshot.inode;
        status.size = snapshot.size;
        status.modifiedNs = snapshot.modifiedNs;
    } else {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
            return status;
        info.dwFileAttributes = data.dwFileAttributes;
        info.nNumberOfLinks = 1;
        status.size = (qint64(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        status.modifiedNs = nanoseconds(data.ftLastWriteTime);
    }
    if (isReparsePoint(info.dwFileAttributes) || (!isFolder(info.dwFileAttributes) && info.nNumberOfLinks > 1))
        status.kind = EntryKind::Link;
    else
        status.kind = isOwnRegularFile(info) ? EntryKind::RegularFile : EntryKind::Other;
    return status;
}

qint64 Folder::fileSize(const QString& name) const
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!isPlainName(name) || !::GetFileAttributesExW(m_state->entry(name).c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (qint64(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

FileBytes Folder::readRegularFile(const QString& name, qint64 limit) const
{
    if (!isPlainName(name))
        throw RuntimeError::failure(RuntimeError::BadFileName);
    const std::wstring path = m_state->entry(name);
    // Shared with everyone: a read never gets in another program's way; a write during it changes
    // the modification time, which the removal compares.
    const Handle file(::CreateFileW(path.c_str(), GENERIC_READ, ShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.isValid()) {
        const DWORD error = ::GetLastError();
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            throw RuntimeError::failure(RuntimeError::PathFileAccessError);
        throw failureForError(error);
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file.get(), &info))
        failWithLastError();
    if (!isOwnRegularFile(info) || ::GetFileType(file.get()) != FILE_TYPE_DISK)
        throw RuntimeError::failure(RuntimeError::PathFileAccessError);
    FileBytes result;
    result.snapshot = snapshotOf(info);
    result.snapshot.recentlyModified = result.snapshot.modifiedNs >= nowNs() - RecentNs;
    if (result.snapshot.size >= limit) {
        result.beyondLimit = true;
        return result;
    }
    if (!readAll(file.get(), limit, result.bytes, result.snapshot.size))
        failWithLastError();
    result.beyondLimit = result.bytes.size() >= limit;
    if (result.snapshot.recentlyModified)
        result.snapshot.contentHash = contentHash(result.bytes);
    return result;
}

void Folder::checkRemovable(const QString& name) const
{
    if (!isPlainName(name))
        throw RuntimeError::failure(RuntimeError::BadFileName);
    const DWORD attributes = ::GetFileAttributesW(m_state->entry(name).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        failWithLastError();
    // Read-only: what a delete without forcing refuses.
    if ((attributes & FILE_ATTRIBUTE_READONLY) && !isReparsePoint(attributes))
        throw RuntimeError::failure(RuntimeError::PermissionDenied);
}

namespace {

// Whether the folder's access control list grants the program's account the rights; true where it
// cannot be read (the removal itself then tells).
bool folderGrants(const QString& folder, DWORD rights)
{
    const std::wstring path(wide(folder), size_t(folder.size()));
    constexpr SECURITY_INFORMATION wanted =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD size = 0;
    ::GetFileSecurityW(path.c_str(), wanted, nullptr, 0, &size);
    std::vector<char> descriptor(size);
    HANDLE process = nullptr;
    if (size == 0 || !::GetFileSecurityW(path.c_str(), wanted, descriptor.data(), size, &size) ||
        !::OpenProcessToken(::GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &process))
        return true;
    const Handle processToken(process);
    HANDLE impersonation = nullptr;
    if (!::DuplicateToken(process, SecurityImpersonation, &impersonation))
        return true;
    const Handle token(impersonation);
    GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    ::MapGenericMask(&rights, &mapping);
    PRIVILEGE_SET privileges{};
    DWORD privilegesSize = sizeof privileges;
    DWORD granted = 0;
    BOOL allowed = FALSE;
    if (!::AccessCheck(descriptor.data(), impersonation, rights, &mapping, &privileges, &privilegesSize, &granted,
                       &allowed))
        return true;
    return allowed;
}

}  // namespace

void Folder::checkAllowsRemoval() const
{
    // New names in the folder, as write permission on a folder is on Linux. Removing a file takes
    // delete rights on the file or the folder's "delete subfolders and files", which the removal
    // itself asks for.
    if (!folderGrants(m_state->longPath, FILE_ADD_FILE | FILE_TRAVERSE))
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

namespace {

// Flushes the folder's entries to disk where the file system lets a folder be flushed (NTFS, with
// write access to it); a file system that does not keeps its own order.
void syncFolder(const std::wstring& folder, HANDLE file)
{
    const Handle handle(::CreateFileW(folder.c_str(), GENERIC_WRITE, ShareAll, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (handle.isValid())
        ::FlushFileBuffers(handle.get());
    tell(Step::DestinationSynced, file);
}

// Renames the file open on handle (with delete access) to path; refuses a taken name.
bool renameByHandle(HANDLE handle, const std::wstring& path)
{
    const size_t bytes = path.size() * sizeof(wchar_t);
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + bytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = DWORD(bytes);
    std::copy(path.begin(), path.end(), rename->FileName);
    return ::SetFileInformationByHandle(handle, FileRenameInfo, buffer.data(), DWORD(buffer.size()));
}

bool removeByHandle(HANDLE handle)
{
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    return ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
}

// The name in the destination: its own, or NAME.N.
QString targetName(const QString& name, int attempt)
{
    return attempt == 0 ? name : name + QLatin1Char('.') + QString::number(attempt);
}

// Copies the file open on source into the destination under a private name, flushed to disk, then
// gives the copy the file's name (NAME.N when taken) without replacing anything; the error, or 0.
DWORD copyInto(HANDLE source, const QString& name,
               const std::function<std::wstring(const QString&)>& entry)
{
    const QString copyName = QStringLiteral(".retratix-copia-%1-%2")
                                 .arg(::GetCurrentProcessId())
                                 .arg(copyCounter.fetch_add(1));
    const std::wstring copyPath = entry(copyName);
    Handle out(::CreateFileW(copyPath.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!out.isValid())
        return ::GetLastError();
    const auto fail = [&](DWORD error) {
        removeByHandle(out.get());
        out.reset();
        return error;
    };
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(source, start, nullptr, FILE_BEGIN))
        return fail(::GetLastError());
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(source, buffer.data(), DWORD(buffer.size()), &got, nullptr))
            return fail(::GetLastError());
        if (got == 0)
            break;
        DWORD written = 0;
        if (!::WriteFile(out.get(), buffer.constData(), got, &written, nullptr) || written != got)
            return fail(::GetLastError());
    }
    if (!::FlushFileBuffers(out.get()))
        return fail(::GetLastError());
    tell(Step::CopySynced, out.get());
    for (int attempt = 0; attempt < 1000; ++attempt) {
        if (renameByHandle(out.get(), entry(targetName(name, attempt)))) {
            tell(Step::CopyNamed, out.get());
            out.reset();
            return 0;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
            return fail(error);
    }
    return fail(ERROR_ALREADY_EXISTS);
}

}  // namespace

RemoveOutcome Folder::dispose(const QString& name, const FileSnapshot& snapshot, Folder* destination)
{
    if (!isPlainName(name))
        throw RuntimeError::failure(RuntimeError::BadFileName);
    const std::wstring path = m_state->entry(name);
    // No sharing: no other program has the file open now, and none can open it until it is gone.
    const Handle file(::CreateFileW(path.c_str(), GENERIC_READ | DELETE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.isValid()) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
            return RemoveOutcome::Changed;
        throw failureForError(error);
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file.get(), &info))
        failWithLastError();
    // Read-only: a delete without forcing refuses it.
    if (isReadOnlyFile(info))
        throw RuntimeError::failure(RuntimeError::PermissionDenied);
    if (!isOwnRegularFile(info) || ::GetFileType(file.get()) != FILE_TYPE_DISK || !sameFile(snapshotOf(info), snapshot))
        return RemoveOutcome::Changed;
    if (snapshot.recentlyModified) {
        QByteArray content;
        if (!readAll(file.get(), snapshot.size + 1, content, snapshot.size) || content.size() != snapshot.size ||
            contentHash(content) != snapshot.contentHash)
            return RemoveOutcome::Changed;
    }
    // From here on no one else can reach the file: the handle shares nothing.
    tell(Step::LastLook, file.get());
    if (!destination) {
        if (!removeByHandle(file.get()))
            failWithLastError();
        return RemoveOutcome::Removed;
    }
    const State& target = *destination->m_state;
    const auto entry = [&target](const QString& entryName) { return target.entry(entryName); };
    const std::wstring targetFolder(wide(target.longPath), size_t(target.longPath.size()));
    // Within a volume: one rename of the open file, never over a name taken.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        if (renameByHandle(file.get(), entry(targetName(name, attempt)))) {
            syncFolder(targetFolder, file.get());
            return RemoveOutcome::Removed;
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
            continue;
        if (error != ERROR_NOT_SAME_DEVICE && !renameUnsupported(error))
            throw failureForError(error);
        // Across volumes (or where the file system renames no open file): a copy, whole on disk and
        // named before the original goes.
        if (const DWORD copyError = copyInto(file.get(), name, entry))
            throw failureForError(copyError);
        syncFolder(targetFolder, file.get());
        if (!removeByHandle(file.get()))
            failWithLastError();
        tell(Step::SourceRemoved, file.get());
        return RemoveOutcome::Removed;
    }
    throw failureForError(ERROR_ALREADY_EXISTS);
}

Folder Folder::subfolder(const QString& relativePath) const
{
    auto state = std::make_unique<State>();
    QString path;
    state->folder = walkFolders(m_path, m_state->folder.get(), relativeNames(relativePath), path);
    state->longPath = longPath(path);
    return Folder(path, std::move(state));
}

Folder Folder::openOrCreate(const QString& path, const Folder* within)
{
    const QString absolute = QDir::cleanPath(QDir(path).absolutePath());
    if (within) {
        // From the root down: the administrator's links are followed until the path reaches the
        // photo folder (by its identity, whatever way leads there); below it, none is.
        QStringList below;
        QStringList ancestors;
        for (QFileInfo at(absolute);; at = QFileInfo(at.absolutePath())) {
            ancestors.prepend(at.absoluteFilePath());
            if (at.isRoot() || at.absolutePath() == at.absoluteFilePath())
                break;
        }
        for (int index = 0; index < ancestors.size(); ++index) {
            const Handle folder(::CreateFileW(wide(longPath(ancestors.at(index))), FILE_READ_ATTRIBUTES, ShareAll,
                                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
            if (!folder.isValid())
                break;
            if (sameObject(folder.get(), within->m_state->folder.get())) {
                const QString rest = QDir(ancestors.at(index)).relativeFilePath(absolute);
                return within->subfolder(rest == QLatin1String(".") ? QString() : rest);
            }
        }
    }
    if (!QDir().mkpath(absolute))
        throw RuntimeError::failure(RuntimeError::PathNotFound);
    return Folder(path);
}

// Nothing to put back: on Windows a file is checked and disposed of under its own name, through one
// handle, and never parked elsewhere; a killed run's handles close with it and leave the file as it was.
void Folder::recoverInterrupted() {}

Folder::Folder(Folder&&) noexcept = default;
Folder& Folder::operator=(Folder&&) noexcept = default;

}  // namespace FolderFiles
