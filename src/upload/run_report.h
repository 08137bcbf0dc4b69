#pragma once

#include <QString>

// Where an upload run's report goes at its end: a report window, a PDF file, or a test's record.
class RunReport {
public:
    virtual ~RunReport() = default;
    // reportFile is the name within the report folder; condition selects the run's rows;
    // dataSource, when given, is where the report reads them instead of the program's database.
    virtual void open(const QString& reportFile, const QString& condition, const QString& caption,
                      const QString& dataSource = {}) = 0;
};
