// The upload run on a real database: which files are photos, what is stored, logged and deleted,
// and how a run ends.
#include "common/failure.h"
#include "common/folder_files.h"
#include "recorders.h"
#include "test_database.h"
#include "upload/upload_run.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QBuffer>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <deque>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using Engine = TestDatabase::Engine;

class TestUploadRun final : public QObject {
    Q_OBJECT
public:
    explicit TestUploadRun(Engine engine) : m_engine(engine) {}

private slots:
    void initTestCase();
    void init();

    void namesDecideWhatHappens_data();
    void namesDecideWhatHappens();
    void sizeLimit_data();
    void sizeLimit();
    void insertThenUpdateKeepsOneRowAndBothRunsLogs();
    void oneRunOfEveryOutcome();
    void progressFirstMovesAtTheFiftySecondFile();
    void elevenNinesEndTheRunWithoutReport();
    void readOnlyFileEndsTheRunAfterItsRowIsLogged();
    void deletionRefusedBeyondPermissions_data();
    void deletionRefusedBeyondPermissions();
    void entriesThatAreNoPhotosAreNeverOpened_data();
    void entriesThatAreNoPhotosAreNeverOpened();
    void filesChangedAfterTheirReadStay_data();
    void filesChangedAfterTheirReadStay();
    void filesGoOnlyOnceTheirRowsAreDurable();
    void fileLeftByAKilledRunIsAPhotoAgain();
    void secondFileOfAMemberInOneBatchUpdates();
    void photosChangedKeepTheirOriginals_data();
    void photosChangedKeepTheirOriginals();
    void databaseFailureInABatchLosesNoFile();
    void installationCodeMustBeAWholeNumber_data();
    void installationCodeMustBeAWholeNumber();
    void runNumberTakenByEarlierRows_data();
    void runNumberTakenByEarlierRows();
    void missingFolderEndsSilently();
    void storedFilesGoInDurableBatches();
    void fortyThousandFilesAreAllVisited();

private:
    struct Outcome {
        UploadSummary summary;
        QList<Failure> failures;
    };
    Outcome upload(const QString& installationText = QStringLiteral("1"));
    void writeFile(const QString& name, const QByteArray& bytes = QByteArrayLiteral("\xff\xd8photo"));
    bool inFolder(const QString& name) const { return QFile::exists(m_photos.filePath(name)); }
    QList<QVariantList> logOf(const QString& runUser);

    Engine m_engine;
    std::unique_ptr<TestDatabase> m_database;
    std::unique_ptr<QTemporaryDir> m_folder;
    QDir m_photos;
    RecordingRunReport m_report;
    RecordingProgress m_progress;
    std::deque<int32_t> m_runNumbers;
    int32_t m_nextRunNumber = 0;
    int m_batchSize = 100;
    int m_maxDraws = 1000;
    std::function<void()> m_makeDurable;
    RetratixSettings m_photoSettings;
};

namespace {

bool runningAsRoot() { return ::geteuid() == 0; }

// chattr +i / -i: only root may set or clear the immutable attribute.
bool setImmutable(const QString& path, bool on)
{
    return QProcess::execute(QStringLiteral("chattr"), {on ? QStringLiteral("+i") : QStringLiteral("-i"), path}) == 0;
}

}  // namespace

void TestUploadRun::initTestCase()
{
    QString whyNot;
    m_database = TestDatabase::create(m_engine, &whyNot);
    if (!m_database)
        QSKIP(qPrintable(TestDatabase::engineName(m_engine) + QStringLiteral(": ") + whyNot));
}

void TestUploadRun::init()
{
    m_database->clear();
    m_database->execute(QStringLiteral("INSERT INTO INSTALACIONES (CODINSTALACION, NOMBRE) VALUES (1, 'Norte')"));
    m_database->execute(QStringLiteral("INSERT INTO INSTALACIONES (CODINSTALACION, NOMBRE) VALUES (2, 'Sur')"));
    for (int code : {7, 12, 100, 123, 99999})
        m_database->execute(QStringLiteral("INSERT INTO ABONADOS (CODINSTALACION, CODIGO) VALUES (1, %1)").arg(code));
    m_database->execute(QStringLiteral("INSERT INTO ABONADOS (CODINSTALACION, CODIGO) VALUES (2, 123)"));
    m_folder = std::make_unique<QTemporaryDir>();
    m_photos = QDir(m_folder->path());
    m_report = {};
    m_progress = {};
    m_runNumbers.clear();
    m_nextRunNumber = 1000;
    m_batchSize = 100;
    m_maxDraws = 1000;
    m_makeDurable = {};
    m_photoSettings = {};
}

TestUploadRun::Outcome TestUploadRun::upload(const QString& installationText)
{
    Outcome outcome;
    UploadRun::Settings settings;
    settings.connection = &m_database->connection();
    settings.folder = m_photos.path();
    settings.installationText = [installationText] { return installationText; };
    settings.drawRunNumber = [this] {
        if (m_runNumbers.empty())
            return ++m_nextRunNumber;
        const int32_t number = m_runNumbers.front();
        m_runNumbers.pop_front();
        return number;
    };
    settings.progress = &m_progress;
    settings.report = &m_report;
    settings.reportError = [&outcome](const Failure& failure) { outcome.failures.append(failure); };
    settings.durableBatchSize = m_batchSize;
    settings.maxRunNumberDraws = m_maxDraws;
    settings.makeDurable = m_makeDurable;
    settings.photos = m_photoSettings;
    outcome.summary = UploadRun(std::move(settings)).run();
    return outcome;
}

void TestUploadRun::writeFile(const QString& name, const QByteArray& bytes)
{
    QFile file(m_photos.filePath(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QList<QVariantList> TestUploadRun::logOf(const QString& runUser)
{
    return m_database->rows(QStringLiteral("SELECT NOMBRE_FOTO, SUBIO, MOTIVO FROM LOG_ABONADOSFOTOS WHERE USUARIO = ") +
                            runUser + QStringLiteral(" ORDER BY NOMBRE_FOTO"));
}

void TestUploadRun::namesDecideWhatHappens_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("motivo");        // empty: no log row
    QTest::addColumn<int>("storedCode");        // -1: no photo row
    QTest::addColumn<bool>("stays");

    QTest::newRow("plain photo") << "123.jpg" << "Foto Insertada" << 123 << false;
    QTest::newRow("upper-case extension is no photo") << "123.JPG" << QString() << -1 << true;
    QTest::newRow(".jpg anywhere in the name") << "123.jpg.bak" << "Foto Insertada" << 123 << false;
    QTest::newRow("code not numeric") << "foto.jpg" << QString() << -1 << true;
    QTest::newRow("empty code") << ".jpg" << QString() << -1 << true;
    QTest::newRow("not a photo") << "notes.txt" << QString() << -1 << true;
    QTest::newRow("code ends at the first dot") << "12.5.jpg" << "Foto Insertada" << 12 << false;
    QTest::newRow("leading zeros") << "007.jpg" << "Foto Insertada" << 7 << false;
    // Regional number forms name the member, and only its plain number reaches SQL and CODIGO.
    QTest::newRow("group separator") << "1,00.jpg" << "Foto Insertada" << 100 << false;
    QTest::newRow("blank before the code") << " 123.jpg" << "Foto Insertada" << 123 << false;
    QTest::newRow("no such member") << "555.jpg" << "Abonado no existente" << -1 << true;
    QTest::newRow("member of the other installation only") << "124.jpg" << "Abonado no existente" << -1 << true;
}

void TestUploadRun::namesDecideWhatHappens()
{
    QFETCH(QString, name);
    QFETCH(QString, motivo);
    QFETCH(int, storedCode);
    QFETCH(bool, stays);
    writeFile(name);

    const Outcome outcome = upload();
    QVERIFY(outcome.failures.isEmpty());
    QCOMPARE(outcome.summary.end, UploadSummary::End::Completed);
    const QList<QVariantList> log = logOf(outcome.summary.runUser);
    if (motivo.isEmpty()) {
        QVERIFY(log.isEmpty());
    } else {
        QCOMPARE(log.size(), 1);
        QCOMPARE(log[0][0].toString(), name);
        QCOMPARE(log[0][1].toString(), storedCode >= 0 ? QStringLiteral("S") : QStringLiteral("N"));
        QCOMPARE(log[0][2].toString(), motivo);
    }
    const QList<QVariantList> photos =
        m_database->rows(QStringLiteral("SELECT CODIGO, CODINSTALACION, FILENAME FROM ABONADOSFOTOS"));
    if (storedCode < 0) {
        QVERIFY(photos.isEmpty());
    } else {
        QCOMPARE(photos.size(), 1);
        QCOMPARE(photos[0][0].toInt(), storedCode);
        QCOMPARE(photos[0][1].toInt(), 1);
        QCOMPARE(photos[0][2].toString(), name);
    }
    QCOMPARE(inFolder(name), stays);
    QCOMPARE(m_report.opened.size(), 1);
}

void TestUploadRun::sizeLimit_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("stored");
    QTest::newRow("empty file") << 0 << true;
    QTest::newRow("largest stored") << 149999 << true;
    QTest::newRow("smallest refused") << 150000 << false;
    QTest::newRow("far too large") << 400000 << false;
}

void TestUploadRun::sizeLimit()
{
    QFETCH(int, size);
    QFETCH(bool, stored);
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i * 7 + i / 251);
    writeFile(QStringLiteral("123.jpg"), bytes);

    const Outcome outcome = upload();
    QVERIFY(outcome.failures.isEmpty());
    const QList<QVariantList> log = logOf(outcome.summary.runUser);
    QCOMPARE(log.size(), 1);
    QCOMPARE(log[0][1].toString(), stored ? QStringLiteral("S") : QStringLiteral("N"));
    QCOMPARE(log[0][2].toString(), stored ? QStringLiteral("Foto Insertada") : QStringLiteral("Tamaño no permitido"));
    const QList<QVariantList> photos = m_database->rows(QStringLiteral("SELECT FILESIZE, FOTO FROM ABONADOSFOTOS"));
    QCOMPARE(photos.size(), stored ? 1 : 0);
    if (stored) {
        QCOMPARE(photos[0][0].toInt(), size);
        QCOMPARE(photos[0][1].toByteArray(), bytes);
    }
    // A refused file stays for the user to shrink it.
    QCOMPARE(inFolder(QStringLiteral("123.jpg")), !stored);
}

void TestUploadRun::insertThenUpdateKeepsOneRowAndBothRunsLogs()
{
    writeFile(QStringLiteral("123.jpg"), QByteArrayLiteral("first"));
    const Outcome first = upload();
    writeFile(QStringLiteral("123.jpg.old"), QByteArrayLiteral("second photo"));
    const Outcome second = upload();
    QVERIFY(first.failures.isEmpty() && second.failures.isEmpty());
    QVERIFY(first.summary.runUser != second.summary.runUser);

    const QList<QVariantList> photos =
        m_database->rows(QStringLiteral("SELECT CODIGO, CODINSTALACION, FILENAME, FILESIZE, FOTO FROM ABONADOSFOTOS"));
    QCOMPARE(photos.size(), 1);
    QCOMPARE(photos[0][0].toInt(), 123);
    QCOMPARE(photos[0][1].toInt(), 1);
    QCOMPARE(photos[0][2].toString(), QStringLiteral("123.jpg.old"));
    QCOMPARE(photos[0][3].toInt(), 12);
    QCOMPARE(photos[0][4].toByteArray(), QByteArrayLiteral("second photo"));

    // Each run's report selects its own rows; both stay in the log.
    QCOMPARE(logOf(first.summary.runUser),
             (QList<QVariantList>{{QStringLiteral("123.jpg"), QStringLiteral("S"), QStringLiteral("Foto Insertada")}}));
    QCOMPARE(logOf(second.summary.runUser), (QList<QVariantList>{{QStringLiteral("123.jpg.old"), QStringLiteral("S"),
                                                                   QStringLiteral("Foto Actualizada")}}));
    QCOMPARE(m_report.opened.size(), 2);
    QCOMPARE(m_report.opened[1], (QStringList{QStringLiteral("ListadoFotos.rpt"),
                                              QStringLiteral("{LOG_ABONADOSFOTOS.USUARIO}= '") +
                                                  second.summary.runUser + QStringLiteral("'"),
                                              QStringLiteral("Informe Fotos")}));
}

void TestUploadRun::oneRunOfEveryOutcome()
{
    m_database->execute(QStringLiteral("INSERT INTO ABONADOSFOTOS (CODIGO, CODINSTALACION, FILENAME, FILESIZE) "
                                       "VALUES (12, 1, '12.jpg', 1)"));
    writeFile(QStringLiteral("7.jpg"));
    writeFile(QStringLiteral("12.jpg"));
    writeFile(QStringLiteral("100.jpg"), QByteArray(150000, 'x'));
    writeFile(QStringLiteral("404.jpg"));
    writeFile(QStringLiteral("readme.txt"));

    const Outcome outcome = upload();
    QVERIFY(outcome.failures.isEmpty());
    const QList<QVariantList> expected = {
        {QStringLiteral("100.jpg"), QStringLiteral("N"), QStringLiteral("Tamaño no permitido")},
        {QStringLiteral("12.jpg"), QStringLiteral("S"), QStringLiteral("Foto Actualizada")},
        {QStringLiteral("404.jpg"), QStringLiteral("N"), QStringLiteral("Abonado no existente")},
        {QStringLiteral("7.jpg"), QStringLiteral("S"), QStringLiteral("Foto Insertada")},
    };
    QCOMPARE(logOf(outcome.summary.runUser), expected);
    QCOMPARE(m_database->count(QStringLiteral("SELECT COUNT(*) FROM LOG_ABONADOSFOTOS")), 4);
    QCOMPARE(m_photos.entryList(QDir::Files, QDir::Name),
             (QStringList{QStringLiteral("100.jpg"), QStringLiteral("404.jpg"), QStringLiteral("readme.txt")}));
    const UploadSummary& s = outcome.summary;
    QCOMPARE((QList<int>{s.filesVisited, s.inserted, s.updated, s.sizeRefused, s.memberMissing, s.skipped,
                         s.filesDeleted}),
             (QList<int>{5, 1, 1, 1, 1, 1, 2}));
}

void TestUploadRun::progressFirstMovesAtTheFiftySecondFile()
{
    for (int i = 0; i < 120; ++i)
        writeFile(QStringLiteral("f%1.txt").arg(i, 3, 10, QLatin1Char('0')));
    upload();
    QCOMPARE(m_progress.maximums, QList<int>{119});
    // Counter 51 is the 52nd file; the bar is not moved to the end after the last one.
    QCOMPARE(m_progress.moves, (QList<int>{51, 102}));
}

void TestUploadRun::elevenNinesEndTheRunWithoutReport()
{
    writeFile(QStringLiteral("123.jpg"));
    writeFile(QStringLiteral("99999999999.jpg"));
    writeFile(QStringLiteral("99999999999z.jpg"));  // after it: never reached

    const Outcome outcome = upload();
    QCOMPARE(outcome.failures.size(), 1);
    QCOMPARE(outcome.failures[0].number, RuntimeError::Overflow);
    QCOMPARE(outcome.summary.end, UploadSummary::End::Failed);
    QVERIFY(m_report.opened.isEmpty());
    // What was done stays done: the stored photo's file is gone, its row and log row remain.
    QVERIFY(!inFolder(QStringLiteral("123.jpg")));
    QVERIFY(inFolder(QStringLiteral("99999999999.jpg")));
    QCOMPARE(logOf(outcome.summary.runUser).size(), 1);
    QCOMPARE(outcome.summary.filesVisited, 2);
}

void TestUploadRun::readOnlyFileEndsTheRunAfterItsRowIsLogged()
{
    writeFile(QStringLiteral("012.jpg"));
    writeFile(QStringLiteral("100.jpg"));
    writeFile(QStringLiteral("123.jpg"));
    QVERIFY(QFile::setPermissions(m_photos.filePath(QStringLiteral("100.jpg")),
                                  QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));

    const Outcome outcome = upload();
    QCOMPARE(outcome.failures.size(), 1);
    QCOMPARE(outcome.failures[0].number, RuntimeError::PermissionDenied);
    QVERIFY(m_report.opened.isEmpty());
    QCOMPARE(logOf(outcome.summary.runUser),
             (QList<QVariantList>{{QStringLiteral("012.jpg"), QStringLiteral("S"), QStringLiteral("Foto Insertada")},
                                  {QStringLiteral("100.jpg"), QStringLiteral("S"), QStringLiteral("Foto Insertada")}}));
    QVERIFY(!inFolder(QStringLiteral("012.jpg")));
    QVERIFY(inFolder(QStringLiteral("100.jpg")));
    QVERIFY(inFolder(QStringLiteral("123.jpg")));
    QCOMPARE(m_database->count(QStringLiteral("SELECT COUNT(*) FROM ABONADOSFOTOS")), 2);
}

void TestUploadRun::deletionRefusedBeyondPermissions_data()
{
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<QStringList>("stored");  // the rows logged before the run ends
    QTest::newRow("immutable file") << "immutable file" << QStringList{QStringLiteral("012.jpg"), QStringLiteral("100.jpg")};
    QTest::newRow("immutable folder") << "immutable folder" << QStringList();
    QTest::newRow("folder without write permission") << "read-only folder" << QStringList();
}

// What the write permission does not show still ends the run right after the file's own row (a
// file), or before the first store (a folder), not a whole batch later.
void TestUploadRun::deletionRefusedBeyondPermissions()
{
    QFETCH(QString, refusal);
    QFETCH(QStringList, stored);
    const bool needsRoot = refusal.startsWith(QLatin1String("immutable"));
    if (needsRoot && !FolderFiles::guarantees().attributes)
        QSKIP("this platform's file code does not see file attributes");
    if (needsRoot != runningAsRoot())
        QSKIP(needsRoot ? "only root sets the immutable attribute" : "root removes files from any folder");
    for (const char* name : {"012.jpg", "100.jpg", "123.jpg"})
        writeFile(QLatin1String(name));
    const QString file = m_photos.filePath(QStringLiteral("100.jpg"));
    if (refusal == QLatin1String("immutable file"))
        QVERIFY(setImmutable(file, true));
    else if (refusal == QLatin1String("immutable folder"))
        QVERIFY(setImmutable(m_photos.path(), true));
    else
        QVERIFY(QFile::setPermissions(m_photos.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));

    const Outcome outcome = upload();
    setImmutable(file, false);
    setImmutable(m_photos.path(), false);
    QFile::setPermissions(m_photos.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    QCOMPARE(outcome.failures.size(), 1);
    QCOMPARE(outcome.failures[0].number, RuntimeError::PermissionDenied);
    QStringList logged;
    for (const QVariantList& row : logOf(outcome.summary.runUser))
        logged.append(row[0].toString());
    QCOMPARE(logged, stored);
    QCOMPARE(m_database->count(QStringLiteral("SELECT COUNT(*) FROM ABONADOSFOTOS")), stored.size());
    QVERIFY(inFolder(QStringLiteral("100.jpg")));
    QVERIFY(inFolder(QStringLiteral("123.jpg")));
}

void TestUploadRun::entriesThatAreNoPhotosAreNeverOpened_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("stored");
    QTest::newRow("named pipe") << "fifo" << false;
    QTest::newRow("folder") << "folder" << false;
    QTest::newRow("dangling link") << "dangling link" << false;
    // What a link or a second name leads to need not be the folder's: a secret of the program's
    // account must never become a member's photo.
    QTest::newRow("link to a file elsewhere") << "link" << false;
    QTest::newRow("second name of a file elsewhere") << "hard link" << false;
}

// Only regular files of the folder's own are photos; nothing in the folder can make the run wait.
void TestUploadRun::entriesThatAreNoPhotosAreNeverOpened()
{
    QFETCH(QString, kind);
    QFETCH(bool, stored);
    if (kind == QLatin1String("hard link") && !FolderFiles::guarantees().linkCount)
        QSKIP("this platform's file code does not see a file's other names");
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath(QStringLiteral("photo.jpg"));
    QFile targetFile(target);
    QVERIFY(targetFile.open(QIODevice::WriteOnly) && targetFile.write("jpeg bytes") == 10);
    targetFile.close();
    const QByteArray entry = QFile::encodeName(m_photos.filePath(QStringLiteral("7.jpg")));
    if (kind == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(entry.constData(), 0644), 0);
    else if (kind == QLatin1String("folder"))
        QVERIFY(m_photos.mkdir(QStringLiteral("7.jpg")));
    else if (kind == QLatin1String("hard link"))
        QCOMPARE(::link(QFile::encodeName(target).constData(), entry.constData()), 0);
    else
        QVERIFY(QFile::link(kind == QLatin1String("link") ? target : elsewhere.filePath(QStringLiteral("gone.jpg")),
                            QFile::decodeName(entry)));
    writeFile(QStringLiteral("123.jpg"));

    const Outcome outcome = upload();
    QVERIFY(outcome.failures.isEmpty());
    QCOMPARE(outcome.summary.inserted, stored ? 2 : 1);
    QCOMPARE(logOf(outcome.summary.runUser).size(), stored ? 2 : 1);
    struct stat st {};
    QCOMPARE(::lstat(entry.constData(), &st) == 0, !stored);
    QVERIFY(QFile::exists(target));
    QCOMPARE(m_database->count(QStringLiteral("SELECT COUNT(*) FROM ABONADOSFOTOS WHERE CODIGO = 7")), stored ? 1 : 0);
    if (stored)
        QCOMPARE(m_database->scalar(QStringLiteral("SELECT FOTO FROM ABONADOSFOTOS WHERE CODIGO = 7")).toByteArray(),
                 QByteArrayLiteral("jpeg bytes"));
}

void TestUploadRun::filesChangedAfterTheirReadStay_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("stays");
    QTest::newRow("unchanged") << "none" << false;
    QTest::newRow("appended to") << "append" << true;
    QTest::newRow("rewritten with the same size and time") << "rewrite" << true;
    QTest::newRow("replaced under its name") << "replace" << true;
    QTest::newRow("still open in a writer") << "open" << true;
}

// A file is deleted only if it is still exactly the file whose bytes were stored: one written to
// between its read and its deletion stays, and the next run stores its new bytes.
void TestUploadRun::filesChangedAfterTheirReadStay()
{
    QFETCH(QString, change);
    QFETCH(bool, stays);
    if (change == QLatin1String("open") && !FolderFiles::guarantees().openElsewhere)
        QSKIP("this platform's file code does not see other programs' opens");
    const QString name = QStringLiteral("123.jpg");
    const QString path = m_photos.filePath(name);
    const QByteArray original = QByteArrayLiteral("first bytes");
    writeFile(name, original);
    QByteArray latest = original;
    QFile writer(path);
    m_makeDurable = [&] {
        m_database->connection().makeCommittedDurable();
        if (change == QLatin1String("append")) {
            QVERIFY(writer.open(QIODevice::Append));
            latest += "and more";
            writer.write("and more");
            writer.close();
        } else if (change == QLatin1String("rewrite")) {
            struct stat before {};
            QCOMPARE(::stat(QFile::encodeName(path).constData(), &before), 0);
            latest = QByteArrayLiteral("other bytes");
            QVERIFY(writer.open(QIODevice::ReadWrite));
            writer.write(latest);
            writer.close();
            const timespec times[2] = {before.st_atim, before.st_mtim};
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
        } else if (change == QLatin1String("replace")) {
            latest = QByteArrayLiteral("a new photo");
            QVERIFY(QFile::remove(path));
            writeFile(name, latest);
        } else if (change == QLatin1String("open")) {
            QVERIFY(writer.open(QIODevice::Append));  // a copy still going on
        }
    };
    const Outcome first = upload();
    writer.close();
    QVERIFY(first.failures.isEmpty());
    QCOMPARE(inFolder(name), stays);
    QCOMPARE(first.summary.filesChanged, stays ? 1 : 0);
    QCOMPARE(m_database->scalar(QStringLiteral("SELECT FOTO FROM ABONADOSFOTOS")).toByteArray(), original);

    m_makeDurable = {};
    const Outcome second = upload();
    QVERIFY(second.failures.isEmpty());
    QVERIFY(!inFolder(name));
    QCOMPARE(m_database->scalar(QStringLiteral("SELECT FOTO FROM ABONADOSFOTOS")).toByteArray(), latest);
}

// The promise that a file goes only once its row is on disk, kept by the run itself: durability
// that does not complete keeps the stored photo in the folder.
void TestUploadRun::filesGoOnlyOnceTheirRowsAreDurable()
{
    writeFile(QStringLiteral("123.jpg"));
    writeFile(QStringLiteral("7.jpg"));
    m_batchSize = 1;
    m_makeDurable = [] {
        throw Failure(ProviderError::ErrorsOccurred, QStringLiteral("QSQLITE"), QStringLiteral("disk I/O error"));
    };
    const Outcome outcome = upload();
    QCOMPARE(outcome.failures.size(), 1);
    QCOMPARE(outcome.failures[0].number, ProviderError::ErrorsOccurred);
    QCOMPARE(m_database->count(QStringLiteral("SELECT COUNT(*) FROM ABONADOSFOTOS")), 1);
    QVERIFY(inFolder(QStringLiteral("123.jpg")));
    QVERIFY(inFolder(QStringLiteral("7.jpg")));
}

// One batch asks once whether each member has a photo; the outcome stays what a photo-by-photo run
// gives: the second file of a member updates what the first inserted.
void TestUploadRun::secondFileOfAMemberInOneBatchUpdates()
{
    writeFile(QStringLiteral("007.jpg"), QByteArrayLiteral("first"));
    writeFile(QStringLiteral("7.jpg"), QByteArrayLiteral("second"));
    const Outcome outcome = upload();
    QVERIFY(outcome.failures.isEmpty());
    QCOMPARE(logOf(outcome.summary.runUser),
             (QList<QVariantList>{{QStringLiteral("007.jpg"), QStringLiteral("S"), QStringLiteral("Foto Insertada")},
                                  {QStringLiteral("7.jpg"), QStringLiteral("S"), QStringLiteral("Foto Actualizada")}}));
    QCOMPARE(m_database->rows(QStringLiteral("SELECT CODIGO, FILENAME, FOTO FROM ABONADOSFOTOS")),
             (QList<QVariantList>{{7, QStringLiteral("7.jpg"), QByteArrayLiteral("second")}}));
    QVERIFY(m_photos.isEmpty());
}

// A statement the database refuses in the middle of a batch: whatever the engine keeps of the
// batch, every file whose row is not stored stays, every file gone has its row, and the failure
// names the refused file.
void TestUploadRun::databaseFailureInABatchLosesNoFile()
{
    const bool sqlite = m_engine == Engine::Sqlite;
    m_database->execute(sqlite ? QStringLiteral("CREATE TRIGGER refuse_12 BEFORE INSERT ON ABONADOSFOTOS WHEN NEW.CODIGO = 12 "
                                                "BEGIN SELECT RAISE(ABORT, 'rechazada'); END")
                               : QStringLiteral("CREATE FUNCTION refuse_12() RETURNS trigger AS $$ BEGIN IF NEW.codigo = 12 "
                                                "THEN RAISE EXCEPTION 'rechazada'; END IF; RETURN NEW; END $$ LANGUAGE plpgsql"));
    if (!sqlite)
        m_database->execute(QStringLiteral("CREATE TRIGGER refuse_12 BEFORE INSERT ON ABONADOSFOTOS FOR EACH ROW "
                                           "EXECUTE FUNCTION refuse_12()"));
    const auto dropTrigger = qScopeGuard([&] {
        m_database->execute(sqlite ? QStringLiteral("DROP TRIGGER refuse_12")
                                   : QStringLiteral("DROP TRIGGER refuse_12 ON ABONADOSFOTOS"));
        if (!sqlite)
            m_database->execute(QStringLiteral("DROP FUNCTION refuse_12()"));
    });
    const QStringList names = {QStringLiteral("100.jpg"), QStringLiteral("12.jpg"), QStringLiteral("123.jpg"),
                               QStringLiteral("7.jpg")};
    for (const QString& name : names)
        writeFile(name, name.toLatin1());

    const Outcome outcome = upload();
    QCOMPARE(outcome.failures.size(), 1);
    QCOMPARE(outcome.summary.failedFile, m_photos.filePath(QStringLiteral("12.jpg")));
    QVERIFY(m_report.opened.isEmpty());
    QVERIFY(inFolder(QStringLiteral("12.jpg")));
    for (const QString& name : names) {
        const QList<QVariantList> row = m_database->rows(
            QStringLiteral("SELECT FOTO FROM ABONADOSFOTOS WHERE FILENAME = '%1'").arg(name));
        if (!inFolder(name))
            QCOMPARE(row, (QList<QVariantList>{{name.toLatin1()}}));
    }
    // A logged photo is a stored one.
    for (const QVariantList& logged : logOf(outcome.summary.runUser))
        QCOMPARE(m_database->count(QStringLiteral("SELECT COUNT(*) FROM ABONADOSFOTOS WHERE FILENAME = '%1'")
                                       .arg(logged[0].toString())),
                 1);
}

void TestUploadRun::photosChangedKeepTheirOriginals_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("settings");  // fit, png, originals: here, elsewhere, other file system
    QTest::addColumn<bool>("durable");
    QImage noise(700, 500, QImage::Format_RGB32);
    QRandomGenerator generator(7);
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, generator.generate());
    QByteArray jpeg;
    QBuffer jpegBuffer(&jpeg);
    jpegBuffer.open(QIODevice::WriteOnly);
    noise.save(&jpegBuffer, "jpeg", 95);
    QByteArray png;
    QBuffer pngBuffer(&png);
    pngBuffer.open(QIODevice::WriteOnly);
    noise.scaled(100, 80).save(&pngBuffer, "png");
    QTest::newRow("large JPEG fitted, original beside") << "123.jpg" << jpeg << "fit" << true;
    QTest::newRow("PNG converted") << "7.png" << png << "png" << true;
    QTest::newRow("small JPEG to a folder of originals") << "12.jpg" << QByteArray("jpeg bytes") << "elsewhere" << true;
    QTest::newRow("to another file system") << "123.jpg" << jpeg << "fit other file system" << true;
    QTest::newRow("durability fails: the original stays") << "123.jpg" << jpeg << "fit" << false;
}

// With photos fitted or converted, the original is never lost: it is moved, not deleted, under the
// same rule as a deletion (durable row, unchanged file), into a subfolder of the run.
void TestUploadRun::photosChangedKeepTheirOriginals()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, settings);
    QFETCH(bool, durable);
    QTemporaryDir elsewhere;
    QTemporaryDir otherFileSystem(QStringLiteral("/dev/shm/retratix-originals-XXXXXX"));
    if (settings.contains(QLatin1String("other file system")) && !otherFileSystem.isValid())
        QSKIP("no /dev/shm");
    m_photoSettings.fitPhotos = settings.startsWith(QLatin1String("fit"));
    if (settings == QLatin1String("png"))
        m_photoSettings.formats = QStringList{QStringLiteral("png")};
    if (settings == QLatin1String("elsewhere"))
        m_photoSettings.originalsFolder = elsewhere.filePath(QStringLiteral("originales"));
    if (settings.contains(QLatin1String("other file system")))
        m_photoSettings.originalsFolder = otherFileSystem.path();
    if (!durable)
        m_makeDurable = [] { throw Failure(ProviderError::ErrorsOccurred, QStringLiteral("QSQLITE"), QStringLiteral("I/O")); };
    writeFile(name, bytes);

    const Outcome outcome = upload();
    QCOMPARE(outcome.failures.isEmpty(), durable);
    QCOMPARE(inFolder(name), !durable);
    const QString originals = m_photoSettings.originalsFor(m_photos.path());
    const QStringList runs = QDir(originals).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCOMPARE(runs.size(), durable ? 1 : 0);
    if (!durable)
        return;
    QVERIFY(runs.first().endsWith(QLatin1Char('-') + outcome.summary.runUser));
    QFile kept(QDir(originals).filePath(runs.first() + QLatin1Char('/') + name));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), bytes);
    QCOMPARE(outcome.summary.originalsKept, 1);
    // The log reads as for any stored photo; the row holds what was stored.
    QCOMPARE(logOf(outcome.summary.runUser),
             (QList<QVariantList>{{name, QStringLiteral("S"), QStringLiteral("Foto Insertada")}}));
    const QList<QVariantList> row = m_database->rows(QStringLiteral("SELECT FILENAME, FILESIZE, FOTO FROM ABONADOSFOTOS"));
    QCOMPARE(row.size(), 1);
    QCOMPARE(row[0][0].toString(), name);
    const QByteArray stored = row[0][2].toByteArray();
    QCOMPARE(row[0][1].toInt(), stored.size());
    QVERIFY(stored.size() < 150000);
    // Fitted and converted photos are JPEG images; a small JPEG is stored byte for byte.
    if (settings == QLatin1String("elsewhere"))
        QCOMPARE(stored, bytes);
    else
        QVERIFY(stored != bytes && stored.startsWith("\xFF\xD8") && !QImage::fromData(stored).isNull());
    // Subfolders are never scanned: the next run finds nothing to do.
    QCOMPARE(upload().summary.filesVisited, 0);
}

// A run killed while it removed a stored file leaves it under a private name; the next run puts it
// back under its own and stores it again, so that no photo hides in the folder for ever.
void TestUploadRun::fileLeftByAKilledRunIsAPhotoAgain()
{
    if (!FolderFiles::guarantees().killedRuns)
        QSKIP("this platform's file code disposes of files under their names");
    pid_t gone = 4'000'000;
    while (::kill(gone, 0) == 0 || errno != ESRCH)
        --gone;
    const QString leftover = QStringLiteral(".retratix-%1-0-123.jpg").arg(gone);
    writeFile(leftover, QByteArrayLiteral("last bytes"));
    writeFile(QStringLiteral(".retratix-%1-1-7.jpg").arg(::getpid()), QByteArrayLiteral("a live run's"));
    const Outcome outcome = upload();
    QVERIFY(outcome.failures.isEmpty());
    QVERIFY(!inFolder(leftover));
    QVERIFY(!inFolder(QStringLiteral("123.jpg")));
    QCOMPARE(m_database->scalar(QStringLiteral("SELECT FOTO FROM ABONADOSFOTOS WHERE CODIGO = 123")).toByteArray(),
             QByteArrayLiteral("last bytes"));
    // One of a process that still runs is its own business.
    QVERIFY(inFolder(QStringLiteral(".retratix-%1-1-7.jpg").arg(::getpid())));
}

void TestUploadRun::installationCodeMustBeAWholeNumber_data()
{
    QTest::addColumn<QString>("code");
    QTest::newRow("empty") << QString();
    QTest::newRow("letters") << QStringLiteral("uno");
    QTest::newRow("fraction") << QStringLiteral("1.5");
    QTest::newRow("group separator") << QStringLiteral("1,000");
    QTest::newRow("blank around it") << QStringLiteral(" 1");
    QTest::newRow("statement text") << QStringLiteral("1 OR 1=1");
    QTest::newRow("beyond 32 bits") << QStringLiteral("99999999999");
}

void TestUploadRun::installationCodeMustBeAWholeNumber()
{
    QFETCH(QString, code);
    m_database->execute(QStringLiteral("INSERT INTO LOG_ABONADOSFOTOS (USUARIO, NOMBRE_FOTO, SUBIO, MOTIVO) "
                                       "VALUES ('1001', 'old.jpg', 'S', 'Foto Insertada')"));
    m_runNumbers = {1001};  // the earlier row's number: nothing may remove it
    writeFile(QStringLiteral("123.jpg"));
    writeFile(QStringLiteral("555.jpg"));

    const Outcome outcome = upload(code);
    QCOMPARE(outcome.failures.size(), 1);
    QCOMPARE(outcome.failures[0].number, RuntimeError::TypeMismatch);
    QVERIFY(m_report.opened.isEmpty());
    QCOMPARE(m_database->count(QStringLiteral("SELECT COUNT(*) FROM LOG_ABONADOSFOTOS")), 1);
    QCOMPARE(m_database->count(QStringLiteral("SELECT COUNT(*) FROM ABONADOSFOTOS")), 0);
    QVERIFY(inFolder(QStringLiteral("123.jpg")));
}

void TestUploadRun::runNumberTakenByEarlierRows_data()
{
    QTest::addColumn<QList<int>>("draws");
    QTest::addColumn<int>("maxDraws");
    QTest::addColumn<QString>("runUser");
    QTest::addColumn<int>("earlierRowsLeft");
    QTest::addColumn<int>("heldByAnotherRun");  // drawn by a run at work on another connection
    // SQLite: whoever writes the database's folder made its lock file a link to where root's
    // runs would create an empty file (as /etc/nologin).
    QTest::addColumn<bool>("lockFileLink");
    QTest::newRow("free at once") << QList<int>{5} << 1000 << "5" << 2 << 0 << false;
    QTest::newRow("drawn again past taken numbers") << QList<int>{42, 42, 43, 77} << 1000 << "77" << 2 << 0 << false;
    // Only a log holding nearly every number gets here: the run clears its own number as before.
    QTest::newRow("draws exhausted") << QList<int>{42, 42, 42} << 3 << "42" << 1 << 0 << false;
    // Two runs that draw one number at the same moment: the second draws again.
    QTest::newRow("held by a run at work") << QList<int>{44, 45} << 1000 << "45" << 2 << 44 << false;
    // The link is replaced by a lock file of its own, which both runs lock.
    if (m_engine == Engine::Sqlite)
        QTest::newRow("held by a run at work, lock file a link") << QList<int>{44, 45} << 1000 << "45" << 2 << 44 << true;
}

void TestUploadRun::runNumberTakenByEarlierRows()
{
    QFETCH(QList<int>, draws);
    QFETCH(int, maxDraws);
    QFETCH(QString, runUser);
    QFETCH(int, earlierRowsLeft);
    QFETCH(int, heldByAnotherRun);
    QFETCH(bool, lockFileLink);
    const QString lockFile = m_database->dataSource().mid(7) + QStringLiteral("-retratix");
    const QString nowhere = m_folder->filePath(QStringLiteral("nologin"));
    if (lockFileLink) {
        QFile::remove(lockFile);
        QVERIFY(QFile::link(nowhere, lockFile));
    }
    const std::unique_ptr<db::Connection> otherDesk = m_database->openConnection();
    if (heldByAnotherRun)
        QVERIFY(otherDesk->reserveRunNumber(heldByAnotherRun));
    for (const char* number : {"42", "43"})
        m_database->execute(QStringLiteral("INSERT INTO LOG_ABONADOSFOTOS (USUARIO, NOMBRE_FOTO, SUBIO, MOTIVO) "
                                           "VALUES ('%1', 'old.jpg', 'S', 'Foto Insertada')")
                                .arg(QLatin1String(number)));
    m_runNumbers.assign(draws.begin(), draws.end());
    m_maxDraws = maxDraws;
    writeFile(QStringLiteral("555.jpg"));

    const Outcome outcome = upload();
    QVERIFY(outcome.failures.isEmpty());
    QVERIFY(m_runNumbers.empty());  // every draw was used
    const UploadSummary& summary = outcome.summary;
    QCOMPARE(summary.runUser, runUser);
    QCOMPARE(logOf(runUser).size(), 1);
    QCOMPARE(m_database->count(QStringLiteral("SELECT COUNT(*) FROM LOG_ABONADOSFOTOS WHERE NOMBRE_FOTO = 'old.jpg'")),
             earlierRowsLeft);
    // The run gives its number up when it ends: another desk may hold it then.
    QVERIFY(otherDesk->reserveRunNumber(runUser.toInt()));
    if (lockFileLink) {
        QVERIFY(!QFileInfo::exists(nowhere));
        QVERIFY(QFileInfo(lockFile).isFile() && !QFileInfo(lockFile).isSymLink());
    }
}

void TestUploadRun::missingFolderEndsSilently()
{
    m_database->execute(QStringLiteral("INSERT INTO LOG_ABONADOSFOTOS (USUARIO, NOMBRE_FOTO, SUBIO, MOTIVO) "
                                       "VALUES ('1001', 'old.jpg', 'S', 'Foto Insertada')"));
    m_photos = QDir(m_folder->filePath(QStringLiteral("gone")));
    const Outcome outcome = upload();
    QCOMPARE(outcome.summary.end, UploadSummary::End::FolderMissing);
    QVERIFY(outcome.failures.isEmpty());
    QVERIFY(m_report.opened.isEmpty());
    QVERIFY(m_progress.maximums.isEmpty());
    QCOMPARE(m_database->count(QStringLiteral("SELECT COUNT(*) FROM LOG_ABONADOSFOTOS")), 1);
}

void TestUploadRun::storedFilesGoInDurableBatches()
{
    // 250 members with photos and a batch of 100: two full batches and a last partial one.
    for (int code = 1000; code < 1250; ++code) {
        m_database->execute(QStringLiteral("INSERT INTO ABONADOS (CODINSTALACION, CODIGO) VALUES (1, %1)").arg(code));
        writeFile(QStringLiteral("%1.jpg").arg(code));
    }
    const Outcome outcome = upload();
    QVERIFY(outcome.failures.isEmpty());
    QCOMPARE(outcome.summary.inserted, 250);
    QCOMPARE(outcome.summary.filesDeleted, 250);
    QVERIFY(m_photos.isEmpty());
}

void TestUploadRun::fortyThousandFilesAreAllVisited()
{
    // More files than a 16-bit counter holds; only the last one is a photo.
    for (int i = 10000; i < 50000; ++i) {
        QFile file(m_photos.filePath(QStringLiteral("%1.png").arg(i)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    writeFile(QStringLiteral("99999.jpg"));
    const Outcome outcome = upload();
    QVERIFY(outcome.failures.isEmpty());
    QCOMPARE(outcome.summary.filesVisited, 40001);
    QCOMPARE(outcome.summary.inserted, 1);
    QVERIFY(!inFolder(QStringLiteral("99999.jpg")));
    QCOMPARE(m_progress.maximums, QList<int>{40000});
    QCOMPARE(m_progress.moves.last(), 39984);  // 784 moves of 51
}

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    int status = 0;
    for (Engine engine : {Engine::Sqlite, Engine::Postgres, Engine::Odbc}) {
        TestUploadRun test(engine);
        status |= QTest::qExec(&test, argc, argv);
    }
    return status;
}

#include "tst_upload_run.moc"
