#pragma once

#include "db/statement.h"

#include <QString>

namespace db {
class Connection;
}

// The upload log LOG_ABONADOSFOTOS: one row for every photo a run examines.
class UploadLog final {
public:
    explicit UploadLog(db::Connection& connection);

    // The flag and reason pairs a row carries.
    static QString stored() { return QStringLiteral("S"); }
    static QString notStored() { return QStringLiteral("N"); }
    static QString photoInserted() { return QStringLiteral("Foto Insertada"); }
    static QString photoUpdated() { return QStringLiteral("Foto Actualizada"); }
    static QString sizeNotAllowed() { return QStringLiteral("Tamaño no permitido"); }
    static QString memberMissing() { return QStringLiteral("Abonado no existente"); }
    // A file named as a photo in another format that is no image the program can read (with
    // formats besides JPEG switched on).
    static QString photoNotValid() { return QStringLiteral("Foto no válida"); }

    // Writes one row of the four columns, in their order: at once, or with the connection's open
    // batch. A database failure passes to the caller.
    void WriteLogRow(const QString& runUser, const QString& fileName, const QString& subio,
                     const QString& motivo);

private:
    db::Statement m_insert;
};
