#pragma once

#include "reporting/report_preparation.h"
#include "startup/retratix_settings.h"
#include "upload/check_run.h"
#include "upload/upload_run.h"

#include <QString>

#include <cstdint>
#include <functional>

namespace db {
class Connection;
}
struct Failure;

// What every run takes from the program's start-up (its connection, installation, settings, the
// way failures are shown, its run numbers, where its reports come from), gathered in this one
// place for the window, the headless modes and the watch. The runs themselves read no global state.
struct RunContext {
    db::Connection* connection = nullptr;
    std::function<QString()> installationText;
    std::function<int32_t()> drawRunNumber;
    RetratixSettings photos;
    std::function<void(const Failure&)> reportError;
    // Where the reports come from: the report folder, the data source and the built-in account.
    reporting::ReportSource reportSource;

    // From what start-up loaded: the program's connection, installation code and settings, its
    // failure messages and run number generator, its report folder, data source and account.
    static RunContext fromStartUp();

    UploadRun::Settings uploadSettings(const QString& folder) const;
    CheckRun::Settings checkSettings(const QString& folder) const;
};
