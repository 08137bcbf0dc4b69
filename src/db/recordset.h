#pragma once

#include "db/connection.h"

#include <QString>
#include <QVariant>

#include <cstdint>
#include <memory>

namespace db {

// The rows of one query, fetched client side (static cursor), current row the first.
// All rows are read at open and the query is finished at once, so no recordset, released or not,
// holds the engine's read open (on SQLite an open read keeps the write-ahead log from emptying).
//
// Writing: the query must read one table ("SELECT list FROM TABLE [ALIAS] [WHERE ...] [ORDER BY ...]",
// no DISTINCT, GROUP BY, UNION or JOIN). addNew() + setCollect() + update() is one INSERT of the
// assigned columns with bound values. setCollect() + update() on a fetched row is one UPDATE of
// that row alone, found by the engine's row identity, fetched with it: rowid on SQLite, ctid on
// PostgreSQL (also through ODBC), ROWID on Oracle; on other ODBC engines fetched rows cannot be
// changed (NotUpdatable). Values are converted to the column's type before they are bound: the
// text "007" goes into a number column as 7; a text that is not a number fails with type mismatch (13).
class Recordset final {
public:
    Recordset();
    ~Recordset();
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    void open(const QString& sql, Connection& connection, CursorType cursorType = CursorType::Static,
              LockType lockType = LockType::Optimistic, int32_t options = OptionsUnspecified);
    bool bof() const;
    bool eof() const;
    // Moves to the next row (EOF after the last).
    void moveNext();
    // The number of rows fetched, the added ones included.
    int32_t recordCount() const;
    // The named column of the current row (names without regard to case).
    QVariant fields(const QString& name) const;

    // A new empty current row, written by update() as one INSERT of the assigned columns.
    void addNew();
    // Assigns a column of the current row; fails with a database error when there is no current row
    // (LayerError::NoCurrentRecord), no such column (ItemNotFound) or the value does not convert (13).
    void setCollect(const QString& name, const QVariant& value);
    // Writes the current row at once: the new row, or the assigned columns of exactly this row;
    // LayerError::RowNotLocated when that row is gone. Nothing assigned: nothing written.
    void update();
    void close();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// A condition that selects, of the rows of table that condition selects, only the first, by the
// engine's row identity: an UPDATE with it changes exactly the row that a recordset opened on the
// same condition would change. NotUpdatable (LayerError) on engines without row identity.
QString firstRowOnly(Connection& connection, const QString& table, const QString& condition);

// Runs one SQL text on a connection; the result is dropped.
class Command final {
public:
    void setActiveConnection(Connection& connection) { m_connection = &connection; }
    void setCommandText(const QString& text) { m_text = text; }
    void setCommandType(CommandType) {}
    void execute(int32_t options = OptionsUnspecified);

private:
    Connection* m_connection = nullptr;
    QString m_text;
};

// A whole file held as bytes. The file is read once, whole, by loadFromFile.
class Stream final {
public:
    void setType(StreamType) {}
    // Opened empty (mode 0: no source).
    void open(int32_t mode = 0, int32_t options = OptionsUnspecified);
    // Loads the whole file, never blocking on an entry that is no regular file (75); a missing or
    // unreadable file raises a Failure (53 / 70 / 76), one of 2 GiB or more (whose size a 32-bit
    // count cannot tell) overflow (6) without being read whole.
    void loadFromFile(const QString& path);
    int32_t size() const;
    // count -1 reads everything from the current position.
    QByteArray read(int32_t count = -1);
    void close();

private:
    QByteArray m_bytes;
    qsizetype m_position = 0;
};

}  // namespace db
