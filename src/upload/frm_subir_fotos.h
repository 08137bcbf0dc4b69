#pragma once

#include "upload/check_run.h"
#include "upload/run_context.h"
#include "upload/upload_run.h"

#include <QTemporaryDir>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QLabel;
class RunReport;
namespace Ui {
class frmSubirFotos;
}

// The upload window: the installation's code and name, a drive and a folder to upload from,
// "Subir" to run the upload and "Cancelar" to close. The run itself is UploadRun.
class frmSubirFotos final : public QWidget {
    Q_OBJECT
public:
    explicit frmSubirFotos(QWidget* parent = nullptr);
    ~frmSubirFotos() override;

    // Shows the program-wide instance, creating it when there is none.
    static frmSubirFotos& Main();

    const Ui::frmSubirFotos& controls() const { return *ui; }
    // The indexed label group Label2 (0 "Codigo", 1 "Instalacion:").
    QLabel* Label2(int index) const;

    // Seams for tests and the headless mode: the run-number source (the program's generator
    // by default) and where each run's report goes (a new report window by default).
    void setRunNumberSource(std::function<int32_t()> source) { m_drawRunNumber = std::move(source); }
    void setRunReport(RunReport* report) { m_runReport = report; }
    const UploadSummary& lastRun() const { return m_lastRun; }
    const CheckSummary& lastCheck() const { return m_lastCheck; }

    // Every drive (mounted volume) of the machine, by its root path.
    static QStringList driveRoots();

private:
    // What the window's runs take: start-up's, with the installation in the code box.
    RunContext runContext() const;
    void Form_Load();
    void LoadInstallationName();
    void Drive1_Change(int index);
    void cmdSubir_Click();
    void cmdCancelar_Click();
    // Says what "Subir" would do with the folder shown, in a report window; changes nothing.
    void cmdComprobar_Click();
    void placeControls();

    std::unique_ptr<Ui::frmSubirFotos> ui;
    std::function<int32_t()> m_drawRunNumber;
    RunReport* m_runReport = nullptr;
    // Made at the first run: the configuration is read by then.
    std::unique_ptr<RunReport> m_windowReport;
    std::unique_ptr<RunReport> m_checkWindowReport;
    QString m_currentDrive;
    UploadSummary m_lastRun;
    CheckSummary m_lastCheck;
    std::vector<std::unique_ptr<QTemporaryDir>> m_checkDatabases;
    bool m_running = false;
};
