#include "upload/window_run_report.h"

#include "reporting/prueba_form.h"
#include "reporting/report_viewer.h"

#include <QScreen>
#include <QStyle>

#include <algorithm>

namespace {

// The report window's stored size shows about two thirds of a page's width at 100 %: it opens
// wide enough for a whole portrait A4 page (the paper of the run's report) and as tall as the
// screen allows, within the screen.
void sizeForAPage(QWidget& window)
{
    constexpr double PageWidthMm = 210.0;
    constexpr double PageHeightMm = 297.0;
    constexpr int ViewerMargins = 2 * 12 + 8;  // around the page and the scroll area's frame
    constexpr int FrameAllowance = 64;         // the window system's title bar and borders
    const double pixelsPerMm = window.logicalDpiX() / 25.4;
    const int scrollBar = window.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &window);
    const QSize page(qRound(PageWidthMm * pixelsPerMm) + ViewerMargins + scrollBar,
                     qRound(PageHeightMm * pixelsPerMm) + ViewerMargins);
    const QRect available = window.screen()->availableGeometry();
    const QSize room(available.width() - FrameAllowance / 4, available.height() - FrameAllowance);
    const QSize size = window.size().expandedTo(page).boundedTo(room);
    window.resize(size);
    window.move(std::clamp(window.x(), available.left(), std::max(available.left(), available.right() - size.width())),
                std::clamp(window.y(), available.top(), std::max(available.top(), available.bottom() - size.height())));
}

}  // namespace

void WindowRunReport::open(const QString& reportFile, const QString& condition, const QString& caption,
                           const QString& dataSource)
{
    // Owned by the window system: it deletes itself when the user closes it.
    auto* form = new PruebaForm;
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->PasarParametros(reportFile, condition, QString(), QString(), {});
    reporting::ReportSource source = m_source;
    if (!dataSource.isEmpty())
        source.dataSource = dataSource;
    form->setSource(source);
    form->reportViewer()->addExport(m_rowsExport);
    form->setWindowTitle(caption);
    sizeForAPage(*form);
    form->show();
    form->MostrarTodo(QString(), false);
}
