#pragma once

// What the reporting tests share: failures as numbers, the shipped report and a log database.
#include "common/failure.h"

#include <QList>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace reportingtest {

inline QString s(const char* text) { return QString::fromUtf8(text); }

// The number of the Failure that call raises; 0 when it raises none.
inline int failureNumber(const std::function<void()>& call)
{
    try {
        call();
    } catch (const Failure& failure) {
        return failure.number;
    }
    return 0;
}

// The folder of the shipped reports, with its trailing separator.
inline QString shippedReportFolder() { return qEnvironmentVariable("RETRATIX_SOURCE_DIR") + QStringLiteral("/reports/"); }

// The query of ListadoFotos.rpt as the report window leaves it after merging the run's condition.
inline QString narrowedSql(const QString& run)
{
    return QStringLiteral("SELECT LOG_ABONADOSFOTOS.USUARIO, LOG_ABONADOSFOTOS.NOMBRE_FOTO, LOG_ABONADOSFOTOS.SUBIO, "
                          "LOG_ABONADOSFOTOS.MOTIVO, LOG_ABONADOSFOTOS.CODINSTALACION FROM LOG_ABONADOSFOTOS "
                          "LOG_ABONADOSFOTOS WHERE (LOG_ABONADOSFOTOS.USUARIO= '%1' )ORDER BY "
                          "LOG_ABONADOSFOTOS.NOMBRE_FOTO")
        .arg(run);
}

// (Re)creates the upload log in the SQLite file at path with these rows (USUARIO, NOMBRE_FOTO, SUBIO,
// MOTIVO; installation 1). Returns the database's error text, empty when all went well.
inline QString createLogDatabase(const QString& path, const QList<QStringList>& rows)
{
    const QString connection = QStringLiteral("log-setup");
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        QSqlQuery q(db);
        const auto ok = [&](bool done, const QSqlError& failure) {
            if (!done && error.isEmpty())
                error = failure.text();
            return done;
        };
        if (ok(db.open(), db.lastError()) && ok(q.exec(QStringLiteral("DROP TABLE IF EXISTS LOG_ABONADOSFOTOS")), q.lastError())
            && ok(q.exec(QStringLiteral("CREATE TABLE LOG_ABONADOSFOTOS (USUARIO TEXT NOT NULL, NOMBRE_FOTO TEXT, "
                                        "SUBIO TEXT, MOTIVO TEXT, CODINSTALACION INTEGER DEFAULT 1) STRICT")),
                  q.lastError())
            && ok(db.transaction(), db.lastError())
            && ok(q.prepare(QStringLiteral("INSERT INTO LOG_ABONADOSFOTOS (USUARIO, NOMBRE_FOTO, SUBIO, MOTIVO) "
                                           "VALUES (?, ?, ?, ?)")),
                  q.lastError())) {
            for (const QStringList& row : rows) {
                for (int i = 0; i < 4; ++i)
                    q.bindValue(i, row.value(i));
                if (!ok(q.exec(), q.lastError()))
                    break;
            }
            ok(db.commit(), db.lastError());
        }
        q = QSqlQuery();
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return error;
}

// Reads a CSV file as a spreadsheet in a Spanish locale does: UTF-8 after a byte-order mark, ";"
// between fields, CR LF after every record, quoted fields with doubled quotes (RFC 4180). Nothing
// when the bytes break any of that (no mark, a bare CR or LF, text after a closing quote).
inline std::optional<QList<QStringList>> parseCsv(const QByteArray& bytes)
{
    if (!bytes.startsWith("\xEF\xBB\xBF"))
        return std::nullopt;
    const QString text = QString::fromUtf8(bytes.mid(3));
    QList<QStringList> records;
    QStringList record;
    QString field;
    qsizetype i = 0;
    bool quoted = false;  // the field being read was quoted and is closed
    while (i < text.size()) {
        const QChar c = text.at(i);
        if (c == u'"' && field.isEmpty() && !quoted) {
            for (++i;; ++i) {
                if (i >= text.size())
                    return std::nullopt;
                if (text.at(i) == u'"') {
                    if (i + 1 < text.size() && text.at(i + 1) == u'"') {
                        field += u'"';
                        ++i;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += text.at(i);
            }
            quoted = true;
        } else if (c == u';') {
            record.append(field);
            field.clear();
            quoted = false;
            ++i;
        } else if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n') {
            record.append(field);
            records.append(record);
            record.clear();
            field.clear();
            quoted = false;
            i += 2;
        } else if (quoted || c == u'\r' || c == u'\n' || c == u'"') {
            return std::nullopt;
        } else {
            field += c;
            ++i;
        }
    }
    if (!record.isEmpty() || !field.isEmpty())
        return std::nullopt;  // the last record has no CR LF
    return records;
}

}  // namespace reportingtest
