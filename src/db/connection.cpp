#include "db/connection.h"

#include "common/failure.h"
#include "db/data_source.h"
#include "db/driver_details.h"

#include <QAtomicInt>
#include <QCache>
#include <QHash>
#include <QSqlQuery>

#include <list>

namespace db {

namespace {

QAtomicInt connectionCounter;

// Prepared statements kept per SQL text, least recently used first out. Texts that embed values
// (a member number) seldom repeat, so they run unprepared the first time (one round trip) and are
// prepared only when they come back.
constexpr int PreparedCapacity = 32;
constexpr int SeenCapacity = 512;

bool changesSchema(const QString& sql)
{
    const QString head = sql.trimmed().section(QLatin1Char(' '), 0, 0).toUpper();
    return head != QLatin1String("SELECT") && head != QLatin1String("INSERT") && head != QLatin1String("UPDATE") &&
           head != QLatin1String("DELETE") && head != QLatin1String("WITH");
}

}  // namespace

struct Connection::Private {
    QString connectionString;
    int32_t timeout = 15;
    QString name = QStringLiteral("retratix-db-%1").arg(connectionCounter.fetchAndAddRelaxed(1));
    QSqlDatabase database;

    struct Prepared {
        QString sql;
        QSqlQuery query;
    };
    std::list<Prepared> prepared;  // most recently used first
    QHash<QString, std::list<Prepared>::iterator> preparedIndex;
    QCache<QString, bool> seen{SeenCapacity};

    void clearStatements()
    {
        preparedIndex.clear();
        prepared.clear();
        seen.clear();
    }

    void close()
    {
        clearStatements();
        if (database.isValid()) {
            database.close();
            database = QSqlDatabase();
            QSqlDatabase::removeDatabase(name);
        }
    }
};

Connection::Connection() : d(new Private) {}

Connection::~Connection()
{
    d->close();
    delete d;
}

void Connection::setConnectionString(const QString& connectionString) { d->connectionString = connectionString; }
void Connection::setConnectionTimeout(int32_t seconds) { d->timeout = seconds; }

void Connection::open(const QString& connectionString, const QString& userId, const QString& password, int32_t)
{
    if (state() == StateOpen)
        throw Failure(3705, QStringLiteral("Retratix"),
                      QStringLiteral("No se permite la operación si el objeto está abierto."));
    if (!connectionString.isEmpty())
        d->connectionString = connectionString;
    const QString& text = d->connectionString;
    const QString dataSource = connectionStringValue(text, QStringLiteral("Data Source"));
    const QString user = userId.isEmpty() ? connectionStringValue(text, QStringLiteral("User ID")) : userId;
    const QString secret = password.isEmpty() ? connectionStringValue(text, QStringLiteral("Password")) : password;
    d->database = openDataSource(d->name, dataSource, user, secret, d->timeout);
}

void Connection::execute(const QString& sql, int32_t)
{
    if (state() != StateOpen)
        throw Failure(LayerError::ObjectClosed, QStringLiteral("Retratix"),
                      QStringLiteral("No se permite la operación si el objeto está cerrado."));
    if (changesSchema(sql))
        forgetPreparedQueries();  // a prepared plan may not outlive the table it names
    QSqlQuery query(d->database);
    query.setForwardOnly(true);
    if (!query.exec(sql))
        throw failureFromSqlError(detail::queryError(query, d->database), d->database.driverName());
    query.finish();
}

int32_t Connection::state() const { return d->database.isValid() && d->database.isOpen() ? StateOpen : StateClosed; }

void Connection::makeCommittedDurable()
{
    if (state() != StateOpen || d->database.driverName() != QLatin1String("QSQLITE"))
        return;
    // TRUNCATE waits (busy time-out) for other connections' reads, copies every committed page into
    // the database file, syncs it and empties the log, so the log cannot grow without bound.
    QSqlQuery query(d->database);
    if (!query.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")) || !query.next())
        throw failureFromSqlError(detail::queryError(query, d->database), d->database.driverName());
    const int busy = query.value(0).toInt();
    const int logFrames = query.value(1).toInt();
    const int checkpointed = query.value(2).toInt();
    query.finish();
    // -1: not in WAL mode, where synchronous=FULL makes each commit durable by itself. A busy result
    // with every frame copied is durable too: only the emptying of the log was left undone.
    if (logFrames >= 0 && busy != 0 && checkpointed < logFrames)
        throw Failure(ProviderError::Unspecified, QStringLiteral("QSQLITE"),
                      QStringLiteral("La base de datos está ocupada: no se pudo asegurar en disco lo confirmado "
                                     "(%1 de %2 páginas).")
                          .arg(checkpointed)
                          .arg(logFrames));
}

QString Connection::driverName() const { return d->database.isValid() ? d->database.driverName() : QString(); }

QSqlDatabase& Connection::database() { return d->database; }

QSqlQuery& Connection::preparedQuery(const QString& sql)
{
    const auto found = d->preparedIndex.constFind(sql);
    if (found != d->preparedIndex.cend()) {
        d->prepared.splice(d->prepared.begin(), d->prepared, found.value());
        return d->prepared.front().query;
    }
    QSqlQuery query(d->database);
    query.setForwardOnly(true);
    if (!query.prepare(sql))
        throw failureFromSqlError(detail::queryError(query, d->database), d->database.driverName());
    if (d->prepared.size() >= PreparedCapacity) {
        d->preparedIndex.remove(d->prepared.back().sql);
        d->prepared.pop_back();
    }
    d->prepared.push_front({sql, std::move(query)});
    d->preparedIndex.insert(sql, d->prepared.begin());
    return d->prepared.front().query;
}

bool Connection::seenBefore(const QString& sql)
{
    if (d->seen.contains(sql))
        return true;
    d->seen.insert(sql, new bool(true));
    return false;
}

void Connection::forgetPreparedQueries() { d->clearStatements(); }

}  // namespace db
