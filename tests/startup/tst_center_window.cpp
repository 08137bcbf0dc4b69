#include "startup/center_window.h"

#include "common/failure.h"

#include <QTest>

using namespace ModGlob;

class TestCenterWindow final : public QObject {
    Q_OBJECT

private slots:
    void integerDivide_data()
    {
        QTest::addColumn<double>("dividend");
        QTest::addColumn<double>("divisor");
        QTest::addColumn<qint64>("quotient");
        QTest::newRow("odd difference drops the remainder") << 8445.0 << 2.0 << qint64(4222);
        QTest::newRow("negative truncates toward zero") << -3915.0 << 2.0 << qint64(-1957);
        QTest::newRow("half rounds to even, down") << 4.5 << 1.0 << qint64(4);
        QTest::newRow("half rounds to even, up") << 5.5 << 1.0 << qint64(6);
        QTest::newRow("negative half to even") << -2.5 << 1.0 << qint64(-2);
        QTest::newRow("divisor rounded first") << 9.0 << 3.5 << qint64(2);
        QTest::newRow("divisor half to even") << 9.0 << 2.5 << qint64(4);
    }

    void integerDivide()
    {
        QFETCH(double, dividend);
        QFETCH(double, divisor);
        QFETCH(qint64, quotient);
        QCOMPARE(ModGlob::integerDivide(dividend, divisor), quotient);
    }

    void divisionByZeroFails()
    {
        try {
            ModGlob::integerDivide(3, 0.4);
            QFAIL("no failure");
        } catch (const Failure& failure) {
            QCOMPARE(failure.number, 11);
        }
    }

    void centredPosition_data()
    {
        QTest::addColumn<double>("screenWidth");
        QTest::addColumn<double>("screenHeight");
        QTest::addColumn<double>("windowWidth");
        QTest::addColumn<double>("windowHeight");
        QTest::addColumn<qint64>("left");
        QTest::addColumn<qint64>("top");
        QTest::newRow("1024 x 768 screen") << 15360.0 << 11520.0 << 6915.0 << 2895.0 << qint64(4222) << qint64(4312);
        QTest::newRow("screen smaller than the window")
            << 3000.0 << 2000.0 << 6915.0 << 2895.0 << qint64(-1957) << qint64(-447);
        QTest::newRow("same size") << 6825.0 << 2805.0 << 6825.0 << 2805.0 << qint64(0) << qint64(0);
        QTest::newRow("fractional twips at 110 dpi")
            << 1024 * 1440 / 110.0 << 768 * 1440 / 110.0 << 455 * 1440 / 110.0 << 187 * 1440 / 110.0
            << qint64(3724) << qint64(3803);
    }

    void centredPosition()
    {
        QFETCH(double, screenWidth);
        QFETCH(double, screenHeight);
        QFETCH(double, windowWidth);
        QFETCH(double, windowHeight);
        QFETCH(qint64, left);
        QFETCH(qint64, top);
        QCOMPARE(ModGlob::centredPosition(screenWidth, screenHeight, windowWidth, windowHeight),
                 (TwipsPosition{left, top}));
    }
};

QTEST_GUILESS_MAIN(TestCenterWindow)
#include "tst_center_window.moc"
