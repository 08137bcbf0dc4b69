#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace reporting {

class ReportDocument;

// One row of an upload run's log as the report shows it.
struct LogCsvRow {
    QString file;    // NOMBRE_FOTO
    QString stored;  // SUBIO: "S" or "N"
    QString reason;  // MOTIVO
};

// The rows as a CSV file that a spreadsheet in a Spanish locale opens as it is: UTF-8 with a
// byte-order mark, fields separated by ";" (the comma is the decimal separator there), every line
// ended by CR LF, the header "Archivo;Subida;Motivo" first. A field with ";", a quote, CR or LF is
// quoted, its quotes doubled; a field that starts with "=", "+", "-", "@", a tab or CR gets a "'"
// in front, so that no spreadsheet takes it for a formula.
QByteArray logCsv(const QList<LogCsvRow>& rows);

// The rows of a report of the upload log (fields LOG_ABONADOSFOTOS.NOMBRE_FOTO, SUBIO and MOTIVO)
// in the report's order.
QList<LogCsvRow> logCsvRows(const ReportDocument& document);

// Writes those rows to a CSV file, whole or not at all (an earlier file stays as it was) and never
// through a link at the name (SafeOutput); raises Failure ReportNotWritten naming the file and why.
void writeLogCsv(const ReportDocument& document, const QString& path);

}  // namespace reporting
