#include "reporting/report_viewer.h"

#include "common/messages.h"
#include "common/safe_output.h"
#include "reporting/engine_report.h"
#include "reporting/report_pages_output.h"

#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>
#include <QPrintDialog>
#include <QPrinter>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QSplitter>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include <map>

namespace reporting {

namespace {

// The display options by dispatch id, with what each one shows and its value until it is set.
// The report window sets 251, 253, 258, 263, 342 to false and 259, 365, 367 to true.
enum DisplayOption : int {
    ShowPageList = 251,      // side panel listing the pages, to jump to one
    ShowCloseButton = 253,   // button that closes the window holding the viewer
    ShowStatusBar = 258,     // line below the page with the number of records and progress
    ShowZoomControl = 259,   // zoom percentage / page width
    ShowRefreshButton = 263, // runs the report again, reading the database anew
    ShowSearchBox = 342,     // finds a text in the report's pages
    ShowExportButton = 365,  // export to PDF
    ShowPrintButton = 367,   // print through the print dialog
};

const std::map<int, bool>& defaultOptions()
{
    static const std::map<int, bool> options = {
        {ShowPageList, false},     {ShowCloseButton, false}, {ShowStatusBar, true},  {ShowZoomControl, true},
        {ShowRefreshButton, true}, {ShowSearchBox, true},    {ShowExportButton, true}, {ShowPrintButton, true},
    };
    return options;
}

constexpr int StepMilliseconds = 30;  // work per timer tick: the window stays responsive

}  // namespace

struct ReportViewer::Private {
    ReportViewer* q = nullptr;
    Report* report = nullptr;
    EngineReport* engine = nullptr;
    std::weak_ptr<const void> alive;
    std::map<int, bool> options = defaultOptions();
    bool busy = false;
    bool pageShown = false;
    int page = 0;
    double zoom = 1.0;
    bool fitWidth = false;
    QTimer timer;

    QToolBar* toolBar = nullptr;
    QAction *first = nullptr, *previous = nullptr, *next = nullptr, *last = nullptr;
    QLabel* pageLabel = nullptr;
    QComboBox* zoomBox = nullptr;
    QLineEdit* search = nullptr;
    std::map<int, QAction*> optionActions;
    QAction *print = nullptr, *exportPdf = nullptr;
    QList<QAction*> otherExports;  // after exportPdf, in the order added
    QListWidget* pageList = nullptr;
    QScrollArea* scroll = nullptr;
    QLabel* pageImage = nullptr;
    QLabel* status = nullptr;

    const ReportDocument* document() const
    {
        return engine && !alive.expired() ? engine->document() : nullptr;
    }
    bool complete() const
    {
        const ReportDocument* doc = document();
        return doc && doc->isFinished();
    }
    int shownPages() const
    {
        const ReportDocument* doc = document();
        return doc ? doc->completedPageCount() : 0;
    }

    void build();
    void applyOptions();
    void tick();
    void showPage(int index);
    void render();
    void updateControls();
    void showMessageInPage(const QString& text);
    void doPrint();
    void doExport();
    void doExport(const ExportFormat& format);
    void doSearch();
    void setZoom(int index);
};

void ReportViewer::Private::build()
{
    auto* layout = new QVBoxLayout(q);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    toolBar = new QToolBar(q);
    toolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    QStyle* style = q->style();
    first = toolBar->addAction(style->standardIcon(QStyle::SP_MediaSkipBackward), QString(), q, [this] { showPage(0); });
    first->setToolTip(QStringLiteral("Primera página"));
    previous = toolBar->addAction(style->standardIcon(QStyle::SP_MediaSeekBackward), QString(), q, [this] { showPage(page - 1); });
    previous->setToolTip(QStringLiteral("Página anterior"));
    pageLabel = new QLabel(toolBar);
    pageLabel->setMinimumWidth(q->fontMetrics().horizontalAdvance(QStringLiteral("Página 9999 de 9999+")));
    pageLabel->setAlignment(Qt::AlignCenter);
    toolBar->addWidget(pageLabel);
    next = toolBar->addAction(style->standardIcon(QStyle::SP_MediaSeekForward), QString(), q, [this] { showPage(page + 1); });
    next->setToolTip(QStringLiteral("Página siguiente"));
    last = toolBar->addAction(style->standardIcon(QStyle::SP_MediaSkipForward), QString(), q,
                              [this] { showPage(shownPages() - 1); });
    last->setToolTip(QStringLiteral("Última página"));
    toolBar->addSeparator();

    zoomBox = new QComboBox(toolBar);
    for (int percent : {50, 75, 100, 125, 150, 200})
        zoomBox->addItem(QStringLiteral("%1 %").arg(percent), percent / 100.0);
    zoomBox->addItem(QStringLiteral("Ancho de página"), 0.0);
    zoomBox->setCurrentIndex(2);
    zoomBox->setToolTip(QStringLiteral("Zoom"));
    QObject::connect(zoomBox, &QComboBox::currentIndexChanged, q, [this](int index) { setZoom(index); });
    optionActions[ShowZoomControl] = toolBar->addWidget(zoomBox);
    toolBar->addSeparator();

    // The style has no printer icon: without the theme's, the caption alone.
    print = toolBar->addAction(QIcon::fromTheme(QStringLiteral("document-print")), QStringLiteral("Imprimir…"), q,
                               [this] { doPrint(); });
    optionActions[ShowPrintButton] = print;
    exportPdf = toolBar->addAction(QIcon::fromTheme(QStringLiteral("document-export"), style->standardIcon(QStyle::SP_DialogSaveButton)),
                                   QStringLiteral("Exportar a PDF…"), q,
                                   [this] { doExport(); });
    optionActions[ShowExportButton] = exportPdf;
    optionActions[ShowRefreshButton] = toolBar->addAction(style->standardIcon(QStyle::SP_BrowserReload),
                                                          QStringLiteral("Actualizar"), q, [this] { q->viewReport(); });
    search = new QLineEdit(toolBar);
    search->setPlaceholderText(QStringLiteral("Buscar…"));
    search->setClearButtonEnabled(true);
    search->setMaximumWidth(200);
    QObject::connect(search, &QLineEdit::returnPressed, q, [this] { doSearch(); });
    optionActions[ShowSearchBox] = toolBar->addWidget(search);
    optionActions[ShowCloseButton] = toolBar->addAction(style->standardIcon(QStyle::SP_DialogCloseButton),
                                                        QStringLiteral("Cerrar"), q, [this] { q->window()->close(); });
    layout->addWidget(toolBar);

    auto* splitter = new QSplitter(q);
    pageList = new QListWidget(splitter);
    QObject::connect(pageList, &QListWidget::currentRowChanged, q, [this](int row) {
        if (row >= 0 && row != page)
            showPage(row);
    });
    scroll = new QScrollArea(splitter);
    scroll->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    scroll->setBackgroundRole(QPalette::Dark);
    pageImage = new QLabel;
    pageImage->setAlignment(Qt::AlignCenter);
    pageImage->setMargin(12);
    scroll->setWidget(pageImage);
    scroll->setWidgetResizable(false);
    splitter->addWidget(pageList);
    splitter->addWidget(scroll);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({130, 10000});
    layout->addWidget(splitter, 1);

    status = new QLabel(q);
    status->setContentsMargins(6, 2, 6, 2);
    layout->addWidget(status);

    auto* pageDown = new QShortcut(QKeySequence(Qt::Key_PageDown), q);
    QObject::connect(pageDown, &QShortcut::activated, q, [this] { showPage(page + 1); });
    auto* pageUp = new QShortcut(QKeySequence(Qt::Key_PageUp), q);
    QObject::connect(pageUp, &QShortcut::activated, q, [this] { showPage(page - 1); });

    timer.setInterval(0);
    QObject::connect(&timer, &QTimer::timeout, q, [this] { tick(); });
    applyOptions();
    updateControls();
}

void ReportViewer::Private::applyOptions()
{
    for (const auto& [id, action] : optionActions)
        action->setVisible(options.at(id));
    for (QAction* action : std::as_const(otherExports))
        action->setVisible(options.at(ShowExportButton));
    pageList->setVisible(options.at(ShowPageList));
    status->setVisible(options.at(ShowStatusBar));
}

void ReportViewer::Private::tick()
{
    if (!engine || alive.expired()) {
        // The report went away while it ran.
        timer.stop();
        engine = nullptr;
        report = nullptr;
        busy = false;
        updateControls();
        return;
    }
    const bool ended = engine->runStep(StepMilliseconds);
    if (ended) {
        timer.stop();
        if (const auto& failure = engine->runFailure())
            showMessageInPage(failure->description);
        else
            showPage(std::clamp(page, 0, std::max(0, shownPages() - 1)));  // now with the number of pages
        busy = false;
    } else if (!pageShown && shownPages() > 0) {
        showPage(0);
        busy = false;  // the first page is up; the rest follows while the user looks at it
    }
    updateControls();
}

void ReportViewer::Private::showPage(int index)
{
    const int count = shownPages();
    if (count == 0 || index < 0 || index >= count)
        return;
    page = index;
    pageShown = true;
    render();
    updateControls();
}

void ReportViewer::Private::render()
{
    const ReportDocument* doc = document();
    if (!doc || !pageShown)
        return;
    const QSizeF paper = doc->definition().paperSize;
    const double screenDpi = q->logicalDpiX();
    if (fitWidth) {
        const double pagePixels = paper.width() / 25.4 * screenDpi;
        zoom = std::max(0.1, (scroll->viewport()->width() - 2 * pageImage->margin() - 4) / pagePixels);
    }
    const double dpi = screenDpi * zoom;
    // Drawn at the screen's physical pixels, so that text stays sharp on high-density screens.
    const double ratio = q->devicePixelRatioF();
    QImage image(qRound(paper.width() / 25.4 * dpi * ratio), qRound(paper.height() / 25.4 * dpi * ratio),
                 QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.setDotsPerMeterX(qRound(dpi / 0.0254));
    image.setDotsPerMeterY(qRound(dpi / 0.0254));
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        doc->paintPage(page, painter);
    }
    pageImage->setPixmap(QPixmap::fromImage(image));
    pageImage->adjustSize();
}

void ReportViewer::Private::showMessageInPage(const QString& text)
{
    pageShown = false;
    pageImage->setPixmap(QPixmap());
    pageImage->setText(text);
    pageImage->setWordWrap(true);
    pageImage->adjustSize();
}

void ReportViewer::Private::updateControls()
{
    const ReportDocument* doc = document();
    const int count = shownPages();
    const bool complete = this->complete();
    first->setEnabled(pageShown && page > 0);
    previous->setEnabled(pageShown && page > 0);
    next->setEnabled(pageShown && page + 1 < count);
    last->setEnabled(pageShown && page + 1 < count);
    pageLabel->setText(pageShown ? QStringLiteral("Página %1 de %2%3").arg(page + 1).arg(count).arg(
                                       complete ? QString() : QStringLiteral("+"))
                                 : QString());
    print->setEnabled(complete);
    exportPdf->setEnabled(complete);
    for (QAction* action : std::as_const(otherExports))
        action->setEnabled(complete);
    search->setEnabled(count > 0);

    while (pageList->count() < count)
        pageList->addItem(QStringLiteral("Página %1").arg(pageList->count() + 1));
    while (pageList->count() > count)
        delete pageList->takeItem(pageList->count() - 1);
    if (pageShown && pageList->currentRow() != page) {
        const QSignalBlocker block(pageList);
        pageList->setCurrentRow(page);
    }

    if (engine && !alive.expired() && engine->runFailure())
        status->setText(QStringLiteral("Error: %1").arg(engine->runFailure()->description));
    else if (doc)
        status->setText(complete ? QStringLiteral("%1 registros").arg(doc->rowCount())
                                 : QStringLiteral("Leyendo… %1 registros").arg(doc->rowCount()));
    else
        status->clear();
}

void ReportViewer::Private::setZoom(int index)
{
    const double value = zoomBox->itemData(index).toDouble();
    fitWidth = value <= 0;
    if (!fitWidth)
        zoom = value;
    render();
}

void ReportViewer::Private::doPrint()
{
    const ReportDocument* doc = document();
    if (!doc || !doc->isFinished())
        return;
    QPrinter printer(QPrinter::HighResolution);
    printer.setFullPage(true);
    printer.setPageLayout(pageLayoutOf(*doc));
    printer.setDocName(doc->definition().title);
    QPrintDialog dialog(&printer, q);
    dialog.setMinMax(1, doc->pageCount());
    if (dialog.exec() != QDialog::Accepted)
        return;
    try {
        // fromPage() 0 means every page.
        const int from = printer.fromPage() > 0 ? printer.fromPage() - 1 : 0;
        const int to = printer.toPage() > 0 ? printer.toPage() - 1 : doc->pageCount() - 1;
        writePages(*doc, printer, from, to);
    } catch (const Failure& failure) {
        showMessage(failure.description, MessageIcon::Critical, doc->definition().title);
    }
}

void ReportViewer::Private::doExport()
{
    const ReportDocument* doc = document();
    if (!doc || !doc->isFinished())
        return;
    const QString title = doc->definition().title.isEmpty() ? QStringLiteral("Informe") : doc->definition().title;
    const QString path = QFileDialog::getSaveFileName(q, QStringLiteral("Exportar a PDF"), title + QStringLiteral(".pdf"),
                                                      QStringLiteral("Documentos PDF (*.pdf)"));
    if (path.isEmpty())
        return;
    try {
        writePdf(*doc, path);
    } catch (const Failure& failure) {
        showMessage(failure.description, MessageIcon::Critical, title);
    }
}

void ReportViewer::Private::doExport(const ExportFormat& format)
{
    const ReportDocument* doc = document();
    if (!doc || !doc->isFinished())
        return;
    const QString title = doc->definition().title.isEmpty() ? QStringLiteral("Informe") : doc->definition().title;
    const QString path = QFileDialog::getSaveFileName(q, format.dialogTitle, title + format.suffix, format.filter);
    if (path.isEmpty())
        return;
    // Written whole or not at all (a failed write leaves any earlier file as it was), never through a link.
    try {
        SafeOutput::writeFile(path, format.contents(*doc));
    } catch (const Failure& failure) {
        showMessage(failure.description, MessageIcon::Critical, title);
    }
}

void ReportViewer::Private::doSearch()
{
    const QString text = search->text().trimmed();
    const int count = shownPages();
    if (text.isEmpty() || count == 0)
        return;
    // From the page after the one shown, round to it, so that Enter goes on to the next hit.
    for (int i = 1; i <= count; ++i) {
        const int candidate = (page + i) % count;
        if (document()->pageText(candidate).contains(text, Qt::CaseInsensitive)) {
            showPage(candidate);
            status->setText(QStringLiteral("«%1» en la página %2").arg(text).arg(candidate + 1));
            return;
        }
    }
    status->setText(QStringLiteral("No se encuentra «%1»").arg(text));
}

// ---------------------------------------------------------------------------------------------

ReportViewer::ReportViewer(QWidget* parent) : QWidget(parent), d(std::make_unique<Private>())
{
    d->q = this;
    d->build();
}

ReportViewer::~ReportViewer() = default;

void ReportViewer::setReportSource(Report* report)
{
    d->timer.stop();
    d->busy = false;
    d->report = report;
    d->engine = dynamic_cast<EngineReport*>(report);
    d->alive = d->engine ? d->engine->lifetime() : std::weak_ptr<const void>();
    d->pageShown = false;
    d->page = 0;
    d->pageImage->clear();
    d->updateControls();
}

void ReportViewer::setDisplayOption(int dispatchId, bool value)
{
    const auto it = d->options.find(dispatchId);
    if (it == d->options.end())
        throw Failure(438, QStringLiteral("ReportViewer"),
                      QStringLiteral("El objeto no admite esta propiedad o método (%1)").arg(dispatchId));
    it->second = value;
    d->applyOptions();
}

bool ReportViewer::displayOption(int dispatchId) const
{
    const auto it = d->options.find(dispatchId);
    return it != d->options.end() && it->second;
}

void ReportViewer::addExport(ExportFormat format)
{
    const QList<QAction*> actions = d->toolBar->actions();
    const qsizetype at = actions.indexOf(d->otherExports.isEmpty() ? d->exportPdf : d->otherExports.last()) + 1;
    auto* action = new QAction(d->exportPdf->icon(), format.caption, d->toolBar);
    d->toolBar->insertAction(actions.value(at), action);
    QObject::connect(action, &QAction::triggered, this, [this, format = std::move(format)] { d->doExport(format); });
    d->otherExports.append(action);
    d->applyOptions();
    d->updateControls();
}

void ReportViewer::viewReport()
{
    d->timer.stop();
    d->pageShown = false;
    d->page = 0;
    d->pageImage->clear();
    if (!d->report) {
        d->busy = false;
        d->updateControls();
        return;
    }
    if (!d->engine || d->alive.expired()) {
        d->busy = false;
        d->showMessageInPage(QStringLiteral("Este visor solo muestra informes del motor de informes del programa."));
        d->updateControls();
        return;
    }
    d->engine->startRun();
    d->busy = true;
    d->updateControls();
    d->timer.start();
}

bool ReportViewer::isBusy() const
{
    return d->busy;
}

int ReportViewer::currentPage() const
{
    return d->pageShown ? d->page + 1 : 0;
}

int ReportViewer::pageCount() const
{
    return d->shownPages();
}

void ReportViewer::goToPage(int page)
{
    d->showPage(page - 1);
}

void ReportViewer::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (d->fitWidth)
        d->render();
}

const ReportDocument& runReportToEnd(Report& report)
{
    auto* engine = dynamic_cast<EngineReport*>(&report);
    if (!engine)
        throw Failure(ReportNotOfThisEngine, QStringLiteral("Motor de informes"),
                      QStringLiteral("El informe no es del motor de informes del programa"));
    engine->runToEnd();
    return *engine->document();
}

void exportReportToPdf(Report& report, const QString& pdfPath)
{
    writePdf(runReportToEnd(report), pdfPath);
}

}  // namespace reporting
