#include "upload/upload_log.h"

#include "db/recordset.h"

void UploadLog::WriteLogRow(const QString& runUser, const QString& fileName, const QString& subio,
                            const QString& motivo)
{
    db::Recordset rs;
    // Selects no row: it only reaches the table's columns for the new row.
    rs.open(QStringLiteral("SELECT * FROM LOG_ABONADOSFOTOS WHERE CODINSTALACION=-1"), m_connection, 3, 3, -1);
    rs.addNew();
    rs.setCollect(QStringLiteral("nombre_foto"), fileName);
    rs.setCollect(QStringLiteral("subio"), subio);
    rs.setCollect(QStringLiteral("usuario"), runUser);
    rs.setCollect(QStringLiteral("motivo"), motivo);
    rs.update();
    rs.close();
}
