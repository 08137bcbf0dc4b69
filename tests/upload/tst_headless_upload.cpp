// `retratix --upload FOLDER [--pdf FILE]` in process: the configuration beside the program
// (a substituted program folder), the run, the PDF report and the exit status.
#include "common/platform.h"
#include "startup/mod_glob.h"
#include "test_database.h"
#include "upload/headless_upload.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

namespace {

class FolderPlatform final : public Platform {
public:
    QString programFolder() const override { return folder; }
    QStringList installedPrinters() const override { return {}; }
    QString folder;
};

}  // namespace

class TestHeadlessUpload final : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void exitStatusAndReport_data();
    void exitStatusAndReport();
    void missingConfigurationEndsTheProgram();

private:
    std::unique_ptr<TestDatabase> m_database;
    QTemporaryDir m_program;
    FolderPlatform m_platform;
};

void TestHeadlessUpload::initTestCase()
{
    QString whyNot;
    m_database = TestDatabase::create(TestDatabase::Engine::Sqlite, &whyNot);
    QVERIFY2(m_database, qPrintable(whyNot));
    m_platform.folder = m_program.path();
    Platform::install(&m_platform);
    QFile ini(m_program.filePath(QStringLiteral("Polidex.ini")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[Conexion]\r\nSID=" + m_database->dataSource().toUtf8() +
              "\r\n[Form]\r\nLeft=0\r\nTop=0\r\nWidth=7500\r\nHeight=5200\r\n[Listados]\r\nRptPath=" +
              TestDatabase::sourceDir().toUtf8() + "/reports/\r\n[Impresoras]\r\nInstalacion=1\r\n");
}

void TestHeadlessUpload::cleanupTestCase()
{
    ModGlob::DbConnection.reset();
    Platform::install(nullptr);
}

void TestHeadlessUpload::exitStatusAndReport_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<bool>("folderExists");
    QTest::addColumn<bool>("askPdf");
    QTest::addColumn<int>("exitStatus");
    QTest::addColumn<int>("photosStored");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("errorText");  // on standard error; %1 is the photo folder
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QStringList>("outputLines");  // among standard output's lines
    // The PDF's name is a link to a file that must stay as it is, the CSV's one that leads nowhere.
    QTest::addColumn<bool>("outputsAreLinks");
    const auto names = [](std::initializer_list<const char*> list) {
        QStringList result;
        for (const char* name : list)
            result.append(QString::fromUtf8(name));
        return result;
    };
    const QString upload = QStringLiteral("--upload");
    QTest::newRow("completed with PDF") << names({"123.jpg", "555.jpg", "notes.txt"}) << true << true << 0 << 1
                                        << QStringList() << QString() << upload << QStringList() << false;
    // The rows as the report orders them (those not stored first), for a spreadsheet.
    QTest::newRow("completed with CSV") << names({"123.jpg", "555.jpg", "notes.txt"}) << true << false << 0 << 1
                                        << QStringList{QStringLiteral("--csv"), QStringLiteral("filas.csv")}
                                        << QString() << upload << QStringList() << false;
    QTest::newRow("completed without PDF") << names({"123.jpg"}) << true << false << 0 << 1 << QStringList()
                                           << QString() << upload << QStringList() << false;
    QTest::newRow("failed run names its file") << names({"123.jpg", "99999999999.jpg"}) << true << true << 1 << 1
                                               << QStringList() << QStringLiteral("%1/99999999999.jpg") << upload
                                               << QStringList() << false;
    QTest::newRow("no such folder") << QStringList() << false << true << 2 << 0 << QStringList() << QString()
                                    << upload << QStringList() << false;
    QTest::newRow("a bad setting starts no run") << names({"123.jpg"}) << true << true << 2 << 0
                                                 << QStringList{QStringLiteral("--formats"), QStringLiteral("webp")}
                                                 << QStringLiteral("--formats: «webp» no es válido") << upload
                                                 << QStringList() << false;
    // Whoever fills the folder may plant links where the reports go: they are replaced, not followed.
    QTest::newRow("PDF and CSV over planted links")
        << names({"123.jpg", "555.jpg", "notes.txt"}) << true << true << 0 << 1
        << QStringList{QStringLiteral("--csv"), QStringLiteral("filas.csv")} << QString() << upload << QStringList()
        << true;
#ifndef Q_OS_WIN  // Windows allows no control characters in file names.
    // Names cannot forge a line of their own on the journal or send the terminal escape sequences.
    QTest::newRow("failed run names its file escaped")
        << names({"123.jpg", "99999999999.\nEjecución 1 terminada\x1b[2J.jpg"}) << true << true << 1 << 1
        << QStringList() << QStringLiteral("%1/99999999999.\\nEjecución 1 terminada\\x1b[2J.jpg") << upload
        << QStringList() << false;
    QTest::newRow("check shows names escaped")
        << names({"12\n3.jpg", "\x1b[31m7.jpg"}) << true << false << 0 << 0 << QStringList() << QString()
        << QStringLiteral("--check")
        << QStringList{QStringLiteral("12\\n3.jpg\t\tNo es una foto\t«12\\n3», lo que precede al primer "
                                      "punto, no es un código de abonado"),
                       QStringLiteral("\\x1b[31m7.jpg\t\tNo es una foto\t«\\x1b[31m7», lo que precede al "
                                      "primer punto, no es un código de abonado")}
        << false;
#endif
}

void TestHeadlessUpload::exitStatusAndReport()
{
    QFETCH(QStringList, files);
    QFETCH(bool, folderExists);
    QFETCH(bool, askPdf);
    QFETCH(int, exitStatus);
    QFETCH(int, photosStored);
    QFETCH(QStringList, options);
    QFETCH(QString, errorText);
    QFETCH(QString, mode);
    QFETCH(QStringList, outputLines);
    QFETCH(bool, outputsAreLinks);
    m_database->clear();
    m_database->execute(QStringLiteral("INSERT INTO INSTALACIONES (CODINSTALACION, NOMBRE) VALUES (1, 'Norte')"));
    m_database->execute(QStringLiteral("INSERT INTO ABONADOS (CODINSTALACION, CODIGO) VALUES (1, 123)"));
    QTemporaryDir work;
    const QString folder = work.filePath(QStringLiteral("fotos"));
    if (folderExists)
        QVERIFY(QDir().mkpath(folder));
    for (const QString& name : files) {
        QFile file(folder + QLatin1Char('/') + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("jpeg");
    }
    const QString pdf = work.filePath(QStringLiteral("informe.pdf"));
    QStringList arguments = {QStringLiteral("retratix"), mode, folder};
    if (askPdf)
        arguments << QStringLiteral("--pdf") << pdf;
    // A file an option names is the work folder's.
    for (qsizetype i = 1; i < options.size(); ++i)
        if (options.at(i - 1) == QLatin1String("--csv"))
            options[i] = work.filePath(options.at(i));
    arguments += options;
    const QString kept = work.filePath(QStringLiteral("shadow"));
    const QString nowhere = work.filePath(QStringLiteral("nologin"));
    if (outputsAreLinks) {
        QFile target(kept);
        QVERIFY(target.open(QIODevice::WriteOnly) && target.write("root:only\n") == 10);
        QVERIFY(QFile::link(kept, pdf));
        QVERIFY(QFile::link(nowhere, options.at(options.indexOf(QStringLiteral("--csv")) + 1)));
    }

    QString output;
    QString errors;
    QTextStream out(&output);
    QTextStream err(&errors);
    QCOMPARE(HeadlessUpload::run(arguments, out, err), exitStatus);
    if (!errorText.isEmpty())
        QVERIFY2(errors.contains(QDir::toNativeSeparators(errorText.arg(folder))), qPrintable(errors));
    const QStringList lines = output.split(QLatin1Char('\n'));
    for (const QString& line : outputLines)
        QVERIFY2(lines.contains(line), qPrintable(output));
    QVERIFY2(!errors.contains(QChar(0x1b)) && !output.contains(QChar(0x1b)), qPrintable(errors + output));
    QVERIFY2(!errors.contains(QStringLiteral("\nEjecución")), qPrintable(errors));
    QCOMPARE(m_database->count(QStringLiteral("SELECT COUNT(*) FROM ABONADOSFOTOS")), photosStored);
    // Only a completed run writes its report.
    const bool pdfExpected = askPdf && exitStatus == 0;
    QCOMPARE(QFile::exists(pdf), pdfExpected);
    if (pdfExpected) {
        QVERIFY(!QFileInfo(pdf).isSymLink());
        QFile written(pdf);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QVERIFY(written.read(5) == "%PDF-");
    }
    const qsizetype csvAt = options.indexOf(QStringLiteral("--csv"));
    if (csvAt >= 0 && exitStatus == 0) {
        QVERIFY(!QFileInfo(options.at(csvAt + 1)).isSymLink());
        QFile csv(options.at(csvAt + 1));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        QCOMPARE(csv.readAll(), QByteArray("\xEF\xBB\xBF"
                                           "Archivo;Subida;Motivo\r\n"
                                           "555.jpg;N;Abonado no existente\r\n"
                                           "123.jpg;S;Foto Insertada\r\n"));
    }
    if (outputsAreLinks) {
        QFile target(kept);
        QVERIFY(target.open(QIODevice::ReadOnly));
        QCOMPARE(target.readAll(), QByteArray("root:only\n"));
        QVERIFY(!QFileInfo::exists(nowhere));
    }
}

void TestHeadlessUpload::missingConfigurationEndsTheProgram()
{
    FolderPlatform empty;
    QTemporaryDir folder;
    empty.folder = folder.path();
    Platform::install(&empty);
    ModGlob::DbConnection.reset();  // as at a program's start
    bool ended = false;
    try {
        HeadlessUpload::run({QStringLiteral("retratix"), QStringLiteral("--upload"), folder.path()});
    } catch (const ProgramEnd& end) {
        ended = end.exitStatus != 0;
    }
    Platform::install(&m_platform);
    QVERIFY(ended);
}

QTEST_MAIN(TestHeadlessUpload)
#include "tst_headless_upload.moc"
