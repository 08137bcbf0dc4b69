#pragma once

#include "db/connection.h"

#include <QString>
#include <QVariant>

#include <cstdint>
#include <memory>

namespace db {

// The rows of one query, fetched client side (static cursor), current row the first.
// Releasing a recordset finishes its query.
class Recordset final {
public:
    Recordset();
    ~Recordset();
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    // cursorType 3 static, lockType 3 optimistic, options -1: the values the program passes.
    void open(const QString& sql, Connection& connection, int32_t cursorType = 3, int32_t lockType = 3,
              int32_t options = -1);
    bool bof() const;
    bool eof() const;
    // The named column of the current row (names without regard to case).
    QVariant fields(const QString& name) const;

    // A new empty current row, written by update() as one INSERT of the assigned columns.
    void addNew();
    // Assigns a column of the current row; fails with a database error when there is no current row.
    void setCollect(const QString& name, const QVariant& value);
    // Writes the current row at once: the new row, or the assigned columns of exactly this row.
    void update();
    void close();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// Runs one SQL text on a connection; the result is dropped.
class Command final {
public:
    void setActiveConnection(Connection& connection) { m_connection = &connection; }
    void setCommandText(const QString& text) { m_text = text; }
    void setCommandType(int32_t type) { m_type = type; }
    void execute(int32_t options = -1);

private:
    Connection* m_connection = nullptr;
    QString m_text;
    int32_t m_type = 1;
};

// A whole file held as bytes.
class Stream final {
public:
    void setType(int32_t type) { m_type = type; }
    void open(int32_t mode = 0, int32_t options = -1);
    // Loads the whole file; a missing or unreadable file raises a Failure (53 / 70 / 76).
    void loadFromFile(const QString& path);
    int32_t size() const;
    // count -1 reads everything from the current position.
    QByteArray read(int32_t count = -1);
    void close();

private:
    int32_t m_type = 1;
    bool m_open = false;
    QByteArray m_bytes;
    qsizetype m_position = 0;
};

}  // namespace db
