#include "common/fixed_text.h"

#include <QTest>

class TestFixedText final : public QObject {
    Q_OBJECT

private slots:
    void store_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("trimmed");
        QTest::newRow("shorter is padded") << QStringLiteral("ab") << QStringLiteral("ab   ") << QStringLiteral("ab");
        QTest::newRow("exact fits") << QStringLiteral("abcde") << QStringLiteral("abcde") << QStringLiteral("abcde");
        QTest::newRow("longer is cut") << QStringLiteral("abcdefgh") << QStringLiteral("abcde") << QStringLiteral("abcde");
        QTest::newRow("empty is all blanks") << QString() << QStringLiteral("     ") << QString();
        QTest::newRow("leading blanks kept, trimmed drops them")
            << QStringLiteral("  a") << QStringLiteral("  a  ") << QStringLiteral("a");
        QTest::newRow("inner blanks stay") << QStringLiteral("a b") << QStringLiteral("a b  ") << QStringLiteral("a b");
        QTest::newRow("only blanks are trimmed") << QStringLiteral("\tab\t") << QStringLiteral("\tab\t ")
                                                 << QStringLiteral("\tab\t");
        QTest::newRow("accents count as one character")
            << QStringLiteral("ñandú") << QStringLiteral("ñandú") << QStringLiteral("ñandú");
    }

    void store()
    {
        QFETCH(QString, stored);
        QFETCH(QString, value);
        QFETCH(QString, trimmed);
        FixedText<5> text;
        text = stored;
        QCOMPARE(text.value(), value);
        QCOMPARE(text.trimmed(), trimmed);
        QCOMPARE(FixedText<5>(stored), text);
    }

    void defaultIsBlanks() { QCOMPARE(FixedText<3>().value(), QStringLiteral("   ")); }
};

QTEST_GUILESS_MAIN(TestFixedText)
#include "tst_fixed_text.moc"
