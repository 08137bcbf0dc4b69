#include "db/postgres_session.h"

#include "db/data_source.h"
#include "db/driver_details.h"

#include <QDate>
#include <QDateTime>
#include <QSqlDriver>

#include <libpq-fe.h>

#include <optional>
#include <vector>

namespace db::detail {

namespace {

QString lastLine(const char* message)
{
    return QString::fromUtf8(message).trimmed();
}

// A value of an answer in text form as the type of its column: whole numbers, bytes, else text.
QVariant valueOf(const PGresult* result, int row, int column)
{
    constexpr Oid Bytea = 17, Int8 = 20, Int2 = 21, Int4 = 23;
    const char* text = PQgetvalue(result, row, column);
    switch (PQftype(result, column)) {
    case Int2: case Int4: case Int8: return QVariant(QByteArray(text).toLongLong());
    case Bytea: {
        size_t length = 0;
        unsigned char* bytes = PQunescapeBytea(reinterpret_cast<const unsigned char*>(text), &length);
        const QByteArray value(reinterpret_cast<const char*>(bytes), qsizetype(length));
        PQfreemem(bytes);
        return QVariant(value);
    }
    default: return QVariant(QString::fromUtf8(text, PQgetlength(result, row, column)));
    }
}

}  // namespace

// The values as libpq takes them: bytes in binary format, everything else as text, nulls as null.
struct PostgresSession::Parameters {
    std::vector<QByteArray> storage;
    std::vector<const char*> values;
    std::vector<int> lengths;
    std::vector<int> formats;

    explicit Parameters(const QVariantList& list)
    {
        storage.reserve(size_t(list.size()));
        for (const QVariant& value : list) {
            if (value.isNull() || !value.isValid()) {
                storage.emplace_back();
                values.push_back(nullptr);
                lengths.push_back(0);
                formats.push_back(0);
                continue;
            }
            const int type = value.metaType().id();
            if (type == QMetaType::QByteArray) {
                storage.push_back(value.toByteArray());
                formats.push_back(1);
            } else if (type == QMetaType::Double || type == QMetaType::Float) {
                storage.push_back(QByteArray::number(value.toDouble(), 'g', 17));
                formats.push_back(0);
            } else if (type == QMetaType::QDate) {
                storage.push_back(value.toDate().toString(Qt::ISODate).toUtf8());
                formats.push_back(0);
            } else if (type == QMetaType::Bool) {
                storage.push_back(value.toBool() ? QByteArrayLiteral("t") : QByteArrayLiteral("f"));
                formats.push_back(0);
            } else {
                storage.push_back(value.toString().toUtf8());
                formats.push_back(0);
            }
            values.push_back(storage.back().constData());
            lengths.push_back(int(storage.back().size()));
        }
    }
    int count() const { return int(values.size()); }
};

QString numberedParameters(const QString& sql, int* count)
{
    QString result;
    result.reserve(sql.size() + 16);
    int number = 0;
    QChar quote;
    for (const QChar c : sql) {
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            result += c;
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            quote = c;
            result += c;
        } else if (c == QLatin1Char('?')) {
            result += QLatin1Char('$') + QString::number(++number);
        } else {
            result += c;
        }
    }
    if (count)
        *count = number;
    return result;
}

bool postgresAvailable() { return true; }

pg_conn* postgresConnection(const QSqlDatabase& database)
{
    // Not isOpen(): Qt's driver counts a lost connection as closed, and it is still libpq's to ask.
    if (!database.isValid() || !database.driver())
        return nullptr;
    const QVariant handle = database.driver()->handle();
    // Qt registers libpq's PGconn under its struct's name.
    if (qstrcmp(handle.typeName(), "PGconn*") != 0 && qstrcmp(handle.typeName(), "pg_conn*") != 0)
        return nullptr;
    return handle.isValid() && handle.constData() ? *static_cast<pg_conn* const*>(handle.constData()) : nullptr;
}

int postgresSocket(const QSqlDatabase& database)
{
    pg_conn* connection = postgresConnection(database);
    return connection ? PQsocket(connection) : -1;
}

bool postgresConnectionLost(const QSqlDatabase& database)
{
    pg_conn* connection = postgresConnection(database);
    return connection && PQstatus(connection) == CONNECTION_BAD;
}

QString postgresErrorMessage(const QSqlDatabase& database)
{
    pg_conn* connection = postgresConnection(database);
    return connection ? QString::fromUtf8(PQerrorMessage(connection)).trimmed() : QString();
}

PostgresSession::PostgresSession(pg_conn* connection,
                                 std::function<Failure(const QString&, const QString&)> failureOf)
    : m_connection(connection), m_failureOf(std::move(failureOf))
{
    // The server's notices (among them the warnings of a server shutting down) would go to
    // standard error as driver noise; what matters of them reaches the program as its failures.
    PQsetNoticeProcessor(m_connection, [](void*, const char*) {}, nullptr);
}

PostgresSession::~PostgresSession() = default;

Failure PostgresSession::failureOfResult(const void* result) const
{
    const auto* pgResult = static_cast<const PGresult*>(result);
    if (!pgResult)
        return failureOfConnection();
    const char* state = PQresultErrorField(pgResult, PG_DIAG_SQLSTATE);
    const char* primary = PQresultErrorField(pgResult, PG_DIAG_MESSAGE_PRIMARY);
    return m_failureOf(QString::fromLatin1(state ? state : ""),
                       primary ? QString::fromUtf8(primary) : lastLine(PQresultErrorMessage(pgResult)));
}

Failure PostgresSession::failureOfConnection() const
{
    return m_failureOf(QString(), lastLine(PQerrorMessage(m_connection)));
}

QByteArray PostgresSession::preparedName(const QString& sql, int count, bool pipelined)
{
    const auto found = m_names.constFind(sql);
    if (found != m_names.cend())
        return found.value();
    const QByteArray name = "rtx_stmt_" + QByteArray::number(++m_nameCounter);
    const QByteArray text = numberedParameters(sql, nullptr).toUtf8();
    if (pipelined) {
        // Its answer is read with the batch's; a batch that fails forgets it again.
        if (!PQsendPrepare(m_connection, name.constData(), text.constData(), count, nullptr))
            throw failureOfConnection();
        m_pending.append({-1, true, std::nullopt, m_tag});
        m_unconfirmed.append(sql);
    } else {
        PGresult* result = PQprepare(m_connection, name.constData(), text.constData(), count, nullptr);
        const bool ok = result && PQresultStatus(result) == PGRES_COMMAND_OK;
        const std::optional<Failure> failure = ok ? std::nullopt : std::optional(failureOfResult(result));
        PQclear(result);
        if (failure)
            throw *failure;
    }
    m_names.insert(sql, name);
    return name;
}

void PostgresSession::enterPipeline()
{
    if (m_pipelining)
        return;
    if (!PQenterPipelineMode(m_connection))
        throw failureOfConnection();
    m_pipelining = true;
}

std::optional<Failure> PostgresSession::drainPipeline()
{
    if (!m_pipelining)
        return std::nullopt;
    m_failedTag = -1;
    std::optional<Failure> failure;
    const bool synced = PQpipelineSync(m_connection) == 1;
    if (!synced)
        failure = failureOfConnection();
    const QList<Pending> pending = std::exchange(m_pending, {});
    // One answer per statement sent, each followed by a null result, then the sync's own answer.
    // After the first failure the rest are only read, up to the sync.
    if (synced) {
        qsizetype next = 0;
        int nullsInARow = 0;
        while (true) {
            PGresult* result = PQgetResult(m_connection);
            if (!result) {
                if (PQstatus(m_connection) != CONNECTION_OK || ++nullsInARow > 1) {
                    if (!failure)
                        failure = failureOfConnection();
                    break;
                }
                continue;
            }
            nullsInARow = 0;
            const ExecStatusType status = PQresultStatus(result);
            if (status == PGRES_PIPELINE_SYNC) {
                PQclear(result);
                break;
            }
            const Pending expected = next < pending.size() ? pending.at(next) : Pending{};
            ++next;
            if (!failure) {
                if (status == PGRES_FATAL_ERROR)
                    failure = failureOfResult(result);
                else if (!expected.isPrepare && expected.expectedRows >= 0 &&
                         QByteArray(PQcmdTuples(result)).toLongLong() != expected.expectedRows)
                    failure = expected.mismatch;
                if (failure)
                    m_failedTag = expected.tag;
            }
            PQclear(result);
        }
    }
    if (PQpipelineStatus(m_connection) != PQ_PIPELINE_OFF)
        PQexitPipelineMode(m_connection);
    m_pipelining = false;
    if (!failure)
        m_unconfirmed.clear();
    return failure;
}

PostgresSession::Result PostgresSession::execute(const QString& sql, const QVariantList& values)
{
    if (const std::optional<Failure> failure = drainPipeline())
        throw *failure;
    const Parameters parameters(values);
    const QByteArray name = preparedName(sql, parameters.count(), false);
    PGresult* result = PQexecPrepared(m_connection, name.constData(), parameters.count(), parameters.values.data(),
                                      parameters.lengths.data(), parameters.formats.data(), 0);
    const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        const Failure failure = failureOfResult(result);
        PQclear(result);
        throw failure;
    }
    Result answer;
    answer.rowsAffected = QByteArray(PQcmdTuples(result)).toLongLong();
    const int rows = PQntuples(result);
    const int columns = PQnfields(result);
    answer.rows.reserve(rows);
    for (int row = 0; row < rows; ++row) {
        QVariantList values;
        values.reserve(columns);
        for (int column = 0; column < columns; ++column)
            values.append(PQgetisnull(result, row, column) ? QVariant() : valueOf(result, row, column));
        answer.rows.append(values);
    }
    PQclear(result);
    return answer;
}

void PostgresSession::queue(const QString& sql, const QVariantList& values, qint64 expectedRows,
                            const Failure& mismatch)
{
    enterPipeline();
    const Parameters parameters(values);
    const QByteArray name = preparedName(sql, parameters.count(), true);
    if (!PQsendQueryPrepared(m_connection, name.constData(), parameters.count(), parameters.values.data(),
                             parameters.lengths.data(), parameters.formats.data(), 0))
        throw failureOfConnection();
    m_pending.append({expectedRows, false, mismatch, m_tag});
}

void PostgresSession::settle()
{
    if (const std::optional<Failure> failure = drainPipeline())
        throw *failure;
}

void PostgresSession::begin()
{
    enterPipeline();
    if (!PQsendQueryParams(m_connection, "BEGIN", 0, nullptr, nullptr, nullptr, nullptr, 0))
        throw failureOfConnection();
    m_pending.append({-1, false, std::nullopt, m_tag});
    m_inTransaction = true;
}

void PostgresSession::commit()
{
    // The answers first, then the commit: a statement that changed another count of rows than
    // expected is no failure to the server, which would commit the batch all the same.
    std::optional<Failure> failure = drainPipeline();
    if (!failure) {
        PGresult* result = PQexec(m_connection, "COMMIT");
        if (!result || PQresultStatus(result) != PGRES_COMMAND_OK)
            failure = failureOfResult(result);
        PQclear(result);
    }
    if (failure) {
        rollback();
        throw *failure;
    }
    m_inTransaction = false;
}

void PostgresSession::rollback()
{
    drainPipeline();
    // A statement prepared in the failed pipeline may not exist: prepared anew when next used.
    for (const QString& sql : std::exchange(m_unconfirmed, {}))
        m_names.remove(sql);
    if (PQstatus(m_connection) == CONNECTION_OK && PQtransactionStatus(m_connection) != PQTRANS_IDLE)
        PQclear(PQexec(m_connection, "ROLLBACK"));
    m_inTransaction = false;
}

}  // namespace db::detail
