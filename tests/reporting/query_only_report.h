#pragma once

// A report of only a selection formula and an SQL query: all that the condition-to-SQL
// translation touches (its tests and its fuzz target).
#include "common/failure.h"
#include "reporting/report_engine.h"

namespace reportingtest {

class QueryOnlyReport final : public reporting::Report {
public:
    void prepare() override {}
    int tableCount() const override { return 0; }
    reporting::ReportTable& table(int) override { throw RuntimeError::failure(9); }
    int formulaFieldCount() const override { return 0; }
    reporting::FormulaField& formulaField(int) override { throw RuntimeError::failure(9); }
    void addRecordSortField(reporting::ReportField&, reporting::SortDirection) override {}
    QString recordSelectionFormula() const override { return selection; }
    void setRecordSelectionFormula(const QString& formula) override { selection = formula; }
    QString sqlQueryString() const override { return sql; }
    void setSqlQueryString(const QString& text) override { sql = text; }
    int printingStatusProgress() const override { return reporting::PrintingCompleted; }

    QString selection;
    QString sql;
};

}  // namespace reportingtest
