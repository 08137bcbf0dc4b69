// The viewer on a SQLite database, offscreen: it returns at once, shows the first page before the
// last is laid out, becomes not busy, and the report's progress reaches 3.
#include "reporting/engine_report.h"
#include "reporting/report_viewer.h"
#include "reporting_test_support.h"

#include <QLineEdit>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QtTest>

using namespace reporting;

class TestReportViewer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void viewerShowsTheReportAndReachesCompletion_data();
    void viewerShowsTheReportAndReachesCompletion();
    void largeReportIsShownWholeAndNavigable();
    void searchGoesToThePageWithTheText();
    void failingReportEndsBusyAndFailedStatus();
    void displayOptionsAreStoredAndUnknownOnesRefused_data();
    void displayOptionsAreStoredAndUnknownOnesRefused();
    void reportDestroyedWhileRunningStopsTheViewer();

private:
    std::unique_ptr<Report> open(const QString& run);
    QTemporaryDir m_dir;
    QString m_dbPath;
};

void TestReportViewer::initTestCase()
{
    m_dbPath = m_dir.filePath(QStringLiteral("log.db"));
    // Run 1: three rows; run 2: many, for tens of pages.
    QList<QStringList> rows;
    for (int i = 0; i < 3; ++i)
        rows.append({QStringLiteral("1"), QStringLiteral("%1.jpg").arg(i), QStringLiteral("S"), QStringLiteral("Foto Insertada")});
    for (int i = 0; i < 20000; ++i)
        rows.append({QStringLiteral("2"), QStringLiteral("%1.jpg").arg(100000 + i), QStringLiteral("S"),
                     QStringLiteral("Foto Insertada")});
    const QString error = reportingtest::createLogDatabase(m_dbPath, rows);
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

std::unique_ptr<Report> TestReportViewer::open(const QString& run)
{
    auto report = defaultReportApplicationFactory()()->openReport(
        reportingtest::shippedReportFolder() + QStringLiteral("ListadoFotos.rpt"), 1);
    report->prepare();
    report->table(1).setLogOnInfo(QStringLiteral("sqlite:") + m_dbPath, QString(), QStringLiteral("u"), QStringLiteral("p"));
    report->setSqlQueryString(reportingtest::narrowedSql(run));
    return report;
}

void TestReportViewer::viewerShowsTheReportAndReachesCompletion_data()
{
    QTest::addColumn<bool>("sorted");
    QTest::newRow("the report's own order") << false;
    QTest::newRow("sorted: all rows read first") << true;
}

void TestReportViewer::viewerShowsTheReportAndReachesCompletion()
{
    QFETCH(bool, sorted);
    auto report = open(QStringLiteral("1"));
    if (sorted)
        report->addRecordSortField(report->table(1).field(2), SortDirection::Descending);
    ReportViewer viewer;
    viewer.resize(800, 600);
    viewer.show();
    viewer.setReportSource(report.get());
    viewer.viewReport();
    QVERIFY(viewer.isBusy());  // returned before the report is ready
    QTRY_VERIFY(!viewer.isBusy());
    QTRY_COMPARE(report->printingStatusProgress(), int(PrintingCompleted));
    QCOMPARE(viewer.currentPage(), 1);
    QCOMPARE(viewer.pageCount(), 1);
    const QString first = displayText(static_cast<EngineReport&>(*report).document()->value(0, QStringLiteral("{LOG_ABONADOSFOTOS.NOMBRE_FOTO}")));
    QCOMPARE(first, sorted ? QStringLiteral("2.jpg") : QStringLiteral("0.jpg"));

    // Viewing again runs the report again.
    viewer.viewReport();
    QCOMPARE(report->printingStatusProgress(), int(PrintingInProgress));
    QTRY_COMPARE(report->printingStatusProgress(), int(PrintingCompleted));
}

void TestReportViewer::largeReportIsShownWholeAndNavigable()
{
    auto report = open(QStringLiteral("2"));
    ReportViewer viewer;
    viewer.show();
    viewer.setReportSource(report.get());
    viewer.viewReport();
    QTRY_VERIFY(!viewer.isBusy());
    QCOMPARE(viewer.currentPage(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(report->printingStatusProgress(), int(PrintingCompleted), 60000);
    QVERIFY(viewer.pageCount() > 100);
    viewer.goToPage(viewer.pageCount());
    QCOMPARE(viewer.currentPage(), viewer.pageCount());
    viewer.goToPage(viewer.pageCount() + 1);  // past the end: stays
    QCOMPARE(viewer.currentPage(), viewer.pageCount());
}

void TestReportViewer::searchGoesToThePageWithTheText()
{
    auto report = open(QStringLiteral("2"));
    ReportViewer viewer;
    viewer.show();
    viewer.setReportSource(report.get());
    viewer.viewReport();
    QTRY_COMPARE_WITH_TIMEOUT(report->printingStatusProgress(), int(PrintingCompleted), 60000);
    auto* search = viewer.findChild<QLineEdit*>();
    QVERIFY(search);
    const auto& doc = *static_cast<EngineReport&>(*report).document();
    for (const QString& text : {QStringLiteral("100500.jpg"), QStringLiteral("119999.JPG")}) {
        search->setText(text);
        QTest::keyClick(search, Qt::Key_Return);
        QVERIFY(viewer.currentPage() > 1);
        QVERIFY(doc.pageText(viewer.currentPage() - 1).contains(text, Qt::CaseInsensitive));
    }
    search->setText(QStringLiteral("no such photo"));
    const int before = viewer.currentPage();
    QTest::keyClick(search, Qt::Key_Return);
    QCOMPARE(viewer.currentPage(), before);
}

void TestReportViewer::failingReportEndsBusyAndFailedStatus()
{
    auto report = open(QStringLiteral("1"));
    report->setSqlQueryString(QStringLiteral("SELECT * FROM NO_SUCH_TABLE"));
    ReportViewer viewer;
    viewer.setReportSource(report.get());
    viewer.viewReport();
    QTRY_VERIFY(!viewer.isBusy());
    QCOMPARE(report->printingStatusProgress(), int(PrintingFailed));
    QCOMPARE(viewer.currentPage(), 0);
}

void TestReportViewer::displayOptionsAreStoredAndUnknownOnesRefused_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<bool>("known");
    for (int id : {251, 253, 258, 259, 263, 342, 365, 367})
        QTest::addRow("%d", id) << id << true;
    QTest::newRow("250 is the report source, not an option") << 250 << false;
    QTest::newRow("unknown") << 999 << false;
}

void TestReportViewer::displayOptionsAreStoredAndUnknownOnesRefused()
{
    QFETCH(int, id);
    QFETCH(bool, known);
    ReportViewer viewer;
    if (!known) {
        QVERIFY_THROWS_EXCEPTION(Failure, viewer.setDisplayOption(id, true));
        return;
    }
    for (bool value : {false, true, false}) {
        viewer.setDisplayOption(id, value);
        QCOMPARE(viewer.displayOption(id), value);
    }
}

void TestReportViewer::reportDestroyedWhileRunningStopsTheViewer()
{
    auto report = open(QStringLiteral("2"));
    ReportViewer viewer;
    viewer.setReportSource(report.get());
    viewer.viewReport();
    report.reset();
    QTRY_VERIFY(!viewer.isBusy());
    QCOMPARE(QSqlDatabase::connectionNames(), QStringList());
}

QTEST_MAIN(TestReportViewer)
#include "tst_report_viewer.moc"
