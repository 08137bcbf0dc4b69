#include "db/connection.h"

#include "common/failure.h"
#include "common/safe_output.h"
#include "db/data_source.h"
#include "db/driver_details.h"
#include "db/postgres_session.h"
#include "db/run_number_locks.h"
#include "db/server_watchdog.h"

#include <QAtomicInt>
#include <QCache>
#include <QHash>
#include <QDir>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>

#include <list>
#include <sqlite3.h>

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
    std::chrono::milliseconds commandTimeout{30'000};
    QString name = QStringLiteral("retratix-db-%1").arg(connectionCounter.fetchAndAddRelaxed(1));
    QSqlDatabase database;
    std::unique_ptr<detail::ServerWatchdog> watchdog;
    int serverCallDepth = 0;
    // PostgreSQL's statements of the program's hot path, through libpq on Qt's connection.
    std::unique_ptr<detail::PostgresSession> postgres;
    bool batchOpen = false;
    detail::RunNumberLocks runLocks;  // SQLite: the file whose bytes stand for run numbers
    QHash<QString, QSqlRecord> tableColumns;

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
        tableColumns.clear();
    }

    void close()
    {
        runLocks.close();
        postgres.reset();
        batchOpen = false;
        watchdog.reset();
        // The driver goes before the prepared queries: the server frees them with the session, and
        // a lost connection is not asked to (which would only print the driver's complaints).
        std::list<Prepared> queries = std::move(prepared);
        prepared.clear();
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

void Connection::setCommandTimeout(int32_t seconds) { setCommandTimeoutMs(qMax(seconds, 0) * 1000); }

void Connection::setCommandTimeoutMs(int32_t milliseconds)
{
    d->commandTimeout = std::chrono::milliseconds(qMax(milliseconds, 0));
    if (d->watchdog)
        d->watchdog->setLimit(d->commandTimeout);
}

void Connection::open(const QString& connectionString, const QString& userId, const QString& password, int32_t)
{
    if (state() == StateOpen)
        throw Failure(3705, QStringLiteral("Retratix"),
                      QStringLiteral("No se permite la operación si el objeto está abierto."));
    if (!connectionString.isEmpty())
        d->connectionString = connectionString;
    const QString& text = d->connectionString;
    openDataSource(connectionStringValue(text, QStringLiteral("Data Source")),
                   userId.isEmpty() ? connectionStringValue(text, QStringLiteral("User ID")) : userId,
                   password.isEmpty() ? connectionStringValue(text, QStringLiteral("Password")) : password);
}

void Connection::openDataSource(const QString& dataSource, const QString& user, const QString& secret)
{
    if (state() == StateOpen)
        throw Failure(3705, QStringLiteral("Retratix"),
                      QStringLiteral("No se permite la operación si el objeto está abierto."));
    const QList<detail::SocketId> socketsBefore = detail::openSockets();
    const auto newSockets = [socketsBefore] {
        QList<detail::SocketId> sockets;
        for (const detail::SocketId& socket : detail::openSockets())
            if (!socketsBefore.contains(socket))
                sockets.append(socket);
        return sockets;
    };
    {
        // Once connected, a driver runs commands of its own before the open returns: a server that
        // stops answering then must not hold the open for ever. The time to connect, then a command's.
        const auto limit = d->commandTimeout.count() > 0 && d->timeout > 0
                               ? std::chrono::milliseconds(std::chrono::seconds(d->timeout)) + d->commandTimeout
                               : std::chrono::milliseconds(0);
        detail::ServerWatchdog opening(newSockets, limit);
        const auto unanswered = [&] {
            return Failure(ProviderError::ErrorsOccurred, QStringLiteral("Retratix"),
                           QStringLiteral("El servidor de la base de datos no respondió en %1 segundos; se cortó la conexión.")
                               .arg(limit.count() / 1000.0));
        };
        opening.arm();
        try {
            d->database = db::openDataSource(d->name, dataSource, user, secret, d->timeout);
        } catch (const Failure&) {
            if (opening.fired())
                throw unanswered();
            throw;
        }
        opening.disarm();
        if (opening.fired()) {
            d->close();
            throw unanswered();
        }
    }

    // The sockets the watchdog cuts: libpq's own, else those the driver opened just now.
    QList<detail::SocketId> sockets;
    if (d->database.driverName() == QLatin1String("QPSQL")) {
        if (const detail::SocketId socket = detail::socketOf(detail::postgresSocket(d->database)); socket.descriptor >= 0)
            sockets.append(socket);
    } else if (d->database.driverName() != QLatin1String("QSQLITE")) {
        sockets = newSockets();
    }
    if (!sockets.isEmpty())
        d->watchdog = std::make_unique<detail::ServerWatchdog>(sockets, d->commandTimeout);
    if (pg_conn* connection = detail::postgresConnection(d->database))
        d->postgres = std::make_unique<detail::PostgresSession>(
            connection, [this](const QString& code, const QString& message) {
                return failureOf(QSqlError(QStringLiteral("QPSQL"), message, QSqlError::StatementError, code));
            });
}

void Connection::execute(const QString& sql, int32_t)
{
    if (lost())
        throw lostFailure();
    if (state() != StateOpen)
        throw Failure(LayerError::ObjectClosed, QStringLiteral("Retratix"),
                      QStringLiteral("No se permite la operación si el objeto está cerrado."));
    if (changesSchema(sql))
        forgetPreparedQueries();  // a prepared plan may not outlive the table it names
    QSqlQuery query(database());
    query.setForwardOnly(true);
    const ServerCall call(*this);
    if (!query.exec(sql))
        throw failureOf(detail::queryError(query, d->database));
    query.finish();
}

int32_t Connection::state() const { return d->database.isValid() && d->database.isOpen() ? StateOpen : StateClosed; }

void Connection::makeCommittedDurable()
{
    if (state() != StateOpen || d->database.driverName() != QLatin1String("QSQLITE"))
        return;
    const int rc = detail::syncSqliteLog(d->database);
    if (rc != SQLITE_OK)
        throw Failure(ProviderError::ErrorsOccurred, QStringLiteral("QSQLITE"),
                      QStringLiteral("No se pudo asegurar en disco lo confirmado: ") +
                          QString::fromUtf8(sqlite3_errstr(rc)));
}

QString Connection::driverName() const { return d->database.isValid() ? d->database.driverName() : QString(); }

QSqlDatabase& Connection::database()
{
    if (d->postgres)
        d->postgres->settle();
    return d->database;
}

QSqlQuery& Connection::preparedQuery(const QString& sql)
{
    const auto found = d->preparedIndex.constFind(sql);
    if (found != d->preparedIndex.cend()) {
        d->prepared.splice(d->prepared.begin(), d->prepared, found.value());
        return d->prepared.front().query;
    }
    QSqlQuery query(database());
    query.setForwardOnly(true);
    const ServerCall call(*this);
    if (!query.prepare(sql))
        throw failureOf(detail::queryError(query, d->database));
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

void Connection::forgetPreparedQueries()
{
    // A lost connection cannot free them; they go with the driver when the connection closes.
    if (!lost())
        d->clearStatements();
}

Failure Connection::failureOf(const QSqlError& error)
{
    if (lost())
        return lostFailure();
    return failureFromSqlError(error, d->database.driverName());
}

Failure Connection::lostFailure() const
{
    QString description;
    if (d->watchdog && d->watchdog->fired()) {
        description = QStringLiteral("El servidor de la base de datos no respondió en %1 segundos; se cortó la conexión.")
                          .arg(d->watchdog->limit().count() / 1000.0);
    } else {
        description = QStringLiteral("Se perdió la conexión con el servidor de la base de datos.");
        const QString why = detail::postgresErrorMessage(d->database);
        if (!why.isEmpty())
            description += QLatin1Char(' ') + why;
    }
    return Failure(ProviderError::ErrorsOccurred, driverName(), description);
}

bool Connection::lost() const
{
    if (d->watchdog && d->watchdog->fired())
        return true;
    return d->database.isValid() && detail::postgresConnectionLost(d->database);
}

void Connection::beginBatch()
{
    if (state() != StateOpen)
        throw Failure(LayerError::ObjectClosed, QStringLiteral("Retratix"),
                      QStringLiteral("No se permite la operación si el objeto está cerrado."));
    if (d->batchOpen)
        return;
    const ServerCall call(*this);
    if (d->postgres) {
        d->postgres->begin();  // sent with the batch's first statements
    } else if (driverName() == QLatin1String("QSQLITE")) {
        // The write lock at once (waiting up to the busy time-out), so that no other writer can
        // commit between the batch's reads and its first write.
        QSqlQuery begin(d->database);
        if (!begin.exec(QStringLiteral("BEGIN IMMEDIATE")))
            throw failureOf(detail::queryError(begin, d->database));
    } else if (!d->database.transaction()) {
        throw failureOf(d->database.lastError());
    }
    d->batchOpen = true;
}

void Connection::commitBatch()
{
    if (!d->batchOpen)
        return;
    const ServerCall call(*this);
    d->batchOpen = false;
    if (d->postgres) {
        d->postgres->commit();
        return;
    }
    QSqlQuery commit(d->database);
    if (driverName() == QLatin1String("QSQLITE") ? !commit.exec(QStringLiteral("COMMIT")) : !d->database.commit()) {
        const Failure failure = driverName() == QLatin1String("QSQLITE") ? failureOf(detail::queryError(commit, d->database))
                                                                          : failureOf(d->database.lastError());
        commit = QSqlQuery();
        d->batchOpen = true;
        rollbackBatch();
        throw failure;
    }
}

void Connection::rollbackBatch()
{
    if (!d->batchOpen)
        return;
    d->batchOpen = false;
    if (state() != StateOpen)
        return;
    const ServerCall call(*this);
    if (d->postgres)
        d->postgres->rollback();
    else if (driverName() == QLatin1String("QSQLITE"))
        QSqlQuery(d->database).exec(QStringLiteral("ROLLBACK"));
    else
        d->database.rollback();
}

bool Connection::inBatch() const { return d->batchOpen; }

namespace {

// The advisory locks' first key: the program's own space ("RTXN"), the run number the second.
constexpr int RunNumberLockSpace = 0x5254584e;

}  // namespace

bool Connection::reserveRunNumber(int32_t number)
{
    if (state() != StateOpen)
        return false;
    if (database().driver()->dbmsType() == QSqlDriver::PostgreSQL) {
        QSqlQuery query(database());
        const ServerCall call(*this);
        if (!query.exec(QStringLiteral("SELECT pg_try_advisory_lock(%1, %2)").arg(RunNumberLockSpace).arg(number)) ||
            !query.next())
            throw failureOf(detail::queryError(query, d->database));
        return query.value(0).toBool();
    }
    if (driverName() == QLatin1String("QSQLITE")) {
        // Beside the database, as its own -wal and -shm files are, and as open to other accounts.
        const QString database = QUrl(d->database.databaseName().section(QLatin1Char('?'), 0, 0)).toLocalFile();
        const QString file = database + QStringLiteral("-retratix");
        return d->runLocks.reserve(file, database, number);
    }
    return true;
}

void Connection::releaseRunNumber(int32_t number)
{
    if (state() != StateOpen)
        return;
    if (database().driver()->dbmsType() == QSqlDriver::PostgreSQL) {
        const ServerCall call(*this);
        QSqlQuery(database()).exec(QStringLiteral("SELECT pg_advisory_unlock(%1, %2)").arg(RunNumberLockSpace).arg(number));
    } else {
        d->runLocks.release(number);
    }
}

detail::PostgresSession* Connection::postgresSession() { return d->postgres.get(); }

void Connection::setBatchTag(int tag)
{
    if (d->postgres)
        d->postgres->setTag(tag);
}

int Connection::failedBatchTag() const { return d->postgres ? d->postgres->failedTag() : -1; }

QSqlRecord Connection::tableColumns(const QString& table)
{
    const auto found = d->tableColumns.constFind(table.toUpper());
    if (found != d->tableColumns.cend())
        return found.value();
    QSqlQuery query(database());
    query.setForwardOnly(true);
    const ServerCall call(*this);
    if (!query.exec(QStringLiteral("SELECT * FROM ") + table + QStringLiteral(" WHERE 1 = 0")))
        throw failureOf(detail::queryError(query, d->database));
    const QSqlRecord columns = query.record();
    query.finish();
    d->tableColumns.insert(table.toUpper(), columns);
    return columns;
}

// Calls nest (a fetch prepares its query): the outermost one bounds them all.
Connection::ServerCall::ServerCall(Connection& connection) : m_connection(connection)
{
    if (m_connection.d->watchdog && m_connection.d->serverCallDepth++ == 0)
        m_connection.d->watchdog->arm();
}

Connection::ServerCall::~ServerCall()
{
    if (m_connection.d->watchdog && --m_connection.d->serverCallDepth == 0)
        m_connection.d->watchdog->disarm();
}

}  // namespace db
