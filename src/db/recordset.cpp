#include "db/recordset.h"

#include "common/failure.h"
#include "db/data_source.h"
#include "db/column_values.h"
#include "db/driver_details.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>

#include <optional>

namespace db {

namespace {

// How an engine names one row of a table, so that an update changes that row and no other.
struct RowIdentity {
    QString select;  // expression on the table's qualifier "%1" giving the row's identity
    QString where;   // condition on the identity's bound value
    bool returning = false;  // the identity changes with every write: read it back with RETURNING
};

std::optional<RowIdentity> rowIdentityOf(const QSqlDatabase& database)
{
    QSqlDriver::DbmsType dbms = database.driver()->dbmsType();
    if (dbms == QSqlDriver::SQLite)
        return RowIdentity{QStringLiteral("%1.rowid"), QStringLiteral("rowid = ?"), false};
    if (dbms == QSqlDriver::PostgreSQL)
        return RowIdentity{QStringLiteral("CAST(%1.ctid AS text)"), QStringLiteral("ctid = CAST(? AS tid)"), true};
    if (dbms == QSqlDriver::Oracle)
        return RowIdentity{QStringLiteral("ROWIDTOCHAR(%1.ROWID)"), QStringLiteral("ROWID = CHARTOROWID(?)"), false};
    return std::nullopt;
}

// A query over one table, taken apart where the row identity goes in.
struct SingleTableQuery {
    QString selectList;
    QString table;
    QString qualifier;  // the alias, else the table
    QString fromOn;     // " FROM ..." to the end
};

std::optional<SingleTableQuery> parseSingleTable(const QString& sql)
{
    static const QRegularExpression shape(
        QStringLiteral("^\\s*SELECT\\s+(?<list>.+?)\\s+(?<from>FROM\\s+(?<table>[A-Za-z_][\\w$#]*(?:\\.[A-Za-z_][\\w$#]*)?)"
                       "(?:\\s+(?:AS\\s+)?(?!(?:WHERE|ORDER|GROUP|HAVING|UNION|JOIN|INNER|LEFT|RIGHT|FULL|CROSS|"
                       "NATURAL|LIMIT|FOR)\\b)(?<alias>[A-Za-z_]\\w*))?(?:\\s+(?:WHERE|ORDER)\\b.*)?)\\s*;?\\s*$"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression manyRows(
        QStringLiteral("\\b(?:DISTINCT|GROUP\\s+BY|UNION|INTERSECT|EXCEPT|MINUS|JOIN)\\b"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = shape.match(sql);
    if (!match.hasMatch() || manyRows.match(sql).hasMatch())
        return std::nullopt;
    SingleTableQuery query;
    query.selectList = match.captured(u"list").trimmed();
    query.table = match.captured(u"table");
    query.qualifier = match.hasCaptured(u"alias") ? match.captured(u"alias") : query.table;
    query.fromOn = match.captured(u"from");
    return query;
}

Failure closedFailure()
{
    return Failure(LayerError::ObjectClosed, QStringLiteral("Retratix"),
                   QStringLiteral("No se permite la operación si el objeto está cerrado."));
}

Failure noCurrentRecord()
{
    return Failure(LayerError::NoCurrentRecord, QStringLiteral("Retratix"),
                   QStringLiteral("BOF o EOF es True, o el registro actual se eliminó. La operación solicitada "
                                  "requiere un registro actual."));
}

}  // namespace

struct Recordset::Private {
    enum class Edit { None, Adding, Editing };

    Connection* connection = nullptr;
    bool open = false;
    bool readOnly = false;
    QString table;                       // empty: the recordset cannot write
    std::optional<RowIdentity> identity;  // empty: fetched rows cannot be changed
    QSqlRecord header;                   // the query's columns, without the row identity
    QList<QSqlRecord> rows;
    QList<QVariant> rowIds;
    qsizetype current = 0;
    Edit edit = Edit::None;
    QSqlRecord editRow;
    QList<int> assigned;  // columns in order of assignment

    QString driver() const { return connection ? connection->driverName() : QString(); }

    // Runs the text and reads every row; the query is finished before this returns.
    std::optional<Failure> fetch(const QString& sql, bool withIdentity)
    {
        QSqlDatabase& database = connection->database();
        QSqlQuery once;
        QSqlQuery* query = &once;
        // Qt's SQLite driver sizes a row by the statement's columns before its first step, and the
        // step re-prepares against a schema that another connection changed: a table grown by a
        // column would overrun that row. A statement run first brings the schema up to date, and
        // SQLite's queries (prepared in microseconds, no round trip) are never kept.
        const Connection::ServerCall call(*connection);
        const bool keep = driver() != QLatin1String("QSQLITE");
        if (!keep)
            QSqlQuery(database).exec(QStringLiteral("SELECT COUNT(*) FROM sqlite_schema"));
        if (keep && connection->seenBefore(sql)) {
            try {
                query = &connection->preparedQuery(sql);
            } catch (const Failure& failure) {
                return failure;
            }
            if (!query->exec()) {
                if (connection->lost())
                    return connection->failureOf(detail::queryError(*query, database));
                // A prepared plan can go stale when its table changes (PostgreSQL: "cached plan must
                // not change result type"): the text runs once more, unprepared, before it fails.
                query->finish();
                connection->forgetPreparedQueries();
                once = QSqlQuery(database);
                once.setForwardOnly(true);
                if (!once.exec(sql))
                    return connection->failureOf(detail::queryError(once, database));
                query = &once;
            }
        } else {
            once = QSqlQuery(database);
            once.setForwardOnly(true);
            if (!once.exec(sql))
                return connection->failureOf(detail::queryError(once, database));
        }
        QSqlRecord columns = query->record();
        QList<QSqlRecord> fetched;
        QList<QVariant> ids;
        while (query->next()) {
            QSqlRecord row = query->record();
            if (withIdentity) {
                ids.append(row.value(0));
                row.remove(0);
            }
            fetched.append(row);
        }
        const QSqlError error = query->lastError();
        query->finish();
        if (error.isValid())
            return connection->failureOf(error);
        if (withIdentity)
            columns.remove(0);
        header = columns;
        rows = fetched;
        rowIds = ids;
        return std::nullopt;
    }

    bool hasCurrentRow() const { return current >= 0 && current < rows.size(); }

    // The position of a column named without regard to case, in an open recordset.
    int columnOf(const QString& name) const
    {
        if (!open)
            throw closedFailure();
        const int column = header.indexOf(name);
        if (column < 0)
            throw Failure(LayerError::ItemNotFound, driver(),
                          QStringLiteral("No se encontró el elemento en la colección: ") + name);
        return column;
    }

    void beginEdit()
    {
        if (edit != Edit::None)
            return;
        if (!hasCurrentRow())
            throw noCurrentRecord();
        edit = Edit::Editing;
        editRow = rows.at(current);
        assigned.clear();
    }

    Failure notUpdatable(const QString& why) const
    {
        return Failure(LayerError::NotUpdatable, driver(),
                       QStringLiteral("El conjunto de registros no admite actualizaciones: ") + why);
    }

    QSqlQuery& runWrite(const QString& sql, const QVariantList& values)
    {
        QSqlQuery& query = connection->preparedQuery(sql);
        for (int i = 0; i < values.size(); ++i)
            query.bindValue(i, values.at(i));
        const Connection::ServerCall call(*connection);
        if (!query.exec()) {
            const Failure failure = connection->failureOf(detail::queryError(query, connection->database()));
            query.finish();
            throw failure;
        }
        return query;
    }

    // A RETURNING query's new identity, when it returned exactly one row.
    static std::optional<QVariant> returnedIdentity(QSqlQuery& query)
    {
        std::optional<QVariant> id;
        int count = 0;
        while (query.next()) {
            id = query.value(0);
            ++count;
        }
        query.finish();
        return count == 1 ? id : std::nullopt;
    }

    void insertRow()
    {
        QStringList names;
        QStringList marks;
        QVariantList values;
        for (int column : std::as_const(assigned)) {
            names.append(header.fieldName(column));
            marks.append(QStringLiteral("?"));
            values.append(editRow.value(column));
        }
        QString sql = names.isEmpty() ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(table)
                                      : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                            .arg(table, names.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")));
        const bool returning = identity && identity->returning;
        if (returning)
            sql += QStringLiteral(" RETURNING ") + identity->select.arg(table);
        QSqlQuery& query = runWrite(sql, values);
        QVariant id;
        if (returning)
            id = returnedIdentity(query).value_or(QVariant());
        else if (identity && connection->driverName() == QLatin1String("QSQLITE"))
            id = query.lastInsertId();
        query.finish();
        rows.append(editRow);
        rowIds.append(id);
        current = rows.size() - 1;
    }

    void updateRow()
    {
        if (!identity)
            throw notUpdatable(QStringLiteral("el motor no identifica sus filas"));
        const QVariant id = current < rowIds.size() ? rowIds.at(current) : QVariant();
        if (!id.isValid() || id.isNull())
            throw Failure(LayerError::RowNotLocated, driver(),
                          QStringLiteral("No se encuentra la fila para actualizar."));
        QStringList sets;
        QVariantList values;
        for (int column : std::as_const(assigned)) {
            sets.append(header.fieldName(column) + QStringLiteral(" = ?"));
            values.append(editRow.value(column));
        }
        values.append(id);
        QString sql =
            QStringLiteral("UPDATE %1 SET %2 WHERE %3").arg(table, sets.join(QStringLiteral(", ")), identity->where);
        if (identity->returning)
            sql += QStringLiteral(" RETURNING ") + identity->select.arg(table);
        QSqlQuery& query = runWrite(sql, values);
        bool located = false;
        if (identity->returning) {
            const std::optional<QVariant> newId = returnedIdentity(query);
            located = newId.has_value();
            if (located)
                rowIds[current] = *newId;
        } else {
            located = query.numRowsAffected() == 1;
            query.finish();
        }
        if (!located)
            throw Failure(LayerError::RowNotLocated, driver(),
                          QStringLiteral("No se encuentra la fila para actualizar: se cambió o se eliminó después "
                                         "de leerla."));
        rows[current] = editRow;
    }
};

Recordset::Recordset() : d(std::make_unique<Private>()) {}

Recordset::~Recordset() = default;

void Recordset::open(const QString& sql, Connection& connection, CursorType, LockType lockType, int32_t)
{
    close();
    if (connection.lost())
        throw connection.lostFailure();
    if (connection.state() != Connection::StateOpen)
        throw Failure(LayerError::NoConnection, QStringLiteral("Retratix"),
                      QStringLiteral("La conexión no se puede usar: está cerrada."));
    d->connection = &connection;
    d->readOnly = lockType == LockType::ReadOnly;
    const std::optional<SingleTableQuery> single = parseSingleTable(sql);
    const std::optional<RowIdentity> identity = rowIdentityOf(connection.database());
    if (single && identity) {
        const QString list = single->selectList == QLatin1String("*") ? single->qualifier + QStringLiteral(".*")
                                                                        : single->selectList;
        const QString withIdentity = QStringLiteral("SELECT ") + identity->select.arg(single->qualifier) +
                                     QStringLiteral(" AS RTX_ROW_IDENTITY, ") + list + QLatin1Char(' ') +
                                     single->fromOn;
        // A query this shape does not fit (a view, an aggregate) runs as written, without identity.
        if (!d->fetch(withIdentity, true)) {
            d->table = single->table;
            d->identity = identity;
            d->open = true;
            return;
        }
    }
    if (const std::optional<Failure> failure = d->fetch(sql, false))
        throw *failure;
    if (single)
        d->table = single->table;  // rows can be added, fetched rows not changed
    d->open = true;
}

bool Recordset::bof() const
{
    if (!d->open)
        throw closedFailure();
    return d->rows.isEmpty() || d->current < 0;
}

bool Recordset::eof() const
{
    if (!d->open)
        throw closedFailure();
    return d->rows.isEmpty() || d->current >= d->rows.size();
}

void Recordset::moveNext()
{
    if (!d->open)
        throw closedFailure();
    if (d->edit != Private::Edit::None)
        update();
    if (d->current >= d->rows.size())
        throw noCurrentRecord();
    ++d->current;
}

int32_t Recordset::recordCount() const
{
    if (!d->open)
        throw closedFailure();
    return static_cast<int32_t>(d->rows.size());
}

QVariant Recordset::fields(const QString& name) const
{
    const int column = d->columnOf(name);
    if (d->edit != Private::Edit::None)
        return d->editRow.value(column);
    if (!d->hasCurrentRow())
        throw noCurrentRecord();
    return d->rows.at(d->current).value(column);
}

void Recordset::addNew()
{
    if (!d->open)
        throw closedFailure();
    if (d->table.isEmpty() || d->readOnly)
        throw d->notUpdatable(QStringLiteral("la consulta no lee una sola tabla o es de solo lectura"));
    if (d->edit != Private::Edit::None)
        update();
    d->edit = Private::Edit::Adding;
    d->editRow = d->header;
    d->editRow.clearValues();
    d->assigned.clear();
}

void Recordset::setCollect(const QString& name, const QVariant& value)
{
    const int column = d->columnOf(name);
    if (d->table.isEmpty() || d->readOnly)
        throw d->notUpdatable(QStringLiteral("la consulta no lee una sola tabla o es de solo lectura"));
    d->beginEdit();
    d->editRow.setValue(column, detail::toColumnType(value, d->header.field(column), d->driver()));
    if (!d->assigned.contains(column))
        d->assigned.append(column);
}

void Recordset::update()
{
    if (!d->open)
        throw closedFailure();
    if (d->edit == Private::Edit::None)
        return;
    if (d->edit == Private::Edit::Adding)
        d->insertRow();
    else if (!d->assigned.isEmpty())
        d->updateRow();
    d->edit = Private::Edit::None;
    d->assigned.clear();
}

void Recordset::close()
{
    // Pending assignments are dropped, as when a recordset is released without update().
    d = std::make_unique<Private>();
}

QString firstRowOnly(Connection& connection, const QString& table, const QString& condition)
{
    const QSqlDriver::DbmsType dbms = connection.database().driver()->dbmsType();
    if (dbms == QSqlDriver::SQLite)
        return QStringLiteral("rowid = (SELECT rowid FROM %1 WHERE %2 LIMIT 1)").arg(table, condition);
    if (dbms == QSqlDriver::PostgreSQL)
        return QStringLiteral("ctid = (SELECT ctid FROM %1 WHERE %2 LIMIT 1)").arg(table, condition);
    if (dbms == QSqlDriver::Oracle)
        return QStringLiteral("ROWID = (SELECT ROWID FROM %1 WHERE %2 AND ROWNUM = 1)").arg(table, condition);
    throw Failure(LayerError::NotUpdatable, connection.driverName(),
                  QStringLiteral("El conjunto de registros no admite actualizaciones: el motor no identifica sus filas"));
}

void Command::execute(int32_t options)
{
    if (!m_connection)
        throw Failure(LayerError::NoConnection, QStringLiteral("Retratix"),
                      QStringLiteral("El comando no tiene una conexión activa."));
    m_connection->execute(m_text, options);
}

}  // namespace db
