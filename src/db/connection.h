#pragma once

#include <QSqlDatabase>
#include <QString>

#include <cstdint>

class QSqlQuery;

namespace db {

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
    void setIsolationLevel(int32_t) {}
    void setCursorLocation(int32_t) {}
    // Seconds the open may wait for a server (15 unless set).
    void setConnectionTimeout(int32_t seconds);

    // Opens the connection or raises a Failure; options -1 (the open completes before it returns).
    // An empty connectionString uses the one set before; a non-empty userId or password stands
    // in for the connection string's account.
    void open(const QString& connectionString, const QString& userId = {}, const QString& password = {},
              int32_t options = -1);
    // Runs one statement; its result is dropped. Raises a Failure with a provider-style number.
    void execute(const QString& sql, int32_t options = -1);
    int32_t state() const;

    // Returns once everything committed so far is on disk. SQLite: a full checkpoint of the
    // write-ahead log into the database file, which is then synced and the log emptied; raises a
    // Failure (ProviderError::Unspecified) when another connection's open read keeps the checkpoint
    // from completing. Server engines: nothing to do, their commits are durable when they return.
    void makeCommittedDurable();

    // The Qt Sql driver in use ("QSQLITE", "QPSQL", "QODBC", "QOCI"), empty before open.
    QString driverName() const;

    // For the layer's own classes.
    QSqlDatabase& database();
    // The prepared query for this SQL text, kept for reuse (a bounded cache: preparing anew costs
    // a server round trip). Raises a Failure when the text does not prepare. The query stays
    // valid until the next call that prepares another text.
    QSqlQuery& preparedQuery(const QString& sql);
    // True when this text ran before, so that preparing it for reuse pays.
    bool seenBefore(const QString& sql);
    // Forgets every prepared query (after statements that change the schema).
    void forgetPreparedQueries();

private:
    struct Private;
    Private* d;
};

}  // namespace db
