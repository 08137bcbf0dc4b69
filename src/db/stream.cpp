#include "db/recordset.h"

#include "common/failure.h"
#include "common/folder_files.h"

#include <limits>

namespace db {

void Stream::open(int32_t, int32_t)
{
    close();
}

void Stream::loadFromFile(const QString& path)
{
    FolderFiles::FileBytes file = FolderFiles::readRegularFile(path, std::numeric_limits<int32_t>::max());
    if (file.beyondLimit) {
        close();
        throw RuntimeError::failure(RuntimeError::Overflow);
    }
    m_bytes = std::move(file.bytes);
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
}

}  // namespace db
