#pragma once

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
// way failures are shown, its run numbers), gathered in this one place for the window, the
// headless modes and the watch. The runs themselves read no global state.
struct RunContext {
    db::Connection* connection = nullptr;
    std::function<QString()> installationText;
    std::function<int32_t()> drawRunNumber;
    RetratixSettings photos;
    std::function<void(const Failure&)> reportError;

    // From what start-up loaded: the program's connection, installation code and settings, its
    // failure messages and run number generator.
    static RunContext fromStartUp();

    UploadRun::Settings uploadSettings(const QString& folder) const;
    CheckRun::Settings checkSettings(const QString& folder) const;
};
