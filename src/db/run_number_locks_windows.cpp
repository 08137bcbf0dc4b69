#include "db/run_number_locks.h"

#include <QDir>

#include <windows.h>

namespace db::detail {

namespace {

HANDLE handleOf(std::intptr_t file) { return reinterpret_cast<HANDLE>(file); }

OVERLAPPED at(int32_t number)
{
    OVERLAPPED position{};
    position.Offset = DWORD(number);
    return position;
}

}  // namespace

bool RunNumberLocks::reserve(const QString& file, const QString&, int32_t number)
{
    if (m_file < 0) {
        // Shared for reading and writing only: while any connection has it open, no one can remove
        // or replace the file, so a lock always stands on the file at the name. A new file takes
        // the folder's permissions, as the database beside it did.
        const QString path = QDir::toNativeSeparators(file);
        const HANDLE handle = ::CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), GENERIC_READ | GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return true;  // a folder the program cannot write in: nothing to lock with
        BY_HANDLE_FILE_INFORMATION info{};
        if (!::GetFileInformationByHandle(handle, &info) ||
            (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
            ::CloseHandle(handle);
            return true;  // a link planted at the name is never written through
        }
        m_file = reinterpret_cast<std::intptr_t>(handle);
    }
    // Held by the handle: another connection of this process is another holder, as another
    // process is.
    OVERLAPPED position = at(number);
    return ::LockFileEx(handleOf(m_file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &position);
}

void RunNumberLocks::release(int32_t number)
{
    if (m_file < 0)
        return;
    OVERLAPPED position = at(number);
    ::UnlockFileEx(handleOf(m_file), 0, 1, 0, &position);
}

void RunNumberLocks::close()
{
    if (m_file >= 0)
        ::CloseHandle(handleOf(m_file));
    m_file = -1;
}

}  // namespace db::detail
