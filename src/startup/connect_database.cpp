#include "mod_glob.h"

#include "common/messages.h"
#include "common/platform.h"
#include "common/text.h"

#include <cstdio>

namespace ModGlob {
namespace {

// 100 characters: provider, built-in account, and the key the service name follows.
const QString ConnectionStringPrefix = QStringLiteral(
    "Provider=OraOLEDB.Oracle.1;Password=3k9tWqRm;Persist Security Info=True;User ID=regusr1;Data Source=");

constexpr int32_t ConnectionTimeoutSeconds = 15;

QString connectionFailureReason;

[[noreturn]] void endProgram(const QString& text, const QString& title)
{
    showMessage(text, MessageIcon::Critical, title);
    throw ProgramEnd{1};
}

// Opens DbConnection as the program always has: the four settings, the open, the lock time-out.
void openDbConnection()
{
    DbConnection->setConnectionString(DbConnectionString);
    DbConnection->setIsolationLevel(db::IsolationLevel::Serializable);
    DbConnection->setCursorLocation(db::CursorLocation::Client);
    DbConnection->setConnectionTimeout(ConnectionTimeoutSeconds);
    DbConnection->open(DbConnectionString, QString(), QString(), db::OptionsUnspecified);
    DbConnection->execute(QStringLiteral("SET LOCK_TIMEOUT 0"), db::OptionsUnspecified);
}

void openConnection()
{
    LoadConfiguration();
    DatabaseType = QStringLiteral("SQL");
    ServerName = QStringLiteral("ODBC.DLL");
    const QString sid = trimBlanks(DatabaseSid);
    if (sid.isEmpty())
        endProgram(QStringLiteral("Hay que definir SID dentro de [Conexion]"), Application::title());

    DbConnectionString = ConnectionStringPrefix + sid;
    DbConnection = std::make_unique<db::Connection>();
    openDbConnection();
}

}  // namespace

bool ReconnectDatabase()
{
    DbConnection = std::make_unique<db::Connection>();
    try {
        openDbConnection();
    } catch (const Failure&) {
        // Open: only the lock time-out was refused, as at start-up.
    }
    return DbConnection->state() == db::Connection::StateOpen;
}

QString ConnectionFailureReason() { return connectionFailureReason; }

QString builtInUser() { return QStringLiteral("regusr1"); }
QString builtInPassword() { return QStringLiteral("3k9tWqRm"); }

void ConnectDatabase()
{
    connectionFailureReason.clear();
    try {
        openConnection();
    } catch (const ProgramEnd&) {
        throw;
    } catch (const Failure& failure) {
        if (!DbConnection || DbConnection->state() == db::Connection::StateClosed) {
            connectionFailureReason = failure.description;
            std::fprintf(stderr, "%s\n", qPrintable(failure.description));
            endProgram(QStringLiteral("No hay Conexión a la Base de Datos"), QStringLiteral("Error"));
        }
    } catch (...) {
        // An open connection means only the lock time-out was refused: engines without
        // that statement work on with the connection as it is.
        if (!DbConnection || DbConnection->state() == db::Connection::StateClosed)
            endProgram(QStringLiteral("No hay Conexión a la Base de Datos"), QStringLiteral("Error"));
    }
}

}  // namespace ModGlob
