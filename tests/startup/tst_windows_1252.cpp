#include "startup/windows_1252.h"

#include <QStringDecoder>
#include <QTest>

class TestWindows1252 final : public QObject {
    Q_OBJECT

private slots:
    void tableAgreesWithQt()
    {
        // Builds without ICU fall back on the table; every byte must read the same.
        QStringDecoder qt("windows-1252");
        if (!qt.isValid())
            QSKIP("this Qt build has no Windows-1252 converter to compare with");
        QByteArray all;
        for (int byte = 0; byte < 256; ++byte)
            all.append(static_cast<char>(byte));
        const QString expected = qt.decode(all);
        const QString table = ModGlob::decodeWindows1252ByTable(all);
        for (int byte = 0; byte < 256; ++byte)
            QVERIFY2(table.at(byte) == expected.at(byte), qPrintable(QString::number(byte, 16)));
    }
};

QTEST_GUILESS_MAIN(TestWindows1252)
#include "tst_windows_1252.moc"
