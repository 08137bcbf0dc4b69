#include "upload/upload_log.h"

UploadLog::UploadLog(db::Connection& connection)
    : m_insert(connection,
               QStringLiteral("INSERT INTO LOG_ABONADOSFOTOS (nombre_foto, subio, usuario, motivo) VALUES (?, ?, ?, ?)"))
{
    // The run number's text goes into USUARIO as the column's type (a number where it is one).
    m_insert.convertForColumns(QStringLiteral("LOG_ABONADOSFOTOS"),
                               {QStringLiteral("nombre_foto"), QStringLiteral("subio"), QStringLiteral("usuario"),
                                QStringLiteral("motivo")});
}

void UploadLog::WriteLogRow(const QString& runUser, const QString& fileName, const QString& subio,
                            const QString& motivo)
{
    m_insert.queue({fileName, subio, runUser, motivo}, 1);
}
