// What `retratix --watch` costs while nothing happens, and how soon it takes a photo that lands.
//
// Idle: a folder of N entries (default 1 000 000): one in a hundred a photo of a member that does
// not exist (named "CODE.jpg", 100 bytes), which the watch examines once at its start and which then
// stays; the others empty files that are no photos ("IMG_0000001.jpg", "0000002.txt",
// "notas-0000003.doc"). Each program is started on it (its own copy beside a Polidex.ini naming a
// fresh SQLite database, as bench/throughput_bench.cpp does), its start-up is let finish (its runs
// have examined every photo, by the files of their summary lines), and then its CPU time (user +
// system, /proc/PID/stat) is taken over the next S seconds (default 60) with nothing changing;
// SIGTERM ends it.
// Latency: a small folder (100 files that are no photos) watched with --settle L (default 1); five
// photos are renamed into it one after another, each timed from the rename to the moment its file
// is gone (stored, made durable, deleted).
// Programs: --program LABEL=PATH (repeatable); --polled LABEL=PATH runs one with
// RETRATIX_WATCH_NOTICES=none, as the watch works where change notices never come (a network
// share). Without any, the program built beside this benchmark.
// Prints figures; judges nothing.
//
// Run:  bench/watch_bench.sh    (builds this tree and a base revision, runs both side by side)
//   or  build-bench/bin/watch_bench [--entries N] [--seconds S] [--latency-settle L]
//                                   [--work DIR] [--program LABEL=PATH]... [--polled LABEL=PATH]...
// The folders go under --work (default TMPDIR or /tmp); its file system is printed. At a million
// entries the folder takes about 1 GB of inodes and a minute or so to make on a disk.
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QList>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using namespace std::chrono_literals;

[[noreturn]] void fail(const QString& message)
{
    std::fprintf(stderr, "watch_bench: %s\n", qPrintable(message));
    std::exit(3);
}

void progress(const QString& text) { std::fprintf(stderr, "  .. %s\n", qPrintable(text)); }

double seconds(std::chrono::steady_clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

QByteArray native(const QString& path) { return QFile::encodeName(path); }

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        fail(QStringLiteral("cannot write %1").arg(path));
}

QByteArray readAllOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct Program {
    QString label;
    QString path;
    bool polled = false;  // RETRATIX_WATCH_NOTICES=none
};

struct Settings {
    int entries = 1'000'000;
    int seconds = 60;
    int latencySettle = 1;
    QString work;
    QList<Program> programs;
};

Settings parseArguments(const QStringList& arguments)
{
    Settings settings;
    settings.work = qEnvironmentVariable("TMPDIR", QStringLiteral("/tmp"));
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& option = arguments.at(i);
        const QString value = i + 1 < arguments.size() ? arguments.at(i + 1) : QString();
        const auto number = [&] {
            bool ok = false;
            const int n = value.toInt(&ok);
            if (!ok || n < 0)
                fail(QStringLiteral("%1 needs a number").arg(option));
            return n;
        };
        const auto program = [&](bool polled) {
            const qsizetype equals = value.indexOf(QLatin1Char('='));
            if (equals <= 0)
                fail(QStringLiteral("%1 needs LABEL=PATH").arg(option));
            settings.programs.append({value.left(equals), value.mid(equals + 1), polled});
        };
        if (option == QLatin1String("--entries"))
            settings.entries = number();
        else if (option == QLatin1String("--seconds"))
            settings.seconds = number();
        else if (option == QLatin1String("--latency-settle"))
            settings.latencySettle = std::max(1, number());
        else if (option == QLatin1String("--work"))
            settings.work = value;
        else if (option == QLatin1String("--program"))
            program(false);
        else if (option == QLatin1String("--polled"))
            program(true);
        else
            fail(QStringLiteral("unknown option %1").arg(option));
        ++i;
    }
    if (settings.programs.isEmpty())
        settings.programs.append({QStringLiteral("this build"), QStringLiteral(RETRATIX_PROGRAM), false});
    return settings;
}

// ---------------------------------------------------------------------------------------------
// Data

constexpr int FirstAbsentMember = 500'000;
constexpr int Members = 100;  // 1..100 exist: the latency trial's photos

void makeDatabase(const QString& path)
{
    const QByteArray schema = readAllOf(QStringLiteral(RETRATIX_SOURCE_DIR "/db/sqlite/schema.sql"));
    if (schema.isEmpty())
        fail(QStringLiteral("no schema"));
    QByteArray script = schema + "\nBEGIN;\n";
    for (int code = 1; code <= Members; ++code)
        script += "INSERT INTO ABONADOS (CODINSTALACION, CODIGO) VALUES (1, " + QByteArray::number(code) + ");\n";
    script += "COMMIT;\n";
    sqlite3* db = nullptr;
    char* message = nullptr;
    if (sqlite3_open(native(path).constData(), &db) != SQLITE_OK ||
        sqlite3_exec(db, script.constData(), nullptr, nullptr, &message) != SQLITE_OK)
        fail(QStringLiteral("cannot make the database: %1").arg(QString::fromUtf8(message ? message : "")));
    sqlite3_close(db);
}

void createFile(const QByteArray& path, const QByteArray& bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 || (!bytes.isEmpty() && ::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size()))
        fail(QStringLiteral("cannot create %1: %2").arg(QFile::decodeName(path), QString::fromLocal8Bit(std::strerror(errno))));
    ::close(fd);
}

// The idle folder; the number of photos in it.
int makeIdleFolder(const QString& folder, int entries)
{
    if (!QDir().mkpath(folder))
        fail(QStringLiteral("cannot make %1").arg(folder));
    const QByteArray base = native(folder) + '/';
    const QByteArray photo(100, 'p');
    int photos = 0;
    char name[64];
    for (int i = 0; i < entries; ++i) {
        if (i % 100 == 0) {
            std::snprintf(name, sizeof name, "%d.jpg", FirstAbsentMember + photos++);
            createFile(base + name, photo);
            continue;
        }
        switch (i % 3) {
        case 0: std::snprintf(name, sizeof name, "IMG_%07d.jpg", i); break;
        case 1: std::snprintf(name, sizeof name, "%07d.txt", i); break;
        default: std::snprintf(name, sizeof name, "notas-%07d.doc", i); break;
        }
        createFile(base + name, {});
        if (i % 100'000 == 99'999)
            progress(QStringLiteral("%1 entries made").arg(i + 1));
    }
    return photos;
}

// ---------------------------------------------------------------------------------------------
// The program

// A program folder: a copy of the executable beside a Polidex.ini naming the database.
QString makeProgramFolder(const QString& folder, const QString& executable, const QString& database)
{
    if (!QDir().mkpath(folder))
        fail(QStringLiteral("cannot make %1").arg(folder));
    const QString copy = folder + QStringLiteral("/retratix");
    QFile::remove(copy);
    if (!QFile::copy(executable, copy))
        fail(QStringLiteral("cannot copy %1").arg(executable));
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    writeFile(folder + QStringLiteral("/Polidex.ini"),
              "[Conexion]\r\nSID=sqlite:" + native(database) +
                  "\r\n[Form]\r\nLeft=0\r\nTop=0\r\nWidth=7500\r\nHeight=5200\r\n[Listados]\r\nRptPath=" RETRATIX_SOURCE_DIR
                  "/reports/\r\n[Impresoras]\r\nInstalacion=1\r\n");
    return copy;
}

class Watch {
public:
    Watch(const Program& program, const QString& programFolder, const QString& folder, int settleSeconds)
        : m_out(programFolder + QStringLiteral("/watch.out")), m_err(programFolder + QStringLiteral("/watch.err"))
    {
        const QString executable = makeProgramFolder(programFolder, program.path,
                                                     programFolder + QStringLiteral("/retratix.db"));
        makeDatabase(programFolder + QStringLiteral("/retratix.db"));
        const int outFd = ::open(native(m_out).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int errFd = ::open(native(m_err).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int inFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (outFd < 0 || errFd < 0 || inFd < 0)
            fail(QStringLiteral("cannot open the program's output files"));
        QByteArray path = native(executable);
        QByteArray mode("--watch");
        QByteArray target = native(folder);
        QByteArray settleOption("--settle");
        QByteArray settle = QByteArray::number(settleSeconds);
        char* arguments[] = {path.data(), mode.data(), target.data(), settleOption.data(), settle.data(), nullptr};
        static char polledVariable[] = "RETRATIX_WATCH_NOTICES=none";
        std::vector<char*> environment;
        for (char** variable = environ; *variable; ++variable)
            if (std::strncmp(*variable, "RETRATIX_WATCH_NOTICES=", 23) != 0)
                environment.push_back(*variable);
        if (program.polled)
            environment.push_back(polledVariable);
        environment.push_back(nullptr);

        m_started = std::chrono::steady_clock::now();
        m_pid = ::fork();
        if (m_pid < 0)
            fail(QStringLiteral("fork failed"));
        if (m_pid == 0) {
            ::dup2(inFd, 0);
            ::dup2(outFd, 1);
            ::dup2(errFd, 2);
            ::execve(path.constData(), arguments, environment.data());
            ::_exit(127);
        }
        ::close(inFd);
        ::close(outFd);
        ::close(errFd);
    }
    ~Watch() { end(); }
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

    // Waits until the text appears in its standard output or error; the seconds since its start.
    double waitFor(const QByteArray& text, bool inErrors, std::chrono::seconds limit)
    {
        return waitUntil([&] { return readAllOf(inErrors ? m_err : m_out).contains(text); },
                         QStringLiteral("\"%1\"").arg(QString::fromUtf8(text)), limit);
    }

    // Waits until its runs have examined the number of files; the seconds since its start.
    double waitForFilesExamined(int files, std::chrono::seconds limit)
    {
        static const QRegularExpression summary(QStringLiteral("terminada: (\\d+) archivos"));
        return waitUntil(
            [&] {
                int examined = 0;
                QRegularExpressionMatchIterator it = summary.globalMatch(QString::fromUtf8(readAllOf(m_out)));
                while (it.hasNext())
                    examined += it.next().captured(1).toInt();
                return examined >= files;
            },
            QStringLiteral("runs over %1 files").arg(files), limit);
    }

    // User and system CPU seconds so far, all threads.
    double cpuSeconds() const
    {
        const QByteArray stat = readAllOf(QStringLiteral("/proc/%1/stat").arg(m_pid));
        const qsizetype close = stat.lastIndexOf(')');
        const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
        if (close < 0 || fields.size() < 13)
            fail(QStringLiteral("cannot read the program's CPU time"));
        // After the name: state (field 3), ..., utime (14), stime (15).
        return double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) / double(::sysconf(_SC_CLK_TCK));
    }

    template <typename Condition>
    double waitUntil(Condition done, const QString& what, std::chrono::seconds limit)
    {
        while (!done()) {
            if (!running())
                fail(QStringLiteral("the program ended:\n%1\n%2")
                         .arg(QString::fromUtf8(readAllOf(m_out)), QString::fromUtf8(readAllOf(m_err))));
            if (std::chrono::steady_clock::now() - m_started > limit)
                fail(QStringLiteral("no %1 from the program in %2 s").arg(what).arg(limit.count()));
            std::this_thread::sleep_for(50ms);
        }
        return seconds(std::chrono::steady_clock::now() - m_started);
    }

    bool running()
    {
        if (m_pid <= 0)
            return false;
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return false;
        }
        return true;
    }

    void end()
    {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGTERM);
        for (int i = 0; i < 300 && running(); ++i)
            std::this_thread::sleep_for(50ms);
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }

    QString errors() const { return QString::fromUtf8(readAllOf(m_err)); }

private:
    QString m_out;
    QString m_err;
    pid_t m_pid = -1;
    std::chrono::steady_clock::time_point m_started;
};

struct IdleFigures {
    double startupWall = 0;
    double startupCpu = 0;
    double idleCpu = 0;
};

IdleFigures idleTrial(const Program& program, const QString& work, const QString& folder, int photos, int idleSeconds)
{
    Watch watch(program, work, folder, 5);
    IdleFigures figures;
    // Its runs examine the photos of no member, which stay: then it is idle.
    figures.startupWall = photos > 0 ? watch.waitForFilesExamined(photos, 1800s)
                                     : watch.waitFor("Vigilando", true, 600s) + 8;
    if (photos == 0)
        std::this_thread::sleep_for(8s);
    figures.startupCpu = watch.cpuSeconds();
    std::this_thread::sleep_for(2s);
    const double before = watch.cpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    if (!watch.running())
        fail(QStringLiteral("the program ended during the idle time:\n%1").arg(watch.errors()));
    figures.idleCpu = watch.cpuSeconds() - before;
    return figures;
}

QByteArray photoBytes(int code)
{
    QByteArray bytes(50'000, Qt::Uninitialized);
    uint64_t state = 0x9E3779B97F4A7C15ULL * uint64_t(code) + 1;
    for (char& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = char(state >> 32);
    }
    bytes[0] = char(0xFF);
    bytes[1] = char(0xD8);
    return bytes;
}

// Seconds from each photo's rename into the folder to its file being gone.
QList<double> latencyTrial(const Program& program, const QString& work, const QString& folder, int settle)
{
    Watch watch(program, work, folder, settle);
    watch.waitFor("Vigilando", true, 120s);
    std::this_thread::sleep_for(1s);
    QList<double> latencies;
    for (int code = 1; code <= 5; ++code) {
        const QString name = QStringLiteral("%1/%2.jpg").arg(folder).arg(code);
        const QString landing = folder + QStringLiteral("/.landing");
        writeFile(landing, photoBytes(code));
        const auto landed = std::chrono::steady_clock::now();
        if (::rename(native(landing).constData(), native(name).constData()) != 0)
            fail(QStringLiteral("cannot rename into %1").arg(folder));
        while (QFile::exists(name)) {
            if (std::chrono::steady_clock::now() - landed > 120s)
                fail(QStringLiteral("%1 was not uploaded in 120 s:\n%2").arg(name, watch.errors()));
            std::this_thread::sleep_for(5ms);
        }
        latencies.append(seconds(std::chrono::steady_clock::now() - landed));
        std::this_thread::sleep_for(500ms);
    }
    return latencies;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const Settings settings = parseArguments(app.arguments());
    for (const Program& program : settings.programs)
        if (!QFile::exists(program.path))
            fail(QStringLiteral("no program at %1").arg(program.path));
    QTemporaryDir work(settings.work + QStringLiteral("/retratix-watch-bench.XXXXXX"));
    if (!work.isValid())
        fail(QStringLiteral("cannot make a folder under %1").arg(settings.work));

    const QString idle = work.filePath(QStringLiteral("idle"));
    progress(QStringLiteral("making %1 entries in %2").arg(settings.entries).arg(idle));
    const auto making = std::chrono::steady_clock::now();
    const int photos = makeIdleFolder(idle, settings.entries);
    const double madeIn = seconds(std::chrono::steady_clock::now() - making);
    const QString fileSystem = QString::fromUtf8(QStorageInfo(idle).fileSystemType());

    QList<IdleFigures> idleFigures;
    for (qsizetype i = 0; i < settings.programs.size(); ++i) {
        progress(QStringLiteral("%1: idle watch").arg(settings.programs.at(i).label));
        idleFigures.append(idleTrial(settings.programs.at(i), work.filePath(QStringLiteral("program%1").arg(i)), idle,
                                     photos, settings.seconds));
    }
    QList<QList<double>> latencies;
    for (qsizetype i = 0; i < settings.programs.size(); ++i) {
        progress(QStringLiteral("%1: latency").arg(settings.programs.at(i).label));
        const QString small = work.filePath(QStringLiteral("small%1").arg(i));
        QDir().mkpath(small);
        for (int n = 0; n < 100; ++n)
            createFile(native(QStringLiteral("%1/notas-%2.txt").arg(small).arg(n)), {});
        latencies.append(latencyTrial(settings.programs.at(i), work.filePath(QStringLiteral("latency%1").arg(i)), small,
                                      settings.latencySettle));
    }

    std::printf("Idle watch: %d entries (%d photos of no member, which stay; the rest no photos) on %s under %s, "
                "made in %.1f s\n",
                settings.entries, photos, qPrintable(fileSystem), qPrintable(settings.work), madeIn);
    std::printf("%-28s %14s %14s %18s\n", "program", "start-up s", "start-up CPU s",
                qPrintable(QStringLiteral("CPU s in %1 s idle").arg(settings.seconds)));
    for (qsizetype i = 0; i < settings.programs.size(); ++i)
        std::printf("%-28s %14.1f %14.2f %18.2f\n", qPrintable(settings.programs.at(i).label),
                    idleFigures.at(i).startupWall, idleFigures.at(i).startupCpu, idleFigures.at(i).idleCpu);
    std::printf("\nLatency from a photo renamed into a folder of 100 entries to its file gone (stored), --settle %d:\n",
                settings.latencySettle);
    std::printf("%-28s %10s %10s %10s\n", "program", "min s", "median s", "max s");
    for (qsizetype i = 0; i < settings.programs.size(); ++i) {
        QList<double> sorted = latencies.at(i);
        std::sort(sorted.begin(), sorted.end());
        std::printf("%-28s %10.2f %10.2f %10.2f\n", qPrintable(settings.programs.at(i).label), sorted.first(),
                    sorted.at(sorted.size() / 2), sorted.last());
    }
    return 0;
}
