#include "db/run_number_locks.h"

#include "common/safe_output.h"

#include <fcntl.h>
#include <unistd.h>

namespace db::detail {

namespace {

// Takes (F_WRLCK) or gives up (F_UNLCK) the lock on one byte of the file, held by the open file
// description: another connection of this process is another holder, as another process is.
bool lockByte(int fd, int32_t offset, short type)
{
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = offset;
    lock.l_len = 1;
    return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

}  // namespace

bool RunNumberLocks::reserve(const QString& file, const QString& database, int32_t number)
{
    // Whoever can write the folder may replace the file between an open and a lock (another run
    // replacing a link planted there): a lock counts only on the file that is at the name.
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (m_file < 0) {
            m_file = SafeOutput::openSharedFile(file, database);
            if (m_file < 0)
                return true;  // a folder the program cannot write in: nothing to lock with
        }
        if (!lockByte(int(m_file), number, F_WRLCK))
            return false;
        if (SafeOutput::isFileAt(int(m_file), file))
            return true;
        close();
    }
    return true;
}

void RunNumberLocks::release(int32_t number)
{
    if (m_file >= 0)
        lockByte(int(m_file), number, F_UNLCK);
}

void RunNumberLocks::close()
{
    if (m_file >= 0)
        ::close(int(m_file));
    m_file = -1;
}

}  // namespace db::detail
