#include "reporting/report_pages_output.h"

#include "reporting/report_document.h"
#include "reporting/report_engine.h"

#include <QDir>
#include <QFileInfo>
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
    {
        QPdfWriter writer(path);
        writer.setPageLayout(pageLayoutOf(document));
        writer.setResolution(300);
        writer.setTitle(document.definition().title);
        writer.setCreator(QStringLiteral("Retratix"));
        try {
            writePages(document, writer, 0, document.pageCount() - 1);
        } catch (const Failure&) {
            throw Failure(ReportNotWritten, QStringLiteral("Motor de informes"),
                          QStringLiteral("No se puede escribir el archivo %1").arg(QDir::toNativeSeparators(path)));
        }
    }
    if (!QFileInfo(path).isFile() || QFileInfo(path).size() == 0)
        throw Failure(ReportNotWritten, QStringLiteral("Motor de informes"),
                      QStringLiteral("No se puede escribir el archivo %1").arg(QDir::toNativeSeparators(path)));
}

}  // namespace reporting
