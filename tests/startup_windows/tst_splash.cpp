#include "startup_windows/center_window.h"
#include "startup_windows/frm_splash.h"

#include <QImage>
#include <QLabel>
#include <QScreen>
#include <QTest>

#include <cmath>

namespace {

int pixels(int twips, double dpi) { return static_cast<int>(std::lround(twips * dpi / 1440.0)); }

}  // namespace

class TestSplash final : public QObject {
    Q_OBJECT

private slots:
    void init() { m_splash = std::make_unique<frmSplash>(); }
    void cleanup() { m_splash.reset(); }

    void captionsSetAtLoad()
    {
        QCOMPARE(label("lblVersion")->text(), QStringLiteral("Version 1.0.0"));
        QCOMPARE(label("lblProductName")->text(), QStringLiteral("Retratix"));
        QCOMPARE(m_splash->windowTitle(), QString());
    }

    void labelsShowTheirWholeText()
    {
        for (const char* name : {"lblVersion", "lblProductName"}) {
            const QLabel* shown = label(name);
            QVERIFY2(shown->width() >= shown->sizeHint().width(), name);
            QVERIFY2(shown->geometry().right() < shown->parentWidget()->width(), name);
        }
    }

    void windowHasNoCaption() { QVERIFY(m_splash->windowFlags().testFlag(Qt::FramelessWindowHint)); }

    void layoutFollowsTheTwips_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("twips");
        QTest::newRow("Picture1") << QStringLiteral("Picture1") << QRect(3240, 0, 3540, 765);
        QTest::newRow("fraMainFrame") << QStringLiteral("fraMainFrame") << QRect(3360, 840, 3480, 1395);
        QTest::newRow("lblProductName position") << QStringLiteral("lblProductName") << QRect(120, 120, 0, 0);
        QTest::newRow("lblVersion position") << QStringLiteral("lblVersion") << QRect(1560, 960, 0, 0);
        QTest::newRow("imgAnagrama") << QStringLiteral("imgAnagrama") << QRect(0, -3960, 4575, 3735);
    }

    void layoutFollowsTheTwips()
    {
        QFETCH(QString, name);
        QFETCH(QRect, twips);
        const auto* control = m_splash->findChild<QWidget*>(name);
        QVERIFY(control);
        const double dpiX = m_splash->logicalDpiX();
        const double dpiY = m_splash->logicalDpiY();
        QCOMPARE(control->pos(), QPoint(pixels(twips.x(), dpiX), pixels(twips.y(), dpiY)));
        if (!twips.isEmpty())
            QCOMPARE(control->size(), QSize(pixels(twips.width(), dpiX), pixels(twips.height(), dpiY)));
    }

    void clientAreaAndHiddenEmblem()
    {
        QCOMPARE(m_splash->size(), QSize(pixels(6825, m_splash->logicalDpiX()), pixels(2805, m_splash->logicalDpiY())));
        QVERIFY(m_splash->findChild<QWidget*>(QStringLiteral("imgAnagrama"))->geometry().bottom() < 0);
    }

    void picturesOfTheStatedKinds_data()
    {
        QTest::addColumn<QString>("resource");
        QTest::addColumn<QSize>("size");
        QTest::newRow("background") << QStringLiteral(":/splash/splash_background.jpg") << QSize(222, 190);
        QTest::newRow("logo banner") << QStringLiteral(":/splash/splash_logo.jpg") << QSize(236, 51);
        QTest::newRow("emblem bitmap") << QStringLiteral(":/splash/splash_anagrama.bmp") << QSize(305, 249);
    }

    void picturesOfTheStatedKinds()
    {
        // Also proves that the JPEG reader is available at run time.
        QFETCH(QString, resource);
        QFETCH(QSize, size);
        const QImage image(resource);
        QVERIFY(!image.isNull());
        QCOMPARE(image.size(), size);
    }

    void picturesShown()
    {
        QVERIFY(!label("Picture1")->pixmap().isNull());
        QVERIFY(!label("imgAnagrama")->pixmap().isNull());
        const QImage drawn = m_splash->grab().toImage();
        QVERIFY(drawn.pixelColor(drawn.width() - 2, drawn.height() - 2) == QColor(Qt::white));
        QVERIFY(drawn.pixelColor(pixels(1500, m_splash->logicalDpiX()), pixels(1400, m_splash->logicalDpiY()))
                != QColor(Qt::white));  // the emblem in the background picture
    }

    void centredOnTheScreen()
    {
        const QScreen* screen = m_splash->screen();
        QVERIFY(screen);
        const double tpp = ModGlob::twipsPerPixel(m_splash->logicalDpiX());
        const QRect area = screen->geometry();
        const auto expected = ModGlob::centredPosition(area.width() * tpp, area.height() * tpp,
                                                       m_splash->frameGeometry().width() * tpp,
                                                       m_splash->frameGeometry().height() * tpp);
        QCOMPARE(m_splash->pos(), area.topLeft() + QPoint(int(std::lround(expected.left / tpp)),
                                                          int(std::lround(expected.top / tpp))));
    }

private:
    const QLabel* label(const char* name) const { return m_splash->findChild<QLabel*>(QLatin1String(name)); }

    std::unique_ptr<frmSplash> m_splash;
};

QTEST_MAIN(TestSplash)
#include "tst_splash.moc"
