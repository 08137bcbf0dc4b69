#pragma once

#include "common/failure.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

#include <cstdint>

namespace db {

// Failure numbers of this layer beyond the common provider-style ones (src/common/failure.h).
namespace LayerError {
constexpr int32_t ConversionFailed = static_cast<int32_t>(0x80040E07u);  // value not of the column's type
constexpr int32_t DataOverflow = static_cast<int32_t>(0x80040E57u);      // value too long or out of range
constexpr int32_t RowNotLocated = static_cast<int32_t>(0x80040E38u);     // the row to update is gone
constexpr int32_t NoCurrentRecord = 3021;                                // BOF or EOF, or no row at all
constexpr int32_t NotUpdatable = 3251;                                   // the recordset cannot write rows
constexpr int32_t ObjectClosed = 3704;                                   // operation on a closed object
constexpr int32_t ItemNotFound = 3265;                                   // no column of that name
constexpr int32_t NoConnection = 3709;                                   // command or recordset without one
}  // namespace LayerError

// The engine that a data source names.
enum class Engine { SQLite, PostgreSQL, Odbc, OracleService };

// A data source taken apart: its engine and, per engine, the file path (absolute, relative ones
// resolved from the program's folder), the server's host, port and database, or the ODBC or Oracle
// service name. Blanks around the data source are ignored.
struct DataSource {
    Engine engine = Engine::SQLite;
    QString path;      // SQLite file
    QString host;      // PostgreSQL
    int port = 5432;   // PostgreSQL
    QString database;  // PostgreSQL database, ODBC data source name, Oracle service name
    QString options;   // PostgreSQL URL query items as libpq connect options ("sslmode='require'")
    QString user;      // PostgreSQL: the URL's user and password, which stand for the program's account
    QString password;
};

// Reads "sqlite:PATH", "postgresql://HOST[:PORT]/DBNAME", "odbc:DSN" or any other name (Oracle
// service). Raises a Failure (ProviderError::ErrorsOccurred) for an empty or malformed data source.
DataSource parseDataSource(const QString& dataSource);

// The data source as it may be shown: "***" for the password of a URL, for the value of any query
// item or ODBC key that is a password (password, sslpassword, PWD, in any case), whether or not
// the data source is valid.
QString shownDataSource(const QString& dataSource);

// The value of one key of an OLE DB style connection string ("Key=Value;Key=Value"): keys without
// regard to case, values trimmed of blanks; a value in double or single quotes is taken as written,
// ";" included (Data Source="odbc:DRIVER=...;Servername=..."), a doubled quote standing for one.
// Empty when the key is absent.
QString connectionStringValue(const QString& connectionString, const QString& key);

// Opens a Qt Sql connection called connectionName on the engine that dataSource names
// (see Connection for the forms), with the given account and time-out, or raises a Failure.
// Used by Connection.
// SQLite: the file must exist (a missing file or folder is a failed open: nothing is created);
// journal in WAL mode, synchronous=NORMAL, TO_DATE(text, format) available in SQL.
// PostgreSQL: connect_timeout; synchronous_commit on for the session.
// ODBC: login time-out. Oracle service: Qt's Oracle driver where it is built, else the ODBC data
// source of that name.
QSqlDatabase openDataSource(const QString& connectionName, const QString& dataSource, const QString& userId,
                            const QString& password, int timeoutSeconds);

// A driver error as the program's Failure: provider-style number, the driver as source,
// the engine's message as description. Reads nativeErrorCode() as the driver gives it:
// SQLite's result code, PostgreSQL's SQLSTATE, ODBC's SQLSTATE (see lastError below), Oracle's
// error number.
Failure failureFromSqlError(const QSqlError& error, const QString& driverName);

// Creates an empty SQLite database file (zero bytes is a valid database) if none exists;
// the folder must exist. For set-up tools and tests: opening never creates a file.
void createSqliteFile(const QString& path);

// Runs a schema script: statements separated by ";" at the end of a line, "--" comments ignored.
void executeScript(QSqlDatabase& database, const QString& script);

}  // namespace db
