#include "db/recordset.h"

#include "common/failure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <limits>

namespace db {

void Stream::open(int32_t, int32_t)
{
    m_bytes.clear();
    m_position = 0;
}

void Stream::loadFromFile(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        throw RuntimeError::failure(info.absoluteDir().exists() ? RuntimeError::FileNotFound
                                                                : RuntimeError::PathNotFound);
    if (info.size() > std::numeric_limits<int32_t>::max())
        throw RuntimeError::failure(RuntimeError::Overflow);
    QFile file(path);
    if (info.isDir() || !file.open(QIODevice::ReadOnly))
        throw RuntimeError::failure(RuntimeError::PermissionDenied);
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw RuntimeError::failure(RuntimeError::PermissionDenied);
    m_bytes = std::move(bytes);
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
