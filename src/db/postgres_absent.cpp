// The build without libpq (RETRATIX_LIBPQ off): a PostgreSQL data source is refused before any
// connection is made, so no session ever exists and nothing here is reached on the way of a run.
#include "db/driver_details.h"
#include "db/postgres_session.h"

namespace db::detail {

namespace {

[[noreturn]] void refuse()
{
    throw Failure(RuntimeError::InvalidArgument, QStringLiteral("Retratix"),
                  QStringLiteral("Esta versión del programa no se conecta directamente a PostgreSQL."));
}

}  // namespace

bool postgresAvailable() { return false; }
pg_conn* postgresConnection(const QSqlDatabase&) { return nullptr; }
int postgresSocket(const QSqlDatabase&) { return -1; }
bool postgresConnectionLost(const QSqlDatabase&) { return false; }
QString postgresErrorMessage(const QSqlDatabase&) { return {}; }

PostgresSession::PostgresSession(pg_conn* connection, std::function<Failure(const QString&, const QString&)> failureOf)
    : m_connection(connection), m_failureOf(std::move(failureOf))
{
    refuse();
}

PostgresSession::~PostgresSession() = default;
PostgresSession::Result PostgresSession::execute(const QString&, const QVariantList&) { refuse(); }
void PostgresSession::queue(const QString&, const QVariantList&, qint64, const Failure&) { refuse(); }
void PostgresSession::settle() {}
void PostgresSession::begin() { refuse(); }
void PostgresSession::commit() { refuse(); }
void PostgresSession::rollback() {}

}  // namespace db::detail
