#include "upload/program_report_source.h"

#include "common/text.h"
#include "startup/mod_glob.h"

reporting::ReportSource programReportSource()
{
    return {trimBlanks(ModGlob::ReportFolder), trimBlanks(ModGlob::DatabaseSid), ModGlob::builtInUser(),
            ModGlob::builtInPassword()};
}
