#include "db/statement.h"

#include "common/failure.h"
#include "db/column_values.h"
#include "db/data_source.h"
#include "db/driver_details.h"
#include "db/postgres_session.h"

#include <QSqlQuery>

namespace db {

namespace {

Failure rowNotLocated(const QString& driver)
{
    return Failure(LayerError::RowNotLocated, driver,
                   QStringLiteral("No se encuentra la fila para actualizar: se cambió o se eliminó después de leerla."));
}

}  // namespace

Statement::Statement(Connection& connection, QString sql) : m_connection(connection), m_sql(std::move(sql)) {}

void Statement::convertForColumns(const QString& table, const QStringList& columns, int firstMark)
{
    const QSqlRecord record = m_connection.tableColumns(table);
    while (m_columns.size() < firstMark + columns.size())
        m_columns.append(QSqlField());
    for (qsizetype i = 0; i < columns.size(); ++i) {
        const int index = record.indexOf(columns.at(i));
        if (index < 0)
            throw Failure(LayerError::ItemNotFound, m_connection.driverName(),
                          QStringLiteral("No se encontró el elemento en la colección: ") + columns.at(i));
        m_columns[firstMark + i] = record.field(index);
    }
}

QVariantList Statement::converted(const QVariantList& values) const
{
    QVariantList result = values;
    const QString driver = m_connection.driverName();
    for (qsizetype i = 0; i < result.size() && i < m_columns.size(); ++i)
        if (!m_columns.at(i).name().isEmpty())
            result[i] = detail::toColumnType(result.at(i), m_columns.at(i), driver);
    return result;
}

void Statement::execute(const QVariantList& values)
{
    if (m_connection.lost())
        throw m_connection.lostFailure();
    if (m_connection.state() != Connection::StateOpen)
        throw Failure(LayerError::NoConnection, QStringLiteral("Retratix"),
                      QStringLiteral("La conexión no se puede usar: está cerrada."));
    const QVariantList bound = converted(values);
    const Connection::ServerCall call(m_connection);
    m_rows.clear();
    if (detail::PostgresSession* postgres = m_connection.postgresSession()) {
        detail::PostgresSession::Result result = postgres->execute(m_sql, bound);
        m_rows = std::move(result.rows);
        m_rowsAffected = result.rowsAffected;
        return;
    }
    QSqlQuery& query = m_connection.preparedQuery(m_sql);
    for (qsizetype i = 0; i < bound.size(); ++i)
        query.bindValue(int(i), bound.at(i));
    if (!query.exec()) {
        const Failure failure = m_connection.failureOf(detail::queryError(query, m_connection.database()));
        query.finish();
        throw failure;
    }
    if (query.isSelect()) {
        const int columns = query.record().count();
        while (query.next()) {
            QVariantList row;
            row.reserve(columns);
            for (int column = 0; column < columns; ++column)
                row.append(query.value(column));
            m_rows.append(row);
        }
        const QSqlError error = query.lastError();
        if (error.isValid()) {
            query.finish();
            throw m_connection.failureOf(error);
        }
    }
    m_rowsAffected = query.numRowsAffected();
    query.finish();
}

void Statement::queue(const QVariantList& values, qint64 expectedRows)
{
    detail::PostgresSession* postgres = m_connection.postgresSession();
    if (!postgres || !m_connection.inBatch()) {
        execute(values);
        if (expectedRows >= 0 && m_rowsAffected != expectedRows)
            throw m_mismatch.value_or(rowNotLocated(m_connection.driverName()));
        return;
    }
    const QVariantList bound = converted(values);
    const Connection::ServerCall call(m_connection);
    postgres->queue(m_sql, bound, expectedRows, m_mismatch.value_or(rowNotLocated(m_connection.driverName())));
}

}  // namespace db
