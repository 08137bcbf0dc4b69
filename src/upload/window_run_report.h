#pragma once

#include "upload/run_report.h"

// Each run's report in a new report window, shown modeless beside the upload window; the window
// lives until the user closes it.
class WindowRunReport final : public RunReport {
public:
    void open(const QString& reportFile, const QString& condition, const QString& caption,
              const QString& dataSource = {}) override;
};
