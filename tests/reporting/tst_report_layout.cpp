// Report definitions, formulas and pagination, without a database.
#include "reporting/formula.h"
#include "reporting/natural_order.h"
#include "reporting/query_conditions.h"
#include "reporting/report_definition.h"
#include "reporting/report_document.h"
#include "reporting/report_engine.h"

#include <QImage>
#include <QPainter>
#include <QtTest>

using namespace reporting;

namespace {

struct Fields final : FormulaContext {
    QVariant field(const QString& reference) const override
    {
        if (reference.compare(QStringLiteral("{T.A}"), Qt::CaseInsensitive) == 0)
            return QStringLiteral("abc  ");
        if (reference == QLatin1String("{T.N}"))
            return 5;
        return {};
    }
    QVariant formula(const QString& name) const override
    {
        return name == QLatin1String("X") ? QVariant(QStringLiteral("equis")) : QVariant();
    }
};

// Paper 297 high, margins 10: header 20 and headings 10 from the top, page footer 15 from the
// bottom leave 232 mm, room for 23 detail rows of 10 mm.
QByteArray definitionXml(const QByteArray& footer = QByteArray("<band height='30'><recordCount width='20' height='5'/></band>"),
                         const QByteArray& detailAttributes = QByteArray(), const QByteArray& highlights = QByteArray())
{
    return QByteArray("<report title='T'><page left='10' top='10' right='10' bottom='10'/>"
                      "<database><table name='T'><field name='A'/><field name='G'/></table></database>"
                      "<pageHeader height='20'><field ref='{T.A}' width='50' height='5'/></pageHeader>"
                      "<columnHeadings height='10'><text width='20' height='5'>Columna</text></columnHeadings>"
                      "<detail height='10'")
           + detailAttributes + QByteArray(">") + highlights
           + QByteArray("<field ref='{T.A}' width='50' height='5'/></detail>"
                      "<noRows height='10'><text width='50' height='5'>Nada</text></noRows>"
                      "<reportFooter>")
           + footer
           + QByteArray("</reportFooter>"
                        "<pageFooter height='15'><pageNumber width='50' height='5'/></pageFooter></report>");
}

std::unique_ptr<ReportDocument> documentWith(const ReportDefinition& def, int rows, bool finish = true)
{
    auto doc = std::make_unique<ReportDocument>(def, QStringList{QStringLiteral("{T.A}"), QStringLiteral("{T.G}")},
                                                QList<FormulaDefinition>{}, QDateTime(QDate(2024, 3, 5), QTime(9, 30)));
    for (int i = 0; i < rows; ++i)
        doc->appendRow({QStringLiteral("fila %1").arg(i), i % 3 == 0 ? QStringLiteral("x") : QStringLiteral("y")});
    if (finish)
        doc->finish();
    return doc;
}

QList<BandKind> kinds(const PageLayout& page)
{
    QList<BandKind> out;
    for (const PlacedBand& band : page.bands)
        out.append(band.kind);
    return out;
}

}  // namespace

class TestReportLayout : public QObject {
    Q_OBJECT

private slots:
    void formulaEvaluates_data();
    void formulaEvaluates();
    void malformedFormulaFails_data();
    void malformedFormulaFails();
    void formulaOfUnknownOrCircularReferenceFails_data();
    void formulaOfUnknownOrCircularReferenceFails();
    void naturalOrderReadsNumbersByValue_data();
    void naturalOrderReadsNumbersByValue();
    void queryFixesColumnsOnlyThroughTopLevelEqualities_data();
    void queryFixesColumnsOnlyThroughTopLevelEqualities();

    void rowsFillPagesAboveThePageFooter_data();
    void rowsFillPagesAboveThePageFooter();
    void reportFooterGoesOnAPageOfItsOwnWhenNoRoomIsLeft();
    void countSectionListsDeclaredValuesThenOthers();
    void reportWithoutRowsShowsTheNoRowsBand();
    void pageNumbersCountAllPagesOnceFinished();
    void pagesInProgressAreNotShownAsComplete();
    void pageIsPaintedAtTheDeviceResolution();
    void highlightedRowsStandOut();
};

void TestReportLayout::formulaEvaluates_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("single quotes") << QStringLiteral("'hola'") << QVariant(QStringLiteral("hola"));
    QTest::newRow("double quotes") << QStringLiteral("\"hola\"") << QVariant(QStringLiteral("hola"));
    QTest::newRow("doubled quote") << QStringLiteral("'it''s'") << QVariant(QStringLiteral("it's"));
    QTest::newRow("empty quotes") << QStringLiteral("''") << QVariant(QString());
    QTest::newRow("empty text") << QStringLiteral("   ") << QVariant(QString());
    QTest::newRow("field, trailing blanks cut") << QStringLiteral("'[' + {t.a} + ']'") << QVariant(QStringLiteral("[abc]"));
    QTest::newRow("ampersand joins numbers") << QStringLiteral("{T.N} & 1") << QVariant(QStringLiteral("51"));
    QTest::newRow("plus adds numbers") << QStringLiteral("{T.N} + 1") << QVariant(6.0);
    QTest::newRow("number joined to text") << QStringLiteral("'n=' + {T.N}") << QVariant(QStringLiteral("n=5"));
    QTest::newRow("other formula") << QStringLiteral("{@X} & '!'") << QVariant(QStringLiteral("equis!"));
    QTest::newRow("parentheses") << QStringLiteral("'a' & ('b' & 'c')") << QVariant(QStringLiteral("abc"));
    QTest::newRow("field without value: no value") << QStringLiteral("'n=' + {T.NONE} + 'x'") << QVariant();
    QTest::newRow("unquoted quote inside a quoted value") << QStringLiteral("'O'Brien'") << QVariant(QStringLiteral("O'Brien"));
}

void TestReportLayout::formulaEvaluates()
{
    QFETCH(QString, text);
    QFETCH(QVariant, expected);
    const QVariant value = Formula::parse(text).evaluate(Fields());
    QCOMPARE(displayText(value), displayText(expected));
    QCOMPARE(value.metaType(), expected.metaType());
}

void TestReportLayout::malformedFormulaFails_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("unclosed quote") << QStringLiteral("'abc");
    QTest::newRow("unclosed brace") << QStringLiteral("{T.A");
    QTest::newRow("no table") << QStringLiteral("{A}");
    QTest::newRow("leading operator") << QStringLiteral("+ 'a'");
    QTest::newRow("two terms without operator") << QStringLiteral("'a' {T.A}");
    QTest::newRow("function") << QStringLiteral("ToText({T.N})");
    QTest::newRow("unbalanced") << QStringLiteral("('a'");
}

void TestReportLayout::malformedFormulaFails()
{
    QFETCH(QString, text);
    try {
        Formula::parse(text);
        QFAIL("parsed");
    } catch (const Failure& failure) {
        QCOMPARE(failure.number, ReportFormulaError);
    }
}

void TestReportLayout::formulaOfUnknownOrCircularReferenceFails_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::newRow("unknown field") << QStringLiteral("{T.NOPE}") << QStringLiteral("''");
    QTest::newRow("unknown formula") << QStringLiteral("{@Nope}") << QStringLiteral("''");
    QTest::newRow("itself") << QStringLiteral("{@F}") << QStringLiteral("''");
    QTest::newRow("circle of two") << QStringLiteral("{@G}") << QStringLiteral("{@F}");
}

void TestReportLayout::formulaOfUnknownOrCircularReferenceFails()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    const ReportDefinition def = parseReportDefinition(definitionXml(), QStringLiteral("test"));
    try {
        ReportDocument doc(def, {QStringLiteral("{T.A}")},
                           {{QStringLiteral("F"), first}, {QStringLiteral("G"), second}}, QDateTime::currentDateTime());
        QFAIL("accepted");
    } catch (const Failure& failure) {
        QCOMPARE(failure.number, ReportFormulaError);
    }
}

void TestReportLayout::naturalOrderReadsNumbersByValue_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<int>("order");  // of first against second; the other way round is the opposite

    QTest::newRow("2 before 10") << QStringLiteral("2.jpg") << QStringLiteral("10.jpg") << -1;
    QTest::newRow("9 before 10") << QStringLiteral("10.jpg") << QStringLiteral("9.jpg") << 1;
    QTest::newRow("007 beside 7, first by its codes") << QStringLiteral("007.jpg") << QStringLiteral("7.jpg") << -1;
    QTest::newRow("007 before 8") << QStringLiteral("007.jpg") << QStringLiteral("8.jpg") << -1;
    QTest::newRow("equal texts tie") << QStringLiteral("5.jpg") << QStringLiteral("5.jpg") << 0;
    QTest::newRow("longer than any integer")
        << QStringLiteral("123456789012345678901234567890.jpg") << QStringLiteral("99999999999999999999999999999.jpg") << 1;
    QTest::newRow("zeros alike, then the codes") << QStringLiteral("00.jpg") << QStringLiteral("0.jpg") << 1;
    QTest::newRow("number inside a name") << QStringLiteral("foto2b.jpg") << QStringLiteral("foto10a.jpg") << -1;
    QTest::newRow("text decides before the number") << QStringLiteral("abc10") << QStringLiteral("abd2") << -1;
    QTest::newRow("shorter first when alike") << QStringLiteral("12") << QStringLiteral("12.jpg") << -1;
    QTest::newRow("other extension after the number") << QStringLiteral("8.png") << QStringLiteral("9.jpg") << -1;
}

void TestReportLayout::naturalOrderReadsNumbersByValue()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(int, order);
    const NaturalOrder natural;
    QCOMPARE(natural.compare(first, second), order);
    QCOMPARE(natural.compare(second, first), -order);
}

void TestReportLayout::queryFixesColumnsOnlyThroughTopLevelEqualities_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QStringList>("fixed");  // TABLE.COLUMN=value, texts in quotes

    const QString select = QStringLiteral("SELECT T.A, T.B FROM T T ");
    QTest::newRow("the report window's condition")
        << select + QStringLiteral("WHERE (T.USUARIO= '123' )ORDER BY T.A") << QStringList{QStringLiteral("T.USUARIO='123'")};
    QTest::newRow("quoted names, a number")
        << QStringLiteral("SELECT \"T\".\"A\" FROM \"T\" \"T\" WHERE \"T\".\"N\" = 42") << QStringList{QStringLiteral("T.N=42")};
    QTest::newRow("bare column, literal first, sign") << select + QStringLiteral("WHERE -5 = N")
                                                       << QStringList{QStringLiteral(".N=-5")};
    QTest::newRow("doubled quote and keywords inside a text")
        << select + QStringLiteral("WHERE T.A = 'O''Brien OR x'") << QStringList{QStringLiteral("T.A='O'Brien OR x'")};
    QTest::newRow("ANDs, also in parentheses")
        << select + QStringLiteral("WHERE (T.A = 'x' AND (T.B = 1)) and T.C > 2 AND T.D = 'y'")
        << QStringList{QStringLiteral("T.A='x'"), QStringLiteral("T.B=1"), QStringLiteral("T.D='y'")};
    QTest::newRow("OR: none") << select + QStringLiteral("WHERE T.A = 'x' OR T.B = 1") << QStringList{};
    QTest::newRow("AND then OR: none") << select + QStringLiteral("WHERE T.A = 'x' AND T.B = 1 OR T.C = 2") << QStringList{};
    QTest::newRow("OR in parentheses: the rest")
        << select + QStringLiteral("WHERE T.A = 'x' AND (T.B = 1 OR T.C = 2)") << QStringList{QStringLiteral("T.A='x'")};
    QTest::newRow("NOT: the rest") << select + QStringLiteral("WHERE NOT T.A = 'x' AND T.B = 1")
                                   << QStringList{QStringLiteral("T.B=1")};
    QTest::newRow("NOT around ANDs: none") << select + QStringLiteral("WHERE NOT (T.A = 'x' AND T.B = 1)") << QStringList{};
    QTest::newRow("the AND of BETWEEN joins nothing")
        << select + QStringLiteral("WHERE T.N BETWEEN 1 AND 2 AND T.A = 'x'") << QStringList{QStringLiteral("T.A='x'")};
    QTest::newRow("CASE with AND inside: none")
        << select + QStringLiteral("WHERE CASE WHEN T.A = 'x' AND T.B = 1 THEN 1 END = 1") << QStringList{};
    QTest::newRow("subquery's WHERE is not the query's")
        << select + QStringLiteral("WHERE T.ID IN (SELECT ID FROM U WHERE U.K = 1) AND T.A = 'x'")
        << QStringList{QStringLiteral("T.A='x'")};
    QTest::newRow("HAVING is not WHERE")
        << select + QStringLiteral("WHERE T.A = 'x' GROUP BY T.A HAVING COUNT(*) = 1") << QStringList{QStringLiteral("T.A='x'")};
    QTest::newRow("no WHERE") << QStringLiteral("SELECT * FROM (SELECT * FROM T WHERE T.A = 'x') S") << QStringList{};
    QTest::newRow("UNION: none") << select + QStringLiteral("WHERE T.A = 'x' UNION SELECT A, B FROM U") << QStringList{};
    QTest::newRow("comment: none") << select + QStringLiteral("WHERE T.A = 'x' -- AND T.B = 1") << QStringList{};
    QTest::newRow("unclosed quote: none") << select + QStringLiteral("WHERE T.A = 'x") << QStringList{};
    QTest::newRow("unbalanced parenthesis: none") << select + QStringLiteral("WHERE (T.A = 'x'") << QStringList{};
    QTest::newRow("other comparisons, columns, functions, dates: none")
        << select
               + QStringLiteral("WHERE T.A <> 'x' AND T.B >= 1 AND T.C = U.C AND UPPER(T.D) = 'X' AND T.E = 1e3 AND "
                                "T.F = TO_DATE('2017/1/1', 'YYYY/MM/DD') AND T.G = NULL")
        << QStringList{};
}

void TestReportLayout::queryFixesColumnsOnlyThroughTopLevelEqualities()
{
    QFETCH(QString, sql);
    QFETCH(QStringList, fixed);
    QStringList found;
    for (const FixedColumn& column : fixedColumns(sql))
        found.append(QStringLiteral("%1.%2=%3").arg(column.table, column.column,
                                                    column.value.metaType().id() == QMetaType::QString
                                                        ? QLatin1Char('\'') + column.value.toString() + QLatin1Char('\'')
                                                        : displayText(column.value)));
    QCOMPARE(found, fixed);
}

void TestReportLayout::rowsFillPagesAboveThePageFooter_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<QList<int>>("rowsPerPage");
    QTest::newRow("one row") << 1 << QList<int>{1};
    QTest::newRow("exactly one page") << 23 << QList<int>{23, 0};  // the footer does not fit any more
    QTest::newRow("one more than a page") << 24 << QList<int>{23, 1};
    QTest::newRow("many") << 100 << QList<int>{23, 23, 23, 23, 8};
}

void TestReportLayout::rowsFillPagesAboveThePageFooter()
{
    QFETCH(int, rows);
    QFETCH(QList<int>, rowsPerPage);
    const ReportDefinition def = parseReportDefinition(definitionXml(), QStringLiteral("test"));
    const auto doc = documentWith(def, rows);
    QCOMPARE(doc->pageCount(), rowsPerPage.size());
    int nextRow = 0;
    for (int p = 0; p < doc->pageCount(); ++p) {
        const PageLayout& page = doc->pages().at(p);
        double footerTop = -1;
        int details = 0;
        for (const PlacedBand& band : page.bands) {
            if (band.kind == BandKind::PageFooter)
                footerTop = band.top;
        }
        QCOMPARE(footerTop, 297.0 - 10 - 15);
        for (const PlacedBand& band : page.bands) {
            QVERIFY(band.kind == BandKind::PageFooter || band.bottom() <= footerTop + 1e-9);
            if (band.kind == BandKind::Detail) {
                QCOMPARE(band.row, nextRow++);  // in order, none lost, none twice
                ++details;
            }
        }
        QCOMPARE(details, rowsPerPage.at(p));
        QCOMPARE(kinds(page).count(BandKind::PageHeader), 1);
        QCOMPARE(kinds(page).count(BandKind::ColumnHeadings), details > 0 ? 1 : 0);
    }
    QCOMPARE(nextRow, rows);
    QCOMPARE(kinds(doc->pages().last()).count(BandKind::FooterBand), 1);
}

void TestReportLayout::reportFooterGoesOnAPageOfItsOwnWhenNoRoomIsLeft()
{
    const ReportDefinition def = parseReportDefinition(definitionXml(), QStringLiteral("test"));
    // 21 rows leave 22 mm: the 30 mm footer band moves to page 2, which shows the last row's header.
    const auto doc = documentWith(def, 21);
    QCOMPARE(doc->pageCount(), 2);
    QCOMPARE(kinds(doc->pages().at(1)),
             (QList<BandKind>{BandKind::PageHeader, BandKind::PageFooter, BandKind::FooterBand}));
    QCOMPARE(doc->pages().at(1).bands.first().row, 20);
    QVERIFY(doc->pageText(1).contains(QStringLiteral("fila 20")));
    QVERIFY(doc->pageText(1).contains(QStringLiteral("21")));  // record count
}

void TestReportLayout::countSectionListsDeclaredValuesThenOthers()
{
    const ReportDefinition def = parseReportDefinition(
        definitionXml("<countPerValue field='{T.G}' height='5'><value>z</value><value>y</value>"
                      "<groupValue width='20' height='5'/><groupCount x='20' width='20' height='5'/></countPerValue>"),
        QStringLiteral("test"));
    const auto doc = documentWith(def, 7);  // G: x y y x y y x
    const QList<std::pair<QString, int>> expected = {{QStringLiteral("z"), 0}, {QStringLiteral("y"), 4}, {QStringLiteral("x"), 3}};
    QCOMPARE(doc->countLines(0), expected);
    const QStringList lines = doc->pageText(0).split(u'\n');
    QVERIFY(lines.contains(QStringLiteral("z")));
    QCOMPARE(lines.count(QStringLiteral("4")), 1);
}

void TestReportLayout::reportWithoutRowsShowsTheNoRowsBand()
{
    const ReportDefinition def = parseReportDefinition(definitionXml(), QStringLiteral("test"));
    const auto doc = documentWith(def, 0);
    QCOMPARE(doc->pageCount(), 1);
    QCOMPARE(kinds(doc->pages().at(0)),
             (QList<BandKind>{BandKind::PageHeader, BandKind::PageFooter, BandKind::ColumnHeadings, BandKind::NoRows,
                              BandKind::FooterBand}));
    QVERIFY(doc->pageText(0).contains(QStringLiteral("Nada")));
    // A field the report's conditions fix shows that value where no row is.
    QVERIFY(!doc->pageText(0).contains(QStringLiteral("fijo")));
    doc->setFixedValues({{QStringLiteral("{t.a}"), QStringLiteral("fijo")}});
    QCOMPARE(doc->pageText(0).split(u'\n').first(), QStringLiteral("fijo"));
}

void TestReportLayout::pageNumbersCountAllPagesOnceFinished()
{
    const ReportDefinition def = parseReportDefinition(definitionXml(), QStringLiteral("test"));
    const auto doc = documentWith(def, 60);
    QCOMPARE(doc->pageCount(), 3);
    for (int p = 0; p < 3; ++p)
        QVERIFY2(doc->pageText(p).contains(QStringLiteral("Página %1 de 3").arg(p + 1)), qPrintable(doc->pageText(p)));
}

void TestReportLayout::pagesInProgressAreNotShownAsComplete()
{
    const ReportDefinition def = parseReportDefinition(definitionXml(), QStringLiteral("test"));
    const auto doc = documentWith(def, 30, false);
    QCOMPARE(doc->pageCount(), 2);
    QCOMPARE(doc->completedPageCount(), 1);  // page 2 may still grow
    QVERIFY(doc->pageText(0).contains(QStringLiteral("Página 1 de …")));
    QVERIFY(doc->pageText(0).contains(QStringLiteral("fila 0")));  // the header already shows its first row
    doc->finish();
    QCOMPARE(doc->completedPageCount(), 2);
    QVERIFY(doc->pageText(0).contains(QStringLiteral("Página 1 de 2")));
}

void TestReportLayout::pageIsPaintedAtTheDeviceResolution()
{
    const ReportDefinition def = parseReportDefinition(definitionXml(), QStringLiteral("test"));
    const auto doc = documentWith(def, 3);
    // The same page at two resolutions: the ink scales with the device, it is not cut off or shrunk.
    QList<QRect> inked;
    for (double dpi : {50.0, 100.0}) {
        QImage image(qRound(210 / 25.4 * dpi), qRound(297 / 25.4 * dpi), QImage::Format_RGB32);
        image.setDotsPerMeterX(qRound(dpi / 0.0254));
        image.setDotsPerMeterY(qRound(dpi / 0.0254));
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            doc->paintPage(0, painter);
        }
        int top = image.height(), bottom = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixel(x, y) != qRgb(255, 255, 255)) {
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
        inked.append(QRect(0, top, 1, bottom - top + 1));
    }
    QVERIFY(inked.at(0).top() < inked.at(0).bottom());
    // Ink starts at the top margin (10 mm) and ends in the page footer, at both resolutions.
    QVERIFY(qAbs(inked.at(1).top() - 2 * inked.at(0).top()) <= 3);
    QVERIFY(inked.at(1).bottom() > 100 / 25.4 * (297 - 25));
}

void TestReportLayout::highlightedRowsStandOut()
{
    const ReportDefinition def = parseReportDefinition(
        definitionXml("", " alternateFill='#00ff00'",
                      "<highlight when=\"{T.G} = 'x'\" fill='#ff0000'/><highlight when=\"{T.G} = 'x'\" fill='#0000ff'/>"),
        QStringLiteral("test"));
    const auto doc = documentWith(def, 4);  // G: x y y x
    constexpr double dpi = 50;
    QImage image(qRound(210 / 25.4 * dpi), qRound(297 / 25.4 * dpi), QImage::Format_RGB32);
    image.setDotsPerMeterX(qRound(dpi / 0.0254));
    image.setDotsPerMeterY(qRound(dpi / 0.0254));
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        doc->paintPage(0, painter);
    }
    // Right of the text, in the middle of each row: rows start 40 mm from the top, 10 mm apart.
    QList<QRgb> backgrounds;
    for (int row = 0; row < 4; ++row)
        backgrounds.append(image.pixel(qRound(150 / 25.4 * dpi), qRound((45 + 10 * row) / 25.4 * dpi)));
    // The first matching highlight wins, also over the alternate fill of odd rows.
    QCOMPARE(backgrounds, (QList<QRgb>{qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(255, 255, 255), qRgb(255, 0, 0)}));
}

QTEST_MAIN(TestReportLayout)
#include "tst_report_layout.moc"
