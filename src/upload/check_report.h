#pragma once

#include "reporting/export_format.h"

#include <QByteArray>
#include <QString>

namespace reporting {
class ReportDocument;
}

// The check's report: the database of its own that ComprobacionFotos.rpt reads, and the export
// of its rows that its report window offers.
namespace CheckReport {

// The rows of a check's report as CSV, in the report's order, under the report's own headings
// "Archivo;Subiría;Resultado;Observaciones" (written as reporting::csvFile writes).
QByteArray csv(const reporting::ReportDocument& document);
// "Exportar a CSV…" of the check's report window.
reporting::ExportFormat csvExport();

}  // namespace CheckReport
