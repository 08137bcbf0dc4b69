#include "common/failure.h"
#include "common/numbers.h"

#include <QTest>

namespace {

QLocale localeNamed(const QString& name)
{
    return name == QLatin1String("es") ? QLocale(QLocale::Spanish, QLocale::Spain) : QLocale::c();
}

}  // namespace

class TestNumbers final : public QObject {
    Q_OBJECT

private slots:
    void spanishLocaleSeparators()
    {
        // The rows below rely on these; a changed locale database would make them meaningless.
        const QLocale spanish = localeNamed(QStringLiteral("es"));
        QCOMPARE(spanish.decimalPoint(), QStringLiteral(","));
        QCOMPARE(spanish.groupSeparator(), QStringLiteral("."));
    }

    void toInt16_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<int>("expected");
        QTest::addColumn<int>("failure");  // 0: converts to expected

        const int ok = 0;
        const int overflow = RuntimeError::Overflow;
        const int mismatch = RuntimeError::TypeMismatch;
        const QString c = QStringLiteral("c");
        const QString es = QStringLiteral("es");
        QTest::newRow("whole number") << QStringLiteral("42") << c << 42 << ok;
        QTest::newRow("half rounds up to even") << QStringLiteral("1.5") << c << 2 << ok;
        QTest::newRow("half rounds down to even") << QStringLiteral("2.5") << c << 2 << ok;
        QTest::newRow("negative half to even") << QStringLiteral("-2.5") << c << -2 << ok;
        QTest::newRow("odd half rounds away") << QStringLiteral("3.5") << c << 4 << ok;
        QTest::newRow("just above half") << QStringLiteral("2.500001") << c << 3 << ok;
        QTest::newRow("just below half") << QStringLiteral("2.4999") << c << 2 << ok;
        QTest::newRow("fraction only") << QStringLiteral(".7") << c << 1 << ok;
        QTest::newRow("blanks around") << QStringLiteral("  17  ") << c << 17 << ok;
        QTest::newRow("tabs around") << QStringLiteral("\t17\t") << c << 17 << ok;
        QTest::newRow("plus sign") << QStringLiteral("+7") << c << 7 << ok;
        QTest::newRow("group separators") << QStringLiteral("12,345") << c << 12345 << ok;
        QTest::newRow("comma is grouping in C") << QStringLiteral("1,5") << c << 15 << ok;
        QTest::newRow("leading zeros") << QStringLiteral("007") << c << 7 << ok;
        QTest::newRow("largest") << QStringLiteral("32767") << c << 32767 << ok;
        QTest::newRow("smallest") << QStringLiteral("-32768") << c << -32768 << ok;
        QTest::newRow("even half stays in range") << QStringLiteral("-32768.5") << c << -32768 << ok;
        QTest::newRow("spanish decimal comma") << QStringLiteral("1,5") << es << 2 << ok;
        QTest::newRow("spanish half to even") << QStringLiteral("2,5") << es << 2 << ok;
        QTest::newRow("spanish grouping full stop") << QStringLiteral("1.234") << es << 1234 << ok;
        QTest::newRow("spanish both") << QStringLiteral("-1.234,5") << es << -1234 << ok;

        QTest::newRow("overflow") << QStringLiteral("40000") << c << 0 << overflow;
        QTest::newRow("negative overflow") << QStringLiteral("-32769") << c << 0 << overflow;
        QTest::newRow("rounds out of range") << QStringLiteral("32767.5") << c << 0 << overflow;
        QTest::newRow("beyond 64 bits") << QStringLiteral("123456789012345678901234") << c << 0 << overflow;

        QTest::newRow("empty") << QString() << c << 0 << mismatch;
        QTest::newRow("blanks only") << QStringLiteral("   ") << c << 0 << mismatch;
        QTest::newRow("letters") << QStringLiteral("abc") << c << 0 << mismatch;
        QTest::newRow("trailing letter") << QStringLiteral("12a") << c << 0 << mismatch;
        QTest::newRow("sign only") << QStringLiteral("-") << c << 0 << mismatch;
        QTest::newRow("two signs") << QStringLiteral("+-1") << c << 0 << mismatch;
        QTest::newRow("blank inside") << QStringLiteral("1 2") << c << 0 << mismatch;
        QTest::newRow("two decimal points") << QStringLiteral("1.2.3") << c << 0 << mismatch;
        QTest::newRow("grouping after the decimal point") << QStringLiteral("1.2,3") << c << 0 << mismatch;
        QTest::newRow("spanish two decimal commas") << QStringLiteral("1,2,3") << es << 0 << mismatch;
    }

    void toInt16()
    {
        QFETCH(QString, text);
        QFETCH(QString, locale);
        QFETCH(int, expected);
        QFETCH(int, failure);
        try {
            const int16_t value = Numbers::toInt16(text, localeNamed(locale));
            QCOMPARE(failure, 0);
            QCOMPARE(int(value), expected);
        } catch (const Failure& raised) {
            QCOMPARE(raised.number, failure);
            QCOMPARE(raised.description, RuntimeError::description(failure));
        }
    }

    void toInt32_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("expected");
        QTest::addColumn<int>("failure");
        QTest::newRow("largest") << QStringLiteral("2147483647") << qint64(2147483647) << 0;
        QTest::newRow("smallest") << QStringLiteral("-2147483648") << qint64(-2147483647 - 1) << 0;
        QTest::newRow("beyond 16 bits") << QStringLiteral("40000") << qint64(40000) << 0;
        QTest::newRow("overflow") << QStringLiteral("2147483648") << qint64(0) << int(RuntimeError::Overflow);
        QTest::newRow("not a number") << QStringLiteral("12x") << qint64(0) << int(RuntimeError::TypeMismatch);
    }

    void toInt32()
    {
        QFETCH(QString, text);
        QFETCH(qint64, expected);
        QFETCH(int, failure);
        try {
            const int32_t value = Numbers::toInt32(text, QLocale::c());
            QCOMPARE(failure, 0);
            QCOMPARE(qint64(value), expected);
        } catch (const Failure& raised) {
            QCOMPARE(raised.number, failure);
        }
    }

    void systemLocaleIsTheDefault()
    {
        // The test runs under LC_ALL=C: the full stop is the decimal separator.
        QCOMPARE(Numbers::toInt16(QStringLiteral("1.5")), int16_t(2));
        QVERIFY(Numbers::isNumeric(QStringLiteral(" 1,234.5 ")));
        QVERIFY(!Numbers::isNumeric(QString()));
    }

    void toSignedText_data()
    {
        QTest::addColumn<qint64>("number");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << QStringLiteral(" 0");
        QTest::newRow("positive") << qint64(91) << QStringLiteral(" 91");
        QTest::newRow("negative") << qint64(-2147217873) << QStringLiteral("-2147217873");
    }

    void toSignedText()
    {
        QFETCH(qint64, number);
        QFETCH(QString, text);
        QCOMPARE(Numbers::toSignedText(number), text);
    }
};

QTEST_GUILESS_MAIN(TestNumbers)
#include "tst_numbers.moc"
