#pragma once

#include <QSqlDatabase>
#include <QString>

#include <cstdint>

namespace db {

// The one connection the program shares. Its connection string's "Data Source" chooses the engine:
//   sqlite:PATH                      SQLite file (a relative path starts at the program's folder)
//   postgresql://HOST[:PORT]/DBNAME  PostgreSQL server
//   odbc:DSN                         ODBC data source
//   any other name                   Oracle net service name (Oracle driver, else ODBC DSN of that name)
// The account ("User ID", "Password") of the connection string is used on every server engine.
// Each statement commits on its own.
class Connection final {
public:
    enum State : int32_t { StateClosed = 0, StateOpen = 1 };

    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void setConnectionString(const QString& connectionString);
    QString connectionString() const;
    void setIsolationLevel(int32_t level);
    void setCursorLocation(int32_t location);
    void setConnectionTimeout(int32_t seconds);

    // Opens the connection or raises a Failure; options -1 (the open completes before it returns).
    void open(const QString& connectionString, const QString& userId = {}, const QString& password = {},
              int32_t options = -1);
    // Runs one statement; its result is dropped. Raises a Failure with a provider-style number.
    void execute(const QString& sql, int32_t options = -1);
    int32_t state() const;

    // Returns once everything committed so far is on disk.
    void makeCommittedDurable();

    // For the layer's own classes.
    QSqlDatabase& database();

private:
    struct Private;
    Private* d;
};

}  // namespace db
