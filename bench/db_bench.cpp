// The upload's database work, timed per engine: for each photo a member check, a photo check,
// the photo insert and the log row, as the program runs them. Prints figures; judges nothing.
//
//   db_bench [PHOTOS] [DATA_SOURCE...]
// Without data sources: a SQLite file in a temporary folder, plus RETRATIX_PG_DATASOURCE and
// RETRATIX_ODBC_DATASOURCE when set (their tables are emptied first: use a scratch database).

#include "db/connection.h"
#include "db/data_source.h"
#include "db/recordset.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

namespace {

QTextStream out(stdout);

QString connectionString(const QString& sid)
{
    return QStringLiteral("Provider=OraOLEDB.Oracle.1;Password=3k9tWqRm;Persist Security Info=True;User ID=regusr1;"
                          "Data Source=") +
           sid;
}

enum class Cache { Kept, Dropped };

// One photo's statements; the cache dropped before each emulates a layer that prepares anew.
void uploadOne(db::Connection& connection, int member, const QByteArray& photo, Cache cache)
{
    auto maybeDrop = [&] {
        if (cache == Cache::Dropped)
            connection.forgetPreparedQueries();
    };
    const QString number = QString::number(member);
    for (const char* table : {"ABONADOS", "ABONADOSFOTOS"}) {
        maybeDrop();
        db::Recordset check;
        check.open(QStringLiteral("SELECT CODIGO FROM ") + QLatin1String(table) +
                       QStringLiteral(" WHERE CODINSTALACION=1 AND CODIGO = ") + number,
                   connection);
    }
    maybeDrop();
    db::Recordset rs;
    rs.open(QStringLiteral("SELECT * FROM ABONADOSFOTOS WHERE CODINSTALACION = -1"), connection);
    rs.addNew();
    rs.setCollect(QStringLiteral("Codigo"), number);
    rs.setCollect(QStringLiteral("Codinstalacion"), QStringLiteral("1"));
    rs.setCollect(QStringLiteral("filename"), number + QStringLiteral(".jpg"));
    rs.setCollect(QStringLiteral("filesize"), static_cast<int32_t>(photo.size()));
    rs.setCollect(QStringLiteral("foto"), photo);
    rs.update();
    maybeDrop();
    db::Recordset log;
    log.open(QStringLiteral("SELECT * FROM LOG_ABONADOSFOTOS WHERE CODINSTALACION=-1"), connection);
    log.addNew();
    log.setCollect(QStringLiteral("nombre_foto"), number + QStringLiteral(".jpg"));
    log.setCollect(QStringLiteral("subio"), QStringLiteral("S"));
    log.setCollect(QStringLiteral("usuario"), QStringLiteral("4711"));
    log.setCollect(QStringLiteral("motivo"), QStringLiteral("Foto Insertada"));
    log.update();
}

void clear(db::Connection& connection)
{
    connection.execute(QStringLiteral("DELETE FROM ABONADOSFOTOS"));
    connection.execute(QStringLiteral("DELETE FROM LOG_ABONADOSFOTOS"));
}

// Milliseconds for the run; durableEvery > 0 calls makeCommittedDurable() every that many photos.
double run(db::Connection& connection, int photos, const QByteArray& photo, Cache cache, int durableEvery)
{
    clear(connection);
    connection.makeCommittedDurable();
    QElapsedTimer timer;
    timer.start();
    for (int i = 1; i <= photos; ++i) {
        uploadOne(connection, i, photo, cache);
        if (durableEvery > 0 && i % durableEvery == 0)
            connection.makeCommittedDurable();
    }
    connection.makeCommittedDurable();
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

void report(const QString& engine, const QString& what, double ms, int photos)
{
    out << QStringLiteral("%1  %2  %3 ms total  %4 ms/photo\n")
               .arg(engine, -12)
               .arg(what, -46)
               .arg(ms, 9, 'f', 1)
               .arg(ms / photos, 7, 'f', 2);
    out.flush();
}

void bench(const QString& sid, int photos, const QByteArray& photo)
{
    db::Connection connection;
    connection.open(connectionString(sid));
    const QString engine = connection.driverName();
    report(engine, QStringLiteral("statement cache kept, durable once at the end"),
           run(connection, photos, photo, Cache::Kept, 0), photos);
    report(engine, QStringLiteral("prepared anew every time, durable at the end"),
           run(connection, photos, photo, Cache::Dropped, 0), photos);
    if (engine == QLatin1String("QSQLITE")) {
        report(engine, QStringLiteral("cache kept, durable every 10 photos"), run(connection, photos, photo, Cache::Kept, 10),
               photos);
        report(engine, QStringLiteral("cache kept, durable every photo"), run(connection, photos, photo, Cache::Kept, 1),
               photos);
        QSqlQuery(connection.database()).exec(QStringLiteral("PRAGMA synchronous=FULL"));
        report(engine, QStringLiteral("synchronous=FULL (every commit synced)"),
               run(connection, photos, photo, Cache::Kept, 0), photos);
    }
    clear(connection);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const int photos = args.isEmpty() ? 200 : args.takeFirst().toInt();
    QTemporaryDir folder;
    if (args.isEmpty()) {
        const QString path = folder.filePath(QStringLiteral("bench.db"));
        db::createSqliteFile(path);
        {
            db::Connection connection;
            connection.open(connectionString(QStringLiteral("sqlite:") + path));
            QFile schema(QStringLiteral(RETRATIX_SOURCE_DIR "/db/sqlite/schema.sql"));
            if (!schema.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "no schema script\n");
                return 1;
            }
            db::executeScript(connection.database(), QString::fromUtf8(schema.readAll()));
        }
        args.append(QStringLiteral("sqlite:") + path);
        for (const char* variable : {"RETRATIX_PG_DATASOURCE", "RETRATIX_ODBC_DATASOURCE"})
            if (!qEnvironmentVariable(variable).isEmpty())
                args.append(qEnvironmentVariable(variable));
    }
    QByteArray photo(100000, '\0');
    for (qsizetype i = 0; i < photo.size(); ++i)
        photo[i] = static_cast<char>(i * 7919 % 251);
    out << QStringLiteral("%1 photos of %2 bytes: member check, photo check, insert, log row each\n")
               .arg(photos)
               .arg(photo.size());
    try {
        for (const QString& sid : std::as_const(args))
            bench(sid, photos, photo);
    } catch (const Failure& failure) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(failure.source), qPrintable(failure.description));
        return 1;
    }
    return 0;
}
