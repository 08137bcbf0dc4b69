#include "startup_windows/center_window.h"

#include <QTest>

using namespace ModGlob;

class TestCenterWindow final : public QObject {
    Q_OBJECT

private slots:
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
        QTest::newRow("difference rounded before halving") << 1001.6 << 1000.0 << 0.0 << 1001.6 << qint64(501)
                                                           << qint64(-1);
        QTest::newRow("negative half rounds to even") << 1000.0 << 1000.0 << 1003.5 << 1002.5 << qint64(-2)
                                                      << qint64(-1);
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
