#include "reporting/report_pages_output.h"

#include "common/safe_output.h"
#include "reporting/report_document.h"
#include "reporting/report_engine.h"

#include <QDir>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

namespace reporting {

QPageLayout pageLayoutOf(const ReportDocument& document)
{
    const QSizeF paper = document.definition().paperSize;
    return QPageLayout(QPageSize(paper, QPageSize::Millimeter, QString(), QPageSize::FuzzyMatch),
                       QPageLayout::Portrait, QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
}

void writePages(const ReportDocument& document, QPagedPaintDevice& device, int from, int to)
{
    QPainter painter;
    if (!painter.begin(&device))
        throw Failure(ReportNotWritten, QStringLiteral("Motor de informes"),
                      QStringLiteral("No se puede imprimir ni escribir el informe"));
    for (int page = std::max(0, from); page <= std::min(to, document.pageCount() - 1); ++page) {
        if (page > std::max(0, from))
            device.newPage();
        document.paintPage(page, painter);
    }
    painter.end();
}

void writePdf(const ReportDocument& document, const QString& path)
{
    const Failure notWritten(ReportNotWritten, QStringLiteral("Motor de informes"),
                             QStringLiteral("No se puede escribir el archivo %1").arg(QDir::toNativeSeparators(path)));
    try {
        SafeOutput::NewFile file(path);
        {
            QPdfWriter writer(&file.device());
            writer.setPageLayout(pageLayoutOf(document));
            writer.setResolution(300);
            writer.setTitle(document.definition().title);
            writer.setCreator(QStringLiteral("Retratix"));
            try {
                writePages(document, writer, 0, document.pageCount() - 1);
            } catch (const Failure&) {
                throw notWritten;
            }
        }
        if (file.device().pos() == 0)
            throw notWritten;
        file.commit();
    } catch (const Failure& failure) {
        if (failure.number == ReportNotWritten)
            throw;
        throw Failure(ReportNotWritten, notWritten.source, failure.description);
    }
}

}  // namespace reporting
