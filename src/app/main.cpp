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
    try {
        if (headless)
            return HeadlessUpload::run(QApplication::arguments());
        ModGlob::StartUp([] { frmSubirFotos::Main(); });
        return QApplication::exec();
    } catch (const ProgramEnd& end) {
        return end.exitStatus;
    }
}
