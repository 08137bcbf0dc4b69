#pragma once

#include "reporting/report_definition.h"
#include "reporting/report_document.h"
#include "reporting/report_engine.h"

#include <QDateTime>

#include <memory>
#include <optional>
#include <vector>

class QElapsedTimer;

namespace reporting {

class EngineReport;

class EngineField final : public ReportField {
public:
    EngineField(QString table, QString column) : m_table(std::move(table)), m_column(std::move(column)) {}
    QString name() const override { return QStringLiteral("{%1.%2}").arg(m_table, m_column); }
    const QString& column() const { return m_column; }

private:
    QString m_table;
    QString m_column;
};

struct LogOnInfo {
    QString server;  // a data source as db::Connection::openDataSource takes it
    QString database;
    QString user;
    QString password;
};

class EngineTable final : public ReportTable {
public:
    explicit EngineTable(const TableDefinition& definition);
    QString name() const override { return m_name; }
    void setLogOnInfo(const QString& server, const QString& database, const QString& user,
                      const QString& password) override;
    int fieldCount() const override { return static_cast<int>(m_fields.size()); }
    ReportField& field(int index) override;

    const std::optional<LogOnInfo>& logOnInfo() const { return m_logOn; }
    const std::vector<std::unique_ptr<EngineField>>& fields() const { return m_fields; }

private:
    QString m_name;
    std::vector<std::unique_ptr<EngineField>> m_fields;
    std::optional<LogOnInfo> m_logOn;
};

class EngineFormula final : public FormulaField {
public:
    explicit EngineFormula(const FormulaDefinition& definition) : m_name(definition.name), m_text(definition.text) {}
    QString name() const override { return m_name; }
    QString text() const override { return m_text; }
    void setText(const QString& text) override { m_text = text; }

private:
    QString m_name;
    QString m_text;
};

// A report of our engine: its definition, what the caller set on it, and its runs. A run reads the
// rows with the tables' logon, sorts them by the record sort fields, applies the record selection
// formula and lays them out on pages; it goes in steps so that a viewer shows the first pages early.
class EngineReport final : public Report {
public:
    explicit EngineReport(ReportDefinition definition);
    ~EngineReport() override;

    void prepare() override;
    int tableCount() const override { return static_cast<int>(m_tables.size()); }
    ReportTable& table(int index) override;
    int formulaFieldCount() const override { return static_cast<int>(m_formulas.size()); }
    FormulaField& formulaField(int index) override;
    void addRecordSortField(ReportField& field, SortDirection direction) override;
    QString recordSelectionFormula() const override { return m_selection; }
    void setRecordSelectionFormula(const QString& formula) override { m_selection = formula; }
    QString sqlQueryString() const override { return m_sql; }
    void setSqlQueryString(const QString& sql) override { m_sql = sql; }
    int printingStatusProgress() const override { return m_status; }

    const ReportDefinition& definition() const { return m_def; }

    // Starts a new run, dropping any earlier one; the status becomes PrintingInProgress.
    void startRun();
    // Works on the run for about the given time; true once the run has ended (completed or failed).
    bool runStep(int milliseconds);
    // Runs the report to its end; raises the run's failure.
    void runToEnd();
    bool runEnded() const;
    const std::optional<Failure>& runFailure() const;
    // The run's pages so far; null before the first run.
    const ReportDocument* document() const;
    // Expires when the report is destroyed (the viewer holds the report by plain pointer).
    std::weak_ptr<const void> lifetime() const { return m_lifetime; }

private:
    struct Run;
    void fail(const Failure& failure);
    bool step(const QElapsedTimer& clock, int milliseconds);

    ReportDefinition m_def;
    std::vector<std::unique_ptr<EngineTable>> m_tables;
    std::vector<std::unique_ptr<EngineFormula>> m_formulas;
    QList<std::pair<QString, SortDirection>> m_sortFields;
    QString m_selection;
    QString m_sql;
    int m_status = PrintingNotStarted;
    std::unique_ptr<Run> m_run;
    std::shared_ptr<const int> m_lifetime = std::make_shared<const int>(0);
};

}  // namespace reporting
