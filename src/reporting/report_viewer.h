#pragma once

#include "reporting/export_format.h"
#include "reporting/report_engine.h"

#include <QWidget>

#include <functional>

namespace reporting {

class ReportDocument;

// Shows a report's pages: page navigation, zoom, print (print dialog) and export to PDF.
// viewReport() returns before the report is ready; isBusy() is true while it renders.
class ReportViewer final : public QWidget {
    Q_OBJECT
public:
    explicit ReportViewer(QWidget* parent = nullptr);
    ~ReportViewer() override;

    // Dispatch id 250: the report to show (not owned; must outlive the viewer's use of it).
    void setReportSource(Report* report);
    // The viewer's boolean display options by dispatch id (251, 253, 258, 259, 263, 342, 365, 367).
    void setDisplayOption(int dispatchId, bool value);
    bool displayOption(int dispatchId) const;
    // Adds an export to the toolbar, after the PDF export and shown with it (option 365); enabled
    // once the report is complete. It asks for the file with the save dialog and shows a message
    // when the file cannot be written.
    void addExport(ExportFormat format);
    // Dispatch id 265.
    void viewReport();
    // Dispatch id 363.
    bool isBusy() const;

    // The page shown (1-based; 0 while none is) and the pages that can be shown so far.
    int currentPage() const;
    int pageCount() const;
    void goToPage(int page);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// Runs the report and writes all its pages as a PDF file; raises a Failure on error.
void exportReportToPdf(Report& report, const QString& pdfPath);
// Runs the report to its end; its pages stay the report's. Raises the run's failure.
const ReportDocument& runReportToEnd(Report& report);

}  // namespace reporting
