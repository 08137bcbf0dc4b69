// A watched drop folder: photos are uploaded once they settle, a growing file only when it stops
// growing, and a photo left after its run is not examined again until it changes; with inotify,
// with Qt's portable notices, and with no notices at all (a network share).
#include "common/messages.h"
#include "recorders.h"
#include "test_database.h"
#include "upload/terminal_progress.h"
#include "upload/watch_folder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <filesystem>

enum class Change { NewPhoto, Growing, RewrittenAfterStaying, ReplacedAfterStaying };

class TestWatchFolder final : public QObject {
    Q_OBJECT
private slots:
    void photosGoOnceTheySettle();
    void changesAreFound_data();
    void changesAreFound();
    void namesReachErrorsEscaped();
    void databaseAwayForAWhile();
    void progressLine_data();
    void progressLine();
};

void TestWatchFolder::photosGoOnceTheySettle()
{
    QString whyNot;
    const std::unique_ptr<TestDatabase> database = TestDatabase::create(TestDatabase::Engine::Sqlite, &whyNot);
    QVERIFY2(database, qPrintable(whyNot));
    for (int code : {7, 123})
        database->execute(QStringLiteral("INSERT INTO ABONADOS (CODINSTALACION, CODIGO) VALUES (1, %1)").arg(code));
    QTemporaryDir folder;
    const auto write = [&](const QString& name, const QByteArray& bytes, QIODevice::OpenMode mode) {
        QFile file(folder.filePath(name));
        QVERIFY(file.open(mode));
        file.write(bytes);
    };

    WatchFolder::Settings settings;
    settings.folder = folder.path();
    settings.settleMs = 400;
    settings.rescanMs = 100;
    settings.run.connection = &database->connection();
    settings.run.installationText = [] { return QStringLiteral("1"); };
    int runNumber = 100;
    settings.run.drawRunNumber = [&runNumber] { return ++runNumber; };
    QString output;
    QString errors;
    QTextStream out(&output);
    QTextStream err(&errors);
    WatchFolder watch(std::move(settings), out, err, false);

    // A copy in progress: 7.jpg grows every 150 ms, for a second and a half.
    QByteArray grown;
    int pieces = 0;
    QTimer grow;
    QObject::connect(&grow, &QTimer::timeout, [&] {
        const QByteArray piece = QByteArray::number(pieces) + QByteArray(1000, char('a' + pieces));
        write(QStringLiteral("7.jpg"), piece, QIODevice::Append);
        grown += piece;
        if (++pieces == 10)
            grow.stop();
    });
    QTimer::singleShot(0, [&] {
        write(QStringLiteral("123.jpg"), "first", QIODevice::WriteOnly);
        write(QStringLiteral("555.jpg"), "no member", QIODevice::WriteOnly);
        grow.start(150);
    });
    QElapsedTimer waited;
    waited.start();
    QTimer done;
    QObject::connect(&done, &QTimer::timeout, [&] {
        const bool uploaded = !QFile::exists(folder.filePath(QStringLiteral("7.jpg"))) &&
                              !QFile::exists(folder.filePath(QStringLiteral("123.jpg")));
        // Some time beyond the last upload shows that nothing is examined again.
        static qint64 uploadedAt = -1;
        if (uploaded && uploadedAt < 0)
            uploadedAt = waited.elapsed();
        if ((uploadedAt >= 0 && waited.elapsed() - uploadedAt > 1500) || waited.elapsed() > 20000)
            watch.stop();
    });
    done.start(100);
    QCOMPARE(watch.exec(), 0);

    QCOMPARE(database->scalar(QStringLiteral("SELECT FOTO FROM ABONADOSFOTOS WHERE CODIGO = 7")).toByteArray(), grown);
    QCOMPARE(database->scalar(QStringLiteral("SELECT FOTO FROM ABONADOSFOTOS WHERE CODIGO = 123")).toByteArray(),
             QByteArrayLiteral("first"));
    QVERIFY(QFile::exists(folder.filePath(QStringLiteral("555.jpg"))));
    // The file left was examined once; 7.jpg never while it grew.
    QCOMPARE(database->count(QStringLiteral("SELECT COUNT(*) FROM LOG_ABONADOSFOTOS WHERE NOMBRE_FOTO = '555.jpg'")), 1);
    QCOMPARE(database->count(QStringLiteral("SELECT COUNT(*) FROM LOG_ABONADOSFOTOS WHERE NOMBRE_FOTO = '7.jpg'")), 1);
    QVERIFY(watch.runs().size() >= 2);
    QVERIFY2(output.contains(QStringLiteral("terminada")), qPrintable(output));
}

void TestWatchFolder::changesAreFound_data()
{
    QTest::addColumn<FolderNotices::Source>("notices");
    QTest::addColumn<Change>("change");
    const struct {
        const char* name;
        FolderNotices::Source notices;
    } ways[] = {
        {"inotify", FolderNotices::Source::Native},
        {"portable", FolderNotices::Source::Portable},
        {"no notices", FolderNotices::Source::None},
    };
    for (const auto& way : ways) {
        QTest::addRow("%s: new photo", way.name) << way.notices << Change::NewPhoto;
        QTest::addRow("%s: growing photo", way.name) << way.notices << Change::Growing;
        QTest::addRow("%s: stayed, rewritten in place", way.name) << way.notices << Change::RewrittenAfterStaying;
        // Same size and modification time, another file: only its identity tells (which the
        // portable file code does not give).
        if (FolderFiles::guarantees().fileIdentity)
            QTest::addRow("%s: stayed, replaced", way.name) << way.notices << Change::ReplacedAfterStaying;
    }
}

// Member 7's photo lands in one of the ways; member 8's photo first stays (no such member), then
// the member is added and the photo changes: stored once complete, examined once per change.
void TestWatchFolder::changesAreFound()
{
    QFETCH(FolderNotices::Source, notices);
    QFETCH(Change, change);
    QString whyNot;
    const std::unique_ptr<TestDatabase> database = TestDatabase::create(TestDatabase::Engine::Sqlite, &whyNot);
    QVERIFY2(database, qPrintable(whyNot));
    database->execute(QStringLiteral("INSERT INTO ABONADOS (CODINSTALACION, CODIGO) VALUES (1, 7)"));
    QTemporaryDir folder;
    const bool stays = change == Change::RewrittenAfterStaying || change == Change::ReplacedAfterStaying;
    const QString name = stays ? QStringLiteral("8.jpg") : QStringLiteral("7.jpg");
    const QDateTime longAgo = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch() - 3600);
    const auto write = [&](const QString& fileName, const QByteArray& bytes, QIODevice::OpenMode mode,
                           bool writtenLongAgo = false) {
        QFile file(folder.filePath(fileName));
        QVERIFY(file.open(mode) && file.write(bytes) == bytes.size() && file.flush());
        if (writtenLongAgo)
            QVERIFY(file.setFileTime(longAgo, QFileDevice::FileModificationTime));
    };

    WatchFolder::Settings settings;
    settings.folder = folder.path();
    settings.settleMs = 400;
    settings.rescanMs = 100;
    settings.notices = notices;
    settings.run.connection = &database->connection();
    settings.run.installationText = [] { return QStringLiteral("1"); };
    int runNumber = 100;
    settings.run.drawRunNumber = [&runNumber] { return ++runNumber; };
    QString output;
    QString errors;
    QTextStream out(&output);
    QTextStream err(&errors);
    WatchFolder watch(std::move(settings), out, err, true);

    QByteArray expected;
    int tick = 0;
    int stayedAt = -1;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        ++tick;
        if (tick > 100 || (tick > 1 && !QFile::exists(folder.filePath(name))))
            watch.stop();
        switch (change) {
        case Change::NewPhoto:
            if (tick == 1)
                write(name, expected = "photo", QIODevice::WriteOnly);
            break;
        case Change::Growing:  // a piece every 150 ms, for a second and a half
            if (tick <= 10) {
                const QByteArray piece = QByteArray::number(tick) + QByteArray(1000, char('a' + tick));
                write(name, piece, QIODevice::Append);
                expected += piece;
            }
            break;
        case Change::RewrittenAfterStaying:
        case Change::ReplacedAfterStaying:
            if (tick == 1)
                write(name, "first", QIODevice::WriteOnly, true);
            if (stayedAt < 0 && !watch.runs().isEmpty())
                stayedAt = tick;
            // Several rescans after its run it has not been examined again; now it changes.
            if (stayedAt > 0 && tick == stayedAt + 4) {
                database->execute(QStringLiteral("INSERT INTO ABONADOS (CODINSTALACION, CODIGO) VALUES (1, 8)"));
                expected = "again";
                if (change == Change::RewrittenAfterStaying) {
                    write(name, expected, QIODevice::ReadWrite);
                } else {
                    write(QStringLiteral("new.tmp"), expected, QIODevice::WriteOnly, true);
                    QVERIFY(QFile::exists(folder.filePath(name)));
                    // Over the old one in one step, on Windows too (MoveFileEx replacing).
                    std::error_code error;
                    std::filesystem::rename(folder.filePath(QStringLiteral("new.tmp")).toStdWString(),
                                            folder.filePath(name).toStdWString(), error);
                    QVERIFY2(!error, error.message().c_str());
                }
            }
            break;
        }
    });
    driver.start(150);
    QCOMPARE(watch.exec(), 0);

    QCOMPARE(database->scalar(QStringLiteral("SELECT FOTO FROM ABONADOSFOTOS WHERE CODIGO = %1")
                                  .arg(stays ? 8 : 7))
                 .toByteArray(),
             expected);
    QCOMPARE(database->count(QStringLiteral("SELECT COUNT(*) FROM LOG_ABONADOSFOTOS WHERE NOMBRE_FOTO = '%1'").arg(name)),
             stays ? 2 : 1);
    QVERIFY2(errors.isEmpty(), qPrintable(errors));
}

// A folder whose name holds a line break and a terminal's escape sequence: the watch's lines name it
// escaped, so that it can neither forge a line of its own nor drive the terminal.
void TestWatchFolder::namesReachErrorsEscaped()
{
    QString whyNot;
    const std::unique_ptr<TestDatabase> database = TestDatabase::create(TestDatabase::Engine::Sqlite, &whyNot);
    QVERIFY2(database, qPrintable(whyNot));
#ifdef Q_OS_WIN
    QSKIP("Windows allows no control characters in file names");
#endif
    QTemporaryDir parent;
    const QString folder = parent.filePath(QStringLiteral("a\nEjecución 1 terminada\x1b[31m"));
    QVERIFY(QDir().mkpath(folder));
    // A member code beyond 32 bits ends the run at this file.
    QFile photo(folder + QStringLiteral("/99999999999.jpg"));
    QVERIFY(photo.open(QIODevice::WriteOnly) && photo.write("photo") == 5);
    photo.close();

    WatchFolder::Settings settings;
    settings.folder = folder;
    settings.settleMs = 100;
    settings.rescanMs = 100;
    settings.run.connection = &database->connection();
    settings.run.installationText = [] { return QStringLiteral("1"); };
    settings.run.drawRunNumber = [] { return 77; };
    QString output;
    QString errors;
    QTextStream out(&output);
    QTextStream err(&errors);
    RecordingMessages messages;
    ScopedMessages installed(messages);
    WatchFolder watch(std::move(settings), out, err, false);
    QTimer done;
    QObject::connect(&done, &QTimer::timeout, [&] {
        if (!watch.runs().isEmpty())
            watch.stop();
    });
    done.start(50);
    QCOMPARE(watch.exec(), 0);

    const QString shown = QStringLiteral("a\\nEjecución 1 terminada\\x1b[31m");
    QVERIFY2(errors.contains(QStringLiteral("Archivo del error: ") + QDir::toNativeSeparators(parent.path()) +
                             QDir::separator() + shown + QDir::separator() + QStringLiteral("99999999999.jpg\n")),
             qPrintable(errors));
    QVERIFY2(errors.startsWith(QStringLiteral("Vigilando ")) && errors.count(shown) == 2, qPrintable(errors));
    QVERIFY(!errors.contains(QChar(0x1b)));
}

// The server ends the watch's session and stays away for two attempts: the watch says so once,
// keeps the photo, and uploads it once a connection can be had again.
void TestWatchFolder::databaseAwayForAWhile()
{
    QString whyNot;
    const std::unique_ptr<TestDatabase> database = TestDatabase::create(TestDatabase::Engine::Postgres, &whyNot);
    if (!database)
        QSKIP(qPrintable(whyNot));
    database->execute(QStringLiteral("INSERT INTO ABONADOS (CODINSTALACION, CODIGO) VALUES (1, 7)"));
    const std::unique_ptr<db::Connection> first = database->openConnection();
    QSqlQuery pid(first->database());
    QVERIFY(pid.exec(QStringLiteral("SELECT pg_backend_pid()")) && pid.next());
    database->execute(QStringLiteral("SELECT pg_terminate_backend(%1)").arg(pid.value(0).toInt()));
    QTemporaryDir folder;
    QFile photo(folder.filePath(QStringLiteral("7.jpg")));
    QVERIFY(photo.open(QIODevice::WriteOnly) && photo.write("photo") == 5);
    photo.close();

    WatchFolder::Settings settings;
    settings.folder = folder.path();
    settings.settleMs = 100;
    settings.rescanMs = 100;
    settings.reconnectMs = 200;
    settings.run.connection = first.get();
    settings.run.installationText = [] { return QStringLiteral("1"); };
    settings.run.drawRunNumber = [] { return 4242; };
    int attempts = 0;
    std::unique_ptr<db::Connection> again;
    settings.reconnect = [&]() -> db::Connection* {
        if (++attempts <= 2)
            return nullptr;
        again = database->openConnection();
        return again.get();
    };
    QString output;
    QString errors;
    QTextStream out(&output);
    QTextStream err(&errors);
    WatchFolder watch(std::move(settings), out, err, false);
    QElapsedTimer waited;
    waited.start();
    QTimer done;
    QObject::connect(&done, &QTimer::timeout, [&] {
        if (!QFile::exists(folder.filePath(QStringLiteral("7.jpg"))) || waited.elapsed() > 20000)
            watch.stop();
    });
    done.start(100);
    QCOMPARE(watch.exec(), 0);

    QCOMPARE(database->scalar(QStringLiteral("SELECT FOTO FROM ABONADOSFOTOS WHERE CODIGO = 7")).toByteArray(),
             QByteArrayLiteral("photo"));
    QCOMPARE(attempts, 3);
    QCOMPARE(errors.count(QStringLiteral("no está disponible")), 1);
    QVERIFY2(errors.contains(QStringLiteral("vuelve a estar disponible")), qPrintable(errors));
}

void TestWatchFolder::progressLine_data()
{
    QTest::addColumn<int>("done");
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("photos");
    QTest::addColumn<int>("elapsedMs");
    QTest::addColumn<QString>("line");
    QTest::newRow("at the start") << 0 << 500 << 0 << 100 << "0 de 500 archivos";
    QTest::newRow("under way") << 100 << 500 << 80 << 4000 << "100 de 500 archivos, 20.0 fotos/s, quedan 0:16";
    QTest::newRow("minutes left") << 10 << 1000 << 10 << 10000 << "10 de 1000 archivos, 1.0 fotos/s, quedan 16:30";
    QTest::newRow("done") << 500 << 500 << 400 << 8000 << "500 de 500 archivos, 50.0 fotos/s";
}

void TestWatchFolder::progressLine()
{
    QFETCH(int, done);
    QFETCH(int, total);
    QFETCH(int, photos);
    QFETCH(int, elapsedMs);
    QFETCH(QString, line);
    QCOMPARE(TerminalProgress::line(done, total, photos, elapsedMs), line);
}

QTEST_MAIN(TestWatchFolder)
#include "tst_watch_folder.moc"
