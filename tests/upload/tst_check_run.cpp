// The check of a folder on a real database: what an upload would do, file by file, with nothing
// written to the database and no file touched.
#include "test_database.h"
#include "upload/check_run.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

using Engine = TestDatabase::Engine;

class TestCheckRun final : public QObject {
    Q_OBJECT
public:
    explicit TestCheckRun(Engine engine) : m_engine(engine) {}

private slots:
    void initTestCase();
    void everyFileSaysWhatTheUploadWouldDo_data();
    void everyFileSaysWhatTheUploadWouldDo();

private:
    // Every table's rows and every file's name, size, time and bytes: what must not change.
    QString state(const QDir& folder);

    Engine m_engine;
    std::unique_ptr<TestDatabase> m_database;
};

void TestCheckRun::initTestCase()
{
    QString whyNot;
    m_database = TestDatabase::create(m_engine, &whyNot);
    if (!m_database)
        QSKIP(qPrintable(TestDatabase::engineName(m_engine) + QStringLiteral(": ") + whyNot));
}

QString TestCheckRun::state(const QDir& folder)
{
    QString text;
    for (const char* sql : {"SELECT CODIGO, FILENAME, FILESIZE FROM ABONADOSFOTOS ORDER BY CODIGO",
                            "SELECT USUARIO, NOMBRE_FOTO FROM LOG_ABONADOSFOTOS ORDER BY NOMBRE_FOTO"})
        for (const QVariantList& row : m_database->rows(QLatin1String(sql)))
            for (const QVariant& value : row)
                text += value.toString() + QLatin1Char('|');
    for (const QFileInfo& file : folder.entryInfoList(QDir::Files | QDir::Hidden, QDir::Name)) {
        QFile bytes(file.filePath());
        bytes.open(QIODevice::ReadOnly);
        text += file.fileName() + QString::number(file.size()) +
                QString::number(file.lastModified().toMSecsSinceEpoch()) + QString::fromLatin1(bytes.readAll().toHex());
    }
    return text;
}

namespace {

const QByteArray Jpeg("\xFF\xD8\xFF\xE0 jpeg");

// One folder with a file of every kind; each row of the table below looks at one of them.
const QList<QPair<QString, QByteArray>> Files = {
    {QStringLiteral("123.jpg"), Jpeg},         {QStringLiteral("12.jpg"), Jpeg},
    {QStringLiteral("555.jpg"), Jpeg},         {QStringLiteral("100.jpg"), QByteArray(150000, 'x')},
    {QStringLiteral("0notes.txt"), "x"},       {QStringLiteral("0foto.jpg"), Jpeg},
    {QStringLiteral("007.jpg"), Jpeg},         {QStringLiteral("7.jpg"), Jpeg},
    {QStringLiteral("99999.jpg"), QByteArray("\x89PNG\r\n\x1A\n...")},
    {QStringLiteral("99999999999.jpg"), Jpeg},  // the upload ends here
    {QStringLiteral("a.txt"), "x"},
};

}  // namespace

void TestCheckRun::everyFileSaysWhatTheUploadWouldDo_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("stored");   // S, N, or empty: no photo
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("detail");   // what the detail says, in part
    QTest::newRow("new photo") << "123.jpg" << "S" << "Foto Insertada" << QString();
    QTest::newRow("photo stored before") << "12.jpg" << "S" << "Foto Actualizada" << QString();
    QTest::newRow("no such member") << "555.jpg" << "N" << "Abonado no existente" << QString();
    QTest::newRow("too large") << "100.jpg" << "N" << "Tamaño no permitido" << QString();
    QTest::newRow("no .jpg") << "0notes.txt" << "" << "No es una foto" << "«.jpg»";
    QTest::newRow("code not numeric") << "0foto.jpg" << "" << "No es una foto" << "no es un código";
    QTest::newRow("first of a member") << "007.jpg" << "S" << "Foto Insertada" << "la sustituye: 7.jpg";
    QTest::newRow("last of a member wins") << "7.jpg" << "S" << "Foto Actualizada" << "sustituye a 007.jpg";
    QTest::newRow("content unlike its name") << "99999.jpg" << "S" << "Foto Insertada" << "el contenido es PNG, no JPEG";
    QTest::newRow("beyond 32 bits") << "99999999999.jpg" << "" << "Fin de la carga" << "error 6";
    QTest::newRow("after the upload's end") << "a.txt" << "" << "Sin llegar" << "terminaría antes, en 99999999999.jpg";
}

void TestCheckRun::everyFileSaysWhatTheUploadWouldDo()
{
    QFETCH(QString, name);
    QFETCH(QString, stored);
    QFETCH(QString, outcome);
    QFETCH(QString, detail);
    m_database->clear();
    m_database->execute(QStringLiteral("INSERT INTO INSTALACIONES (CODINSTALACION, NOMBRE) VALUES (1, 'Norte')"));
    for (int code : {7, 12, 100, 123, 99999})
        m_database->execute(QStringLiteral("INSERT INTO ABONADOS (CODINSTALACION, CODIGO) VALUES (1, %1)").arg(code));
    m_database->execute(QStringLiteral("INSERT INTO ABONADOSFOTOS (CODIGO, CODINSTALACION, FILENAME, FILESIZE) "
                                       "VALUES (12, 1, '12.jpg', 0)"));
    QTemporaryDir folder;
    for (const auto& [file, bytes] : Files) {
        QFile out(folder.filePath(file));
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(bytes);
    }
    const QString before = state(QDir(folder.path()));

    CheckRun::Settings settings;
    settings.connection = &m_database->connection();
    settings.folder = folder.path();
    settings.installationText = [] { return QStringLiteral("1"); };
    QList<Failure> failures;
    settings.reportError = [&failures](const Failure& failure) { failures.append(failure); };
    const CheckSummary summary = CheckRun(std::move(settings)).run();

    QVERIFY(failures.isEmpty());
    QCOMPARE(summary.end, CheckSummary::End::Completed);
    QCOMPARE(summary.rows.size(), Files.size());
    const auto row = std::find_if(summary.rows.cbegin(), summary.rows.cend(),
                                  [&](const CheckRow& r) { return r.file == name; });
    QVERIFY(row != summary.rows.cend());
    QCOMPARE(row->stored, stored);
    QCOMPARE(row->outcome, outcome);
    QVERIFY2(row->detail.contains(detail), qPrintable(row->detail));
    // Counted by what each file comes to, not by its text.
    QVERIFY2(summary.toText().contains(QStringLiteral("se subirían 5 fotos, 2 no se subirían, 2 no son fotos")),
             qPrintable(summary.toText()));
    QCOMPARE(summary.notReached, 1);
    // Nothing written, nothing touched.
    QCOMPARE(state(QDir(folder.path())), before);
}

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    int status = 0;
    for (Engine engine : {Engine::Sqlite, Engine::Postgres}) {
        TestCheckRun test(engine);
        status |= QTest::qExec(&test, argc, argv);
    }
    return status;
}

#include "tst_check_run.moc"
