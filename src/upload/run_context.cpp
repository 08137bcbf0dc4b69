#include "upload/run_context.h"

#include "common/text.h"
#include "startup/mod_glob.h"
#include "startup/run_number_generator.h"

RunContext RunContext::fromStartUp()
{
    RunContext context;
    context.connection = ModGlob::DbConnection.get();
    context.installationText = [] { return QString::number(ModGlob::InstallationCode); };
    context.drawRunNumber = [] { return RunNumberGenerator::program().drawRunNumber(); };
    context.photos = ModGlob::Settings;
    context.reportError = [](const Failure& failure) { ModGlob::ReportError(failure); };
    context.reportSource = {trimBlanks(ModGlob::ReportFolder), trimBlanks(ModGlob::DatabaseSid),
                            ModGlob::builtInUser(), ModGlob::builtInPassword()};
    return context;
}

UploadRun::Settings RunContext::uploadSettings(const QString& folder) const
{
    UploadRun::Settings settings;
    settings.connection = connection;
    settings.folder = folder;
    settings.installationText = installationText;
    settings.drawRunNumber = drawRunNumber;
    settings.photos = photos;
    settings.reportError = reportError;
    return settings;
}

CheckRun::Settings RunContext::checkSettings(const QString& folder) const
{
    CheckRun::Settings settings;
    settings.connection = connection;
    settings.folder = folder;
    settings.installationText = installationText;
    settings.photos = photos;
    settings.reportError = reportError;
    return settings;
}
