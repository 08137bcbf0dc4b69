#include "reporting/log_csv.h"

#include "common/safe_output.h"
#include "reporting/formula.h"
#include "reporting/report_document.h"
#include "reporting/report_engine.h"

namespace reporting {

namespace {

void appendField(QString& line, QString field)
{
    static const QString formulaStarts = QStringLiteral("=+-@\t\r");
    if (!field.isEmpty() && formulaStarts.contains(field.front()))
        field.prepend(u'\'');
    if (field.contains(u';') || field.contains(u'"') || field.contains(u'\r') || field.contains(u'\n'))
        field = u'"' + field.replace(u'"', QLatin1String("\"\"")) + u'"';
    line += field;
}

QString csvLine(const QStringList& fields)
{
    QString line;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += u';';
        appendField(line, fields.at(i));
    }
    return line + QLatin1String("\r\n");
}

}  // namespace

QByteArray csvFile(const QStringList& header, const QList<QStringList>& rows)
{
    QString text = csvLine(header);
    for (const QStringList& row : rows)
        text += csvLine(row);
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

ExportFormat csvExport(std::function<QByteArray(const ReportDocument&)> contents)
{
    return {QStringLiteral("Exportar a CSV…"), QStringLiteral("Exportar a CSV"), QStringLiteral("Archivos CSV (*.csv)"),
            QStringLiteral(".csv"), std::move(contents)};
}

QByteArray logCsv(const QList<LogCsvRow>& rows)
{
    QList<QStringList> fields;
    fields.reserve(rows.size());
    for (const LogCsvRow& row : rows)
        fields.append({row.file, row.stored, row.reason});
    return csvFile({QStringLiteral("Archivo"), QStringLiteral("Subida"), QStringLiteral("Motivo")}, fields);
}

ExportFormat logCsvExport()
{
    return csvExport([](const ReportDocument& document) { return logCsv(logCsvRows(document)); });
}

QList<LogCsvRow> logCsvRows(const ReportDocument& document)
{
    QList<LogCsvRow> rows;
    rows.reserve(document.rowCount());
    for (int row = 0; row < document.rowCount(); ++row)
        rows.append({displayText(document.value(row, QStringLiteral("{LOG_ABONADOSFOTOS.NOMBRE_FOTO}"))),
                     displayText(document.value(row, QStringLiteral("{LOG_ABONADOSFOTOS.SUBIO}"))),
                     displayText(document.value(row, QStringLiteral("{LOG_ABONADOSFOTOS.MOTIVO}")))});
    return rows;
}

void writeLogCsv(const ReportDocument& document, const QString& path)
{
    try {
        SafeOutput::writeFile(path, logCsv(logCsvRows(document)));
    } catch (const Failure& failure) {
        throw Failure(ReportNotWritten, QStringLiteral("Motor de informes"), failure.description);
    }
}

}  // namespace reporting
