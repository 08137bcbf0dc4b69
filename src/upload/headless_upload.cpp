#include "upload/headless_upload.h"

#include "common/messages.h"
#include "startup/mod_glob.h"
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
    parser.addOption(uploadOption);
    parser.addOption(pdfOption);
    parser.addHelpOption();
    if (!parser.parse(arguments) || !parser.positionalArguments().isEmpty()) {
        err << (parser.errorText().isEmpty() ? QStringLiteral("unexpected arguments") : parser.errorText()) << '\n'
            << parser.helpText();
        return 2;
    }

    StandardErrorMessages messages;
    const ScopedMessages scoped(messages);
    ModGlob::ConnectDatabase();
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
