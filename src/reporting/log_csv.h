#pragma once

#include "reporting/export_format.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace reporting {

class ReportDocument;

// One row of an upload run's log as the report shows it.
struct LogCsvRow {
    QString file;    // NOMBRE_FOTO
    QString stored;  // SUBIO: "S" or "N"
    QString reason;  // MOTIVO
};

// A header and rows as a CSV file that a spreadsheet in a Spanish locale opens as it is: UTF-8 with
// a byte-order mark, fields separated by ";" (the comma is the decimal separator there), every
// line ended by CR LF, the header first. A field with ";", a quote, CR or LF is quoted, its quotes
// doubled; a field that starts with "=", "+", "-", "@", a tab or CR gets a "'" in front, so that
// no spreadsheet takes it for a formula.
QByteArray csvFile(const QStringList& header, const QList<QStringList>& rows);

// "Exportar a CSV…" of a report window, with the file's bytes for the finished report.
ExportFormat csvExport(std::function<QByteArray(const ReportDocument&)> contents);

// The upload log's rows as a CSV file (csvFile), under the header "Archivo;Subida;Motivo".
QByteArray logCsv(const QList<LogCsvRow>& rows);

// The rows of a report of the upload log (fields LOG_ABONADOSFOTOS.NOMBRE_FOTO, SUBIO and MOTIVO)
// in the report's order.
QList<LogCsvRow> logCsvRows(const ReportDocument& document);

// "Exportar a CSV…" of the upload's report window: the log's rows in the report's order.
ExportFormat logCsvExport();

// Writes those rows to a CSV file, whole or not at all (an earlier file stays as it was) and never
// through a link at the name (SafeOutput); raises Failure ReportNotWritten naming the file and why.
void writeLogCsv(const ReportDocument& document, const QString& path);

}  // namespace reporting
