#pragma once

// The engines the database tests run on, each with the program's tables made afresh:
// "sqlite" (a file in a temporary folder), "postgresql" and "odbc" (the server that
// tests/postgres/cluster.sh starts, named by RETRATIX_DBTESTS_PG_DATASOURCE and
// RETRATIX_DBTESTS_ODBC_DATASOURCE; both reach the same database). Without those variables the
// server engines skip.

#include "db/connection.h"
#include "db/data_source.h"

#include <QFile>
#include <QMap>
#include <QSqlDatabase>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <memory>

inline QString programConnectionString(const QString& sid)
{
    return QStringLiteral("Provider=OraOLEDB.Oracle.1;Password=3k9tWqRm;Persist Security Info=True;User ID=regusr1;"
                          "Data Source=") +
           sid;
}

inline QString schemaScript(const QString& engine)
{
    QFile file(qEnvironmentVariable("RETRATIX_SOURCE_DIR") + QStringLiteral("/db/") + engine +
               QStringLiteral("/schema.sql"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

class TestEngines final {
public:
    static QStringList names() { return {QStringLiteral("sqlite"), QStringLiteral("postgresql"), QStringLiteral("odbc")}; }

    // Opens every engine that is at hand; the first connection of a database creates its tables.
    void setUp()
    {
        const QString sqlitePath = m_folder.filePath(QStringLiteral("retratix.db"));
        db::createSqliteFile(sqlitePath);
        open(QStringLiteral("sqlite"), QStringLiteral("sqlite:") + sqlitePath, QStringLiteral("sqlite"));
        const QString pg = qEnvironmentVariable("RETRATIX_DBTESTS_PG_DATASOURCE");
        const QString odbc = qEnvironmentVariable("RETRATIX_DBTESTS_ODBC_DATASOURCE");
        if (pg.isEmpty())
            m_skip.insert(QStringLiteral("postgresql"), QStringLiteral("RETRATIX_DBTESTS_PG_DATASOURCE not set"));
        else
            open(QStringLiteral("postgresql"), pg, QStringLiteral("postgresql"));
        if (odbc.isEmpty())
            m_skip.insert(QStringLiteral("odbc"), QStringLiteral("RETRATIX_DBTESTS_ODBC_DATASOURCE not set"));
        else
            open(QStringLiteral("odbc"), odbc, pg.isEmpty() ? QStringLiteral("postgresql") : QString());
    }

    // The engine's connection, or nullptr with the reason to skip.
    db::Connection* connection(const QString& engine, QString& skipReason)
    {
        const auto found = m_connections.find(engine);
        if (found == m_connections.end()) {
            skipReason = m_skip.value(engine, QStringLiteral("engine not opened"));
            return nullptr;
        }
        return found->second.get();
    }

    // Empties the program's tables between tests.
    void clearTables()
    {
        for (auto& [engine, connection] : m_connections) {
            for (const char* table : {"ABONADOS", "ABONADOSFOTOS", "LOG_ABONADOSFOTOS", "INSTALACIONES", "DUPLICADOS"})
                connection->execute(QStringLiteral("DELETE FROM ") + QLatin1String(table));
        }
    }

    QString folder() const { return m_folder.path(); }
    QString dataSource(const QString& engine) const { return m_dataSources.value(engine); }

private:
    void open(const QString& engine, const QString& sid, const QString& schema)
    {
        auto connection = std::make_unique<db::Connection>();
        try {
            connection->open(programConnectionString(QStringLiteral("  ") + sid + QStringLiteral("  ")));
            if (!schema.isEmpty()) {
                const QString script = schemaScript(schema);
                if (script.isEmpty())
                    throw Failure(0, QStringLiteral("test"), QStringLiteral("no schema script: is RETRATIX_SOURCE_DIR set?"));
                for (const char* table : {"ABONADOS", "ABONADOSFOTOS", "LOG_ABONADOSFOTOS", "INSTALACIONES", "DUPLICADOS"})
                    connection->execute(QStringLiteral("DROP TABLE IF EXISTS ") + QLatin1String(table));
                db::executeScript(connection->database(), script);
                // A table without a key, where one query can match several equal rows.
                connection->execute(QStringLiteral("CREATE TABLE DUPLICADOS (CODIGO INTEGER, NOMBRE TEXT)"));
            }
        } catch (const Failure& failure) {
            m_skip.insert(engine, QStringLiteral("cannot open %1: %2").arg(sid, failure.description));
            if (engine == QLatin1String("sqlite") || !sid.isEmpty())
                m_failed.append(engine + QStringLiteral(": ") + failure.description);
            return;
        }
        m_connections.emplace(engine, std::move(connection));
        m_dataSources.insert(engine, sid);
    }

public:
    // Engines that were configured but did not open: a failure, not a skip.
    QStringList m_failed;

private:
    QTemporaryDir m_folder;
    std::map<QString, std::unique_ptr<db::Connection>> m_connections;
    QMap<QString, QString> m_skip;
    QMap<QString, QString> m_dataSources;
};

// In a data-driven test with an "engine" column: the engine's connection, or skip.
#define ENGINE_CONNECTION(variable)                                                                  \
    QFETCH(QString, engine);                                                                         \
    QString skipReason_;                                                                             \
    db::Connection* variable = m_engines.connection(engine, skipReason_);                            \
    if (!variable)                                                                                   \
        QSKIP(qPrintable(skipReason_));
