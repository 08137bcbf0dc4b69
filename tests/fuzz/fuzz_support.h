#pragma once

// What the fuzz targets share. A broken property leaves the target as an exception: under libFuzzer
// nothing catches it, so the process aborts and the input is kept as a crash; the corpus replay
// catches it and names the input.

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <stdexcept>

namespace fuzz {

struct BrokenProperty final : std::logic_error {
    using std::logic_error::logic_error;
};

inline void check(bool holds, const QString& property)
{
    if (!holds)
        throw BrokenProperty(property.toStdString());
}

// The input cut at its first count - 1 line feeds: count parts, the missing ones empty, the last one
// holding the rest of the input with any line feeds in it.
inline QList<QByteArray> split(const uint8_t* data, size_t size, int count)
{
    QByteArray rest(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QList<QByteArray> parts;
    while (parts.size() < count - 1) {
        const qsizetype end = rest.indexOf('\n');
        if (end < 0)
            break;
        parts.append(rest.left(end));
        rest.remove(0, end + 1);
    }
    parts.append(rest);
    while (parts.size() < count)
        parts.append(QByteArray());
    return parts;
}

}  // namespace fuzz
