#pragma once

#include "db/connection.h"

#include <QList>
#include <QSqlField>
#include <QSqlRecord>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

namespace db {

// One SQL text with its values bound to '?' marks, in order: prepared once per connection and run
// as often as needed. Values are parameters, never text pasted into the statement: bytes travel as
// bytes (binary on PostgreSQL). Queries name their columns (no "SELECT *").
class Statement final {
public:
    Statement(Connection& connection, QString sql);

    // The values of the marks from firstMark on go into these columns of table, in order: each is
    // converted to its column's type before it is bound, as Recordset::setCollect does.
    void convertForColumns(const QString& table, const QStringList& columns, int firstMark = 0);

    // Runs at once; a query's rows are read whole.
    void execute(const QVariantList& values);
    const QList<QVariantList>& rows() const { return m_rows; }
    qint64 rowsAffected() const { return m_rowsAffected; }

    // Within a batch (Connection::beginBatch): sent without waiting for the answer where the engine
    // pipelines (PostgreSQL), run at once elsewhere. Another count of affected rows than
    // expectedRows (-1: any) fails as a row that is gone (LayerError::RowNotLocated), at once or
    // when the batch commits.
    void queue(const QVariantList& values, qint64 expectedRows = -1);
    // What another count of affected rows than expected fails with (RowNotLocated unless set).
    void setRowsMismatchFailure(const Failure& failure) { m_mismatch = failure; }

private:
    QVariantList converted(const QVariantList& values) const;

    Connection& m_connection;
    QString m_sql;
    QList<QSqlField> m_columns;  // per mark; an unnamed field: bound as given
    QList<QVariantList> m_rows;
    qint64 m_rowsAffected = 0;
    std::optional<Failure> m_mismatch;
};

}  // namespace db
