#pragma once

#include "common/failure.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class QPainter;

// The report engine as the report window and the SQL translation use it. Every failure is a
// Failure with a number and a description. Collections count from 1.
namespace reporting {

// Raised by openReport when the report file cannot be opened or read.
constexpr int32_t ReportFileNotFound = static_cast<int32_t>(0x80043AC3u);

class ReportField {
public:
    virtual ~ReportField() = default;
    // {TABLE.FIELD}
    virtual QString name() const = 0;
};

class ReportTable {
public:
    virtual ~ReportTable() = default;
    virtual QString name() const = 0;
    // Every later read of the table uses this logon; the database name may be omitted (empty).
    virtual void setLogOnInfo(const QString& server, const QString& database, const QString& user,
                              const QString& password) = 0;
    virtual int fieldCount() const = 0;
    virtual ReportField& field(int index) = 0;  // 1-based; out of range raises a Failure
};

class FormulaField {
public:
    virtual ~FormulaField() = default;
    virtual QString name() const = 0;
    virtual QString text() const = 0;
    virtual void setText(const QString& text) = 0;
};

enum class SortDirection : int32_t { Ascending = 0, Descending = 1 };

class Report {
public:
    virtual ~Report() = default;
    // The parameterless preparation call, made once right after opening.
    virtual void prepare() = 0;
    virtual int tableCount() const = 0;
    virtual ReportTable& table(int index) = 0;  // 1-based; out of range raises a Failure
    virtual int formulaFieldCount() const = 0;
    virtual FormulaField& formulaField(int index) = 0;  // 1-based
    virtual void addRecordSortField(ReportField& field, SortDirection direction) = 0;
    virtual QString recordSelectionFormula() const = 0;
    virtual void setRecordSelectionFormula(const QString& formula) = 0;
    virtual QString sqlQueryString() const = 0;
    virtual void setSqlQueryString(const QString& sql) = 0;
    // 3 once the report is complete.
    virtual int printingStatusProgress() const = 0;
};

class ReportApplication {
public:
    virtual ~ReportApplication() = default;
    // openMode 1 as the program passes it; raises Failure ReportFileNotFound when the file cannot be read.
    virtual std::unique_ptr<Report> openReport(const QString& path, int openMode) = 0;
};

// Creates a new application object per report; tests substitute a failing engine.
using ReportApplicationFactory = std::function<std::unique_ptr<ReportApplication>()>;
ReportApplicationFactory defaultReportApplicationFactory();

}  // namespace reporting
