// PhotoCount per second of an upload run on SQLite, by the way committed rows are made durable before
// their files go: syncing the write-ahead log (what the program does; no reader can hold it back)
// against a full checkpoint of the log into the database file, per batch of 100 and per photo.
// Prints figures; judges nothing.
#include "db/connection.h"
#include "upload/upload_run.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>

#include <sqlite3.h>

namespace {

constexpr int PhotoCount = 1000;
constexpr int PhotoBytes = 20000;

void sqliteScript(const QString& database, const QByteArray& script)
{
    sqlite3* handle = nullptr;
    sqlite3_open(database.toUtf8().constData(), &handle);
    char* message = nullptr;
    if (sqlite3_exec(handle, script.constData(), nullptr, nullptr, &message) != SQLITE_OK)
        qFatal("%s", message);
    sqlite3_close(handle);
}

enum class Durability { SyncLog, Checkpoint };

double photosPerSecond(int batchSize, Durability durability)
{
    QTemporaryDir dir;
    const QString database = dir.filePath(QStringLiteral("bench.db"));
    QFile schema(QStringLiteral(RETRATIX_SOURCE_DIR "/db/sqlite/schema.sql"));
    if (!schema.open(QIODevice::ReadOnly))
        qFatal("no schema");
    QByteArray script = schema.readAll() + "\nBEGIN;\n";
    for (int code = 1; code <= PhotoCount; ++code)
        script += "INSERT INTO ABONADOS (CODINSTALACION, CODIGO) VALUES (1, " + QByteArray::number(code) + ");\n";
    sqliteScript(database, script + "COMMIT;\n");

    QDir folder(dir.path());
    folder.mkdir(QStringLiteral("fotos"));
    folder.cd(QStringLiteral("fotos"));
    const QByteArray bytes(PhotoBytes, 'j');
    for (int code = 1; code <= PhotoCount; ++code) {
        QFile file(folder.filePath(QStringLiteral("%1.jpg").arg(code)));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
    }

    db::Connection connection;
    connection.open(QStringLiteral("Provider=OraOLEDB.Oracle.1;User ID=regusr1;Password=3k9tWqRm;Data Source=sqlite:") +
                    database);
    UploadRun::Settings settings;
    settings.connection = &connection;
    settings.folder = folder.path();
    settings.installationText = [] { return QStringLiteral("1"); };
    settings.drawRunNumber = [] { return 1; };
    settings.reportError = [](const Failure& failure) { qFatal("%s", qPrintable(failure.description)); };
    settings.durableBatchSize = batchSize;
    if (durability == Durability::Checkpoint)
        settings.makeDurable = [&connection] { connection.execute(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")); };
    QElapsedTimer timer;
    timer.start();
    const UploadSummary summary = UploadRun(std::move(settings)).run();
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (summary.filesDeleted != PhotoCount)
        qFatal("only %d files deleted", summary.filesDeleted);
    return PhotoCount / seconds;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QTextStream out(stdout);
    // Rounds interleave the ways, so that a busy moment of a shared machine spreads over all.
    constexpr int Rounds = 5;
    out << "upload_bench: " << PhotoCount << " photos of " << PhotoBytes << " bytes, SQLite, new photos, median of "
        << Rounds << " rounds (lowest-highest)\n";
    struct Way {
        int batch;
        Durability durability;
        QList<double> rates;
    };
    QList<Way> ways = {{100, Durability::SyncLog, {}}, {100, Durability::Checkpoint, {}},
                       {1, Durability::SyncLog, {}}, {1, Durability::Checkpoint, {}}};
    for (int round = 0; round < Rounds; ++round)
        for (Way& way : ways)
            way.rates.append(photosPerSecond(way.batch, way.durability));
    for (Way& way : ways) {
        std::sort(way.rates.begin(), way.rates.end());
        out << QStringLiteral("  %1 per %2 photo(s): %3 photos/s (%4-%5)\n")
                   .arg(way.durability == Durability::SyncLog ? QStringLiteral("log sync  ") : QStringLiteral("checkpoint"))
                   .arg(way.batch, 3)
                   .arg(way.rates.at(Rounds / 2), 0, 'f', 0)
                   .arg(way.rates.first(), 0, 'f', 0)
                   .arg(way.rates.last(), 0, 'f', 0);
    }
    return 0;
}
