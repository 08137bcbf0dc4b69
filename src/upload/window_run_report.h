#pragma once

#include "reporting/export_format.h"
#include "reporting/report_preparation.h"
#include "upload/run_report.h"

// Each run's report in a new report window, shown modeless beside the upload window; the window
// lives until the user closes it.
class WindowRunReport final : public RunReport {
public:
    // source: where the reports come from; rowsExport: the export of the rows that the window
    // offers beside the PDF, which only the kind of run knows (the upload log's, the check's).
    WindowRunReport(reporting::ReportSource source, reporting::ExportFormat rowsExport)
        : m_source(std::move(source)), m_rowsExport(std::move(rowsExport))
    {
    }
    void open(const QString& reportFile, const QString& condition, const QString& caption,
              const QString& dataSource = {}) override;

private:
    reporting::ReportSource m_source;
    reporting::ExportFormat m_rowsExport;
};
