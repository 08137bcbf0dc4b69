#include "upload/frm_subir_fotos.h"

#include "common/failure.h"
#include "db/recordset.h"
#include "reporting/log_csv.h"
#include "startup/mod_glob.h"
#include "startup/run_number_generator.h"
#include "startup_windows/center_window.h"
#include "upload/check_report.h"
#include "upload/run_report.h"
#include "upload/upload_progress.h"
#include "upload/window_run_report.h"

#include "ui_frm_subir_fotos.h"

#include <QDir>
#include <QLabel>
#include <QPointer>
#include <QStorageInfo>

#include <algorithm>

namespace {

struct TwipsRect {
    const char* name;
    int left, top, width, height;
};

// The stored layout, in twips from the client area's top-left corner.
constexpr int ClientWidth = 7380;
constexpr int ClientHeight = 4740;
constexpr int TextBoxLeft = 4320;
constexpr TwipsRect Layout[] = {
    {"ProgressBar1", 480, 240, 6072, 312}, {"Drive1", 510, 780, 2400, 315},
    {"Label2_0", 3120, 855, 1290, 300},    {"Text1", 4320, 840, 2775, 285},
    {"Dir1", 480, 1320, 2370, 2340},       {"Label2_1", 3120, 1320, 825, 300},
    {"Text2", 4320, 1320, 2775, 285},      {"cmdCancelar", 2760, 3840, 1065, 375},
    {"cmdSubir", 4080, 3840, 1065, 375},
    // Added beside the stored buttons, in the free room to their right; nothing else moves.
    {"cmdComprobar", 5400, 3840, 1065, 375},
};

// The window's bar as the run sees it. It repaints when it moves (paint only, no input), so
// the user sees the run advance while the window takes no other events.
class BarProgress final : public UploadProgress {
public:
    explicit BarProgress(QProgressBar& bar) : m_bar(bar) {}
    void setMaximum(int maximum) override
    {
        // A range of 0..0 would turn the bar into a busy indicator: an empty or one-file folder
        // gets 0..1. A value beyond the new range resets the bar; it starts again from 0.
        m_bar.setMaximum(std::max(maximum, m_bar.minimum() + 1));
        if (m_bar.value() < m_bar.minimum())
            m_bar.setValue(m_bar.minimum());
    }
    int value() const override { return m_bar.value(); }
    void setValue(int value) override
    {
        m_bar.setValue(value);
        m_bar.repaint();
    }

private:
    QProgressBar& m_bar;
};

}  // namespace

frmSubirFotos::frmSubirFotos(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::frmSubirFotos>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    m_drawRunNumber = [] { return RunNumberGenerator::program().drawRunNumber(); };
    placeControls();

    const QStringList drives = driveRoots();
    ui->Drive1->addItems(drives);
    m_currentDrive = QStorageInfo(ui->Dir1->path()).rootPath();
    if (!drives.contains(m_currentDrive))
        ui->Drive1->addItem(m_currentDrive);
    ui->Drive1->setCurrentText(m_currentDrive);

    connect(ui->Drive1, &QComboBox::currentIndexChanged, this, &frmSubirFotos::Drive1_Change);
    connect(ui->cmdSubir, &QPushButton::clicked, this, &frmSubirFotos::cmdSubir_Click);
    connect(ui->cmdCancelar, &QPushButton::clicked, this, &frmSubirFotos::cmdCancelar_Click);
    connect(ui->cmdComprobar, &QPushButton::clicked, this, &frmSubirFotos::cmdComprobar_Click);
    Form_Load();
}

frmSubirFotos::~frmSubirFotos() = default;

frmSubirFotos& frmSubirFotos::Main()
{
    static QPointer<frmSubirFotos> instance;
    if (!instance) {
        instance = new frmSubirFotos;
        ModGlob::CenterWindow(*instance);
    }
    instance->show();
    return *instance;
}

QLabel* frmSubirFotos::Label2(int index) const
{
    return index == 0 ? ui->Label2_0 : index == 1 ? ui->Label2_1 : nullptr;
}

QStringList frmSubirFotos::driveRoots()
{
    QStringList roots;
#ifdef Q_OS_WIN
    for (const QFileInfo& drive : QDir::drives())
        roots.append(drive.absolutePath());
#else
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        // Containers bind-mount single files; only folders are drives.
        if (volume.isValid() && volume.isReady() && QFileInfo(volume.rootPath()).isDir())
            roots.append(volume.rootPath());
    }
    roots.sort();
    roots.removeDuplicates();
#endif
    return roots;
}

void frmSubirFotos::placeControls()
{
    const double twipsPerPixel = ModGlob::twipsPerPixel(logicalDpiX());
    const auto px = [twipsPerPixel](int twips) { return qRound(twips / twipsPerPixel); };
    for (const TwipsRect& control : Layout) {
        auto* widget = findChild<QWidget*>(QLatin1String(control.name));
        if (!widget)
            continue;
        int width = px(control.width);
        // The stored widths suit the classic system font; a wider font may widen a label up to
        // the text boxes beside it, so that its caption is never cut.
        if (qobject_cast<QLabel*>(widget))
            width = std::max(width, std::min(widget->sizeHint().width(), px(TextBoxLeft - control.left) - 4));
        widget->setGeometry(px(control.left), px(control.top), width, px(control.height));
    }
    setFixedSize(px(ClientWidth), px(ClientHeight));
}

void frmSubirFotos::Form_Load()
{
    ui->Text1->setText(QString::number(ModGlob::InstallationCode));
    try {
        LoadInstallationName();
    } catch (const Failure& failure) {
        // The window opens all the same, with a blank name.
        ModGlob::InstallationName = QString();
        ModGlob::ReportError(failure);
    }
    ui->Text2->setText(ModGlob::InstallationName.value());
    // Both boxes show their text from its start (the name is followed by blanks).
    ui->Text1->setCursorPosition(0);
    ui->Text2->setCursorPosition(0);
}

void frmSubirFotos::LoadInstallationName()
{
    if (!ModGlob::DbConnection) {
        ModGlob::InstallationName = QString();
        return;
    }
    db::Recordset rs;
    rs.open(QStringLiteral("SELECT NOMBRE FROM INSTALACIONES WHERE CODINSTALACION = ") +
                QString::number(ModGlob::InstallationCode),
            *ModGlob::DbConnection, db::CursorType::Static, db::LockType::Optimistic, db::OptionsUnspecified);
    if (rs.bof() || rs.eof())
        ModGlob::InstallationName = QString();
    else
        ModGlob::InstallationName = rs.fields(QStringLiteral("NOMBRE")).toString();
}

void frmSubirFotos::Drive1_Change(int index)
{
    const QString drive = ui->Drive1->itemText(index);
    try {
        ui->Dir1->setPath(drive);
        m_currentDrive = drive;
    } catch (const Failure& failure) {
        // A drive that cannot be read (no medium): say so and keep the previous one.
        ModGlob::ReportError(failure);
        const QSignalBlocker blocker(ui->Drive1);
        ui->Drive1->setCurrentText(m_currentDrive);
    }
}

RunContext frmSubirFotos::runContext() const
{
    RunContext context = RunContext::fromStartUp();
    // The installation the window shows, as it stands when the run asks.
    context.installationText = [this] { return ui->Text1->text(); };
    context.drawRunNumber = m_drawRunNumber;
    return context;
}

void frmSubirFotos::cmdSubir_Click()
{
    // The run takes no input while it works; this only guards against a re-entrant click.
    if (m_running || !ModGlob::DbConnection)
        return;
    m_running = true;
    BarProgress progress(*ui->ProgressBar1);
    UploadRun::Settings settings = runContext().uploadSettings(ui->Dir1->path());
    settings.progress = &progress;
    if (!m_runReport && !m_windowReport)
        m_windowReport = std::make_unique<WindowRunReport>(runContext().reportSource, reporting::logCsvExport());
    settings.report = m_runReport ? m_runReport : m_windowReport.get();
    // The report window yields to the event loop, where "Cancelar" may close this window.
    const QPointer<frmSubirFotos> self(this);
    const UploadSummary summary = UploadRun(std::move(settings)).run();
    if (!self)
        return;
    m_lastRun = summary;
    m_running = false;
}

void frmSubirFotos::cmdCancelar_Click() { close(); }

void frmSubirFotos::cmdComprobar_Click()
{
    if (m_running || !ModGlob::DbConnection)
        return;
    m_running = true;
    // The check's report reads a database of its own, kept while the program runs.
    m_checkDatabases.push_back(std::make_unique<QTemporaryDir>());
    if (!m_runReport && !m_checkWindowReport)
        m_checkWindowReport = std::make_unique<WindowRunReport>(runContext().reportSource, CheckReport::csvExport());
    CheckRun::Settings settings = runContext().checkSettings(ui->Dir1->path());
    settings.report = m_runReport ? m_runReport : m_checkWindowReport.get();
    settings.reportFolder = m_checkDatabases.back()->path();
    const QPointer<frmSubirFotos> self(this);
    const CheckSummary summary = CheckRun(std::move(settings)).run();
    if (!self)
        return;
    m_lastCheck = summary;
    m_running = false;
}
