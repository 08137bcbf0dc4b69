#pragma once

// Internal to src/db: values converted to the type of the column they go into.

#include <QSqlField>
#include <QString>
#include <QVariant>

namespace db::detail {

// The value as the column's type, so that every engine gets it bound right (a STRICT SQLite table
// takes no text in a number column; PostgreSQL takes no text parameter for an integer): the text
// "007" goes into a number column as 7; a text that is not a number fails with type mismatch (13),
// bytes into a text column too; a whole number beyond 64 bits is overflow (6).
QVariant toColumnType(const QVariant& value, const QSqlField& field, const QString& driver);

}  // namespace db::detail
