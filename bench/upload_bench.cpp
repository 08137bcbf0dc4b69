// Photos per second of an upload run on SQLite: stored files deleted after one durability sync
// per batch of 100 against one sync per photo. Prints figures; judges nothing.
#include "db/connection.h"
#include "upload/upload_run.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <sqlite3.h>

namespace {

constexpr int Photos = 1000;
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

double photosPerSecond(int batchSize)
{
    QTemporaryDir dir;
    const QString database = dir.filePath(QStringLiteral("bench.db"));
    QFile schema(QStringLiteral(RETRATIX_SOURCE_DIR "/db/sqlite/schema.sql"));
    if (!schema.open(QIODevice::ReadOnly))
        qFatal("no schema");
    QByteArray script = schema.readAll() + "\nBEGIN;\n";
    for (int code = 1; code <= Photos; ++code)
        script += "INSERT INTO ABONADOS (CODINSTALACION, CODIGO) VALUES (1, " + QByteArray::number(code) + ");\n";
    sqliteScript(database, script + "COMMIT;\n");

    QDir folder(dir.path());
    folder.mkdir(QStringLiteral("fotos"));
    folder.cd(QStringLiteral("fotos"));
    const QByteArray bytes(PhotoBytes, 'j');
    for (int code = 1; code <= Photos; ++code) {
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
    QElapsedTimer timer;
    timer.start();
    const UploadSummary summary = UploadRun(std::move(settings)).run();
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (summary.filesDeleted != Photos)
        qFatal("only %d files deleted", summary.filesDeleted);
    return Photos / seconds;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QTextStream out(stdout);
    out << "upload_bench: " << Photos << " photos of " << PhotoBytes << " bytes, SQLite, new photos\n";
    for (int batch : {100, 1}) {
        out << QStringLiteral("  durability sync per %1 photo(s): %2 photos/s\n")
                   .arg(batch, 3)
                   .arg(photosPerSecond(batch), 0, 'f', 0);
        out.flush();
    }
    return 0;
}
