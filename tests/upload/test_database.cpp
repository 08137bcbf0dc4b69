#include "test_database.h"

#include <QCoreApplication>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <sqlite3.h>

namespace {

QString connectionString(const QString& dataSource)
{
    return QStringLiteral("Provider=OraOLEDB.Oracle.1;Password=3k9tWqRm;Persist Security Info=True;"
                          "User ID=regusr1;Data Source=") +
           dataSource;
}

bool runSqliteScript(const QString& databasePath, const QString& scriptPath, QString* error)
{
    QFile script(scriptPath);
    if (!script.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read ") + scriptPath;
        return false;
    }
    const QByteArray text = script.readAll();
    sqlite3* handle = nullptr;
    bool ok = sqlite3_open(databasePath.toUtf8().constData(), &handle) == SQLITE_OK;
    char* message = nullptr;
    ok = ok && sqlite3_exec(handle, text.constData(), nullptr, nullptr, &message) == SQLITE_OK;
    if (!ok)
        *error = message ? QString::fromUtf8(message) : QString::fromUtf8(sqlite3_errmsg(handle));
    sqlite3_free(message);
    sqlite3_close(handle);
    return ok;
}

}  // namespace

QString TestDatabase::sourceDir()
{
    return qEnvironmentVariable("RETRATIX_SOURCE_DIR", QStringLiteral(RETRATIX_SOURCE_DIR_DEFAULT));
}

QString TestDatabase::engineName(Engine engine)
{
    switch (engine) {
    case Engine::Sqlite: return QStringLiteral("SQLite");
    case Engine::Postgres: return QStringLiteral("PostgreSQL");
    case Engine::Odbc: return QStringLiteral("PostgreSQL through ODBC");
    }
    return {};
}

std::unique_ptr<TestDatabase> TestDatabase::create(Engine engine, QString* whyNot)
{
    std::unique_ptr<TestDatabase> database(new TestDatabase);
    database->m_engine = engine;
    if (engine == Engine::Sqlite) {
        const QString path = database->m_dir.filePath(QStringLiteral("retratix.db"));
        if (!runSqliteScript(path, sourceDir() + QStringLiteral("/db/sqlite/schema.sql"), whyNot))
            return nullptr;
        database->m_dataSource = QStringLiteral("sqlite:") + path;
    } else {
        const QString host = qEnvironmentVariable("RETRATIX_PG_HOST");
        const QString port = qEnvironmentVariable("RETRATIX_PG_PORT");
        if (host.isEmpty() || port.isEmpty()) {
            *whyNot = QStringLiteral("no PostgreSQL server (RETRATIX_PG_HOST/PORT are set by test.sh)");
            return nullptr;
        }
        const QString odbcDriver = qEnvironmentVariable("RETRATIX_ODBC_DRIVER");
        if (engine == Engine::Odbc && odbcDriver.isEmpty()) {
            *whyNot = QStringLiteral("no PostgreSQL ODBC driver (RETRATIX_ODBC_DRIVER is set by test.sh)");
            return nullptr;
        }
        // A database of its own: other test programs use the shared one at the same time. Its
        // tables come from the schema script, sent whole (the server takes several statements in
        // one simple query), so no client program is needed: the Windows build runs these too.
        database->m_pgDatabase = QStringLiteral("retratix_upload_%1").arg(QCoreApplication::applicationPid());
        const auto open = [&](const QString& name, const QString& databaseName) {
            QSqlDatabase connection = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
            connection.setHostName(host);
            connection.setPort(port.toInt());
            connection.setDatabaseName(databaseName);
            connection.setUserName(QStringLiteral("regusr1"));
            connection.setPassword(QStringLiteral("3k9tWqRm"));
            if (!connection.open())
                *whyNot = connection.lastError().text();
            return connection;
        };
        const auto run = [whyNot](QSqlDatabase connection, const QString& sql) {
            QSqlQuery query(connection);
            const bool done = query.exec(sql);
            if (!done)
                *whyNot = query.lastError().text();
            return done;
        };
        {
            QSqlDatabase admin = open(QStringLiteral("upload_admin"), QStringLiteral("retratix"));
            const bool created = admin.isOpen() && run(admin, QStringLiteral("SET client_min_messages = warning")) &&
                                 run(admin, QStringLiteral("DROP DATABASE IF EXISTS ") + database->m_pgDatabase) &&
                                 run(admin, QStringLiteral("CREATE DATABASE ") + database->m_pgDatabase);
            admin.close();
            if (!created)
                return nullptr;
            QFile schema(sourceDir() + QStringLiteral("/db/postgresql/schema.sql"));
            if (!schema.open(QIODevice::ReadOnly)) {
                *whyNot = QStringLiteral("cannot read ") + schema.fileName();
                return nullptr;
            }
            QSqlDatabase tables = open(QStringLiteral("upload_schema"), database->m_pgDatabase);
            const bool ready = tables.isOpen() && run(tables, QString::fromUtf8(schema.readAll()));
            tables.close();
            if (!ready)
                return nullptr;
        }
        QSqlDatabase::removeDatabase(QStringLiteral("upload_admin"));
        QSqlDatabase::removeDatabase(QStringLiteral("upload_schema"));
        if (engine == Engine::Odbc) {
            // As the test server's data sources are set up (tests/postgres/cluster.sh), without one.
            database->m_dataSource = QStringLiteral("\"odbc:DRIVER=%1;Servername=%2;Port=%3;Database=%4;"
                                                    "ByteaAsLongVarBinary=1;UseServerSidePrepare=1\"")
                                         .arg(odbcDriver, host, port, database->m_pgDatabase);
        } else {
            database->m_dataSource = QStringLiteral("postgresql://%1:%2/%3").arg(host, port, database->m_pgDatabase);
            // Over verified TLS where the test server has it.
            if (const QString options = qEnvironmentVariable("RETRATIX_PG_OPTIONS"); !options.isEmpty())
                database->m_dataSource += QLatin1Char('?') + options;
        }
    }
    database->connect();
    return database;
}

void TestDatabase::connect() { m_connection = openConnection(); }

std::unique_ptr<db::Connection> TestDatabase::openConnection() const
{
    auto connection = std::make_unique<db::Connection>();
    connection->open(connectionString(m_dataSource));
    return connection;
}

TestDatabase::~TestDatabase()
{
    m_connection.reset();
    if (m_pgDatabase.isEmpty())
        return;
    {
        QSqlDatabase admin = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("upload_admin"));
        admin.setHostName(qEnvironmentVariable("RETRATIX_PG_HOST"));
        admin.setPort(qEnvironmentVariableIntValue("RETRATIX_PG_PORT"));
        admin.setDatabaseName(QStringLiteral("retratix"));
        admin.setUserName(QStringLiteral("regusr1"));
        admin.setPassword(QStringLiteral("3k9tWqRm"));
        if (admin.open())
            QSqlQuery(admin).exec(QStringLiteral("DROP DATABASE IF EXISTS ") + m_pgDatabase);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("upload_admin"));
}

void TestDatabase::clear()
{
    for (const char* table : {"LOG_ABONADOSFOTOS", "ABONADOSFOTOS", "ABONADOS", "INSTALACIONES"})
        m_connection->execute(QStringLiteral("DELETE FROM ") + QLatin1String(table));
}

QList<QVariantList> TestDatabase::rows(const QString& sql)
{
    QSqlQuery query(m_connection->database());
    query.setForwardOnly(true);
    if (!query.exec(sql))
        qFatal("%s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
    QList<QVariantList> result;
    while (query.next()) {
        QVariantList row;
        for (int i = 0; i < query.record().count(); ++i)
            row.append(query.value(i));
        result.append(row);
    }
    return result;
}

QVariant TestDatabase::scalar(const QString& sql)
{
    const QList<QVariantList> result = rows(sql);
    return result.isEmpty() ? QVariant() : result.first().value(0);
}
