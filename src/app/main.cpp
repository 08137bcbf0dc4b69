#include "common/platform.h"
#include "startup/mod_glob.h"
#include "upload/frm_subir_fotos.h"
#include "upload/headless_upload.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    const bool headless = HeadlessUpload::requested(argc, argv);
    // A headless run renders its report with QtGui but needs no display.
    if (headless && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
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
