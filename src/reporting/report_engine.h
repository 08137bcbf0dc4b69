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
// Further failures of our engine.
constexpr int32_t ReportSubscriptOutOfRange = 9;  // a collection index out of range
constexpr int32_t ReportFormulaError = static_cast<int32_t>(0x80043B01u);          // formula does not parse
constexpr int32_t ReportSelectionUnsupported = static_cast<int32_t>(0x80043B02u);  // selection formula refused
constexpr int32_t ReportNoLogOnInfo = static_cast<int32_t>(0x80043B03u);           // run without a logon
constexpr int32_t ReportFieldNotInQuery = static_cast<int32_t>(0x80043B04u);       // selection on an absent field
constexpr int32_t ReportNotOfThisEngine = static_cast<int32_t>(0x80043B05u);       // a Report we cannot run
constexpr int32_t ReportNotWritten = static_cast<int32_t>(0x80043B06u);            // PDF file not written

// Values of Report::printingStatusProgress().
enum PrintingStatus : int { PrintingNotStarted = 1, PrintingInProgress = 2, PrintingCompleted = 3, PrintingFailed = 4 };

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
    // 3 once the report is complete (PrintingStatus: 1 not run yet, 2 running, 4 the run failed).
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
