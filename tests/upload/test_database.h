#pragma once

#include "db/connection.h"

#include <QList>
#include <QString>
#include <QVariant>
#include <QTemporaryDir>

#include <memory>

// A database with the program's tables for one test program: a SQLite file from
// db/sqlite/schema.sql, or a PostgreSQL database of its own on the server that test.sh starts
// (RETRATIX_PG_HOST/PORT), created from db/postgresql/schema.sql and dropped at the end.
class TestDatabase final {
public:
    // PostgreSQL through ODBC: the test server's database of its own, reached through its ODBC driver.
    enum class Engine { Sqlite, Postgres, Odbc };

    // nullptr with a reason when the engine is not available.
    static std::unique_ptr<TestDatabase> create(Engine engine, QString* whyNot);
    ~TestDatabase();

    static QString engineName(Engine engine);
    // The source tree (RETRATIX_SOURCE_DIR, else the one this test was built from).
    static QString sourceDir();
    db::Connection& connection() { return *m_connection; }
    // One more connection to the same database (for the program's global one).
    std::unique_ptr<db::Connection> openConnection() const;
    QString dataSource() const { return m_dataSource; }
    // Empties the four tables.
    void clear();
    void execute(const QString& sql) { m_connection->execute(sql); }
    // Reads straight through the driver, not through the layer under test.
    QList<QVariantList> rows(const QString& sql);
    // The first column of the first row, or an invalid value.
    QVariant scalar(const QString& sql);
    int count(const QString& sql) { return scalar(sql).toInt(); }

private:
    TestDatabase() = default;
    void connect();

    Engine m_engine = Engine::Sqlite;
    QTemporaryDir m_dir;
    QString m_dataSource;
    QString m_pgDatabase;
    std::unique_ptr<db::Connection> m_connection;
};
