#include "upload/headless_upload.h"

#include "common/messages.h"
#include "common/platform.h"
#include "common/text.h"
#include "startup/mod_glob.h"
#include "startup/retratix_settings.h"
#include "startup/run_number_generator.h"
#include "upload/check_run.h"
#include "upload/pdf_run_report.h"
#include "upload/run_context.h"
#include "upload/terminal_progress.h"
#include "upload/upload_run.h"
#include "upload/watch_folder.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <variant>
#include <cstring>

namespace HeadlessUpload {

namespace {

QString tr(const char* text) { return QCoreApplication::translate("HeadlessUpload", text); }

// SIGTERM and Ctrl+C end a watch, or a run, after the photo being stored.
std::atomic<bool> stopAsked{false};

void askStop(int) { stopAsked = true; }

// The program's messages (failures, which --quiet keeps) on the run's error stream, as the
// message boxes of the windows would show them: title, then text. The text keeps the line breaks
// of the failures' general form (CR LF before its three lines: number, source, description);
// whatever else it holds (an engine's message may quote a file's name) cannot start a line of its
// own or reach the terminal as an escape sequence.
class StreamMessages final : public Messages {
public:
    explicit StreamMessages(QTextStream& err) : m_err(err) {}
    void show(const ShownMessage& message) override
    {
        constexpr qsizetype LayoutBreaks = 3;
        const QString lineBreak = QStringLiteral("\r\n");
        const QStringList lines = message.text.split(lineBreak);
        QString text;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (i > 0)
                text += i <= LayoutBreaks ? lineBreak : printableText(lineBreak);
            text += printableText(lines.at(i));
        }
        m_err << printableText(message.title) << QStringLiteral(": ") << text << '\n';
        m_err.flush();
    }

private:
    QTextStream& m_err;
};

// What the command line asks for.
struct Options {
    enum class Mode { Upload, Check, Watch };
    Mode mode = Mode::Upload;
    QString folder;  // as given
    QString pdf;
    QString csv;
    QString pdfDir;
    double settleSeconds = 5;
    bool quiet = false;
    // [Retratix] settings given as options ("fit", "formats", ...), standing in for the file's.
    QHash<QString, QString> settings;
};

// The options, or the exit status to end with at once (help, version, a command line to mend).
std::variant<Options, int> parseOptions(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        tr("Carga las fotos de los abonados de una carpeta en la base de datos, sin ventanas. Sin opciones, "
           "el programa abre sus ventanas."));
    const QCommandLineOption upload(QStringLiteral("upload"), tr("Sube las fotos de CARPETA."), tr("CARPETA"));
    const QCommandLineOption check(QStringLiteral("check"),
                                   tr("Comprueba CARPETA: dice lo que haría la subida, sin escribir ni tocar nada."),
                                   tr("CARPETA"));
    const QCommandLineOption watch(QStringLiteral("watch"),
                                   tr("Vigila CARPETA y sube cada foto cuando deja de cambiar; termina con Ctrl+C."),
                                   tr("CARPETA"));
    const QCommandLineOption pdf(QStringLiteral("pdf"), tr("Escribe el informe en ARCHIVO (PDF)."), tr("ARCHIVO"));
    const QCommandLineOption csv(QStringLiteral("csv"),
                                 tr("Con --upload: escribe las filas del informe en ARCHIVO (CSV para una hoja de "
                                    "cálculo: UTF-8, separadas por «;»)."),
                                 tr("ARCHIVO"));
    const QCommandLineOption pdfDir(QStringLiteral("pdf-dir"),
                                    tr("Con --watch: escribe el informe de cada subida en CARPETA."), tr("CARPETA"));
    const QCommandLineOption settle(QStringLiteral("settle"),
                                    tr("Con --watch: segundos que una foto debe llevar sin cambiar (5)."),
                                    tr("SEGUNDOS"), QStringLiteral("5"));
    const QCommandLineOption quiet(QStringLiteral("quiet"), tr("Solo escribe los fallos."));
    const QCommandLineOption fit(QLatin1String(RetratixSettings::Fit.option),
                                 tr("Ajusta al límite las fotos de 150000 bytes o más (AjustarFotos=1)."));
    const QCommandLineOption upright(QLatin1String(RetratixSettings::Upright.option),
                                     tr("Endereza toda foto con marca de giro (EnderezarFotos=1)."));
    const QCommandLineOption formats(QLatin1String(RetratixSettings::Formats.option),
                                     tr("Formatos que son fotos además de .jpg, como png,heic (Formatos)."),
                                     tr("LISTA"));
    const QCommandLineOption originals(QLatin1String(RetratixSettings::Originals.option),
                                       tr("Guarda en CARPETA los originales subidos en vez de borrarlos "
                                          "(CarpetaOriginales)."),
                                       tr("CARPETA"));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, tr("Muestra esta ayuda."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, tr("Muestra la versión."));
    parser.addOptions({upload, check, watch, pdf, csv, pdfDir, settle, quiet, fit, upright, formats, originals, help, version});

    const auto usage = [&](const QString& problem) {
        err << problem << "\n\n" << parser.helpText();
        err.flush();
        return 2;
    };
    if (!parser.parse(arguments))
        return usage(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return usage(tr("Argumentos de más: %1").arg(parser.positionalArguments().join(QLatin1Char(' '))));
    if (parser.isSet(help)) {
        out << parser.helpText();
        return 0;
    }
    if (parser.isSet(version)) {
        out << Application::title()
            << QStringLiteral(" %1.%2.%3\n")
                   .arg(Application::majorVersion())
                   .arg(Application::minorVersion())
                   .arg(Application::revision());
        return 0;
    }
    const int modes = int(parser.isSet(upload)) + int(parser.isSet(check)) + int(parser.isSet(watch));
    if (modes != 1)
        return usage(tr("Indique una y solo una de --upload, --check y --watch."));
    Options options;
    options.mode = parser.isSet(watch) ? Options::Mode::Watch : parser.isSet(check) ? Options::Mode::Check
                                                                                    : Options::Mode::Upload;
    options.folder = parser.value(parser.isSet(watch) ? watch : parser.isSet(check) ? check : upload);
    bool settleOk = false;
    options.settleSeconds = parser.value(settle).toDouble(&settleOk);
    if (!settleOk || options.settleSeconds < 0)
        return usage(tr("--settle: «%1» no es un número de segundos.").arg(parser.value(settle)));
    if (parser.isSet(csv) && !parser.isSet(upload))
        return usage(tr("--csv solo va con --upload."));
    options.quiet = parser.isSet(quiet);
    // Files and folders named on the command line are the working folder's.
    const auto absolute = [&parser](const QCommandLineOption& option) {
        return parser.isSet(option) ? QFileInfo(parser.value(option)).absoluteFilePath() : QString();
    };
    options.pdf = absolute(pdf);
    options.csv = absolute(csv);
    options.pdfDir = absolute(pdfDir);
    for (const char* flag : {RetratixSettings::Fit.option, RetratixSettings::Upright.option})
        if (parser.isSet(QLatin1String(flag)))
            options.settings.insert(QLatin1String(flag), QStringLiteral("1"));
    if (parser.isSet(formats))
        options.settings.insert(formats.names().first(), parser.value(formats));
    if (parser.isSet(originals))
        options.settings.insert(originals.names().first(), absolute(originals));
    return options;
}

QString nativeFolder(const Options& options) { return printableText(QDir::toNativeSeparators(options.folder)); }

int runWatch(const Options& options, const RunContext& context, QTextStream& out, QTextStream& err)
{
    WatchFolder::Settings settings;
    settings.folder = QFileInfo(options.folder).absoluteFilePath();
    settings.settleMs = qint64(options.settleSeconds * 1000);
    settings.run = context.uploadSettings(settings.folder);
    settings.run.stopRequested = [] { return stopAsked.load(); };
    settings.reconnect = []() -> db::Connection* {
        return ModGlob::ReconnectDatabase() ? ModGlob::DbConnection.get() : nullptr;
    };
    const QString reports = options.pdfDir;
    settings.makeReport = [reports, source = context.reportSource](const QString&) -> std::unique_ptr<RunReport> {
        if (reports.isEmpty())
            return nullptr;
        QDir().mkpath(reports);
        const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        QString path = QDir(reports).filePath(QStringLiteral("InformeFotos-%1.pdf").arg(stamp));
        // A name is taken by any entry, a link that leads nowhere too.
        const auto taken = [](const QString& name) {
            const QFileInfo entry(name);
            return entry.exists() || entry.isSymLink();
        };
        for (int n = 2; taken(path); ++n)
            path = QDir(reports).filePath(QStringLiteral("InformeFotos-%1-%2.pdf").arg(stamp).arg(n));
        return std::make_unique<PdfRunReport>(source, path);
    };
    WatchFolder folder(std::move(settings), out, err, options.quiet);
    QTimer follow;
    QObject::connect(&follow, &QTimer::timeout, [&folder] {
        if (stopAsked)
            folder.stop();
    });
    follow.start(100);
    return folder.exec();
}

int runCheck(const Options& options, const RunContext& context, QTextStream& out, QTextStream& err)
{
    QTemporaryDir reportDatabase;
    std::unique_ptr<PdfRunReport> report;
    if (!options.pdf.isEmpty())
        report = std::make_unique<PdfRunReport>(context.reportSource, options.pdf);
    CheckRun::Settings settings = context.checkSettings(QFileInfo(options.folder).absoluteFilePath());
    settings.report = report.get();
    settings.reportFolder = reportDatabase.path();
    const CheckSummary summary = CheckRun(std::move(settings)).run();
    if (!options.quiet) {
        for (const CheckRow& row : summary.rows)
            out << printableText(row.file) << '\t' << row.stored << '\t' << row.outcome << '\t'
                << printableText(row.detail) << '\n';
        out << summary.toText() << '\n';
    }
    out.flush();
    switch (summary.end) {
    case CheckSummary::End::Completed: return 0;
    case CheckSummary::End::Failed: return 1;
    case CheckSummary::End::FolderMissing:
        err << tr("No existe la carpeta: %1").arg(nativeFolder(options)) << '\n';
        return 2;
    }
    return 1;
}

int runUpload(const Options& options, const RunContext& context, QTextStream& out, QTextStream& err)
{
    std::unique_ptr<PdfRunReport> report;
    if (!options.pdf.isEmpty() || !options.csv.isEmpty())
        report = std::make_unique<PdfRunReport>(context.reportSource, options.pdf, options.csv);
    TerminalProgress progress(stderr, !options.quiet);
    UploadRun::Settings settings = context.uploadSettings(QFileInfo(options.folder).absoluteFilePath());
    settings.report = report.get();
    settings.stopRequested = [] { return stopAsked.load(); };
    settings.onProgress = [&progress](int done, int total, int photos) { progress.update(done, total, photos); };
    const UploadSummary summary = UploadRun(std::move(settings)).run();
    progress.finish();

    if (!options.quiet) {
        out << summary.toText();
        if (report && summary.end == UploadSummary::End::Completed) {
            if (!report->pdfPath().isEmpty())
                out << tr(", informe en %1").arg(QDir::toNativeSeparators(report->pdfPath()));
            if (!report->csvPath().isEmpty())
                out << tr(", filas en %1").arg(QDir::toNativeSeparators(report->csvPath()));
        }
        out << '\n';
        out.flush();
    }
    // For benchmarks: where the run's time went, in nanoseconds.
    if (qEnvironmentVariableIsSet("RETRATIX_TIMINGS")) {
        const UploadSummary::Timings& t = summary.timings;
        err << "timings: listing=" << t.listing << " gathering=" << t.gathering << " queries=" << t.queries
            << " reads=" << t.reads << " writes=" << t.writes << " durability=" << t.durability
            << " deletion=" << t.deletion << '\n';
        err.flush();
    }
    if (summary.end == UploadSummary::End::Failed && !summary.failedFile.isEmpty()) {
        err << tr("Archivo del error: %1").arg(printableText(QDir::toNativeSeparators(summary.failedFile))) << '\n';
        err.flush();
    }
    switch (summary.end) {
    case UploadSummary::End::Completed: return 0;
    case UploadSummary::End::Stopped: return 0;
    case UploadSummary::End::Failed: return 1;
    case UploadSummary::End::FolderMissing:
        err << tr("No existe la carpeta: %1").arg(nativeFolder(options)) << '\n';
        return 2;
    }
    return 1;
}

}  // namespace

bool requested(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        for (const char* mode : {"--upload", "--check", "--watch", "--help", "--version"}) {
            const size_t length = std::strlen(mode);
            if (std::strncmp(argv[i], mode, length) == 0 && (argv[i][length] == '\0' || argv[i][length] == '='))
                return true;
        }
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "-v") == 0)
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
    const std::variant<Options, int> parsed = parseOptions(arguments, out, err);
    if (const int* exitStatus = std::get_if<int>(&parsed))
        return *exitStatus;
    const Options& options = std::get<Options>(parsed);

    StreamMessages messages(err);
    const ScopedMessages scoped(messages);
    ModGlob::ConnectDatabase();
    try {
        ModGlob::Settings = ModGlob::LoadRetratixSettings(options.settings);
    } catch (const Failure& failure) {
        err << failure.description << '\n';
        return 2;
    }
    RunNumberGenerator::program().seedFromTimer();
    stopAsked = false;
    std::signal(SIGTERM, askStop);
    std::signal(SIGINT, askStop);

    const RunContext context = RunContext::fromStartUp();
    switch (options.mode) {
    case Options::Mode::Watch: return runWatch(options, context, out, err);
    case Options::Mode::Check: return runCheck(options, context, out, err);
    case Options::Mode::Upload: return runUpload(options, context, out, err);
    }
    return 1;
}

}  // namespace HeadlessUpload
