#pragma once

#include "common/failure.h"
#include "db/options.h"

#include <QSqlDatabase>
#include <QString>

#include <cstdint>

class QSqlError;
class QSqlRecord;
class QSqlQuery;

namespace db {

namespace detail {
class PostgresSession;
}

// The one connection the program shares. Its connection string's "Data Source" chooses the engine:
//   sqlite:PATH                      SQLite file (a relative path starts at the program's folder);
//                                    the file must exist: opening creates nothing
//   postgresql://HOST[:PORT]/DBNAME  PostgreSQL server
//   odbc:DSN                         ODBC data source
//   any other name                   Oracle net service name (Oracle driver, else ODBC DSN of that name)
// The account ("User ID", "Password") of the connection string is used on every server engine.
//
// Each statement commits on its own (autocommit): when execute() or Recordset::update() returns,
// the change is committed and visible to every other connection. A returned commit is durable
// (survives a power cut) on PostgreSQL (synchronous_commit on) and, as a rule, on ODBC servers;
// on SQLite it is durable once makeCommittedDurable() has returned.
// A call to a server that does not answer within the command time-out (30 s unless set) ends with a
// Failure, and the connection is lost for good: nothing waits for ever.
// The isolation level and cursor location are accepted as the program sets them and change nothing:
// the program opens no transaction, so each statement runs at the engine's own level, and this
// layer's cursors are always client side.
class Connection final {
public:
    enum State : int32_t { StateClosed = 0, StateOpen = 1 };

    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void setConnectionString(const QString& connectionString);
    void setIsolationLevel(IsolationLevel) {}
    void setCursorLocation(CursorLocation) {}
    // Seconds the open may wait for a server (15 unless set).
    void setConnectionTimeout(int32_t seconds);
    // Seconds one statement may wait for a server's answer (30 unless set; 0: no limit). A call
    // that waits longer is cut off: it fails, and so does every later one on this connection.
    // PostgreSQL and ODBC on Linux; SQLite has no server.
    void setCommandTimeout(int32_t seconds);
    void setCommandTimeoutMs(int32_t milliseconds);  // finer, for tests

    // Opens the connection or raises a Failure; options -1 (the open completes before it returns).
    // An empty connectionString uses the one set before; a non-empty userId or password stands
    // in for the connection string's account.
    void open(const QString& connectionString, const QString& userId = {}, const QString& password = {},
              int32_t options = OptionsUnspecified);
    // Opens the connection on a data source as it stands, without a connection string around it
    // (a report's logon, a file of the program's own), or raises a Failure.
    void openDataSource(const QString& dataSource, const QString& userId = {}, const QString& password = {});
    // Runs one statement; its result is dropped. Raises a Failure with a provider-style number.
    void execute(const QString& sql, int32_t options = OptionsUnspecified);
    int32_t state() const;

    // Returns once everything committed so far is on disk. SQLite: the write-ahead log is synced
    // (no reader or writer of another connection can hold this back); the log's checkpoint into the
    // database file stays SQLite's own housekeeping. Server engines: nothing to do, their commits
    // are durable when they return. Raises a Failure when the disk refuses.
    void makeCommittedDurable();

    // The Qt Sql driver in use ("QSQLITE", "QPSQL", "QODBC", "QOCI"), empty before open.
    QString driverName() const;

    // For the layer's own classes. database() also reads the answers of statements a batch sent
    // without waiting, so that the driver can use the connection again.
    QSqlDatabase& database();
    // The prepared query for this SQL text, kept for reuse (a bounded cache: preparing anew costs
    // a server round trip). Raises a Failure when the text does not prepare. The query stays
    // valid until the next call that prepares another text.
    QSqlQuery& preparedQuery(const QString& sql);
    // True when this text ran before, so that preparing it for reuse pays.
    bool seenBefore(const QString& sql);
    // Forgets every prepared query (after statements that change the schema).
    void forgetPreparedQueries();
    // A driver error as the program's Failure (see failureFromSqlError); a call the command
    // time-out cut off says so instead.
    Failure failureOf(const QSqlError& error);
    // The failure of a call on a lost connection: the time-out that cut it, or the server's word.
    Failure lostFailure() const;
    // Whether the connection to the server is lost (cut off, or dropped by the server).
    bool lost() const;

    // A batch of writes in one transaction. Statements queued in it (Statement::queue) are sent
    // without waiting where the engine pipelines (PostgreSQL): commitBatch() then waits once for all
    // their answers. Any failure rolls the whole batch back (commitBatch() does so itself before it
    // raises the failure). SQLite takes its write lock when the batch begins.
    void beginBatch();
    void commitBatch();
    // Never raises: after a failure there may be nothing left to roll back.
    void rollbackBatch();
    bool inBatch() const;
    // Statements queued from now on carry this tag (the caller's name for what they belong to);
    // after a failed commit, the tag of the statement whose answer failed it (-1: none known, or
    // the failure came at once).
    void setBatchTag(int tag);
    int failedBatchTag() const;

    // Reserves a run number for this connection among all connections to the same database, so that
    // two runs that draw one number at the same moment cannot both take it: an advisory lock on
    // PostgreSQL (also through ODBC), a lock on one byte of a file beside a SQLite database. False when
    // another connection holds it. Other engines have no such lock: true, nothing reserved.
    bool reserveRunNumber(int32_t number);
    void releaseRunNumber(int32_t number);

    // The names and types of a table's columns, read once per table (by a query that reads no row).
    QSqlRecord tableColumns(const QString& table);

    // Bounds one call to the server, for its lifetime, by the command time-out.
    class ServerCall final {
    public:
        explicit ServerCall(Connection& connection);
        ~ServerCall();
        ServerCall(const ServerCall&) = delete;
        ServerCall& operator=(const ServerCall&) = delete;

    private:
        Connection& m_connection;
    };

private:
    friend class Statement;
    // The libpq session of a PostgreSQL connection, else nullptr.
    detail::PostgresSession* postgresSession();
    struct Private;
    Private* d;
};

}  // namespace db
