#include "reporting/prueba_form.h"

#include "ui_prueba_form.h"

#include "common/failure.h"
#include "common/messages.h"
#include "common/platform.h"
#include "reporting/engine_report.h"
#include "reporting/report_viewer.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QTimer>

#include <exception>
#include <utility>

namespace {

constexpr int32_t ApplicationDefinedError = 95;

// The viewer's display options as the window sets them, in this order (dispatch id, value).
constexpr std::array<std::pair<int, bool>, 8> DisplayOptions{
    {{251, false}, {263, false}, {367, true}, {342, false}, {253, false}, {259, true}, {365, true}, {258, false}}};

// The busy pointer of one MostrarTodo, taken down exactly once on every way out.
class BusyPointer final {
public:
    BusyPointer() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyPointer() { restore(); }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;

    void restore()
    {
        if (std::exchange(m_set, false))
            QGuiApplication::restoreOverrideCursor();
    }

private:
    bool m_set = true;
};

// Why a run of the report failed: a failed run is reported as any failure of the preparation.
Failure runFailure(const reporting::Report& report)
{
    if (const auto* engineReport = dynamic_cast<const reporting::EngineReport*>(&report)) {
        if (const std::optional<Failure>& failure = engineReport->runFailure())
            return *failure;
    }
    return RuntimeError::failure(ApplicationDefinedError);
}

QRect scaled(const QRect& rect, double x, double y)
{
    return {qRound(rect.x() * x), qRound(rect.y() * y), qRound(rect.width() * x), qRound(rect.height() * y)};
}

}  // namespace

PruebaForm::PruebaForm(reporting::ReportApplicationFactory factory, QWidget* parent)
    : QWidget(parent), m_ui(std::make_unique<Ui::PruebaForm>()), m_preparation(std::move(factory))
{
    m_ui->setupUi(this);
    // The layout is stored at 96 dpi; follow the screen's.
    const double x = logicalDpiX() / 96.0;
    const double y = logicalDpiY() / 96.0;
    for (QWidget* control : {static_cast<QWidget*>(m_ui->Command1), static_cast<QWidget*>(m_ui->Command2),
                             static_cast<QWidget*>(m_ui->ReportViewer)})
        control->setGeometry(scaled(control->geometry(), x, y));
    // The client area's stored place on the screen: 60 twips from the left, 450 from the top.
    setGeometry(scaled(QRect(QPoint(4, 30), size()), x, y));
    // Neither button does anything for the user (Command1 would view a report it never opens),
    // and the viewer covers both from the first resize: they stay in the layout, hidden.
    m_ui->Command1->hide();
    m_ui->Command2->hide();
    // The caller drops the window once it is shown: closing it is its end.
    setAttribute(Qt::WA_DeleteOnClose);
}

PruebaForm::~PruebaForm()
{
    // The viewer refers to the report: it goes first.
    delete m_ui->ReportViewer;
}

reporting::ReportViewer* PruebaForm::reportViewer() const { return m_ui->ReportViewer; }

void PruebaForm::PasarParametros(const QString& msInforme, const QString& msCondicion, const QString& msSort1,
                                 const QString& msSort2, const std::array<QString, 15>& msParams)
{
    // Parsed here so that a bad key reaches the caller; the preparation parses them again.
    if (!msSort1.isEmpty())
        reporting::SortKey::parse(msSort1);
    if (!msSort2.isEmpty())
        reporting::SortKey::parse(msSort2);
    if (!msSort1.isEmpty())
        m_request.sort1 = msSort1;
    if (!msSort2.isEmpty())
        m_request.sort2 = msSort2;
    m_request.reportFileName = msInforme;
    m_request.condition = msCondicion;
    m_request.formulaValues = msParams;
}

void PruebaForm::MostrarTodo(const QString& cadenaConsulta, bool bModal)
{
    Q_UNUSED(cadenaConsulta);
    // A close during one of the yields below must not delete the window under this call.
    m_showing = true;
    BusyPointer busy;
    try {
        m_reportReady = true;
        m_report = m_preparation.prepare(m_request, [] { QCoreApplication::processEvents(); });

        reporting::ReportViewer& viewer = *m_ui->ReportViewer;
        viewer.setReportSource(m_report.get());
        for (const auto& [dispatchId, value] : DisplayOptions)
            viewer.setDisplayOption(dispatchId, value);
        viewer.viewReport();
        while (viewer.isBusy() && yieldWhileOpen()) {
        }

        if (bModal) {
            busy.restore();
            if (!m_closed) {
                // Modality takes effect when the window is shown.
                hide();
                if (parentWidget())
                    setParent(nullptr);
                setWindowModality(Qt::ApplicationModal);
                show();
                QEventLoop loop;
                m_modalLoop = &loop;
                loop.exec();
                m_modalLoop = nullptr;
            }
        } else {
            // Waiting for 3 alone would never end when a run fails (4) or was never started (1).
            while (m_report->printingStatusProgress() == reporting::PrintingInProgress && yieldWhileOpen()) {
            }
            if (m_report->printingStatusProgress() == reporting::PrintingFailed)
                throw runFailure(*m_report);
        }
        busy.restore();
    } catch (const Failure& failure) {
        // The user answers the message with the normal pointer.
        busy.restore();
        showMessage(failure.number == reporting::ReportFileNotFound
                        ? QStringLiteral("El archivo de reporte no se encuentra, restáurelo de los discos de instalación")
                        : failure.description,
                    MessageIcon::Critical, Application::title());
        m_reportReady = false;
    } catch (const std::exception& exception) {
        busy.restore();
        showMessage(QString::fromLocal8Bit(exception.what()), MessageIcon::Critical, Application::title());
        m_reportReady = false;
    }
    m_showing = false;
    if (m_deleteAfterShowing)
        deleteLater();
}

bool PruebaForm::yieldWhileOpen()
{
    // The timer wakes the wait when no event comes, so the poll neither spins nor stalls.
    QTimer wake;
    wake.setSingleShot(true);
    wake.start(10);
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return !m_closed;
}

bool PruebaForm::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::DeferredDelete:
        if (m_showing) {
            m_deleteAfterShowing = true;
            return true;
        }
        break;
    case QEvent::WindowActivate:
        // A window whose report failed goes away as soon as the user comes back to it.
        if (!m_reportReady)
            QTimer::singleShot(0, this, &QWidget::close);
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

void PruebaForm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_ui->ReportViewer->setGeometry(rect());
}

void PruebaForm::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    if (!event->isAccepted())
        return;
    m_closed = true;
    if (m_modalLoop)
        m_modalLoop->quit();
}
