#pragma once

#include "reporting/report_engine.h"
#include "reporting/report_preparation.h"

#include <QWidget>

#include <array>
#include <memory>

class QEventLoop;

namespace Ui {
class PruebaForm;
}

namespace reporting {
class ReportViewer;
}

// The report window: one report shown in a viewer that fills the window. The caller creates it
// with new, calls PasarParametros, sets the caption, shows it and calls MostrarTodo; the window
// deletes itself when closed, and closes itself when it is activated after a failed MostrarTodo.
class PruebaForm final : public QWidget {
    Q_OBJECT

public:
    explicit PruebaForm(reporting::ReportApplicationFactory factory = reporting::defaultReportApplicationFactory(),
                        QWidget* parent = nullptr);
    ~PruebaForm() override;

    // Keeps the report file name, selection condition, sort keys ("+{TABLE.FIELD}", "-{...}") and
    // the fifteen formula values. An empty sort key keeps the one passed before; a key without "."
    // after its second character raises invalid argument (5) and keeps everything as it was.
    void PasarParametros(const QString& msInforme, const QString& msCondicion, const QString& msSort1,
                         const QString& msSort2, const std::array<QString, 15>& msParams = {});
    // Prepares and shows the report, waiting for the viewer and the engine; with bModal the window
    // is shown application-modal and the call returns once it is closed. Without bModal it waits
    // while the report runs; a run that ends failed is reported like any other failure. Failures
    // are shown to the user here and never reach the caller. cadenaConsulta is not used.
    void MostrarTodo(const QString& cadenaConsulta, bool bModal);
    // Where the report comes from: the folder of its file, the data source and account its tables
    // log on with. Set by the caller before MostrarTodo.
    void setSource(const reporting::ReportSource& source) { m_request.source = source; }

    bool reportReady() const { return m_reportReady; }
    reporting::ReportViewer* reportViewer() const;
    // The report being shown; null before MostrarTodo or when it failed before opening the file.
    reporting::Report* report() const { return m_report.get(); }

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Lets the event loop run, then waits briefly for more events; false once the window is closed.
    bool yieldWhileOpen();

    std::unique_ptr<Ui::PruebaForm> m_ui;
    reporting::ReportPreparation m_preparation;
    reporting::ReportRequest m_request;
    std::unique_ptr<reporting::Report> m_report;
    bool m_reportReady = false;
    bool m_showing = false;       // inside MostrarTodo: the window must outlive the call
    bool m_deleteAfterShowing = false;
    bool m_closed = false;
    QEventLoop* m_modalLoop = nullptr;
};
