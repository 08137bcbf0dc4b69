// The upload log as CSV: the bytes a Spanish-locale spreadsheet opens as they are, read back with
// the test's own parser.
#include "reporting/log_csv.h"
#include "reporting_test_support.h"

#include <QtTest>

using reporting::LogCsvRow;
using reportingtest::s;

class TestReportLogCsv : public QObject {
    Q_OBJECT

private slots:
    void rowsAreWrittenForASpanishSpreadsheet_data();
    void rowsAreWrittenForASpanishSpreadsheet();
};

void TestReportLogCsv::rowsAreWrittenForASpanishSpreadsheet_data()
{
    // One row per case: file, stored, reason; the line written for it (without its CR LF) and its
    // fields as read back.
    QTest::addColumn<QStringList>("row");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QStringList>("read");

    QTest::newRow("plain fields stay unquoted")
        << QStringList{s("7.jpg"), s("S"), s("Foto Insertada")} << QByteArray("7.jpg;S;Foto Insertada")
        << QStringList{s("7.jpg"), s("S"), s("Foto Insertada")};
    QTest::newRow("accents in UTF-8")
        << QStringList{s("12.jpg"), s("N"), s("Tamaño no permitido")} << QByteArray("12.jpg;N;Tama\xC3\xB1o no permitido")
        << QStringList{s("12.jpg"), s("N"), s("Tamaño no permitido")};
    QTest::newRow("semicolon quoted") << QStringList{s("a;b.jpg"), s("S"), s("x")} << QByteArray("\"a;b.jpg\";S;x")
                                      << QStringList{s("a;b.jpg"), s("S"), s("x")};
    QTest::newRow("quote doubled") << QStringList{s("a\"b\".jpg"), s("S"), s("x")}
                                   << QByteArray("\"a\"\"b\"\".jpg\";S;x") << QStringList{s("a\"b\".jpg"), s("S"), s("x")};
    QTest::newRow("line feed and carriage return quoted")
        << QStringList{s("a\nb.jpg"), s("S"), s("x\r\ny")} << QByteArray("\"a\nb.jpg\";S;\"x\r\ny\"")
        << QStringList{s("a\nb.jpg"), s("S"), s("x\r\ny")};
    QTest::newRow("empty fields") << QStringList{s("5.jpg"), QString(), QString()} << QByteArray("5.jpg;;")
                                  << QStringList{s("5.jpg"), QString(), QString()};
    QTest::newRow("formula starts made text")
        << QStringList{s("=1+2.jpg"), s("+34"), s("-HOY()")} << QByteArray("'=1+2.jpg;'+34;'-HOY()")
        << QStringList{s("'=1+2.jpg"), s("'+34"), s("'-HOY()")};
    QTest::newRow("at sign, tab and carriage return first")
        << QStringList{s("@SUMA(A1).jpg"), s("\t=1"), s("\r=1")} << QByteArray("'@SUMA(A1).jpg;'\t=1;\"'\r=1\"")
        << QStringList{s("'@SUMA(A1).jpg"), s("'\t=1"), s("'\r=1")};
    QTest::newRow("formula start with a semicolon: made text, then quoted")
        << QStringList{s("=A1;B1"), s("S"), s("x")} << QByteArray("\"'=A1;B1\";S;x")
        << QStringList{s("'=A1;B1"), s("S"), s("x")};
    QTest::newRow("signs inside stay") << QStringList{s("1=2-3.jpg"), s("S"), s("a@b")}
                                       << QByteArray("1=2-3.jpg;S;a@b") << QStringList{s("1=2-3.jpg"), s("S"), s("a@b")};
}

void TestReportLogCsv::rowsAreWrittenForASpanishSpreadsheet()
{
    QFETCH(QStringList, row);
    QFETCH(QByteArray, line);
    QFETCH(QStringList, read);
    const QByteArray header = "\xEF\xBB\xBF" "Archivo;Subida;Motivo\r\n";
    const QList<LogCsvRow> rows{{row.at(0), row.at(1), row.at(2)}, {s("2.jpg"), s("S"), s("Foto Actualizada")}};

    QCOMPARE(reporting::logCsv({}), header);
    const QByteArray csv = reporting::logCsv(rows);
    QCOMPARE(csv, header + line + "\r\n" + "2.jpg;S;Foto Actualizada\r\n");
    const auto records = reportingtest::parseCsv(csv);
    QVERIFY(records);
    QCOMPARE(*records, (QList<QStringList>{{s("Archivo"), s("Subida"), s("Motivo")}, read,
                                          {s("2.jpg"), s("S"), s("Foto Actualizada")}}));
}

QTEST_GUILESS_MAIN(TestReportLogCsv)
#include "tst_report_log_csv.moc"
