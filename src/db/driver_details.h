#pragma once

// What the layer asks of the drivers beneath Qt Sql (internal to src/db).

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace db::detail {

// The query's error with the most precise code the engine has: SQLite's extended result code,
// ODBC's SQLSTATE (Qt keeps only the driver's native number, which says little).
QSqlError queryError(const QSqlQuery& query, const QSqlDatabase& database);

// Registers TO_DATE(text, format) on an open SQLite connection.
void registerSqliteFunctions(QSqlDatabase& database);

// TO_DATE's work: the ISO date 'YYYY-MM-DD' of a text written in a format made of YYYY, MM, DD
// and separators (days and months of one digit accepted), or an empty text when it does not read.
QString isoDateFromFormat(const QString& text, const QString& format);

}  // namespace db::detail
