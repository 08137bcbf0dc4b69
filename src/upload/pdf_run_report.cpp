#include "upload/pdf_run_report.h"

#include "reporting/log_csv.h"
#include "reporting/report_pages_output.h"
#include "reporting/report_preparation.h"
#include "reporting/report_viewer.h"

void PdfRunReport::open(const QString& reportFile, const QString& condition, const QString& /*caption*/,
                        const QString& dataSource)
{
    reporting::ReportRequest request;
    request.reportFileName = reportFile;
    request.condition = condition;
    request.source = m_source;
    if (!dataSource.isEmpty())
        request.source.dataSource = dataSource;
    reporting::ReportPreparation preparation;
    const std::unique_ptr<reporting::Report> report = preparation.prepare(request);
    const reporting::ReportDocument& document = reporting::runReportToEnd(*report);
    if (!m_pdfPath.isEmpty())
        reporting::writePdf(document, m_pdfPath);
    if (!m_csvPath.isEmpty())
        reporting::writeLogCsv(document, m_csvPath);
}
