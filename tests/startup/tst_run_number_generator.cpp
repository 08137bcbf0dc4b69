#include "startup/run_number_generator.h"

#include <QTest>

class TestRunNumberGenerator final : public QObject {
    Q_OBJECT

private slots:
    void sameSeedSameSequence()
    {
        RunNumberGenerator first(42);
        RunNumberGenerator second(42);
        for (int i = 0; i < 100; ++i)
            QCOMPARE(first.drawRunNumber(), second.drawRunNumber());
    }

    void startsDiffer()
    {
        RunNumberGenerator first;
        RunNumberGenerator second;
        first.seedFromTimer();
        second.seedFromTimer();  // within the same millisecond and process
        QList<double> a, b;
        for (int i = 0; i < 4; ++i) {
            a.append(first.next());
            b.append(second.next());
        }
        QVERIFY(a != b);
    }

    void fractionsAreSingleAndBelowOne()
    {
        RunNumberGenerator generator(7);
        for (int i = 0; i < 100000; ++i) {
            const double r = generator.next();
            QVERIFY(r >= 0.0 && r < 1.0);
            QCOMPARE(double(static_cast<float>(r)), r);
        }
    }

    void runNumber_data()
    {
        QTest::addColumn<double>("fraction");
        QTest::addColumn<int>("runNumber");
        QTest::newRow("zero") << 0.0 << 1;
        QTest::newRow("half") << 0.5 << 500000;
        QTest::newRow("largest single below one") << double(1.0f - 1.0f / 16777216.0f) << 999999;
    }

    void runNumber()
    {
        QFETCH(double, fraction);
        QFETCH(int, runNumber);
        QCOMPARE(RunNumberGenerator::runNumberFor(fraction), runNumber);
    }
};

QTEST_GUILESS_MAIN(TestRunNumberGenerator)
#include "tst_run_number_generator.moc"
