// Photos per second of the whole program beside the engine's own ceiling for the same rows.
//
// The program is `retratix --upload FOLDER`, copied into a program folder of its own beside a
// Polidex.ini, started with fork/exec and timed from its start to its exit (start-up, connection
// and exit included); its peak memory is its own ru_maxrss (wait4) and the split of its time comes
// from its RETRATIX_TIMINGS line. The ceiling is a small writer in this process that does the same
// work with the engine's own interface: lists the folder, reads the same files, inserts the same two
// rows per photo (ABONADOSFOTOS and LOG_ABONADOSFOTOS) in one transaction through prepared statements
// with bound values (the bytes as a blob on SQLite, as a binary parameter on PostgreSQL), makes them
// durable once (SQLite: a commit that syncs the write-ahead log; PostgreSQL: the commit) and unlinks
// the files ("ceiling" on SQLite, "prepared" on PostgreSQL: PQexecPrepared, a round trip per
// statement). Beside it: "per 100", the same writer bound by the program's own rule (a durable
// commit per hundred photos, their files unlinked after it); on PostgreSQL "pipelined", the same
// statements sent without waiting for each answer, and "COPY", both tables loaded with binary COPY.
//
// Cases: 1 000, 3 000, 10 000 and 40 000 new photos of 50 000 bytes, and 3 000 photos beside a log
// that holds 100 000 rows of earlier runs (--quick: 100, 500, 1 500, and 500 beside the same log;
// 200 photos through the proxy instead of 1 000). Every trial starts from identical data
// (a fresh copy of the SQLite file, or emptied PostgreSQL tables; the same members; the same files,
// hard links to one set of originals written an hour "ago"), after a sync(2), and the ways run
// interleaved round by round (their order rotating), so that a noisy moment of a shared machine
// spreads over all of them; the tables print medians.
// Also: the program's peak memory on an empty folder and on a folder of 40 000 entries that are no
// photos, and on PostgreSQL its photos per second through a proxy in this process that holds every
// chunk half a round trip in each direction, with the request/answer turn-arounds the proxy counts.
// Prints figures; judges nothing.
//
// Run:  bench/run_benchmarks.sh [--quick]     (builds, starts and always stops a PostgreSQL cluster)
//   or  build-bench/bin/throughput_bench [--quick] [--rounds N] [--engine sqlite|postgresql]
//                                        [--program PATH] [--work DIR]
// PostgreSQL figures need RETRATIX_PG_HOST and RETRATIX_PG_PORT (tests/postgres/cluster.sh), and
// the account regusr1 allowed to create databases; without them only SQLite is measured.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QMap>
#include <QRegularExpression>
#include <QString>
#include <QTemporaryDir>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr int PhotoBytes = 50'000;
constexpr int Installation = 1;
constexpr int CeilingRunNumber = 999'999;  // beyond the earlier runs' numbers
constexpr int BatchSize = 100;             // the program's photos per durable batch
constexpr int NoPhotoEntries = 40'000;

[[noreturn]] void fail(const QString& message)
{
    std::fprintf(stderr, "throughput_bench: %s\n", qPrintable(message));
    std::exit(3);
}

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2;
}

void progress(const QString& text)
{
    std::fprintf(stderr, "  .. %s\n", qPrintable(text));
}

QByteArray native(const QString& path) { return QFile::encodeName(path); }

// ---------------------------------------------------------------------------------------------
// Files

// A photo's bytes: a JPEG start and pseudo-random bytes, as incompressible as a real photo's.
QByteArray photoBytes(int code)
{
    QByteArray bytes(PhotoBytes, Qt::Uninitialized);
    uint64_t state = 0x9E3779B97F4A7C15ULL * uint64_t(code) + 1;
    for (int i = 0; i < PhotoBytes; ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        bytes[i] = char(state >> 32);
    }
    const char start[] = {char(0xFF), char(0xD8), char(0xFF), char(0xE0)};
    std::memcpy(bytes.data(), start, sizeof start);
    return bytes;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        fail(QStringLiteral("cannot write %1").arg(path));
}

// Sets a file's modification time back, so that the program reads it as a file written long ago.
void ageFile(const QString& path, int seconds)
{
    struct timespec times[2];
    clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= seconds;
    times[1] = times[0];
    if (::utimensat(AT_FDCWD, native(path).constData(), times, 0) != 0)
        fail(QStringLiteral("cannot age %1").arg(path));
}

QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

void emptyFolder(const QString& folder)
{
    QDir dir(folder);
    if (!dir.exists() && !QDir().mkpath(folder))
        fail(QStringLiteral("cannot make %1").arg(folder));
    for (const QString& name : entriesOf(folder))
        if (::unlink(native(dir.filePath(name)).constData()) != 0)
            fail(QStringLiteral("cannot empty %1").arg(folder));
}

// The photo names of a folder in the program's order (names as text, ascending).
std::vector<std::string> photoNames(const QByteArray& folder)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        fail(QStringLiteral("cannot list %1").arg(QFile::decodeName(folder)));
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".jpg") == 0)
            names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

void readWhole(const std::string& path, std::vector<char>& bytes)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0)
        fail(QStringLiteral("cannot read %1").arg(QString::fromStdString(path)));
    bytes.resize(size_t(st.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (got <= 0)
            fail(QStringLiteral("cannot read %1").arg(QString::fromStdString(path)));
        done += size_t(got);
    }
    ::close(fd);
}

void unlinkAll(const QByteArray& folder, const std::vector<std::string>& names, size_t first = 0,
               size_t end = std::numeric_limits<size_t>::max())
{
    for (size_t i = first; i < std::min(end, names.size()); ++i) {
        const std::string path = folder.toStdString() + '/' + names[i];
        if (::unlink(path.c_str()) != 0)
            fail(QStringLiteral("cannot unlink %1").arg(QString::fromStdString(path)));
    }
}

// The photos every trial starts from: originals written once, linked into a trial's folder.
class PhotoFiles final {
public:
    PhotoFiles(const QString& root, int count) : m_originals(root + QStringLiteral("/originals"))
    {
        emptyFolder(m_originals);
        progress(QStringLiteral("writing %1 photos of %2 bytes").arg(count).arg(PhotoBytes));
        for (int code = 1; code <= count; ++code) {
            const QString path = QStringLiteral("%1/%2.jpg").arg(m_originals).arg(code);
            writeFile(path, photoBytes(code));
            ageFile(path, 3600);
        }
        m_count = count;
    }

    // A folder that holds photos 1..count and nothing else.
    void fill(const QString& folder, int count) const
    {
        if (count > m_count)
            fail(QStringLiteral("only %1 photos made").arg(m_count));
        emptyFolder(folder);
        for (int code = 1; code <= count; ++code) {
            const QByteArray from = native(QStringLiteral("%1/%2.jpg").arg(m_originals).arg(code));
            const QByteArray to = native(QStringLiteral("%1/%2.jpg").arg(folder).arg(code));
            if (::link(from.constData(), to.constData()) != 0)
                fail(QStringLiteral("cannot link %1").arg(QFile::decodeName(to)));
        }
    }

private:
    QString m_originals;
    int m_count = 0;
};

// ---------------------------------------------------------------------------------------------
// The program as a process

enum Part { Listing, Gathering, Queries, Reads, Writes, Durability, Deletion, PartCount };
const std::array<const char*, PartCount> partKeys = {"listing",    "gathering", "queries", "reads",
                                                     "writes",     "durability", "deletion"};

struct ProgramRun {
    qint64 wallNs = 0;
    long maxRssKiB = 0;
    std::array<qint64, PartCount> parts{};
    QString summary;  // its line on standard output
};

// A program folder: a copy of the executable beside a Polidex.ini naming the database.
QString makeProgramFolder(const QString& folder, const QString& executable, const QString& sid)
{
    emptyFolder(folder);
    const QString copy = folder + QStringLiteral("/retratix");
    if (!QFile::copy(executable, copy))
        fail(QStringLiteral("cannot copy %1").arg(executable));
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                    QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    writeFile(folder + QStringLiteral("/Polidex.ini"),
              "[Conexion]\r\nSID=" + sid.toUtf8() +
                  "\r\n[Form]\r\nLeft=0\r\nTop=0\r\nWidth=7500\r\nHeight=5200\r\n[Listados]\r\nRptPath=" RETRATIX_SOURCE_DIR
                  "/reports/\r\n[Impresoras]\r\nInstalacion=1\r\n");
    return copy;
}

QByteArray readAllOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Runs `program --upload folder` with RETRATIX_TIMINGS=1; the figures of that one process.
ProgramRun runProgram(const QString& program, const QString& folder, int expectedStored)
{
    const QString outPath = QFileInfo(program).absolutePath() + QStringLiteral("/run.out");
    const QString errPath = QFileInfo(program).absolutePath() + QStringLiteral("/run.err");
    const int outFd = ::open(native(outPath).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int errFd = ::open(native(errPath).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int inFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (outFd < 0 || errFd < 0 || inFd < 0)
        fail(QStringLiteral("cannot open the program's output files"));

    // Everything the child needs is made before fork: it only redirects and executes.
    QByteArray executable = native(program);
    QByteArray option("--upload");
    QByteArray target = native(folder);
    char* arguments[] = {executable.data(), option.data(), target.data(), nullptr};
    static char timingsVariable[] = "RETRATIX_TIMINGS=1";
    std::vector<char*> environment;
    for (char** variable = environ; *variable; ++variable)
        if (std::strncmp(*variable, "RETRATIX_TIMINGS=", 17) != 0)
            environment.push_back(*variable);
    environment.push_back(timingsVariable);
    environment.push_back(nullptr);

    ProgramRun run;
    const qint64 start = nowNs();
    const pid_t pid = ::fork();
    if (pid < 0)
        fail(QStringLiteral("fork failed"));
    if (pid == 0) {
        ::dup2(inFd, 0);
        ::dup2(outFd, 1);
        ::dup2(errFd, 2);
        ::execve(executable.constData(), arguments, environment.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    while (::wait4(pid, &status, 0, &usage) < 0)
        if (errno != EINTR)
            fail(QStringLiteral("wait4 failed"));
    run.wallNs = nowNs() - start;
    ::close(inFd);
    ::close(outFd);
    ::close(errFd);
    run.maxRssKiB = usage.ru_maxrss;

    const QString out = QString::fromUtf8(readAllOf(outPath)).trimmed();
    const QString err = QString::fromUtf8(readAllOf(errPath));
    run.summary = out;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail(QStringLiteral("the program ended with status %1\n%2\n%3").arg(status).arg(out, err));
    // The work must be the one measured: every photo stored and its file gone.
    const QRegularExpression counts(QStringLiteral("terminada: .* (\\d+) fotos insertadas, .* (\\d+) borrados"));
    const QRegularExpressionMatch match = counts.match(out);
    if (!match.hasMatch() || match.captured(1).toInt() != expectedStored || match.captured(2).toInt() != expectedStored)
        fail(QStringLiteral("the program did not store and delete %1 photos: %2\n%3").arg(expectedStored).arg(out, err));
    const QRegularExpression timings(QStringLiteral("timings: (.*)"));
    const QRegularExpressionMatch line = timings.match(err);
    if (!line.hasMatch())
        fail(QStringLiteral("no timings line from the program:\n%1").arg(err));
    for (const QString& pair : line.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString key = pair.section(QLatin1Char('='), 0, 0);
        for (int part = 0; part < PartCount; ++part)
            if (key == QLatin1String(partKeys[size_t(part)]))
                run.parts[size_t(part)] = pair.section(QLatin1Char('='), 1).toLongLong();
    }
    return run;
}

// ---------------------------------------------------------------------------------------------
// Engines

class Engine {
public:
    virtual ~Engine() = default;
    virtual QString name() const = 0;
    virtual QString sid() const = 0;
    // The ways this engine writes the rows itself, each one a ceiling.
    virtual QStringList ceilings() const = 0;
    // Fresh data: the members, no photo, logRows rows of earlier runs in the log.
    virtual void reset(int logRows) = 0;
    // After a trial: the rows of exactly that trial are there.
    virtual void verify(int photos, int logRows) = 0;
    // One ceiling over the folder's photos; nanoseconds, from the listing to the last unlink.
    virtual qint64 ceiling(int which, const QByteArray& folder) = 0;
    virtual QString describe() const = 0;
};

QByteArray schemaOf(const char* engine)
{
    const QByteArray schema = readAllOf(QStringLiteral(RETRATIX_SOURCE_DIR "/db/%1/schema.sql").arg(QLatin1String(engine)));
    if (schema.isEmpty())
        fail(QStringLiteral("no schema for %1").arg(QLatin1String(engine)));
    return schema;
}

// -- SQLite

void sqliteExec(sqlite3* db, const char* sql)
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK)
        fail(QStringLiteral("SQLite: %1 (%2)").arg(QString::fromUtf8(message), QString::fromUtf8(sql).left(80)));
}

sqlite3_stmt* sqlitePrepare(sqlite3* db, const char* sql)
{
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK)
        fail(QStringLiteral("SQLite: %1").arg(QString::fromUtf8(sqlite3_errmsg(db))));
    return statement;
}

void sqliteStep(sqlite3* db, sqlite3_stmt* statement)
{
    if (sqlite3_step(statement) != SQLITE_DONE)
        fail(QStringLiteral("SQLite: %1").arg(QString::fromUtf8(sqlite3_errmsg(db))));
    sqlite3_reset(statement);
}

qint64 sqliteCount(sqlite3* db, const char* sql)
{
    sqlite3_stmt* statement = sqlitePrepare(db, sql);
    if (sqlite3_step(statement) != SQLITE_ROW)
        fail(QStringLiteral("SQLite: %1").arg(QString::fromUtf8(sqlite3_errmsg(db))));
    const qint64 count = sqlite3_column_int64(statement, 0);
    sqlite3_finalize(statement);
    return count;
}

class SqliteEngine final : public Engine {
public:
    SqliteEngine(const QString& folder, int members) : m_folder(folder), m_members(members)
    {
        emptyFolder(m_folder);
    }

    QString name() const override { return QStringLiteral("SQLite"); }
    QString describe() const override
    {
        return QStringLiteral("SQLite %1, database file in %2 (write-ahead log)")
            .arg(QLatin1String(sqlite3_libversion()), m_folder);
    }
    QString sid() const override { return QStringLiteral("sqlite:") + database(); }
    QStringList ceilings() const override { return {QStringLiteral("ceiling"), QStringLiteral("per 100")}; }

    void reset(int logRows) override
    {
        for (const char* suffix : {"", "-wal", "-shm", "-journal"})
            QFile::remove(database() + QLatin1String(suffix));
        if (!QFile::copy(base(logRows), database()))
            fail(QStringLiteral("cannot copy the SQLite database"));
    }

    void verify(int photos, int logRows) override
    {
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(native(database()).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            fail(QStringLiteral("cannot open %1").arg(database()));
        const qint64 stored = sqliteCount(db, "SELECT COUNT(*) FROM ABONADOSFOTOS");
        const qint64 logged = sqliteCount(db, "SELECT COUNT(*) FROM LOG_ABONADOSFOTOS");
        sqlite3_close(db);
        if (stored != photos || logged != photos + logRows)
            fail(QStringLiteral("SQLite holds %1 photos and %2 log rows, not %3 and %4")
                     .arg(stored)
                     .arg(logged)
                     .arg(photos)
                     .arg(photos + logRows));
    }

    // Lists, reads, inserts both rows per photo through prepared statements in one transaction,
    // commits with the log synced (synchronous=FULL), closes and unlinks. "per 100" (which 1)
    // commits every hundred photos and unlinks their files after each commit, as the program must.
    qint64 ceiling(int which, const QByteArray& folder) override
    {
        const size_t batch = which == 1 ? BatchSize : std::numeric_limits<size_t>::max();
        const qint64 start = nowNs();
        const std::vector<std::string> names = photoNames(folder);
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(native(database()).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            fail(QStringLiteral("cannot open %1").arg(database()));
        sqliteExec(db, "PRAGMA journal_mode=WAL");
        sqliteExec(db, "PRAGMA synchronous=FULL");
        sqlite3_stmt* photo = sqlitePrepare(
            db, "INSERT INTO ABONADOSFOTOS (CODIGO, CODINSTALACION, FILENAME, FILESIZE, FOTO) VALUES (?, ?, ?, ?, ?)");
        sqlite3_stmt* log =
            sqlitePrepare(db, "INSERT INTO LOG_ABONADOSFOTOS (NOMBRE_FOTO, SUBIO, USUARIO, MOTIVO) VALUES (?, ?, ?, ?)");
        std::vector<char> bytes;
        for (size_t first = 0; first < names.size(); first += batch) {
            const size_t end = std::min(names.size(), first + std::min(batch, names.size()));
            sqliteExec(db, "BEGIN IMMEDIATE");
            for (size_t i = first; i < end; ++i) {
                const std::string& name = names[i];
                readWhole(folder.toStdString() + '/' + name, bytes);
                sqlite3_bind_int(photo, 1, std::atoi(name.c_str()));
                sqlite3_bind_int(photo, 2, Installation);
                sqlite3_bind_text(photo, 3, name.c_str(), int(name.size()), SQLITE_STATIC);
                sqlite3_bind_int64(photo, 4, sqlite3_int64(bytes.size()));
                sqlite3_bind_blob(photo, 5, bytes.data(), int(bytes.size()), SQLITE_STATIC);
                sqliteStep(db, photo);
                sqlite3_bind_text(log, 1, name.c_str(), int(name.size()), SQLITE_STATIC);
                sqlite3_bind_text(log, 2, "S", 1, SQLITE_STATIC);
                sqlite3_bind_int(log, 3, CeilingRunNumber);
                sqlite3_bind_text(log, 4, "Foto Insertada", -1, SQLITE_STATIC);
                sqliteStep(db, log);
            }
            sqliteExec(db, "COMMIT");  // synchronous=FULL: the log is synced before it returns
            unlinkAll(folder, names, first, end);
        }
        sqlite3_finalize(photo);
        sqlite3_finalize(log);
        sqlite3_close(db);
        return nowNs() - start;
    }

private:
    QString database() const { return m_folder + QStringLiteral("/retratix.db"); }

    // The database every trial with this log starts from, made once.
    QString base(int logRows)
    {
        const QString path = m_folder + QStringLiteral("/base-%1.db").arg(logRows);
        if (m_bases.contains(logRows))
            return path;
        QFile::remove(path);
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(native(path).constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
            SQLITE_OK)
            fail(QStringLiteral("cannot create %1").arg(path));
        sqliteExec(db, schemaOf("sqlite").constData());
        sqliteExec(db, "PRAGMA journal_mode=WAL");
        sqliteExec(db, "BEGIN");
        sqliteExec(db, "INSERT INTO INSTALACIONES (CODINSTALACION, NOMBRE) VALUES (1, 'Norte')");
        sqlite3_stmt* member = sqlitePrepare(db, "INSERT INTO ABONADOS (CODINSTALACION, CODIGO) VALUES (1, ?)");
        for (int code = 1; code <= m_members; ++code) {
            sqlite3_bind_int(member, 1, code);
            sqliteStep(db, member);
        }
        sqlite3_finalize(member);
        // Earlier runs of a hundred photos each.
        sqlite3_stmt* log = sqlitePrepare(db, "INSERT INTO LOG_ABONADOSFOTOS (CODINSTALACION, USUARIO, NOMBRE_FOTO, "
                                              "SUBIO, MOTIVO) VALUES (1, ?, ?, 'S', 'Foto Insertada')");
        for (int row = 0; row < logRows; ++row) {
            const std::string name = std::to_string(row % 40'000 + 1) + ".jpg";
            sqlite3_bind_int(log, 1, 1 + row / BatchSize);
            sqlite3_bind_text(log, 2, name.c_str(), int(name.size()), SQLITE_TRANSIENT);
            sqliteStep(db, log);
        }
        sqlite3_finalize(log);
        sqliteExec(db, "COMMIT");
        sqliteExec(db, "ANALYZE");
        sqlite3_close(db);
        m_bases.insert(logRows, true);
        return path;
    }

    QString m_folder;
    int m_members;
    QMap<int, bool> m_bases;
};

// -- PostgreSQL

class PgConnection final {
public:
    explicit PgConnection(const QByteArray& conninfo) : m_connection(PQconnectdb(conninfo.constData()))
    {
        if (PQstatus(m_connection) != CONNECTION_OK)
            fail(QStringLiteral("PostgreSQL: %1").arg(QString::fromUtf8(PQerrorMessage(m_connection))));
        PQsetNoticeProcessor(m_connection, [](void*, const char*) {}, nullptr);  // "does not exist, skipping"
    }
    ~PgConnection() { PQfinish(m_connection); }
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    PGconn* get() const { return m_connection; }

    void exec(const char* sql) const
    {
        PGresult* result = PQexec(m_connection, sql);
        const ExecStatusType status = PQresultStatus(result);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            fail(QStringLiteral("PostgreSQL: %1 (%2)")
                     .arg(QString::fromUtf8(PQresultErrorMessage(result)), QString::fromUtf8(sql).left(80)));
        PQclear(result);
    }

    // False with the message when the statement fails.
    bool tryExec(const char* sql, QString* message) const
    {
        PGresult* result = PQexec(m_connection, sql);
        const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK || PQresultStatus(result) == PGRES_TUPLES_OK;
        if (!ok && message)
            *message = QString::fromUtf8(PQresultErrorMessage(result)).trimmed();
        PQclear(result);
        return ok;
    }

    qint64 count(const char* sql) const
    {
        PGresult* result = PQexec(m_connection, sql);
        if (PQresultStatus(result) != PGRES_TUPLES_OK)
            fail(QStringLiteral("PostgreSQL: %1").arg(QString::fromUtf8(PQresultErrorMessage(result))));
        const qint64 value = QByteArray(PQgetvalue(result, 0, 0)).toLongLong();
        PQclear(result);
        return value;
    }

    void expect(PGresult* result, ExecStatusType wanted) const
    {
        if (PQresultStatus(result) != wanted)
            fail(QStringLiteral("PostgreSQL: %1").arg(QString::fromUtf8(result ? PQresultErrorMessage(result)
                                                                                : PQerrorMessage(m_connection))));
        PQclear(result);
    }

    // Reads the answers of a pipeline up to its sync point.
    void readThroughSync() const
    {
        int nullsInARow = 0;
        while (true) {
            PGresult* result = PQgetResult(m_connection);
            if (!result) {
                if (++nullsInARow > 1)
                    fail(QStringLiteral("PostgreSQL: pipeline ended early: %1")
                             .arg(QString::fromUtf8(PQerrorMessage(m_connection))));
                continue;
            }
            nullsInARow = 0;
            const ExecStatusType status = PQresultStatus(result);
            if (status == PGRES_PIPELINE_SYNC) {
                PQclear(result);
                return;
            }
            expect(result, PGRES_COMMAND_OK);
        }
    }

private:
    PGconn* m_connection;
};

void appendBigEndian(QByteArray& buffer, uint32_t value)
{
    const uint32_t big = htonl(value);
    buffer.append(reinterpret_cast<const char*>(&big), 4);
}

void appendBigEndian16(QByteArray& buffer, uint16_t value)
{
    const uint16_t big = htons(value);
    buffer.append(reinterpret_cast<const char*>(&big), 2);
}

void appendField(QByteArray& buffer, const char* data, qsizetype size)
{
    appendBigEndian(buffer, uint32_t(size));
    buffer.append(data, size);
}

void appendInt4Field(QByteArray& buffer, int32_t value)
{
    appendBigEndian(buffer, 4);
    appendBigEndian(buffer, uint32_t(value));
}

class PostgresEngine final : public Engine {
public:
    enum Ceiling { Prepared, Pipelined, PipelinedPerBatch, Copy };

    PostgresEngine(const QString& host, const QString& port, int members) : m_host(host), m_port(port)
    {
        {
            PgConnection admin(conninfo(host, port, QStringLiteral("postgres")));
            admin.exec("DROP DATABASE IF EXISTS retratix_bench");
            admin.exec("CREATE DATABASE retratix_bench ENCODING 'UTF8'");
        }
        m_admin = std::make_unique<PgConnection>(conninfo(host, port, QStringLiteral("retratix_bench")));
        m_admin->exec(schemaOf("postgresql").constData());
        m_admin->exec("INSERT INTO INSTALACIONES (CODINSTALACION, NOMBRE) VALUES (1, 'Norte')");
        m_admin->exec(QByteArray("INSERT INTO ABONADOS (CODINSTALACION, CODIGO) SELECT 1, g FROM generate_series(1, " +
                                 QByteArray::number(members) + ") g")
                          .constData());
        m_admin->exec("VACUUM ANALYZE ABONADOS");
        QString why;
        m_checkpoints = m_admin->tryExec("CHECKPOINT", &why);
        if (!m_checkpoints)
            m_checkpointNote = QStringLiteral("no CHECKPOINT between trials (%1)").arg(why);
        m_version = QString::fromUtf8(PQparameterStatus(m_admin->get(), "server_version"));
    }

    static QByteArray conninfo(const QString& host, const QString& port, const QString& database)
    {
        return QStringLiteral("host=%1 port=%2 dbname=%3 user=regusr1 password=3k9tWqRm connect_timeout=15")
            .arg(host, port, database)
            .toUtf8();
    }

    QString name() const override { return QStringLiteral("PostgreSQL"); }
    QString describe() const override
    {
        QString text = QStringLiteral("PostgreSQL %1 on %2:%3, database retratix_bench").arg(m_version, m_host, m_port);
        if (!m_checkpointNote.isEmpty())
            text += QStringLiteral("; ") + m_checkpointNote;
        return text;
    }
    QString sid() const override { return sidThrough(m_host, m_port); }
    static QString sidThrough(const QString& host, const QString& port)
    {
        return QStringLiteral("postgresql://%1:%2/retratix_bench").arg(host, port);
    }
    QStringList ceilings() const override
    {
        return {QStringLiteral("prepared"), QStringLiteral("pipelined"), QStringLiteral("per 100"), QStringLiteral("COPY")};
    }

    void reset(int logRows) override
    {
        m_admin->exec("TRUNCATE ABONADOSFOTOS, LOG_ABONADOSFOTOS");
        if (logRows > 0)
            m_admin->exec(QByteArray("INSERT INTO LOG_ABONADOSFOTOS (CODINSTALACION, USUARIO, NOMBRE_FOTO, SUBIO, MOTIVO) "
                                     "SELECT 1, 1 + (g - 1) / 100, ((g - 1) % 40000 + 1) || '.jpg', 'S', "
                                     "'Foto Insertada' FROM generate_series(1, " +
                                     QByteArray::number(logRows) + ") g")
                              .constData());
        m_admin->exec("ANALYZE ABONADOSFOTOS");
        m_admin->exec("ANALYZE LOG_ABONADOSFOTOS");
        if (m_checkpoints)
            m_admin->exec("CHECKPOINT");
    }

    void verify(int photos, int logRows) override
    {
        const qint64 stored = m_admin->count("SELECT COUNT(*) FROM ABONADOSFOTOS");
        const qint64 logged = m_admin->count("SELECT COUNT(*) FROM LOG_ABONADOSFOTOS");
        if (stored != photos || logged != photos + logRows)
            fail(QStringLiteral("PostgreSQL holds %1 photos and %2 log rows, not %3 and %4")
                     .arg(stored)
                     .arg(logged)
                     .arg(photos)
                     .arg(photos + logRows));
    }

    qint64 ceiling(int which, const QByteArray& folder) override
    {
        switch (which) {
        case Prepared: return preparedCeiling(folder, false, false);
        case Pipelined: return preparedCeiling(folder, true, false);
        case PipelinedPerBatch: return preparedCeiling(folder, true, true);
        default: return copyCeiling(folder);
        }
    }

private:
    // Prepared statements with the bytes as a binary parameter, one transaction, the commit its
    // durability point (PQexecPrepared, one round trip per statement). Pipelined: the same
    // statements sent without waiting, the answers read every thousand photos. Per batch:
    // pipelined, a transaction per hundred photos (BEGIN, rows, COMMIT, one sync, so one round trip),
    // each batch's files unlinked once its commit has returned, as the program must.
    qint64 preparedCeiling(const QByteArray& folder, bool pipelined, bool perBatch)
    {
        const qint64 start = nowNs();
        const std::vector<std::string> names = photoNames(folder);
        PgConnection connection(conninfo(m_host, m_port, QStringLiteral("retratix_bench")));
        PGconn* c = connection.get();
        connection.expect(PQprepare(c, "photo",
                                    "INSERT INTO ABONADOSFOTOS (CODIGO, CODINSTALACION, FILENAME, FILESIZE, FOTO) "
                                    "VALUES ($1, $2, $3, $4, $5)",
                                    5, nullptr),
                          PGRES_COMMAND_OK);
        connection.expect(PQprepare(c, "log",
                                    "INSERT INTO LOG_ABONADOSFOTOS (NOMBRE_FOTO, SUBIO, USUARIO, MOTIVO) "
                                    "VALUES ($1, $2, $3, $4)",
                                    4, nullptr),
                          PGRES_COMMAND_OK);
        if (pipelined) {
            if (!PQenterPipelineMode(c))
                fail(QStringLiteral("no pipeline mode"));
            PQsendQueryParams(c, "BEGIN", 0, nullptr, nullptr, nullptr, nullptr, 0);
        } else {
            connection.exec("BEGIN");
        }
        size_t committed = 0;  // photos before this one whose files are unlinked
        const std::string installation = std::to_string(Installation);
        const std::string run = std::to_string(CeilingRunNumber);
        std::vector<char> bytes;
        int sent = 0;
        for (const std::string& name : names) {
            readWhole(folder.toStdString() + '/' + name, bytes);
            const std::string code = std::to_string(std::atoi(name.c_str()));
            const std::string size = std::to_string(bytes.size());
            const char* photoValues[] = {code.c_str(), installation.c_str(), name.c_str(), size.c_str(), bytes.data()};
            const int photoLengths[] = {0, 0, 0, 0, int(bytes.size())};
            const int photoFormats[] = {0, 0, 0, 0, 1};
            const char* logValues[] = {name.c_str(), "S", run.c_str(), "Foto Insertada"};
            if (pipelined) {
                if (!PQsendQueryPrepared(c, "photo", 5, photoValues, photoLengths, photoFormats, 0) ||
                    !PQsendQueryPrepared(c, "log", 4, logValues, nullptr, nullptr, 0))
                    fail(QStringLiteral("PostgreSQL: %1").arg(QString::fromUtf8(PQerrorMessage(c))));
                ++sent;
                if (perBatch && (sent % BatchSize == 0 || size_t(sent) == names.size())) {
                    PQsendQueryParams(c, "COMMIT", 0, nullptr, nullptr, nullptr, nullptr, 0);
                    PQpipelineSync(c);
                    connection.readThroughSync();
                    unlinkAll(folder, names, committed, size_t(sent));
                    committed = size_t(sent);
                    if (size_t(sent) < names.size())
                        PQsendQueryParams(c, "BEGIN", 0, nullptr, nullptr, nullptr, nullptr, 0);
                } else if (!perBatch && sent % 1000 == 0) {
                    PQpipelineSync(c);
                    connection.readThroughSync();
                }
            } else {
                connection.expect(PQexecPrepared(c, "photo", 5, photoValues, photoLengths, photoFormats, 0),
                                  PGRES_COMMAND_OK);
                connection.expect(PQexecPrepared(c, "log", 4, logValues, nullptr, nullptr, 0), PGRES_COMMAND_OK);
            }
        }
        if (pipelined && !perBatch) {
            PQsendQueryParams(c, "COMMIT", 0, nullptr, nullptr, nullptr, nullptr, 0);
            PQpipelineSync(c);
            connection.readThroughSync();
        } else if (!pipelined) {
            connection.exec("COMMIT");
        }
        if (pipelined && !PQexitPipelineMode(c))
            fail(QStringLiteral("PostgreSQL: %1").arg(QString::fromUtf8(PQerrorMessage(c))));
        unlinkAll(folder, names, committed);
        return nowNs() - start;
    }

    // Both tables loaded with binary COPY in one transaction.
    qint64 copyCeiling(const QByteArray& folder)
    {
        const qint64 start = nowNs();
        const std::vector<std::string> names = photoNames(folder);
        PgConnection connection(conninfo(m_host, m_port, QStringLiteral("retratix_bench")));
        PGconn* c = connection.get();
        connection.exec("BEGIN");
        const auto header = [] {
            QByteArray buffer("PGCOPY\n\xff\r\n\0", 11);
            appendBigEndian(buffer, 0);  // flags
            appendBigEndian(buffer, 0);  // header extension
            return buffer;
        };
        const auto put = [&](QByteArray& buffer, bool always) {
            if (buffer.isEmpty() || (!always && buffer.size() < (1 << 20)))
                return;
            if (PQputCopyData(c, buffer.constData(), int(buffer.size())) != 1)
                fail(QStringLiteral("PostgreSQL: %1").arg(QString::fromUtf8(PQerrorMessage(c))));
            buffer.clear();
        };
        const auto end = [&](QByteArray& buffer) {
            appendBigEndian16(buffer, 0xFFFF);
            put(buffer, true);
            if (PQputCopyEnd(c, nullptr) != 1)
                fail(QStringLiteral("PostgreSQL: %1").arg(QString::fromUtf8(PQerrorMessage(c))));
            connection.expect(PQgetResult(c), PGRES_COMMAND_OK);
            while (PGresult* rest = PQgetResult(c))
                PQclear(rest);
        };

        connection.expect(PQexec(c, "COPY ABONADOSFOTOS (CODIGO, CODINSTALACION, FILENAME, FILESIZE, FOTO) "
                                    "FROM STDIN (FORMAT binary)"),
                          PGRES_COPY_IN);
        QByteArray buffer = header();
        std::vector<char> bytes;
        for (const std::string& name : names) {
            readWhole(folder.toStdString() + '/' + name, bytes);
            appendBigEndian16(buffer, 5);
            appendInt4Field(buffer, std::atoi(name.c_str()));
            appendInt4Field(buffer, Installation);
            appendField(buffer, name.data(), qsizetype(name.size()));
            appendInt4Field(buffer, int32_t(bytes.size()));
            appendField(buffer, bytes.data(), qsizetype(bytes.size()));
            put(buffer, false);
        }
        end(buffer);

        connection.expect(PQexec(c, "COPY LOG_ABONADOSFOTOS (NOMBRE_FOTO, SUBIO, USUARIO, MOTIVO) "
                                    "FROM STDIN (FORMAT binary)"),
                          PGRES_COPY_IN);
        buffer = header();
        for (const std::string& name : names) {
            appendBigEndian16(buffer, 4);
            appendField(buffer, name.data(), qsizetype(name.size()));
            appendField(buffer, "S", 1);
            appendInt4Field(buffer, CeilingRunNumber);
            appendField(buffer, "Foto Insertada", 14);
            put(buffer, false);
        }
        end(buffer);
        connection.exec("COMMIT");
        unlinkAll(folder, names);
        return nowNs() - start;
    }

    QString m_host;
    QString m_port;
    std::unique_ptr<PgConnection> m_admin;
    bool m_checkpoints = false;
    QString m_checkpointNote;
    QString m_version;
};

// ---------------------------------------------------------------------------------------------
// A TCP forwarder on loopback that holds every chunk half a round trip in each direction and
// counts the turn-arounds: a request that follows an answer (or opens the connection).

class DelayProxy final {
public:
    DelayProxy(const QString& host, int port) : m_upstreamHost(host), m_upstreamPort(port)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        socklen_t length = sizeof address;
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listener, 16) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            fail(QStringLiteral("the proxy cannot listen"));
        m_port = ntohs(address.sin_port);
        m_acceptor = std::thread([this] { acceptLoop(); });
    }

    ~DelayProxy()
    {
        m_stopping = true;
        ::shutdown(m_listener, SHUT_RDWR);
        m_acceptor.join();
        ::close(m_listener);
        {
            const std::lock_guard lock(m_mutex);
            for (const std::weak_ptr<Link>& weak : m_links)
                if (const std::shared_ptr<Link> link = weak.lock())
                    link->shutdownBoth();
        }
        for (std::thread& thread : m_threads)
            thread.join();
    }

    DelayProxy(const DelayProxy&) = delete;
    DelayProxy& operator=(const DelayProxy&) = delete;

    int port() const { return m_port; }
    void setRoundTrip(std::chrono::microseconds roundTrip) { m_halfTrip = roundTrip.count() / 2; }
    void resetTurnarounds() { m_turnarounds = 0; }
    long long turnarounds() const { return m_turnarounds; }

private:
    enum class Way { None, Request, Answer };
    struct Chunk {
        std::chrono::steady_clock::time_point due;
        std::string bytes;  // empty: the sender closed its side
    };
    struct Link {
        int client = -1;
        int server = -1;
        std::mutex mutex;
        Way last = Way::None;
        ~Link()
        {
            ::close(client);
            ::close(server);
        }
        void shutdownBoth() const
        {
            ::shutdown(client, SHUT_RDWR);
            ::shutdown(server, SHUT_RDWR);
        }
    };

    static void noDelay(int fd)
    {
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }

    void acceptLoop()
    {
        while (!m_stopping) {
            const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(uint16_t(m_upstreamPort));
            ::inet_pton(AF_INET, qPrintable(m_upstreamHost), &address.sin_addr);
            if (server < 0 || ::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
                ::close(client);
                if (server >= 0)
                    ::close(server);
                continue;
            }
            noDelay(client);
            noDelay(server);
            auto link = std::make_shared<Link>();
            link->client = client;
            link->server = server;
            const std::lock_guard lock(m_mutex);
            m_links.push_back(link);
            m_threads.emplace_back([this, link] { pump(link, link->client, link->server, Way::Request); });
            m_threads.emplace_back([this, link] { pump(link, link->server, link->client, Way::Answer); });
        }
    }

    // One direction: this thread reads and stamps, a writer forwards each chunk when it is due.
    void pump(const std::shared_ptr<Link>& link, int from, int to, Way way)
    {
        std::mutex mutex;
        std::condition_variable ready;
        std::deque<Chunk> queue;
        std::thread writer([&] {
            while (true) {
                Chunk chunk;
                {
                    std::unique_lock lock(mutex);
                    ready.wait(lock, [&] { return !queue.empty(); });
                    chunk = std::move(queue.front());
                    queue.pop_front();
                }
                if (chunk.bytes.empty()) {
                    ::shutdown(to, SHUT_WR);
                    return;
                }
                std::this_thread::sleep_until(chunk.due);
                size_t done = 0;
                while (done < chunk.bytes.size()) {
                    const ssize_t wrote = ::send(to, chunk.bytes.data() + done, chunk.bytes.size() - done, MSG_NOSIGNAL);
                    if (wrote < 0 && errno == EINTR)
                        continue;
                    if (wrote <= 0) {
                        ::shutdown(from, SHUT_RDWR);  // the reader ends too
                        break;
                    }
                    done += size_t(wrote);
                }
            }
        });
        std::vector<char> buffer(1 << 16);
        while (true) {
            const ssize_t got = ::recv(from, buffer.data(), buffer.size(), 0);
            if (got < 0 && errno == EINTR)
                continue;
            Chunk chunk;
            chunk.due = std::chrono::steady_clock::now() + std::chrono::microseconds(m_halfTrip.load());
            if (got > 0) {
                chunk.bytes.assign(buffer.data(), size_t(got));
                const std::lock_guard lock(link->mutex);
                if (way == Way::Request && link->last != Way::Request)
                    ++m_turnarounds;
                link->last = way;
            }
            {
                const std::lock_guard lock(mutex);
                queue.push_back(std::move(chunk));
            }
            ready.notify_one();
            if (got <= 0)
                break;
        }
        writer.join();
    }

    QString m_upstreamHost;
    int m_upstreamPort;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<long long> m_halfTrip{0};
    std::atomic<long long> m_turnarounds{0};
    std::thread m_acceptor;
    std::mutex m_mutex;
    std::vector<std::weak_ptr<Link>> m_links;
    std::vector<std::thread> m_threads;
};

// ---------------------------------------------------------------------------------------------
// The runs

struct Case {
    int photos = 0;
    int logRows = 0;
};

struct CaseFigures {
    Case shape;
    QList<ProgramRun> program;
    QList<QList<double>> ceilingRates;  // per ceiling, photos per second per round
    QList<QList<double>> ratios;        // per ceiling, program / ceiling per round
};

struct Settings {
    bool quick = false;
    int rounds = 3;
    QString program = QStringLiteral(RETRATIX_PROGRAM);
    QString work;
    QString engine;  // empty: both
    QList<Case> cases;
    int proxyPhotos = 1000;
    QList<int> proxyDelaysMs = {0, 10, 30};
};

double rateOf(int photos, qint64 ns) { return ns > 0 ? photos / (ns / 1e9) : 0; }

CaseFigures measureCase(Engine& engine, const PhotoFiles& photos, const QString& program, const QString& folder,
                        const Case& shape, int rounds)
{
    CaseFigures figures;
    figures.shape = shape;
    const QStringList ceilings = engine.ceilings();
    const int ways = 1 + int(ceilings.size());
    figures.ceilingRates.resize(ceilings.size());
    figures.ratios.resize(ceilings.size());
    for (int round = 0; round < rounds; ++round) {
        double programRate = 0;
        QList<double> ceilingRates(ceilings.size());
        for (int k = 0; k < ways; ++k) {
            const int way = (round + k) % ways;  // the order rotates from round to round
            engine.reset(shape.logRows);
            photos.fill(folder, shape.photos);
            ::sync();  // the last trial's writes and the new links are on disk before the clock starts
            if (way == 0) {
                const ProgramRun run = runProgram(program, folder, shape.photos);
                figures.program.append(run);
                programRate = rateOf(shape.photos, run.wallNs);
                progress(QStringLiteral("%1 %2 photos, log %3, round %4: program %5 photos/s")
                             .arg(engine.name())
                             .arg(shape.photos)
                             .arg(shape.logRows)
                             .arg(round + 1)
                             .arg(programRate, 0, 'f', 0));
            } else {
                const qint64 ns = engine.ceiling(way - 1, native(folder));
                const double rate = rateOf(shape.photos, ns);
                figures.ceilingRates[way - 1].append(rate);
                ceilingRates[way - 1] = rate;
                progress(QStringLiteral("%1 %2 photos, log %3, round %4: %5 %6 photos/s")
                             .arg(engine.name())
                             .arg(shape.photos)
                             .arg(shape.logRows)
                             .arg(round + 1)
                             .arg(ceilings.at(way - 1))
                             .arg(rate, 0, 'f', 0));
            }
            engine.verify(shape.photos, shape.logRows);
            if (!entriesOf(folder).isEmpty())
                fail(QStringLiteral("files left in %1").arg(folder));
        }
        for (qsizetype i = 0; i < ceilings.size(); ++i)
            figures.ratios[i].append(ceilingRates.at(i) > 0 ? programRate / ceilingRates.at(i) : 0);
    }
    return figures;
}

template <typename F>
double medianOf(const QList<ProgramRun>& runs, F value)
{
    QList<double> values;
    for (const ProgramRun& run : runs)
        values.append(value(run));
    return median(values);
}

void printThroughput(const Engine& engine, const QList<CaseFigures>& all, int rounds)
{
    const QStringList ceilings = engine.ceilings();
    std::printf("\n%s\n", qPrintable(engine.describe()));
    std::printf("Photos of %d bytes, all members, no photo stored before; medians of %d interleaved rounds.\n",
                PhotoBytes, rounds);
    constexpr int columnWidth = 11;
    QString labels;
    for (const QString& ceiling : ceilings)
        labels += QStringLiteral("%1").arg(ceiling, columnWidth);
    std::printf("                    |         the program          | ceilings, photos/s\n");
    std::printf("  photos  log rows  |  photos/s  seconds  peak MiB |%s\n", qPrintable(labels));
    QList<double> programRates;
    for (const CaseFigures& figures : all) {
        const double programRate = medianOf(figures.program, [&](const ProgramRun& run) {
            return rateOf(figures.shape.photos, run.wallNs);
        });
        programRates.append(programRate);
        const double seconds = medianOf(figures.program, [](const ProgramRun& run) { return run.wallNs / 1e9; });
        const double peak = medianOf(figures.program, [](const ProgramRun& run) { return run.maxRssKiB / 1024.0; });
        QString line = QStringLiteral("  %1  %2  | %3 %4 %5 |")
                           .arg(figures.shape.photos, 6)
                           .arg(figures.shape.logRows, 8)
                           .arg(programRate, 9, 'f', 0)
                           .arg(seconds, 8, 'f', 2)
                           .arg(peak, 9, 'f', 1);
        for (qsizetype i = 0; i < ceilings.size(); ++i)
            line += QStringLiteral("%1").arg(median(figures.ceilingRates.at(i)), columnWidth, 'f', 0);
        std::printf("%s\n", qPrintable(line));
    }

    std::printf("\nProgram / ceiling: the ratio of the medians (the range of the rounds' own ratios).\n");
    constexpr int ratioWidth = 19;
    QString ratioLabels;
    for (const QString& ceiling : ceilings)
        ratioLabels += QStringLiteral("%1").arg(QStringLiteral("/ ") + ceiling, ratioWidth);
    std::printf("  photos  log rows  |%s\n", qPrintable(ratioLabels));
    for (qsizetype c = 0; c < all.size(); ++c) {
        const CaseFigures& figures = all.at(c);
        QString line = QStringLiteral("  %1  %2  |").arg(figures.shape.photos, 6).arg(figures.shape.logRows, 8);
        for (qsizetype i = 0; i < ceilings.size(); ++i) {
            QList<double> ratios = figures.ratios.at(i);
            std::sort(ratios.begin(), ratios.end());
            const double ceilingRate = median(figures.ceilingRates.at(i));
            line += QStringLiteral("%1").arg(QStringLiteral("%1 (%2-%3)")
                                                 .arg(ceilingRate > 0 ? programRates.at(c) / ceilingRate : 0, 0, 'f', 2)
                                                 .arg(ratios.first(), 0, 'f', 2)
                                                 .arg(ratios.last(), 0, 'f', 2),
                                             ratioWidth);
        }
        std::printf("%s\n", qPrintable(line));
    }

    std::printf("\nThe program's time per photo in microseconds (medians), from its timings line; \"rest\" is the\n"
                "rest of the process's time: start-up, connection, run number, clearing the run's log rows, exit;\n"
                "\"gathering\" is the work on each name before its batch (entry kind, member code).\n");
    std::printf("  photos  log rows   listing gathering  queries    reads   writes  durability  deletion     rest    total\n");
    for (const CaseFigures& figures : all) {
        const double n = figures.shape.photos;
        QString line = QStringLiteral("  %1  %2 ").arg(figures.shape.photos, 6).arg(figures.shape.logRows, 8);
        const std::array<int, PartCount> widths = {9, 10, 8, 8, 8, 11, 9};
        for (int part = 0; part < PartCount; ++part)
            line += QStringLiteral(" %1").arg(
                medianOf(figures.program, [&](const ProgramRun& run) { return run.parts[size_t(part)] / 1e3 / n; }),
                widths[size_t(part)] - 1, 'f', 1);
        const double rest = medianOf(figures.program, [&](const ProgramRun& run) {
            qint64 parts = 0;
            for (qint64 value : run.parts)
                parts += value;
            return (run.wallNs - parts) / 1e3 / n;
        });
        const double total = medianOf(figures.program, [&](const ProgramRun& run) { return run.wallNs / 1e3 / n; });
        line += QStringLiteral(" %1 %2").arg(rest, 8, 'f', 1).arg(total, 8, 'f', 1);
        std::printf("%s\n", qPrintable(line));
    }
    std::fflush(stdout);
}

void measureMemory(Engine& engine, const QString& program, const QString& root, int rounds)
{
    const QString empty = root + QStringLiteral("/empty");
    const QString entries = root + QStringLiteral("/no-photos");
    emptyFolder(empty);
    if (entriesOf(entries).size() != NoPhotoEntries) {
        emptyFolder(entries);
        for (int i = 1; i <= NoPhotoEntries; ++i)
            writeFile(QStringLiteral("%1/%2.png").arg(entries).arg(i), QByteArray());
    }
    QList<ProgramRun> emptyRuns;
    QList<ProgramRun> entryRuns;
    for (int round = 0; round < rounds; ++round) {
        for (int k = 0; k < 2; ++k) {
            const bool withEntries = (round + k) % 2 == 1;
            engine.reset(0);
            ::sync();
            (withEntries ? entryRuns : emptyRuns).append(runProgram(program, withEntries ? entries : empty, 0));
        }
    }
    if (entriesOf(entries).size() != NoPhotoEntries)
        fail(QStringLiteral("the program changed the folder of entries that are no photos"));
    std::printf("\nThe program's peak memory (its own ru_maxrss) and time on folders without photos (medians of %d):\n",
                rounds);
    std::printf("  folder                                          peak MiB  seconds  listing ms\n");
    const auto line = [](const char* label, const QList<ProgramRun>& runs) {
        std::printf("  %-46s %9.1f %8.3f %11.1f\n", label,
                    medianOf(runs, [](const ProgramRun& run) { return run.maxRssKiB / 1024.0; }),
                    medianOf(runs, [](const ProgramRun& run) { return run.wallNs / 1e9; }),
                    medianOf(runs, [](const ProgramRun& run) { return run.parts[Listing] / 1e6; }));
    };
    line("empty", emptyRuns);
    line("40 000 entries, no photo (N.png, 0 bytes)", entryRuns);
    std::fflush(stdout);
}

void measureProxy(PostgresEngine& engine, const PhotoFiles& photos, const Settings& settings, const QString& root,
                  const QString& directProgram, const QString& host, const QString& port)
{
    DelayProxy proxy(host, port.toInt());
    const QString program = makeProgramFolder(
        root + QStringLiteral("/program-proxy"), settings.program,
        PostgresEngine::sidThrough(QStringLiteral("127.0.0.1"), QString::number(proxy.port())));
    const QString folder = root + QStringLiteral("/photos");
    const QString empty = root + QStringLiteral("/empty");
    emptyFolder(empty);
    const int n = settings.proxyPhotos;
    const double batches = std::ceil(double(n) / BatchSize);

    struct Way {
        int delayMs;  // -1: straight to the server
        QList<double> rates, seconds, startSeconds, turnarounds, emptyTurnarounds;
    };
    QList<Way> ways{{-1, {}, {}, {}, {}, {}}};
    for (int delay : settings.proxyDelaysMs)
        ways.append({delay, {}, {}, {}, {}, {}});
    for (int round = 0; round < settings.rounds; ++round) {
        for (qsizetype k = 0; k < ways.size(); ++k) {
            Way& way = ways[(round + k) % ways.size()];
            const QString& through = way.delayMs < 0 ? directProgram : program;
            proxy.setRoundTrip(std::chrono::milliseconds(qMax(0, way.delayMs)));
            // A run with nothing to store: the start-up's own turn-arounds and time.
            engine.reset(0);
            proxy.resetTurnarounds();
            const ProgramRun idle = runProgram(through, empty, 0);
            way.startSeconds.append(idle.wallNs / 1e9);
            way.emptyTurnarounds.append(double(proxy.turnarounds()));

            engine.reset(0);
            photos.fill(folder, n);
            ::sync();
            proxy.resetTurnarounds();
            const ProgramRun run = runProgram(through, folder, n);
            engine.verify(n, 0);
            way.rates.append(rateOf(n, run.wallNs));
            way.seconds.append(run.wallNs / 1e9);
            way.turnarounds.append(double(proxy.turnarounds()));
            progress(QStringLiteral("PostgreSQL %1 photos, round trip %2, round %3: %4 photos/s")
                         .arg(n)
                         .arg(way.delayMs < 0 ? QStringLiteral("direct") : QStringLiteral("%1 ms").arg(way.delayMs))
                         .arg(round + 1)
                         .arg(way.rates.last(), 0, 'f', 0));
        }
    }
    std::printf("\nPostgreSQL through a proxy on loopback that holds every chunk half the round trip in each\n"
                "direction; %d photos (%.0f batches); medians of %d rounds. Turn-arounds: requests that follow an\n"
                "answer, counted at the proxy; per batch: beyond those of a run on an empty folder.\n",
                n, batches, settings.rounds);
    std::printf("  round trip       photos/s  seconds  empty-folder run s  turn-arounds  empty run  per batch\n");
    for (const Way& way : ways) {
        const QString label = way.delayMs < 0 ? QStringLiteral("direct (no proxy)")
                                               : QStringLiteral("%1 ms (proxy)").arg(way.delayMs);
        if (way.delayMs < 0) {
            std::printf("  %-16s %9.0f %8.2f %19.2f %13s %10s %10s\n", qPrintable(label), median(way.rates),
                        median(way.seconds), median(way.startSeconds), "-", "-", "-");
        } else {
            const double total = median(way.turnarounds);
            const double idle = median(way.emptyTurnarounds);
            std::printf("  %-16s %9.0f %8.2f %19.2f %13.0f %10.0f %10.1f\n", qPrintable(label), median(way.rates),
                        median(way.seconds), median(way.startSeconds), total, idle, (total - idle) / batches);
        }
    }
    std::fflush(stdout);
}

Settings parseArguments(int argc, char* argv[])
{
    Settings settings;
    std::optional<int> rounds;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        const auto value = [&]() -> QString {
            if (i + 1 >= argc)
                fail(QStringLiteral("%1 needs a value").arg(argument));
            return QString::fromLocal8Bit(argv[++i]);
        };
        if (argument == QLatin1String("--quick"))
            settings.quick = true;
        else if (argument == QLatin1String("--rounds"))
            rounds = value().toInt();
        else if (argument == QLatin1String("--program"))
            settings.program = value();
        else if (argument == QLatin1String("--work"))
            settings.work = value();
        else if (argument == QLatin1String("--engine"))
            settings.engine = value().toLower();
        else
            fail(QStringLiteral("usage: throughput_bench [--quick] [--rounds N] [--engine sqlite|postgresql] "
                                "[--program PATH] [--work DIR]"));
    }
    if (settings.quick) {
        settings.cases = {{100, 0}, {500, 0}, {500, 100'000}, {1500, 0}};
        settings.proxyPhotos = 200;
    } else {
        settings.cases = {{1000, 0}, {3000, 0}, {3000, 100'000}, {10'000, 0}, {40'000, 0}};
    }
    settings.rounds = qMax(1, rounds.value_or(3));
    return settings;
}

}  // namespace

int main(int argc, char* argv[])
{
    std::signal(SIGPIPE, SIG_IGN);
    const Settings settings = parseArguments(argc, argv);
    if (!QFileInfo(settings.program).isExecutable())
        fail(QStringLiteral("no program at %1").arg(settings.program));

    std::unique_ptr<QTemporaryDir> temporary;
    QString root = settings.work;
    if (root.isEmpty()) {
        temporary = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/retratix-bench-XXXXXX"));
        if (!temporary->isValid())
            fail(QStringLiteral("no temporary folder"));
        root = temporary->path();
    }
    root = QFileInfo(root).absoluteFilePath();

    int most = 0;
    for (const Case& shape : settings.cases)
        most = qMax(most, shape.photos);
    most = qMax(most, settings.proxyPhotos);
    const int members = qMax(most, 40'000);

    std::printf("throughput_bench: the whole program (%s, a process from start to exit) beside the engine's\n"
                "ceiling for the same rows; %d cpus; work folder %s\n",
                qPrintable(settings.program), int(std::thread::hardware_concurrency()), qPrintable(root));
    std::fflush(stdout);

    const PhotoFiles photos(root, most);
    const QString folder = root + QStringLiteral("/photos");
    const bool wantSqlite = settings.engine.isEmpty() || settings.engine == QLatin1String("sqlite");
    const bool wantPostgres = settings.engine.isEmpty() || settings.engine.startsWith(QLatin1String("postg"));

    if (wantSqlite) {
        SqliteEngine engine(root + QStringLiteral("/sqlite"), members);
        const QString program = makeProgramFolder(root + QStringLiteral("/program-sqlite"), settings.program, engine.sid());
        QList<CaseFigures> all;
        for (const Case& shape : settings.cases)
            all.append(measureCase(engine, photos, program, folder, shape, settings.rounds));
        printThroughput(engine, all, settings.rounds);
        measureMemory(engine, program, root, settings.rounds);
    }

    const QString host = qEnvironmentVariable("RETRATIX_PG_HOST");
    const QString port = qEnvironmentVariable("RETRATIX_PG_PORT");
    if (wantPostgres && (host.isEmpty() || port.isEmpty())) {
        std::printf("\nPostgreSQL: not measured (RETRATIX_PG_HOST and RETRATIX_PG_PORT unset; "
                    "bench/run_benchmarks.sh starts a server)\n");
    } else if (wantPostgres) {
        PostgresEngine engine(host, port, members);
        const QString program = makeProgramFolder(root + QStringLiteral("/program-postgresql"), settings.program, engine.sid());
        QList<CaseFigures> all;
        for (const Case& shape : settings.cases)
            all.append(measureCase(engine, photos, program, folder, shape, settings.rounds));
        printThroughput(engine, all, settings.rounds);
        measureMemory(engine, program, root, settings.rounds);
        measureProxy(engine, photos, settings, root, program, host, port);
    }
    return 0;
}
