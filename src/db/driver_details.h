#pragma once

// What the layer asks of the drivers beneath Qt Sql (internal to src/db).

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

struct pg_conn;

namespace db::detail {

// The query's error with the most precise code the engine has: SQLite's extended result code,
// ODBC's SQLSTATE (Qt keeps only the driver's native number, which says little).
QSqlError queryError(const QSqlQuery& query, const QSqlDatabase& database);

// Syncs an open SQLite connection's write-ahead log to disk, so that every transaction committed
// in it is durable; nothing another connection does can hold this back (a checkpoint, which a
// reader blocks, is not needed for it). Returns SQLite's result code; SQLITE_OK when the
// connection has no log open (not in WAL mode).
int syncSqliteLog(QSqlDatabase& database);

// Whether the program was built with libpq (RETRATIX_LIBPQ): without it (postgres_absent.cpp) a
// PostgreSQL data source is refused, and the calls below find no connection.
bool postgresAvailable();
// libpq's connection under an open connection of Qt's PostgreSQL driver, or nullptr.
pg_conn* postgresConnection(const QSqlDatabase& database);
// The socket of an open PostgreSQL connection of Qt's driver, or -1.
int postgresSocket(const QSqlDatabase& database);
// Whether libpq counts the PostgreSQL connection as lost.
bool postgresConnectionLost(const QSqlDatabase& database);
// libpq's last word on the PostgreSQL connection (why it was lost), or empty.
QString postgresErrorMessage(const QSqlDatabase& database);

// Registers TO_DATE(text, format) on an open SQLite connection.
void registerSqliteFunctions(QSqlDatabase& database);

// TO_DATE's work: the ISO date 'YYYY-MM-DD' of a text written in a format made of YYYY, MM, DD
// and separators (days and months of one digit accepted), or an empty text when it does not read.
QString isoDateFromFormat(const QString& text, const QString& format);

}  // namespace db::detail
