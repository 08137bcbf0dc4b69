#include "upload/window_run_report.h"

#include "reporting/prueba_form.h"

void WindowRunReport::open(const QString& reportFile, const QString& condition, const QString& caption)
{
    // Owned by the window system: it deletes itself when the user closes it.
    auto* form = new PruebaForm;
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->PasarParametros(reportFile, condition, QString(), QString(), {});
    form->setWindowTitle(caption);
    form->show();
    form->MostrarTodo(QString(), false);
}
