#include "upload/check_report.h"

#include "db/connection.h"
#include "db/data_source.h"
#include "db/statement.h"
#include "reporting/formula.h"
#include "reporting/log_csv.h"
#include "reporting/report_document.h"
#include "upload/check_run.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace CheckReport {

QString writeDatabase(const QString& path, const QString& folder, const CheckSummary& summary)
{
    QFile::remove(path);
    db::createSqliteFile(path);
    const QString dataSource = QStringLiteral("sqlite:") + QFileInfo(path).absoluteFilePath();
    db::Connection connection;
    connection.openDataSource(dataSource);
    connection.execute(QStringLiteral("CREATE TABLE COMPROBACION_FOTOS (ORDEN INTEGER, CARPETA TEXT, ARCHIVO TEXT, "
                                      "SUBIRIA TEXT, RESULTADO TEXT, DETALLE TEXT)"));
    connection.beginBatch();
    try {
        db::Statement insert(connection, QStringLiteral("INSERT INTO COMPROBACION_FOTOS (ORDEN, CARPETA, ARCHIVO, SUBIRIA, "
                                                        "RESULTADO, DETALLE) VALUES (?, ?, ?, ?, ?, ?)"));
        // An empty text stays a text, as the report has always read it, never a null.
        const auto text = [](const QString& value) { return QVariant(value.isNull() ? QStringLiteral("") : value); };
        const QString folderText = QDir::toNativeSeparators(folder);
        for (qsizetype i = 0; i < summary.rows.size(); ++i) {
            const CheckRow& row = summary.rows.at(i);
            insert.execute({qlonglong(i + 1), text(folderText), text(row.file), text(row.stored), text(row.outcome),
                            text(row.detail)});
        }
        connection.commitBatch();
    } catch (...) {
        connection.rollbackBatch();
        throw;
    }
    return dataSource;
}

QByteArray csv(const reporting::ReportDocument& document)
{
    static const QStringList fields{
        QStringLiteral("{COMPROBACION_FOTOS.ARCHIVO}"), QStringLiteral("{COMPROBACION_FOTOS.SUBIRIA}"),
        QStringLiteral("{COMPROBACION_FOTOS.RESULTADO}"), QStringLiteral("{COMPROBACION_FOTOS.DETALLE}")};
    QList<QStringList> rows;
    rows.reserve(document.rowCount());
    for (int row = 0; row < document.rowCount(); ++row) {
        QStringList values;
        for (const QString& field : fields)
            values.append(reporting::displayText(document.value(row, field)));
        rows.append(values);
    }
    return reporting::csvFile({QStringLiteral("Archivo"), QStringLiteral("Subiría"), QStringLiteral("Resultado"),
                               QStringLiteral("Observaciones")},
                              rows);
}

reporting::ExportFormat csvExport() { return reporting::csvExport(&csv); }

}  // namespace CheckReport
