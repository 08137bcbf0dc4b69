#pragma once

#include "reporting/report_preparation.h"

// Where the program's reports come from: the configured report folder (without the blanks around
// it; the report file name follows it directly), the configured data source and the built-in
// account. For the windows and the headless modes, which hand it to the report window or file.
reporting::ReportSource programReportSource();
