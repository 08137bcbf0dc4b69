#include "startup_windows/start_up.h"

#include "common/messages.h"
#include "common/platform.h"
#include "startup/mod_glob.h"
#include "startup/retratix_settings.h"
#include "startup/run_number_generator.h"
#include "startup_windows/frm_splash.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QEventLoopLocker>
#include <QTimer>

namespace ModGlob {
namespace {

constexpr qint64 SplashNanoseconds = 2'000'000'000;

// Keeps the window system running until strictly more than two seconds have passed. Elapsed
// time, not the time of day, so a start just before midnight waits no longer; a timer wakes
// the loop instead of polling, so the wait costs no processor time.
void waitWithWindowsAlive()
{
    QElapsedTimer elapsed;
    elapsed.start();
    QEventLoop loop;
    while (elapsed.nsecsElapsed() <= SplashNanoseconds) {
        const qint64 remainingMs = (SplashNanoseconds - elapsed.nsecsElapsed()) / 1'000'000 + 1;
        QTimer::singleShot(std::chrono::milliseconds(remainingMs), Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

}  // namespace

void StartUp(const std::function<void()>& showMainWindow)
{
    ConnectDatabase();
    // The program's own settings: a bad one is named, and no run starts with it.
    try {
        Settings = LoadRetratixSettings();
    } catch (const Failure& failure) {
        showMessage(failure.description, MessageIcon::Critical, Application::title());
        throw ProgramEnd{1};
    }

    // Closing the splash must not end the program before the main window is shown.
    const QEventLoopLocker keepRunning;
    {
        auto splash = std::make_unique<frmSplash>();
        splash->show();
        splash->repaint();
        waitWithWindowsAlive();
        splash->close();
    }

    RunNumberGenerator::program().seedFromTimer();
    showMainWindow();
}

}  // namespace ModGlob
