#pragma once

#include "reporting/report_preparation.h"
#include "upload/run_report.h"

// The run's report written as a PDF file, and the upload log's rows as a CSV file, without windows
// (headless runs); either path may be empty. source: where the reports come from.
class PdfRunReport final : public RunReport {
public:
    PdfRunReport(reporting::ReportSource source, QString pdfPath, QString csvPath = {})
        : m_source(std::move(source)), m_pdfPath(std::move(pdfPath)), m_csvPath(std::move(csvPath))
    {
    }
    void open(const QString& reportFile, const QString& condition, const QString& caption,
              const QString& dataSource = {}) override;
    QString pdfPath() const { return m_pdfPath; }
    QString csvPath() const { return m_csvPath; }

private:
    reporting::ReportSource m_source;
    QString m_pdfPath;
    QString m_csvPath;
};
