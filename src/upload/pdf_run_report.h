#pragma once

#include "upload/run_report.h"

// The run's report written as a PDF file, without windows (headless runs).
class PdfRunReport final : public RunReport {
public:
    explicit PdfRunReport(QString pdfPath) : m_pdfPath(std::move(pdfPath)) {}
    void open(const QString& reportFile, const QString& condition, const QString& caption,
              const QString& dataSource = {}) override;
    QString pdfPath() const { return m_pdfPath; }

private:
    QString m_pdfPath;
};
