#include "db/row_reader.h"

#include "db/data_source.h"
#include "db/driver_details.h"

#include <QSqlQuery>
#include <QSqlRecord>

namespace db {

struct RowReader::Private {
    Connection& connection;
    QSqlQuery query;
    QSqlRecord columns;
};

RowReader::RowReader(Connection& connection, const QString& sql)
{
    if (connection.lost())
        throw connection.lostFailure();
    if (connection.state() != Connection::StateOpen)
        throw Failure(LayerError::NoConnection, QStringLiteral("Retratix"),
                      QStringLiteral("La conexión no se puede usar: está cerrada."));
    d.reset(new Private{connection, QSqlQuery(connection.database()), {}});
    d->query.setForwardOnly(true);
    const Connection::ServerCall call(connection);
    if (!d->query.exec(sql))
        throw connection.failureOf(detail::queryError(d->query, connection.database()));
    d->columns = d->query.record();
}

RowReader::~RowReader() = default;

int RowReader::column(const QString& name) const { return d->columns.indexOf(name); }

bool RowReader::next()
{
    const Connection::ServerCall call(d->connection);
    if (d->query.next())
        return true;
    const QSqlError error = d->query.lastError();
    d->query.finish();
    if (error.isValid())
        throw d->connection.failureOf(error);
    return false;
}

QVariant RowReader::value(int column) const { return d->query.value(column); }

}  // namespace db
