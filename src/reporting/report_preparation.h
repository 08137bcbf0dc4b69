#pragma once

#include "reporting/report_engine.h"

#include <QString>

#include <array>
#include <functional>
#include <memory>

namespace reporting {

// A sort key such as "+{ABONADOS.CODIGO}": one direction character ("+" ascending, any other
// descending), then the field in braces with table and field joined by a dot.
struct SortKey {
    QString direction;
    QString table;  // characters 3 up to the first "."; empty: the key sorts nothing
    QString field;  // from character 2 to the end: {TABLE.FIELD}

    // Raises invalid argument (5) when the key has no "." or has it in position 1 or 2.
    static SortKey parse(const QString& key);
};

// Where a report comes from, as its caller knows it: the folder of its file and the database its
// tables log on to.
struct ReportSource {
    QString folder;      // the report file name is joined to it directly: it ends with its separator
    QString dataSource;  // as db::Connection::openDataSource takes it
    QString user;
    QString password;
};

// What a report run needs.
struct ReportRequest {
    QString reportFileName;  // joined directly to source.folder
    QString condition;       // selection condition in the engine's formula syntax; empty: all rows
    QString sort1;           // sort keys; empty: none
    QString sort2;
    std::array<QString, 15> formulaValues;  // for formulas named with F1..F9, G1..G6
    ReportSource source;
};

// Opens a report and makes it ready to run, with no window: open from the source's folder,
// prepare, log every table on with the source's data source and account, fill the formulas, add
// the sort fields, set the selection and merge it into the report's SQL.
// Used by the report window and by the headless upload before exportReportToPdf().
class ReportPreparation final {
public:
    using Yield = std::function<void()>;

    explicit ReportPreparation(ReportApplicationFactory factory = defaultReportApplicationFactory());
    ~ReportPreparation();

    // The prepared report; every failure (engine, sort-key lookup, translation) passes to the
    // caller. yield, when given, is called once right after the engine's preparation call.
    // The application object that opened the report is kept by this object until the next prepare().
    std::unique_ptr<Report> prepare(const ReportRequest& request, const Yield& yield = {});

private:
    ReportApplicationFactory m_factory;
    std::unique_ptr<ReportApplication> m_application;
};

}  // namespace reporting
