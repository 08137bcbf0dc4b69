#include "db/recordset.h"

#include "common/failure.h"

#include <limits>

namespace db {

void Stream::open(int32_t, int32_t)
{
    close();
}

void Stream::loadFromFile(const QString& path)
{
    loadFromFile(path, std::numeric_limits<int32_t>::max());
    if (m_beyondLimit) {
        close();
        throw RuntimeError::failure(RuntimeError::Overflow);
    }
}

void Stream::loadFromFile(const QString& path, qint64 limit)
{
    FolderFiles::FileBytes file = FolderFiles::readRegularFile(path, limit);
    m_bytes = std::move(file.bytes);
    m_snapshot = file.snapshot;
    m_beyondLimit = file.beyondLimit;
    m_position = 0;
}

int32_t Stream::size() const { return static_cast<int32_t>(m_bytes.size()); }

QByteArray Stream::read(int32_t count)
{
    const qsizetype available = m_bytes.size() - m_position;
    const qsizetype taken = count < 0 ? available : qMin<qsizetype>(count, available);
    const QByteArray bytes = m_position == 0 && taken == m_bytes.size() ? m_bytes : m_bytes.mid(m_position, taken);
    m_position += taken;
    return bytes;
}

void Stream::close()
{
    m_bytes.clear();
    m_position = 0;
    m_beyondLimit = false;
    m_snapshot = {};
}

}  // namespace db
