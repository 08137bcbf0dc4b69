#pragma once

#include <QByteArray>
#include <QString>

namespace ModGlob {

// The text of bytes in the workstation's code page, Windows-1252: Qt's converter where the
// build has it (ICU), else the table below.
QString decodeWindows1252(const QByteArray& bytes);
// Latin-1 except 0x80-0x9F, which the table maps; for Qt builds without ICU.
QString decodeWindows1252ByTable(const QByteArray& bytes);

}  // namespace ModGlob
