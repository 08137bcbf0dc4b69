// The report engine on a SQLite database: open, tables and fields, logon, query, sort, formulas,
// selection and PDF export of the shipped report ListadoFotos.rpt.
#include "reporting/engine_report.h"
#include "reporting/report_engine.h"
#include "reporting/report_viewer.h"
#include "reporting_test_support.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace reporting;
using reportingtest::narrowedSql;

namespace {

QStringList column(const ReportDocument& doc, const QString& field)
{
    QStringList values;
    for (int row = 0; row < doc.rowCount(); ++row)
        values.append(displayText(doc.value(row, field)));
    return values;
}

}  // namespace

class TestReportEngine : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void missingOrBrokenFileIsReportFileNotFound_data();
    void missingOrBrokenFileIsReportFileNotFound();
    void tablesAndFieldsAreOneBasedAndNamedWithBraces();
    void collectionIndexOutOfRangeFails_data();
    void collectionIndexOutOfRangeFails();
    void narrowedQueryListsExactlyOneRun();
    void queryTextIsReadAndTheWrittenOneRuns();
    void sortFieldsApplyInTheOrderAdded_data();
    void sortFieldsApplyInTheOrderAdded();
    void sortFieldOfAnotherReportIsRefused();
    void formulaTextWrittenIsShown_data();
    void formulaTextWrittenIsShown();
    void selectionFormulaIsAppliedOrRefused_data();
    void selectionFormulaIsAppliedOrRefused();
    void logOnIsRequiredAndSharedByTheTables_data();
    void logOnIsRequiredAndSharedByTheTables();
    void badLogOnOrQueryFailsWithTheDatabaseError_data();
    void badLogOnOrQueryFailsWithTheDatabaseError();
    void connectionIsRemovedAfterTheRun();
    void queryOfAServerThatStopsAnsweringEndsAfterTheCommandTimeOut_data();
    void queryOfAServerThatStopsAnsweringEndsAfterTheCommandTimeOut();
    void firstPagesAreReadyBeforeTheRunEnds();
    void runNumberShowsWithoutRows_data();
    void runNumberShowsWithoutRows();
    void pdfExportHoldsTheRows();

private:
    std::unique_ptr<Report> open();
    EngineReport& engine(Report& report) { return dynamic_cast<EngineReport&>(report); }
    void logOn(Report& report);

    QTemporaryDir m_dir;
    QString m_dbPath;
    QString m_reportPath;
};

void TestReportEngine::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_reportPath = reportingtest::shippedReportFolder() + QStringLiteral("ListadoFotos.rpt");
    QVERIFY2(QFile::exists(m_reportPath), qPrintable(m_reportPath));
    m_dbPath = m_dir.filePath(QStringLiteral("log.db"));
    const QString error = reportingtest::createLogDatabase(
        m_dbPath,
        {{QStringLiteral("123"), QStringLiteral("7.jpg"), QStringLiteral("S"), QStringLiteral("Foto Insertada")},
         {QStringLiteral("123"), QStringLiteral("3.jpg"), QStringLiteral("N"), QStringLiteral("Abonado no existente")},
         {QStringLiteral("123"), QStringLiteral("5.jpg"), QStringLiteral("S"), QStringLiteral("Foto Actualizada")},
         {QStringLiteral("123"), QStringLiteral("9.jpg"), QStringLiteral("N"), QStringLiteral("Tamaño no permitido")},
         {QStringLiteral("456"), QStringLiteral("1.jpg"), QStringLiteral("S"), QStringLiteral("Foto Insertada")},
         {QStringLiteral("456"), QStringLiteral("2.jpg"), QStringLiteral("S"), QStringLiteral("Foto Insertada")},
         {QStringLiteral("789"), QStringLiteral("10.jpg"), QStringLiteral("S"), QStringLiteral("Foto Insertada")},
         {QStringLiteral("789"), QStringLiteral("2.jpg"), QStringLiteral("S"), QStringLiteral("Foto Insertada")},
         {QStringLiteral("789"), QStringLiteral("007.jpg"), QStringLiteral("S"), QStringLiteral("Foto Insertada")},
         {QStringLiteral("789"), QStringLiteral("7.jpg"), QStringLiteral("S"), QStringLiteral("Foto Actualizada")},
         {QStringLiteral("789"), QStringLiteral("11.jpg"), QStringLiteral("N"), QStringLiteral("Abonado no existente")},
         {QStringLiteral("789"), QStringLiteral("4.jpg"), QStringLiteral("N"), QStringLiteral("Tamaño no permitido")},
         {QStringLiteral("789"), QStringLiteral("8.png"), QStringLiteral("N"), QStringLiteral("Foto no válida")}});
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestReportEngine::init()
{
    QCOMPARE(QSqlDatabase::connectionNames(), QStringList());
}

std::unique_ptr<Report> TestReportEngine::open()
{
    auto report = defaultReportApplicationFactory()()->openReport(m_reportPath, 1);
    report->prepare();
    return report;
}

void TestReportEngine::logOn(Report& report)
{
    for (int i = 1; i <= report.tableCount(); ++i)
        report.table(i).setLogOnInfo(QStringLiteral("sqlite:") + m_dbPath, QString(), QStringLiteral("regusr1"),
                                     QStringLiteral("secret"));
}

void TestReportEngine::missingOrBrokenFileIsReportFileNotFound_data()
{
    QTest::addColumn<QByteArray>("content");  // null: no file at all
    QTest::newRow("no file") << QByteArray();
    QTest::newRow("not XML") << QByteArray("MZ\x90\x00 binary");
    QTest::newRow("other root") << QByteArray("<html/>");
    QTest::newRow("unclosed") << QByteArray("<report><detail height='5'>");
    QTest::newRow("no detail band") << QByteArray("<report/>");
    QTest::newRow("unknown element") << QByteArray("<report><detail height='5'><picture/></detail></report>");
    QTest::newRow("field not declared")
        << QByteArray("<report><detail height='5'><field ref='{T.X}'/></detail></report>");
    QTest::newRow("bad number") << QByteArray("<report><detail height='five'/></report>");
    QTest::newRow("letter paper") << QByteArray("<report><page size='Letter'/><detail height='5'/></report>");
    const QByteArray table("<database><table name='T'><field name='A'/></table></database>");
    QTest::newRow("unknown element in sort") << QByteArray("<report>" + table + "<sort><order/></sort><detail height='5'/></report>");
    QTest::newRow("sort field not declared")
        << QByteArray("<report>" + table + "<sort><sortField field='{T.X}'/></sort><detail height='5'/></report>");
    QTest::newRow("sort direction unknown")
        << QByteArray("<report>" + table + "<sort><sortField field='{T.A}' direction='up'/></sort><detail height='5'/></report>");
    QTest::newRow("element inside a sort field")
        << QByteArray("<report>" + table + "<sort><sortField field='{T.A}'><x/></sortField></sort><detail height='5'/></report>");
    QTest::newRow("highlight outside the detail")
        << QByteArray("<report>" + table + "<pageHeader height='5'><highlight when=\"{T.A} = 'x'\"/></pageHeader>"
                      "<detail height='5'/></report>");
    QTest::newRow("highlight without a condition")
        << QByteArray("<report>" + table + "<detail height='5'><highlight fill='red'/></detail></report>");
    QTest::newRow("highlight condition with OR")
        << QByteArray("<report>" + table + "<detail height='5'><highlight when=\"{T.A} = 'x' OR {T.A} = 'y'\"/></detail></report>");
    QTest::newRow("highlight on a field not declared")
        << QByteArray("<report>" + table + "<detail height='5'><highlight when=\"{T.X} = 'x'\"/></detail></report>");
}

void TestReportEngine::missingOrBrokenFileIsReportFileNotFound()
{
    QFETCH(QByteArray, content);
    const QString path = m_dir.filePath(QStringLiteral("broken.rpt"));
    QFile::remove(path);
    if (!content.isNull()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    try {
        defaultReportApplicationFactory()()->openReport(path, 1);
        QFAIL("opened");
    } catch (const Failure& failure) {
        QCOMPARE(failure.number, static_cast<int32_t>(0x80043AC3u));
        QVERIFY(!failure.description.isEmpty());
    }
}

void TestReportEngine::tablesAndFieldsAreOneBasedAndNamedWithBraces()
{
    auto report = open();
    QCOMPARE(report->tableCount(), 1);
    QCOMPARE(report->table(1).name().toUpper(), QStringLiteral("LOG_ABONADOSFOTOS"));
    QStringList names;
    for (int i = 1; i <= report->table(1).fieldCount(); ++i)
        names.append(report->table(1).field(i).name());
    QVERIFY(names.contains(QStringLiteral("{LOG_ABONADOSFOTOS.USUARIO}")));
    QVERIFY(names.contains(QStringLiteral("{LOG_ABONADOSFOTOS.MOTIVO}")));
    QVERIFY(report->sqlQueryString().startsWith(QStringLiteral("SELECT \"LOG_ABONADOSFOTOS\".\"USUARIO\"")));
    QCOMPARE(report->printingStatusProgress(), int(PrintingNotStarted));
}

void TestReportEngine::collectionIndexOutOfRangeFails_data()
{
    QTest::addColumn<int>("collection");  // 0 tables, 1 fields, 2 formulas
    QTest::addColumn<int>("index");
    QTest::newRow("table 0") << 0 << 0;
    QTest::newRow("table past the end") << 0 << 2;
    QTest::newRow("field 0") << 1 << 0;
    QTest::newRow("field past the end") << 1 << 6;
    QTest::newRow("formula past the end") << 2 << 3;
}

void TestReportEngine::collectionIndexOutOfRangeFails()
{
    QFETCH(int, collection);
    QFETCH(int, index);
    auto report = open();
    try {
        if (collection == 0)
            report->table(index);
        else if (collection == 1)
            report->table(1).field(index);
        else
            report->formulaField(index);
        QFAIL("no failure");
    } catch (const Failure& failure) {
        QCOMPARE(failure.number, ReportSubscriptOutOfRange);
    }
}

void TestReportEngine::narrowedQueryListsExactlyOneRun()
{
    auto report = open();
    logOn(*report);
    report->setSqlQueryString(narrowedSql(QStringLiteral("123")));
    engine(*report).runToEnd();
    const ReportDocument& doc = *engine(*report).document();
    QCOMPARE(column(doc, QStringLiteral("{LOG_ABONADOSFOTOS.NOMBRE_FOTO}")),
             (QStringList{QStringLiteral("3.jpg"), QStringLiteral("9.jpg"), QStringLiteral("5.jpg"), QStringLiteral("7.jpg")}));
    QCOMPARE(column(doc, QStringLiteral("{log_abonadosfotos.usuario}")), QStringList(4, QStringLiteral("123")));
    QCOMPARE(report->printingStatusProgress(), int(PrintingCompleted));
    const QString text = doc.pageText(doc.pageCount() - 1);
    QVERIFY(text.contains(QStringLiteral("Ejecución nº 123")));
    QVERIFY(!text.contains(QStringLiteral("1.jpg")));
    // One line per reason, also for the one no row has, and the total.
    const QList<std::pair<QString, int>> reasons{{QStringLiteral("Foto Insertada"), 1},
                                                 {QStringLiteral("Foto Actualizada"), 1},
                                                 {QStringLiteral("Tamaño no permitido"), 1},
                                                 {QStringLiteral("Abonado no existente"), 1},
                                                 {QStringLiteral("Foto no válida"), 0}};
    QCOMPARE(doc.countLines(1), reasons);
}

void TestReportEngine::queryTextIsReadAndTheWrittenOneRuns()
{
    auto report = open();
    logOn(*report);
    report->setSqlQueryString(QStringLiteral("SELECT NOMBRE_FOTO FROM LOG_ABONADOSFOTOS WHERE USUARIO = '456'"));
    QCOMPARE(report->sqlQueryString(), QStringLiteral("SELECT NOMBRE_FOTO FROM LOG_ABONADOSFOTOS WHERE USUARIO = '456'"));
    engine(*report).runToEnd();
    const ReportDocument& doc = *engine(*report).document();
    QCOMPARE(doc.rowCount(), 2);
    // Columns the query does not return stay empty.
    QCOMPARE(doc.value(0, QStringLiteral("{LOG_ABONADOSFOTOS.MOTIVO}")), QVariant());
}

void TestReportEngine::sortFieldsApplyInTheOrderAdded_data()
{
    QTest::addColumn<QString>("run");
    QTest::addColumn<QStringList>("keys");  // the program's sort fields: +FIELD ascending, -FIELD descending
    QTest::addColumn<QStringList>("expected");
    const auto files = [](const char* names) { return QString::fromUtf8(names).split(u' '); };
    QTest::newRow("none: the report's order, not stored first")
        << QStringLiteral("123") << QStringList{} << files("3.jpg 9.jpg 5.jpg 7.jpg");
    QTest::newRow("none: file names in natural order")
        << QStringLiteral("789") << QStringList{} << files("4.jpg 8.png 11.jpg 2.jpg 007.jpg 7.jpg 10.jpg");
    QTest::newRow("descending file name") << QStringLiteral("123") << QStringList{QStringLiteral("-NOMBRE_FOTO")}
                                          << files("9.jpg 7.jpg 5.jpg 3.jpg");
    QTest::newRow("the program's key decides first, as text")
        << QStringLiteral("789") << QStringList{QStringLiteral("-NOMBRE_FOTO")}
        << files("8.png 7.jpg 4.jpg 2.jpg 11.jpg 10.jpg 007.jpg");
    QTest::newRow("stored first, then reason descending")
        << QStringLiteral("123") << QStringList{QStringLiteral("-SUBIO"), QStringLiteral("-MOTIVO")}
        << files("7.jpg 5.jpg 9.jpg 3.jpg");
    QTest::newRow("stored descending, ties in the report's order")
        << QStringLiteral("789") << QStringList{QStringLiteral("-SUBIO")} << files("2.jpg 007.jpg 7.jpg 10.jpg 4.jpg 8.png 11.jpg");
}

void TestReportEngine::sortFieldsApplyInTheOrderAdded()
{
    QFETCH(QString, run);
    QFETCH(QStringList, keys);
    QFETCH(QStringList, expected);
    auto report = open();
    logOn(*report);
    report->setSqlQueryString(narrowedSql(run));
    ReportTable& table = report->table(1);
    for (const QString& key : keys) {
        const QString name = QStringLiteral("{LOG_ABONADOSFOTOS.%1}").arg(key.mid(1));
        for (int i = 1; i <= table.fieldCount(); ++i)
            if (table.field(i).name() == name)
                report->addRecordSortField(table.field(i), key.startsWith(u'+') ? SortDirection::Ascending
                                                                                 : SortDirection::Descending);
    }
    engine(*report).runToEnd();
    QCOMPARE(column(*engine(*report).document(), QStringLiteral("{LOG_ABONADOSFOTOS.NOMBRE_FOTO}")), expected);
}

void TestReportEngine::sortFieldOfAnotherReportIsRefused()
{
    auto report = open();
    auto other = open();
    QVERIFY_THROWS_EXCEPTION(Failure, report->addRecordSortField(other->table(1).field(1), SortDirection::Ascending));
}

void TestReportEngine::formulaTextWrittenIsShown_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("value from the window") << QStringLiteral("'Polideportivo Norte'") << QStringLiteral("Polideportivo Norte");
    QTest::newRow("quote inside, not doubled") << QStringLiteral("'Pabellón O'Donnell'") << QStringLiteral("Pabellón O'Donnell");
    QTest::newRow("joined with a field") << QStringLiteral("\"Motivo: \" & {LOG_ABONADOSFOTOS.MOTIVO}")
                                         << QStringLiteral("Motivo: Abonado no existente");
}

void TestReportEngine::formulaTextWrittenIsShown()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    auto report = open();
    logOn(*report);
    report->setSqlQueryString(narrowedSql(QStringLiteral("123")));
    bool found = false;
    for (int i = 1; i <= report->formulaFieldCount(); ++i)
        if (report->formulaField(i).name() == QLatin1String("F1Subtitulo")) {
            report->formulaField(i).setText(text);
            QCOMPARE(report->formulaField(i).text(), text);
            found = true;
        }
    QVERIFY(found);
    engine(*report).runToEnd();
    QVERIFY(engine(*report).document()->pageText(0).split(u'\n').contains(shown));
}

void TestReportEngine::selectionFormulaIsAppliedOrRefused_data()
{
    QTest::addColumn<QString>("formula");
    QTest::addColumn<QStringList>("files");  // empty: refused
    QTest::newRow("empty: every row")
        << QString()
        << QStringLiteral("3.jpg 4.jpg 8.png 9.jpg 11.jpg 1.jpg 2.jpg 2.jpg 5.jpg 007.jpg 7.jpg 7.jpg 10.jpg").split(u' ');
    QTest::newRow("the run's condition") << QStringLiteral("{LOG_ABONADOSFOTOS.USUARIO}= '456'")
                                         << QStringList{QStringLiteral("1.jpg"), QStringLiteral("2.jpg")};
    QTest::newRow("number, AND, lower case")
        << QStringLiteral("({log_abonadosfotos.usuario} = 123) and {LOG_ABONADOSFOTOS.SUBIO} = \"S\"")
        << QStringList{QStringLiteral("5.jpg"), QStringLiteral("7.jpg")};
    QTest::newRow("not equal") << QStringLiteral("{LOG_ABONADOSFOTOS.MOTIVO} <> 'Foto Insertada' AND {LOG_ABONADOSFOTOS.USUARIO} = '123'")
                               << QStringList{QStringLiteral("3.jpg"), QStringLiteral("9.jpg"), QStringLiteral("5.jpg")};
    QTest::newRow("OR is refused") << QStringLiteral("{LOG_ABONADOSFOTOS.USUARIO} = '1' OR {LOG_ABONADOSFOTOS.USUARIO} = '2'")
                                   << QStringList{};
    QTest::newRow("date range is refused") << QStringLiteral("{LOG_ABONADOSFOTOS.USUARIO} IN Date(2017,1,1) TO Date(2017,2,1)")
                                           << QStringList{};
    QTest::newRow("field the query lacks is refused") << QStringLiteral("{OTRA.CAMPO} = 'x'") << QStringList{};
}

void TestReportEngine::selectionFormulaIsAppliedOrRefused()
{
    QFETCH(QString, formula);
    QFETCH(QStringList, files);
    auto report = open();
    logOn(*report);
    report->setRecordSelectionFormula(formula);
    QCOMPARE(report->recordSelectionFormula(), formula);
    if (files.isEmpty()) {
        QVERIFY_THROWS_EXCEPTION(Failure, engine(*report).runToEnd());
        QCOMPARE(report->printingStatusProgress(), int(PrintingFailed));
        return;
    }
    engine(*report).runToEnd();
    QCOMPARE(column(*engine(*report).document(), QStringLiteral("{LOG_ABONADOSFOTOS.NOMBRE_FOTO}")), files);
}

void TestReportEngine::logOnIsRequiredAndSharedByTheTables_data()
{
    QTest::addColumn<QStringList>("servers");  // per table; empty: no logon set
    QTest::addColumn<bool>("runs");
    const QString db = QStringLiteral("sqlite:") + m_dbPath;
    QTest::newRow("none") << QStringList{QString(), QString()} << false;
    QTest::newRow("one table, shared by the other") << QStringList{QString(), db} << true;
    QTest::newRow("both alike") << QStringList{db, db} << true;
    QTest::newRow("two different") << QStringList{db, QStringLiteral("sqlite:") + m_dir.filePath(QStringLiteral("other.db"))}
                                   << false;
}

void TestReportEngine::logOnIsRequiredAndSharedByTheTables()
{
    QFETCH(QStringList, servers);
    QFETCH(bool, runs);
    const QString path = m_dir.filePath(QStringLiteral("two_tables.rpt"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("<report><database><table name='LOG_ABONADOSFOTOS'><field name='USUARIO'/></table>"
               "<table name='OTRA'><field name='X'/></table></database>"
               "<sql>SELECT USUARIO FROM LOG_ABONADOSFOTOS</sql><detail height='5'/></report>");
    file.close();
    auto report = defaultReportApplicationFactory()()->openReport(path, 1);
    QCOMPARE(report->tableCount(), 2);
    for (int i = 0; i < 2; ++i)
        if (!servers.at(i).isEmpty())
            report->table(i + 1).setLogOnInfo(servers.at(i), QString(), QStringLiteral("u"), QStringLiteral("p"));
    if (runs) {
        engine(*report).runToEnd();
        QCOMPARE(engine(*report).document()->rowCount(), 13);  // every run's rows
        return;
    }
    try {
        engine(*report).runToEnd();
        QFAIL("ran");
    } catch (const Failure& failure) {
        QCOMPARE(failure.number, ReportNoLogOnInfo);
    }
}

void TestReportEngine::badLogOnOrQueryFailsWithTheDatabaseError_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("sql");
    QTest::newRow("missing database file") << QStringLiteral("sqlite:/nonexistent/folder/x.db") << QString();
    QTest::newRow("unknown table") << QString() << QStringLiteral("SELECT X FROM NO_SUCH_TABLE");
    QTest::newRow("syntax") << QString() << QStringLiteral("SELEC");
}

void TestReportEngine::badLogOnOrQueryFailsWithTheDatabaseError()
{
    QFETCH(QString, server);
    QFETCH(QString, sql);
    auto report = open();
    logOn(*report);
    if (!server.isEmpty())
        report->table(1).setLogOnInfo(server, QString(), QStringLiteral("u"), QStringLiteral("p"));
    if (!sql.isEmpty())
        report->setSqlQueryString(sql);
    try {
        engine(*report).runToEnd();
        QFAIL("ran");
    } catch (const Failure& failure) {
        QVERIFY(failure.number != 0);
        QVERIFY(!failure.description.isEmpty());
    }
    QCOMPARE(report->printingStatusProgress(), int(PrintingFailed));
    QCOMPARE(QSqlDatabase::connectionNames(), QStringList());
}

void TestReportEngine::connectionIsRemovedAfterTheRun()
{
    auto first = open();
    auto second = open();
    logOn(*first);
    logOn(*second);
    // Two reports running side by side use connections of their own.
    first->setSqlQueryString(narrowedSql(QStringLiteral("123")));
    second->setSqlQueryString(narrowedSql(QStringLiteral("456")));
    engine(*first).startRun();
    engine(*second).startRun();
    while (!engine(*first).runStep(1) || !engine(*second).runStep(1)) {
    }
    QCOMPARE(engine(*first).document()->rowCount(), 4);
    QCOMPARE(engine(*second).document()->rowCount(), 2);
    QCOMPARE(QSqlDatabase::connectionNames(), QStringList());
}

void TestReportEngine::queryOfAServerThatStopsAnsweringEndsAfterTheCommandTimeOut_data()
{
    QTest::addColumn<QString>("variable");  // names the test server's data source
    QTest::newRow("postgresql") << QStringLiteral("RETRATIX_PG_DATASOURCE");
    QTest::newRow("odbc") << QStringLiteral("RETRATIX_ODBC_DATASOURCE");
}

void TestReportEngine::queryOfAServerThatStopsAnsweringEndsAfterTheCommandTimeOut()
{
    QFETCH(QString, variable);
    const QString server = qEnvironmentVariable(qPrintable(variable));
    if (server.isEmpty())
        QSKIP(qPrintable(variable + QStringLiteral(" not set (tests/postgres/cluster.sh)")));
#ifdef Q_OS_WIN
    // Windows lists no process's sockets, so the watchdog cannot cut an ODBC driver's connection.
    if (server.startsWith(QLatin1String("odbc:")))
        QSKIP("on Windows an ODBC driver's calls end by the driver's own time-outs");
#endif
    auto report = open();
    for (int i = 1; i <= report->tableCount(); ++i)
        report->table(i).setLogOnInfo(server, QString(), QStringLiteral("regusr1"), QStringLiteral("3k9tWqRm"));
    // A server that takes longer than the command time-out (30 s) to answer the report's query.
    report->setSqlQueryString(QStringLiteral("SELECT '1' AS USUARIO FROM pg_sleep(40)"));
    QElapsedTimer clock;
    clock.start();
    try {
        engine(*report).runToEnd();
        QFAIL("ran to its end");
    } catch (const Failure& failure) {
        QVERIFY2(failure.description.contains(QStringLiteral("no respondió en 30 segundos")), qPrintable(failure.description));
    }
#ifndef Q_OS_WIN
    // Under Wine a socket shut down does not wake the call waiting on it: the failure comes when
    // the server answers.
    QVERIFY2(clock.elapsed() < 38'000, qPrintable(QString::number(clock.elapsed())));
#endif
    QCOMPARE(report->printingStatusProgress(), int(PrintingFailed));
    QCOMPARE(QSqlDatabase::connectionNames(), QStringList());
}

void TestReportEngine::firstPagesAreReadyBeforeTheRunEnds()
{
    // Unsorted rows are laid out as they are read: a page is complete long before the last row.
    // (The shipped report sorts its rows, so all are read first: the test runs it without its sort.)
    QFile shipped(m_reportPath);
    QVERIFY(shipped.open(QIODevice::ReadOnly));
    const QString unsortedPath = m_dir.filePath(QStringLiteral("unsorted.rpt"));
    QFile unsorted(unsortedPath);
    QVERIFY(unsorted.open(QIODevice::WriteOnly));
    unsorted.write(QString::fromUtf8(shipped.readAll()).remove(QRegularExpression(QStringLiteral("<sort>.*</sort>"),
                                                                                  QRegularExpression::DotMatchesEverythingOption))
                       .toUtf8());
    unsorted.close();
    auto report = defaultReportApplicationFactory()()->openReport(unsortedPath, 1);
    logOn(*report);
    report->setSqlQueryString(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 5000) "
                                             "SELECT '7' AS USUARIO, i || '.jpg' AS NOMBRE_FOTO FROM n"));
    EngineReport& run = engine(*report);
    run.startRun();
    while (run.document() == nullptr || run.document()->completedPageCount() == 0)
        QVERIFY(!run.runStep(0));
    QCOMPARE(report->printingStatusProgress(), int(PrintingInProgress));
    QVERIFY(run.document()->pageText(0).contains(QStringLiteral("Página 1 de …")));
    while (!run.runStep(0)) {
    }
    QCOMPARE(report->printingStatusProgress(), int(PrintingCompleted));
    QCOMPARE(run.document()->rowCount(), 5000);
    QVERIFY(run.document()->pageText(0).contains(QStringLiteral("Página 1 de %1").arg(run.document()->pageCount())));
}

void TestReportEngine::runNumberShowsWithoutRows_data()
{
    QTest::addColumn<QString>("sql");        // empty: the report's own
    QTest::addColumn<QString>("selection");  // record selection formula
    QTest::addColumn<QString>("caption");    // the header's run line; empty: none
    QTest::addColumn<int>("rows");

    const QString query = QStringLiteral("SELECT USUARIO, NOMBRE_FOTO FROM LOG_ABONADOSFOTOS WHERE ");
    const QString ejecucion = QStringLiteral("Ejecución nº %1");
    QTest::newRow("the report window's condition, a run without rows")
        << narrowedSql(QStringLiteral("999")) << QString() << ejecucion.arg(999) << 0;
    QTest::newRow("rows: the first row's value") << narrowedSql(QStringLiteral("123")) << QString() << ejecucion.arg(123) << 4;
    QTest::newRow("selection formula with a number")
        << QString() << QStringLiteral("{LOG_ABONADOSFOTOS.USUARIO} = 999") << ejecucion.arg(999) << 0;
    QTest::newRow("bare column in the query") << query + QStringLiteral("'999' = USUARIO") << QString() << ejecucion.arg(999) << 0;
    QTest::newRow("query and selection agree")
        << narrowedSql(QStringLiteral("999")) << QStringLiteral("{LOG_ABONADOSFOTOS.USUARIO} = 999") << ejecucion.arg(999) << 0;
    QTest::newRow("query and selection differ: none")
        << narrowedSql(QStringLiteral("998")) << QStringLiteral("{LOG_ABONADOSFOTOS.USUARIO} = '999'") << QString() << 0;
    QTest::newRow("either of two values: none")
        << query + QStringLiteral("USUARIO = '998' OR USUARIO = '999'") << QString() << QString() << 0;
    QTest::newRow("no condition: none") << query + QStringLiteral("USUARIO > '999'") << QString() << QString() << 0;
}

void TestReportEngine::runNumberShowsWithoutRows()
{
    QFETCH(QString, sql);
    QFETCH(QString, selection);
    QFETCH(QString, caption);
    QFETCH(int, rows);
    auto report = open();
    logOn(*report);
    if (!sql.isEmpty())
        report->setSqlQueryString(sql);
    report->setRecordSelectionFormula(selection);
    engine(*report).runToEnd();
    const ReportDocument& doc = *engine(*report).document();
    QCOMPARE(doc.rowCount(), rows);
    const QStringList lines = doc.pageText(0).split(u'\n');
    QStringList captions;
    for (const QString& line : lines)
        if (line.startsWith(QStringLiteral("Ejecución")))
            captions.append(line);
    QCOMPARE(captions, caption.isEmpty() ? QStringList() : QStringList{caption});
    QCOMPARE(lines.contains(QStringLiteral("No hay fotos registradas en esta ejecución.")), rows == 0);
}

void TestReportEngine::pdfExportHoldsTheRows()
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        QSKIP("pdftotext (poppler-utils) is not installed");
    auto report = open();
    logOn(*report);
    report->setSqlQueryString(narrowedSql(QStringLiteral("123")));
    const QString pdf = m_dir.filePath(QStringLiteral("informe.pdf"));
    exportReportToPdf(*report, pdf);
    QCOMPARE(report->printingStatusProgress(), int(PrintingCompleted));

    QProcess process;
    process.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 0);
    const QString text = QString::fromUtf8(process.readAllStandardOutput());
    for (const QString& expected :
         {QStringLiteral("Informe Fotos"), QStringLiteral("Ejecución nº"), QStringLiteral("123"), QStringLiteral("3.jpg"),
          QStringLiteral("9.jpg"), QStringLiteral("Tamaño no permitido"), QStringLiteral("Abonado no existente"),
          QStringLiteral("Total de fotos"), QStringLiteral("Página 1 de 1")})
        QVERIFY2(text.contains(expected), qPrintable(expected + QStringLiteral(" not in:\n") + text));
    QVERIFY(!text.contains(QStringLiteral("1.jpg")));

    // Nowhere to write: a Failure, not a silent nothing (raised before any page is painted).
    QVERIFY_THROWS_EXCEPTION(Failure, exportReportToPdf(*report, QStringLiteral("/nonexistent/folder/x.pdf")));
}

QTEST_MAIN(TestReportEngine)
#include "tst_report_engine.moc"
