#include "upload/check_report.h"

#include "reporting/formula.h"
#include "reporting/log_csv.h"
#include "reporting/report_document.h"

namespace CheckReport {

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
