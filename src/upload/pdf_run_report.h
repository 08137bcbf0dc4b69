#pragma once

#include "upload/run_report.h"

// The run's report written as a PDF file, and its rows as a CSV file, without windows (headless
// runs); either path may be empty.
class PdfRunReport final : public RunReport {
public:
    explicit PdfRunReport(QString pdfPath, QString csvPath = {})
        : m_pdfPath(std::move(pdfPath)), m_csvPath(std::move(csvPath))
    {
    }
    void open(const QString& reportFile, const QString& condition, const QString& caption,
              const QString& dataSource = {}) override;
    QString pdfPath() const { return m_pdfPath; }
    QString csvPath() const { return m_csvPath; }

private:
    QString m_pdfPath;
    QString m_csvPath;
};
