#include "startup/startup_fixture.h"
#include "startup_windows/frm_splash.h"
#include "startup_windows/start_up.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

using namespace ModGlob;

namespace {

frmSplash* visibleSplash()
{
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* splash = qobject_cast<frmSplash*>(window); splash && splash->isVisible())
            return splash;
    return nullptr;
}

bool anySplash()
{
    const auto windows = QApplication::topLevelWidgets();
    return std::any_of(windows.begin(), windows.end(), [](QWidget* w) { return qobject_cast<frmSplash*>(w); });
}

}  // namespace

class TestStartUp final : public QObject {
    Q_OBJECT

private slots:
    void init() { m_fixture = std::make_unique<StartupFixture>(); }
    void cleanup() { m_fixture.reset(); }

    void splashThenMainWindow()
    {
        writeFile(m_fixture->folder.filePath(QStringLiteral("r.db")), QByteArray());
        m_fixture->writeIni(completeIni("sqlite:r.db"));
        bool splashSeenDuringTheWait = false;
        QTimer::singleShot(1000, [&] { splashSeenDuringTheWait = visibleSplash() != nullptr; });

        QElapsedTimer clock;
        clock.start();
        qint64 mainWindowAfterMs = -1;
        bool splashGoneBeforeMainWindow = false;
        StartUp([&] {
            mainWindowAfterMs = clock.elapsed();
            splashGoneBeforeMainWindow = !anySplash();
        });

        QVERIFY(splashSeenDuringTheWait);
        QVERIFY(mainWindowAfterMs > 2000);
        QVERIFY(mainWindowAfterMs < 8000);  // generous: a loaded machine runs slowly
        QVERIFY(splashGoneBeforeMainWindow);
        QVERIFY(m_fixture->messages.shown.isEmpty());
        QCOMPARE(DbConnection->state(), int32_t(db::Connection::StateOpen));
    }

    void noServiceNameShowsNoWindow()
    {
        m_fixture->writeIni(completeIni(""));
        bool mainWindowShown = false;
        QVERIFY_THROWS_EXCEPTION(ProgramEnd, StartUp([&] { mainWindowShown = true; }));
        QVERIFY(!mainWindowShown);
        QVERIFY(!anySplash());
        QCOMPARE(m_fixture->messages.shown.size(), 1);
    }

private:
    std::unique_ptr<StartupFixture> m_fixture;
};

QTEST_MAIN(TestStartUp)
#include "tst_start_up.moc"
