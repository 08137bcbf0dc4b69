#pragma once

// Internal to src/db: the run numbers a SQLite database's connections hold, as locks on one byte
// each of a file beside the database (run_number_locks_posix.cpp, run_number_locks_windows.cpp).

#include <QString>

#include <cstdint>

namespace db::detail {

class RunNumberLocks final {
public:
    RunNumberLocks() = default;
    ~RunNumberLocks() { close(); }
    RunNumberLocks(const RunNumberLocks&) = delete;
    RunNumberLocks& operator=(const RunNumberLocks&) = delete;

    // Locks the number's byte of file (opened at the first need, made where missing with the
    // permissions of database): false when another connection, of this process or another, holds
    // it; true also where no such file can be made (nothing to lock with).
    bool reserve(const QString& file, const QString& database, int32_t number);
    void release(int32_t number);
    void close();

private:
    std::intptr_t m_file = -1;  // a descriptor, or a Windows handle
};

}  // namespace db::detail
