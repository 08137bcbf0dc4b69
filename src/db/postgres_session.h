#pragma once

// Internal to src/db: statements sent through libpq itself on the connection that Qt's PostgreSQL
// driver opened, for the program's hot path. Values travel as parameters (bytes in binary, the
// rest as text), each text is prepared once per session, and the writes of a batch are pipelined:
// sent without waiting for their answers, which are read once, when the batch commits.

#include "common/failure.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QStringList>
#include <QString>
#include <QVariant>

#include <functional>
#include <optional>

struct pg_conn;

namespace db::detail {

class PostgresSession final {
public:
    // failureOf turns a driver error into the program's Failure (as the connection does).
    PostgresSession(pg_conn* connection, std::function<Failure(const QString& code, const QString& message)> failureOf);
    ~PostgresSession();
    PostgresSession(const PostgresSession&) = delete;
    PostgresSession& operator=(const PostgresSession&) = delete;

    struct Result {
        QList<QVariantList> rows;  // whole numbers, bytes, texts, or null values
        qint64 rowsAffected = 0;
    };

    // Runs at once and waits for the answer (ending a pipelined batch's sending first).
    Result execute(const QString& sql, const QVariantList& values);
    // Within a batch: sends without waiting. Another count of affected rows than expectedRows
    // (-1: any) fails the batch with mismatch.
    void queue(const QString& sql, const QVariantList& values, qint64 expectedRows, const Failure& mismatch);

    // Reads the answers of statements sent so far, so that the connection can serve Qt's driver
    // again (it cannot while statements are pipelined); their first failure is raised.
    void settle();

    void begin();
    // Reads every answer of the batch (one round trip), then commits (one more); the first failure
    // is raised after the transaction is rolled back.
    void commit();
    // Never raises: a lost connection has nothing left to roll back.
    void rollback();
    bool inTransaction() const { return m_inTransaction; }
    // Statements sent from now on carry this tag; the tag of the one whose answer failed the batch.
    void setTag(int tag) { m_tag = tag; }
    int failedTag() const { return m_failedTag; }

private:
    struct Pending {
        qint64 expectedRows = -1;
        bool isPrepare = false;
        std::optional<Failure> mismatch;
        int tag = -1;
    };
    struct Parameters;

    // The statement's name on the server, prepared on first use ('?' become $1, $2, ...).
    QByteArray preparedName(const QString& sql, int count, bool pipelined);
    void enterPipeline();
    // Reads every answer sent so far and leaves pipeline mode; the first failure is returned.
    std::optional<Failure> drainPipeline();
    Failure failureOfResult(const void* result) const;
    Failure failureOfConnection() const;

    pg_conn* m_connection;
    std::function<Failure(const QString&, const QString&)> m_failureOf;
    QHash<QString, QByteArray> m_names;  // SQL text -> prepared statement's name
    QList<Pending> m_pending;
    QStringList m_unconfirmed;  // prepared in the pipeline not yet read back
    int m_nameCounter = 0;
    int m_tag = -1;
    int m_failedTag = -1;
    bool m_pipelining = false;
    bool m_inTransaction = false;
};

// '?' marks become $1, $2, ... outside quoted texts and identifiers; count receives their number.
QString numberedParameters(const QString& sql, int* count);

}  // namespace db::detail
