#include "common/console.h"
#include "common/platform.h"
#include "startup/mod_glob.h"
#include "startup_windows/start_up.h"
#include "upload/frm_subir_fotos.h"
#include "upload/headless_upload.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

int main(int argc, char* argv[])
{
    const bool headless = HeadlessUpload::requested(argc, argv);
    // Messages, help and the version reach the console the program was started from.
    if (headless)
        Console::attachToParent();
    // A headless run renders its report with QtGui but needs no display. Windows always has one
    // (a scheduled task's too), and its own platform knows the system's fonts, which the offscreen
    // one does not find there: the report's text would print as boxes.
#ifndef Q_OS_WIN
    if (headless && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    QApplication application(argc, argv);
    // The program speaks Spanish: Qt's own dialogs and buttons ("Aceptar", the print and save
    // dialogs) too, whatever the workstation's language.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::Spanish, QLocale::Spain), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);
    int status = 0;
    try {
        if (headless) {
            status = HeadlessUpload::run(QApplication::arguments());
        } else {
            ModGlob::StartUp([] { frmSubirFotos::Main(); });
            status = QApplication::exec();
        }
    } catch (const ProgramEnd& end) {
        status = end.exitStatus;
    }
    // The connection goes while the application and its database drivers are still there.
    ModGlob::DbConnection.reset();
    return status;
}
