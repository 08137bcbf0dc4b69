#pragma once

#include "reporting/export_format.h"

#include <QByteArray>
#include <QString>

struct CheckSummary;
namespace reporting {
class ReportDocument;
}

// The check's report: the database of its own that ComprobacionFotos.rpt reads, and the export
// of its rows that its report window offers.
namespace CheckReport {

// Writes the rows into a new SQLite database at path (table COMPROBACION_FOTOS, in one
// transaction) and returns its data source. A failure passes to the caller with nothing left open.
QString writeDatabase(const QString& path, const QString& folder, const CheckSummary& summary);

// The rows of a check's report as CSV, in the report's order, under the report's own headings
// "Archivo;Subiría;Resultado;Observaciones" (written as reporting::csvFile writes).
QByteArray csv(const reporting::ReportDocument& document);
// "Exportar a CSV…" of the check's report window.
reporting::ExportFormat csvExport();

}  // namespace CheckReport
