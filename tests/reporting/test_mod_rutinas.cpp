#include "common/failure.h"
#include "common/messages.h"
#include "common/platform.h"
#include "reporting/mod_rutinas.h"
#include "reporting/report_engine.h"
#include "query_only_report.h"
#include "reporting_test_support.h"

#include <QTest>

using reportingtest::QueryOnlyReport;

using reportingtest::failureNumber;
using reportingtest::s;

class TestModRutinas : public QObject {
    Q_OBJECT

private slots:
    void init() { m_messages.shown.clear(); }

    void conditionIsMergedIntoTheQuery_data();
    void conditionIsMergedIntoTheQuery();
    void emptyConditionLeavesFormulaAndQuery();
    void badConditionsFailToTheCaller_data();
    void badConditionsFailToTheCaller();
    void dateRanges_data();
    void dateRanges();
    void dateLiteralsTrapTheirOwnFailures_data();
    void dateLiteralsTrapTheirOwnFailures();
    void replaceAll_data();
    void replaceAll();

private:
    RecordingMessages m_messages;
    ScopedMessages m_scope{m_messages};
};

void TestModRutinas::conditionIsMergedIntoTheQuery_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("condition");
    QTest::addColumn<QString>("expected");

    QTest::newRow("run condition, no WHERE")
        << s(R"(SELECT "LOG_ABONADOSFOTOS"."USUARIO" FROM "LOG_ABONADOSFOTOS" "LOG_ABONADOSFOTOS")")
        << s("{LOG_ABONADOSFOTOS.USUARIO}= '123'")
        << s("SELECT LOG_ABONADOSFOTOS.USUARIO FROM LOG_ABONADOSFOTOS LOG_ABONADOSFOTOS WHERE "
             "(LOG_ABONADOSFOTOS.USUARIO= '123' )");
    QTest::newRow("date range, outer join, ORDER BY")
        << s(R"(SELECT "A"."CODIGO" FROM "ABONADOS" "A", "ABONADOSFOTOS" "F" WHERE "A"."CODIGO"="F"."CODIGO"(+) ORDER BY "A"."CODIGO")")
        << s("{A.FECHA} IN Date(2017,1,1) TO Date(2017,12,31)")
        << s("SELECT A.CODIGO FROM ABONADOS A, ABONADOSFOTOS F WHERE A.CODIGO=F.CODIGO  AND ( A.FECHA  BETWEEN  "
             "TO_DATE('2017/1/1', 'YYYY/MM/DD')  AND  TO_DATE('2017/12/31', 'YYYY/MM/DD')   )ORDER BY A.CODIGO");
    QTest::newRow("date literal")
        << s(R"(SELECT "A"."CODIGO" FROM "ABONADOS" "A")") << s("{A.FECHA} = Date(2017,5,29) AND {A.CODIGO} > 10")
        << s("SELECT A.CODIGO FROM ABONADOS A WHERE (A.FECHA =  TO_DATE('2017/5/29', 'YYYY/MM/DD')   AND A.CODIGO > 10 )");
    QTest::newRow("no WHERE before ORDER BY")
        << s(R"(SELECT "T"."A" FROM "T" "T" ORDER BY "T"."A")") << s("{T.A} > 1")
        << s("SELECT T.A FROM T T  WHERE (T.A > 1 )ORDER BY T.A");
    QTest::newRow("lower-case where and order by are not recognised")
        << s(R"(SELECT "T"."A" FROM "T" "T" where "T"."A" = 2 order by "T"."A")") << s("{T.B} = 'x'")
        << s("SELECT T.A FROM T T where T.A = 2 order by T.A WHERE (T.B = 'x' )");
    QTest::newRow("(+) removed from the WHERE part only")
        << s(R"(SELECT 'a(+)' FROM "T" "T", "U" "U" WHERE "T"."A"="U"."A"(+) AND "T"."B"="U"."B"(+) ORDER BY '(+)')")
        << s("{T.A} = 1")
        << s("SELECT 'a(+)' FROM T T, U U WHERE T.A=U.A AND T.B=U.B  AND ( T.A = 1 )ORDER BY '(+)'");
    QTest::newRow("quotes and braces removed everywhere")
        << s(R"(SELECT "T"."A", '{x}' FROM "T" "T" WHERE "T"."B" <> '"y"' ORDER BY "T"."A", '}')")
        << s(R"({T.C} = '"q"')")
        << s("SELECT T.A, 'x' FROM T T WHERE T.B <> 'y'  AND ( T.C = 'q' )ORDER BY T.A, ''");
    QTest::newRow("two ranges, in order")
        << s(R"(SELECT "T"."A" FROM "T" "T")")
        << s("{T.D} IN Date(2017,1,1) TO Date(2017,1,31) OR {T.E} IN Date(2018,2,1) TO Date(2018,2,28)")
        << s("SELECT T.A FROM T T WHERE (T.D  BETWEEN  TO_DATE('2017/1/1', 'YYYY/MM/DD')  AND  TO_DATE('2017/1/31', "
             "'YYYY/MM/DD')   OR T.E  BETWEEN  TO_DATE('2018/2/1', 'YYYY/MM/DD')  AND  TO_DATE('2018/2/28', "
             "'YYYY/MM/DD')   )");
    QTest::newRow("leading zeros kept")
        << s(R"(SELECT "T"."A" FROM "T" "T")") << s("{T.D} = Date(2017,05,09)")
        << s("SELECT T.A FROM T T WHERE (T.D =  TO_DATE('2017/05/09', 'YYYY/MM/DD')   )");
    QTest::newRow("IN Date without TO Date is a literal")
        << s(R"(SELECT "T"."A" FROM "T" "T")") << s("{T.D} IN Date(2017,1,1)")
        << s("SELECT T.A FROM T T WHERE (T.D IN  TO_DATE('2017/1/1', 'YYYY/MM/DD')   )");
    QTest::newRow("lower-case in/to are literals, not a range")
        << s(R"(SELECT "T"."A" FROM "T" "T")") << s("{T.D} in Date(2017,1,1) to Date(2017,1,2)")
        << s("SELECT T.A FROM T T WHERE (T.D in  TO_DATE('2017/1/1', 'YYYY/MM/DD')   to  TO_DATE('2017/1/2', "
             "'YYYY/MM/DD')   )");
    QTest::newRow("dates in head and tail untouched")
        << s(R"(SELECT ' Date(1,2)' FROM "T" "T" ORDER BY ' Date(3)')") << s("{T.A} = 1")
        << s("SELECT ' Date(1,2)' FROM T T  WHERE (T.A = 1 )ORDER BY ' Date(3)'");
}

void TestModRutinas::conditionIsMergedIntoTheQuery()
{
    QFETCH(QString, sql);
    QFETCH(QString, condition);
    QFETCH(QString, expected);
    QueryOnlyReport report;
    report.sql = sql;
    report.selection = condition;

    ModRutinas::MergeConditionIntoSql(report, condition);

    QCOMPARE(report.sql, expected);
    QCOMPARE(report.selection, QString());
    QCOMPARE(m_messages.shown, QList<ShownMessage>());
}

void TestModRutinas::emptyConditionLeavesFormulaAndQuery()
{
    QueryOnlyReport report;
    report.sql = s(R"(SELECT "T"."A" FROM "T" "T" WHERE "T"."A"="U"."A"(+))");
    report.selection = s("{T.A} = 1");

    ModRutinas::MergeConditionIntoSql(report, QString());

    QCOMPARE(report.sql, s(R"(SELECT "T"."A" FROM "T" "T" WHERE "T"."A"="U"."A"(+))"));
    QCOMPARE(report.selection, s("{T.A} = 1"));
}

void TestModRutinas::badConditionsFailToTheCaller_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("condition");
    QTest::addColumn<int>("number");

    QTest::newRow("range ending before IN Date")
        << s("SELECT 1 FROM T") << s("{T.D} TO Date(2017,1,2) IN Date(2017,1,1)") << RuntimeError::InvalidArgument;
    QTest::newRow("WHERE beyond 32767")
        << s("SELECT '") + QString(32760, QLatin1Char('a')) + s("' FROM T WHERE 1 = 1") << s("{T.A} = 1")
        << RuntimeError::Overflow;
    QTest::newRow("quote beyond 32767 in the tail")
        << s("SELECT 1 FROM T ORDER BY '") + QString(32760, QLatin1Char('a')) + s("\"'") << s("{T.A} = 1")
        << RuntimeError::Overflow;
}

void TestModRutinas::badConditionsFailToTheCaller()
{
    QFETCH(QString, sql);
    QFETCH(QString, condition);
    QFETCH(int, number);
    QueryOnlyReport report;
    report.sql = sql;

    QCOMPARE(failureNumber([&] { ModRutinas::MergeConditionIntoSql(report, condition); }), number);
    QCOMPARE(report.sql, sql);
}

void TestModRutinas::dateRanges_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("number");

    QTest::newRow("no range") << s("A = Date(2017,1,1)") << s("A = Date(2017,1,1)") << 0;
    QTest::newRow("range in the middle")
        << s("(X IN Date(2017,1,1) TO Date(2017,1,2) )")
        << s("(X  BETWEEN  TO_DATE('2017/1/1', 'YYYY/MM/DD')  AND  TO_DATE('2017/1/2', 'YYYY/MM/DD')   )") << 0;
    QTest::newRow("TO Date without ')' overflows") << s("X IN Date(2017,1,1) TO Date(2017,1,2") << QString()
                                                   << RuntimeError::Overflow;
    QTest::newRow("TO Date without ')' overflows, no IN Date") << s("X TO Date(2017") << QString()
                                                               << RuntimeError::Overflow;
    QTest::newRow("')' before IN Date") << s("X TO Date(2017,1,2) IN Date(2017,1,1)") << QString()
                                        << RuntimeError::InvalidArgument;
    QTest::newRow("TO Date before IN Date, ')' after it") << s("X TO Date IN Date(2017,1,1)") << QString()
                                                          << RuntimeError::InvalidArgument;
    // Translated, the date would keep its "TO Date" and be found again for ever.
    QTest::newRow("date without '('") << s("X IN Date(2017,1,1) TO Date)") << QString()
                                      << RuntimeError::InvalidArgument;
}

void TestModRutinas::dateRanges()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QFETCH(int, number);
    const QString before = text;

    QCOMPARE(failureNumber([&] { ModRutinas::TranslateDateRanges(text); }), number);
    QCOMPARE(text, number == 0 ? expected : before);
}

void TestModRutinas::dateLiteralsTrapTheirOwnFailures_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("message");

    QTest::newRow("two literals") << s("A = Date(2017,1,1) OR B= Date(2018,12,31)")
                                  << s("A =  TO_DATE('2017/1/1', 'YYYY/MM/DD')   OR B=  TO_DATE('2018/12/31', "
                                       "'YYYY/MM/DD')  ")
                                  << QString();
    QTest::newRow("Date without a blank before it") << s("A =Date(2017,1,1)") << s("A =Date(2017,1,1)") << QString();
    QTest::newRow("no ')' after Date") << s("A = Date(2017,1,1") << s("A = Date(2017,1,1")
                                       << s("Error 6 en la linea 200");
    QTest::newRow("failure keeps the literals done before")
        << s("A = Date(2017,1,1) OR B = Date(2018")
        << s("A =  TO_DATE('2017/1/1', 'YYYY/MM/DD')   OR B = Date(2018") << s("Error 6 en la linea 200");
    QTest::newRow("no '(' in the literal") << s("A = Date) B") << s("A = Date) B") << s("Error 5 en la linea 500");
    // The ")" at position 32767: the position after it no longer fits.
    const QString longText = QString(32767 - 12, QLatin1Char('x')) + s(" Date(1,2,3)");
    QTest::newRow("literal ending at 32767") << longText << longText << s("Error 6 en la linea 1000");
}

void TestModRutinas::dateLiteralsTrapTheirOwnFailures()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QFETCH(QString, message);

    ModRutinas::TranslateDateLiterals(text);

    QCOMPARE(text, expected);
    QList<ShownMessage> messages;
    if (!message.isEmpty())
        messages.append({message, MessageIcon::None, Application::title()});
    QCOMPARE(m_messages.shown, messages);
}

void TestModRutinas::replaceAll_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("find");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("number");

    QTest::newRow("every occurrence") << s("2017,1,,1") << s(",") << s("/") << s("2017/1//1") << 0;
    QTest::newRow("occurrences formed by a removal go too") << s("a((+)+)b") << s("(+)") << QString() << s("ab") << 0;
    QTest::newRow("occurrence beyond 32767") << QString(32767, QLatin1Char('a')) + s(",") << s(",") << s("/")
                                             << QString() << RuntimeError::Overflow;
    QTest::newRow("empty find") << s("abc") << QString() << s("x") << QString() << RuntimeError::InvalidArgument;
    QTest::newRow("replacement holding find") << s("a,b") << s(",") << s(",,") << QString()
                                              << RuntimeError::InvalidArgument;
}

void TestModRutinas::replaceAll()
{
    QFETCH(QString, text);
    QFETCH(QString, find);
    QFETCH(QString, replacement);
    QFETCH(QString, expected);
    QFETCH(int, number);

    QCOMPARE(failureNumber([&] { ModRutinas::ReplaceAll(text, find, replacement); }), number);
    if (number == 0)
        QCOMPARE(text, expected);
}

QTEST_GUILESS_MAIN(TestModRutinas)
#include "test_mod_rutinas.moc"
