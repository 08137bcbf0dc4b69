#include "common/messages.h"
#include "ini_files.h"
#include "startup/frm_splash.h"
#include "startup/mod_glob.h"
#include "test_platform.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
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
    void init()
    {
        m_folder = std::make_unique<QTemporaryDir>();
        m_platform = std::make_unique<TestPlatform>();
        m_platform->folder = QDir::toNativeSeparators(m_folder->path());
        Messages::install(&m_messages);
        m_messages.shown.clear();
        DbConnection.reset();
    }
    void cleanup()
    {
        Messages::install(nullptr);
        DbConnection.reset();
        m_platform.reset();
        m_folder.reset();
    }

    void splashThenMainWindow()
    {
        writeFile(m_folder->filePath(QStringLiteral("r.db")), QByteArray());
        writeFile(m_folder->filePath(QStringLiteral("Polidex.ini")), completeIni("sqlite:r.db"));
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
        QVERIFY(m_messages.shown.isEmpty());
        QCOMPARE(DbConnection->state(), int32_t(db::Connection::StateOpen));
    }

    void noServiceNameShowsNoWindow()
    {
        writeFile(m_folder->filePath(QStringLiteral("Polidex.ini")), completeIni(""));
        bool mainWindowShown = false;
        QVERIFY_THROWS_EXCEPTION(ProgramEnd, StartUp([&] { mainWindowShown = true; }));
        QVERIFY(!mainWindowShown);
        QVERIFY(!anySplash());
        QCOMPARE(m_messages.shown.size(), 1);
    }

private:
    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<TestPlatform> m_platform;
    RecordingMessages m_messages;
};

QTEST_MAIN(TestStartUp)
#include "tst_start_up.moc"
