#include "common/text.h"

#include <QTest>

class TestText final : public QObject {
    Q_OBJECT

private slots:
    void printableTextShowsControlCharacters_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("printable");
        QTest::newRow("plain name") << QStringLiteral("123 ñ.jpg") << QStringLiteral("123 ñ.jpg");
        QTest::newRow("a forged line") << QStringLiteral("7.jpg\nEjecución 1 terminada")
                                       << QStringLiteral("7.jpg\\nEjecución 1 terminada");
        QTest::newRow("terminal escape") << QStringLiteral("7\x1b[2J.jpg") << QStringLiteral("7\\x1b[2J.jpg");
        QTest::newRow("carriage return and tab") << QStringLiteral("a\rb\tc") << QStringLiteral("a\\rb\\tc");
        QTest::newRow("DEL and C1") << QStringLiteral("a\x7f") + QChar(0x9b) << QStringLiteral("a\\x7f\\x9b");
        QTest::newRow("bidirectional override") << QStringLiteral("1") + QChar(0x202E) + QStringLiteral("gpj.7")
                                                << QStringLiteral("1\\u202egpj.7");
        QTest::newRow("line separator") << QStringLiteral("a") + QChar(0x2028) << QStringLiteral("a\\u2028");
    }

    void printableTextShowsControlCharacters()
    {
        QFETCH(QString, text);
        QFETCH(QString, printable);
        QCOMPARE(printableText(text), printable);
    }
};

QTEST_APPLESS_MAIN(TestText)
#include "tst_text.moc"
