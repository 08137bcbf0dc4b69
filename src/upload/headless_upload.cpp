#include "upload/headless_upload.h"

#include "common/messages.h"
#include "startup/mod_glob.h"
#include "startup/retratix_settings.h"
#include "startup/run_number_generator.h"
#include "upload/pdf_run_report.h"
#include "upload/upload_run.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

#include <cstring>

namespace HeadlessUpload {

bool requested(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--upload") == 0 || std::strncmp(argv[i], "--upload=", 9) == 0)
            return true;
    }
    return false;
}

int run(const QStringList& arguments)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    return run(arguments, out, err);
}

int run(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Uploads a folder of member photos without windows."));
    const QCommandLineOption uploadOption(QStringLiteral("upload"), QStringLiteral("Folder of photos to upload."),
                                          QStringLiteral("FOLDER"));
    const QCommandLineOption pdfOption(QStringLiteral("pdf"), QStringLiteral("Write the run's report to FILE."),
                                       QStringLiteral("FILE"));
    // The program's own settings, each standing in for its key of [Retratix] in Polidex.ini.
    const QCommandLineOption fitOption(QLatin1String(RetratixSettings::Fit.option),
                                       QStringLiteral("Fit photos of 150000 bytes or more under the limit (AjustarFotos=1)."));
    const QCommandLineOption uprightOption(QLatin1String(RetratixSettings::Upright.option),
                                           QStringLiteral("Turn every photo with a rotation tag upright (EnderezarFotos=1)."));
    const QCommandLineOption formatsOption(QLatin1String(RetratixSettings::Formats.option),
                                           QStringLiteral("Extensions that are photos besides .jpg, as png,heic (Formatos)."),
                                           QStringLiteral("LIST"));
    const QCommandLineOption originalsOption(QLatin1String(RetratixSettings::Originals.option),
                                             QStringLiteral("Move stored originals into DIR instead of deleting them "
                                                            "(CarpetaOriginales)."),
                                             QStringLiteral("DIR"));
    parser.addOption(uploadOption);
    parser.addOption(pdfOption);
    parser.addOption(fitOption);
    parser.addOption(uprightOption);
    parser.addOption(formatsOption);
    parser.addOption(originalsOption);
    parser.addHelpOption();
    if (!parser.parse(arguments) || !parser.positionalArguments().isEmpty()) {
        err << (parser.errorText().isEmpty() ? QStringLiteral("unexpected arguments") : parser.errorText()) << '\n'
            << parser.helpText();
        return 2;
    }

    StandardErrorMessages messages;
    const ScopedMessages scoped(messages);
    ModGlob::ConnectDatabase();
    QHash<QString, QString> options;
    for (const QCommandLineOption* flag : {&fitOption, &uprightOption})
        if (parser.isSet(*flag))
            options.insert(flag->names().first(), QStringLiteral("1"));
    if (parser.isSet(formatsOption))
        options.insert(formatsOption.names().first(), parser.value(formatsOption));
    // On the command line a relative folder is the working folder's.
    if (parser.isSet(originalsOption))
        options.insert(originalsOption.names().first(), QFileInfo(parser.value(originalsOption)).absoluteFilePath());
    try {
        ModGlob::Settings = ModGlob::LoadRetratixSettings(options);
    } catch (const Failure& failure) {
        err << failure.description << '\n';
        return 2;
    }
    RunNumberGenerator::program().seedFromTimer();

    const QString folder = QFileInfo(parser.value(uploadOption)).absoluteFilePath();
    std::unique_ptr<PdfRunReport> report;
    if (parser.isSet(pdfOption))
        report = std::make_unique<PdfRunReport>(QFileInfo(parser.value(pdfOption)).absoluteFilePath());

    UploadRun::Settings settings;
    settings.connection = ModGlob::DbConnection.get();
    settings.folder = folder;
    settings.installationText = [] { return QString::number(ModGlob::InstallationCode); };
    settings.drawRunNumber = [] { return RunNumberGenerator::program().drawRunNumber(); };
    settings.report = report.get();
    settings.photos = ModGlob::Settings;
    const UploadSummary summary = UploadRun(std::move(settings)).run();

    out << summary.toText();
    if (report && summary.end == UploadSummary::End::Completed)
        out << ", report " << QDir::toNativeSeparators(report->pdfPath());
    out << '\n';
    out.flush();
    // For benchmarks: where the run's time went, in nanoseconds.
    if (qEnvironmentVariableIsSet("RETRATIX_TIMINGS")) {
        const UploadSummary::Timings& t = summary.timings;
        err << "timings: listing=" << t.listing << " gathering=" << t.gathering << " queries=" << t.queries << " reads=" << t.reads
            << " writes=" << t.writes << " durability=" << t.durability << " deletion=" << t.deletion << '\n';
        err.flush();
    }
    if (summary.end == UploadSummary::End::Failed && !summary.failedFile.isEmpty()) {
        err << "Archivo del error: " << QDir::toNativeSeparators(summary.failedFile) << '\n';
        err.flush();
    }
    switch (summary.end) {
    case UploadSummary::End::Completed: return 0;
    case UploadSummary::End::Failed: return 1;
    case UploadSummary::End::FolderMissing:
        err << "No such folder: " << QDir::toNativeSeparators(folder) << '\n';
        return 2;
    }
    return 1;
}

}  // namespace HeadlessUpload
