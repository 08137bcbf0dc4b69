// Fault trials of the headless upload: the program killed at random moments, its PostgreSQL server
// stopped or frozen under it, photo files written while it works, a SQLite database held by other
// connections, odd entries in the photo folder, desks uploading at once, and the attacks of the
// folder's owner on a program that runs as root. Each trial prints one line with its figures; the
// exit status is 1 when any trial lost a file, left a database corrupt, hung, ended unexpectedly or
// let an attack get anything.
//
//   fault_trials [--long] [--seed N] [--program PATH] [TRIAL...]
//
// TRIAL is kills, server-stopped, server-frozen, writers, sqlite-held, odd-entries, desks or
// privileged (all when none). privileged needs root; without it, it says so and is skipped.
// The short version is the one ./test.sh runs; --long runs on demand (tests/trials/run_trials.sh).
// PostgreSQL trials use the server that RETRATIX_PG_HOST and RETRATIX_PG_PORT name, and are skipped
// without one; those that stop or freeze a server start one of their own, since the other tests
// go on using theirs.

#include "desks_trial.h"
#include "privileged_trial.h"
#include "trial_support.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTextStream>
#include <QThread>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace trials;

namespace {

struct Scale {
    int killPhotos;
    int killTrials;  // per engine
    int serverPhotos;
    int stopTrials;
    int freezeTrials;
    int writerPhotos;
    int writerTrials;  // per engine
    int heldTrials;
    bool oddEntriesOnServer;
    int deskPhotos;  // per desk
    PrivilegedScale privileged;
    bool privilegedOnServer;
};
constexpr Scale ShortScale{200, 5, 100, 2, 1, 200, 1, 1, false, 50, {20, 300, 2}, false};
constexpr Scale LongScale{1000, 100, 1000, 10, 5, 1000, 10, 5, true, 500, {100, 1000, 10}, true};

// A run that must end on its own (a server stopped or frozen, a lock held) has this long: the
// command time-out of 30 s and a margin.
constexpr qint64 EndBoundMs = 60'000;

enum class TrialId { Measure, Kills, ServerStopped, ServerFrozen, Writers, SqliteHeld, OddEntries, Desks, Privileged };

struct Context {
    Scale scale;
    quint64 seed = 0;
    std::unique_ptr<ProgramFolder> program;
    std::optional<Server> server;  // the one the other tests share

    // The same draws for the same seed, trial and round.
    QRandomGenerator random(TrialId trial, Engine engine, int round) const
    {
        const quint32 words[] = {quint32(seed), quint32(seed >> 32), quint32(trial), quint32(engine), quint32(round)};
        return QRandomGenerator(words, words + 5);
    }
    QList<Engine> engines() const
    {
        return server ? QList<Engine>{Engine::Sqlite, Engine::Postgres} : QList<Engine>{Engine::Sqlite};
    }
    const Server* serverFor(Engine engine) const { return engine == Engine::Postgres ? &*server : nullptr; }
    // A run that must complete has this long: a minute more than five whole runs.
    static qint64 bound(qint64 runMs) { return 60'000 + 5 * runMs; }
};

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

// How long a whole run of count photos takes here, from a run of a scene of its own whose outcome
// is checked like any other.
qint64 measureRunTime(const Context& ctx, Engine engine, const Server* server, int count, Tally& tally)
{
    QRandomGenerator random = ctx.random(TrialId::Measure, engine, count);
    Scene scene(*ctx.program, engine, server, makePhotoSet(count, random));
    const Run::Result result = ctx.program->run(scene.folder, 600'000);
    checkCompleted(result, scene, tally, QStringLiteral("the measured run"));
    tally.figures << QStringLiteral("a whole run of %1 photos %2 s").arg(count).arg(result.ms / 1000.0, 0, 'f', 2);
    if (engine == Engine::Postgres && !scene.db->hasAmcheck())
        tally.figures << QStringLiteral("no amcheck on this server: rows and keys checked");
    return result.ms;
}

// What a run that the trial cut short must show, and the run after it that must complete.
void checkAfterFault(Scene& scene, const Context& ctx, qint64 runMs, Tally& tally, const QString& context)
{
    checkNothingLost(scene, scene.db->storedPhotos(), tally, context);
    checkIntegrity(scene, tally, context);
    checkCompleted(ctx.program->run(scene.folder, Context::bound(runMs)), scene, tally,
                   context + QStringLiteral(", the next run"));
    ++tally.trials;
    tally.photos += scene.set.photos.size();
}

// 1. SIGKILL at a moment drawn uniformly over a whole run's time.
Tally killTrial(const Context& ctx, Engine engine)
{
    Tally tally(QStringLiteral("kills"), engineName(engine));
    const Server* server = ctx.serverFor(engine);
    const int count = ctx.scale.killPhotos;
    const qint64 runMs = measureRunTime(ctx, engine, server, count, tally);
    int midRun = 0;
    qint64 goneAtKill = 0;
    for (int round = 0; round < ctx.scale.killTrials; ++round) {
        QRandomGenerator random = ctx.random(TrialId::Kills, engine, round);
        Scene scene(*ctx.program, engine, server, makePhotoSet(count, random));
        const qint64 moment = random.bounded(int(runMs) + 1);
        const QString context = QStringLiteral("kill %1 at %2 ms").arg(round).arg(moment);
        Run run = ctx.program->start(scene.folder);
        if (!run.waitFor(moment)) {
            run.kill();
            ++midRun;
        }
        const Run::Result result = run.finish(0);
        if (!result.killed && !result.completed()) {
            ++tally.unexpected;
            tally.note(context + QStringLiteral(": the run ended before the kill, not completed: ") + result.summary());
        }
        goneAtKill += count - folderEntries(scene.folder).size();
        checkAfterFault(scene, ctx, runMs, tally, context);
    }
    tally.figures << QStringLiteral("%1 kills before the run's end, %2 files stored and deleted before them")
                         .arg(midRun)
                         .arg(goneAtKill);
    return tally;
}

// The moment of a fault in a run: uniformly within its second to seventh tenth.
qint64 faultMoment(QRandomGenerator& random, qint64 runMs) { return runMs / 10 + random.bounded(int(runMs * 6 / 10) + 1); }

// A run that a fault was meant to end may have completed first, needing the database no more.
bool completedFirst(const Run::Result& result, int& count)
{
    if (!result.completed())
        return false;
    ++count;
    return true;
}

// 2. The server stopped under a run (pg_ctl stop -m fast, or immediate): the run ends with a
// message, and once the server is back the next run completes.
Tally serverStoppedTrial(const Context& ctx, PrivateServer& server, qint64 runMs)
{
    Tally tally(QStringLiteral("server stopped"), engineName(Engine::Postgres));
    const int count = ctx.scale.serverPhotos;
    qint64 slowestEnd = 0;
    int completed = 0;
    for (int round = 0; round < ctx.scale.stopTrials; ++round) {
        QRandomGenerator random = ctx.random(TrialId::ServerStopped, Engine::Postgres, round);
        Scene scene(*ctx.program, Engine::Postgres, &server.address(), makePhotoSet(count, random));
        const QString mode = round % 2 ? QStringLiteral("immediate") : QStringLiteral("fast");
        const qint64 moment = faultMoment(random, runMs);
        const QString context = QStringLiteral("stop -m %1 at %2 ms").arg(mode).arg(moment);
        Run run = ctx.program->start(scene.folder);
        run.waitFor(moment);
        QElapsedTimer sinceStop;
        sinceStop.start();
        server.stop(mode);
        const Run::Result result = run.finish(EndBoundMs);
        slowestEnd = qMax(slowestEnd, sinceStop.elapsed());
        if (!completedFirst(result, completed) && checkEndedWith(result, QStringLiteral("Error: "), tally, context)) {
            // The message in the program's general form must say what happened.
            static const QRegularExpression noCause(QStringLiteral("Descripción : *\r?\n"));
            // Only the program speaks on standard error: no lines of the driver's own.
            static const QRegularExpression driverNoise(QStringLiteral("^(WARNING|FATAL|NOTICE):"),
                                                        QRegularExpression::MultilineOption);
            if (result.err.contains(noCause)) {
                ++tally.unexpected;
                tally.note(context + QStringLiteral(": the message names no cause: ") + result.summary());
            } else if (result.err.contains(driverNoise)) {
                ++tally.unexpected;
                tally.note(context + QStringLiteral(": the driver's own lines on standard error: ") + result.summary());
            } else {
                tally.note(context + QStringLiteral(": ") + result.summary());
            }
        }
        server.start();
        checkAfterFault(scene, ctx, runMs, tally, context);
    }
    tally.figures << QStringLiteral("runs ended at most %1 s after the stop").arg(slowestEnd / 1000.0, 0, 'f', 1)
                  << QStringLiteral("%1 completed before it").arg(completed);
    return tally;
}

// The process of the server that serves the program's connection, seen from another connection:
// the one client backend of the scene's database that started after the moment given (the
// trial's own sessions, some still ending, started before it).
qint64 backendOf(TrialDatabase::Session& session, const QString& since, Run& run)
{
    while (!run.waitFor(20)) {
        const qint64 pid = session
                               .scalar(QStringLiteral("SELECT pid FROM pg_stat_activity WHERE datname = "
                                                      "current_database() AND backend_type = 'client backend' AND "
                                                      "backend_start > '%1'::timestamptz")
                                           .arg(since))
                               .toLongLong();
        if (pid > 0)
            return pid;
    }
    return 0;
}

// 3. The server process that serves the run stops answering (SIGSTOP): the run ends within the
// command time-out and a margin with a message, and after SIGCONT the next run completes.
Tally serverFrozenTrial(const Context& ctx, PrivateServer& server, qint64 runMs)
{
    Tally tally(QStringLiteral("server frozen"), engineName(Engine::Postgres));
    const int count = ctx.scale.serverPhotos;
    qint64 slowestEnd = 0;
    int completed = 0;
    for (int round = 0; round < ctx.scale.freezeTrials; ++round) {
        QRandomGenerator random = ctx.random(TrialId::ServerFrozen, Engine::Postgres, round);
        Scene scene(*ctx.program, Engine::Postgres, &server.address(), makePhotoSet(count, random));
        const qint64 moment = faultMoment(random, runMs);
        const QString context = QStringLiteral("SIGSTOP at %1 ms").arg(moment);
        TrialDatabase::Session session(*scene.db);
        const QString since = session.scalar(QStringLiteral("SELECT clock_timestamp()::text")).toString();
        Run run = ctx.program->start(scene.folder);
        run.waitFor(moment);
        const qint64 backend = backendOf(session, since, run);
        if (backend > 0)
            ::kill(pid_t(backend), SIGSTOP);
        QElapsedTimer sinceFreeze;
        sinceFreeze.start();
        const Run::Result result = run.finish(EndBoundMs);
        slowestEnd = qMax(slowestEnd, sinceFreeze.elapsed());
        if (backend > 0)
            ::kill(pid_t(backend), SIGCONT);
        // Frozen while the program still connects: start-up ends with its own message (the open is
        // bounded by the time to connect and a command's time-out).
        const QString expected = result.err.contains(QStringLiteral("No hay Conexión a la Base de Datos"))
                                     ? QStringLiteral("No hay Conexión a la Base de Datos")
                                     : QStringLiteral("no respondió");
        if (!completedFirst(result, completed) && checkEndedWith(result, expected, tally, context))
            tally.note(context + QStringLiteral(": ") + result.summary());
        checkAfterFault(scene, ctx, runMs, tally, context);
    }
    tally.figures << QStringLiteral("runs ended at most %1 s after the freeze").arg(slowestEnd / 1000.0, 0, 'f', 1)
                  << QStringLiteral("%1 completed before it").arg(completed);
    return tally;
}

// Writes into a photo folder while a run works on it: appends to its files and rewrites them in
// place (at times to the same size), and copies new photos in pieces with pauses, each kept open
// until it is whole, as a camera import or a slow copy does. Keeps what each file holds after its
// last write.
class FolderWriters final {
public:
    FolderWriters(QString folder, QStringList names, QList<int> newMembers, quint32 seed)
        : m_folder(std::move(folder)), m_names(std::move(names)), m_newMembers(std::move(newMembers)), m_seed(seed)
    {
        m_rewriter = std::thread([this] { rewrite(); });
        m_copier = std::thread([this] { copy(); });
    }
    ~FolderWriters() { stop(); }

    void stop()
    {
        m_stopping = true;
        if (m_rewriter.joinable())
            m_rewriter.join();
        if (m_copier.joinable())
            m_copier.join();
    }
    QHash<QString, QByteArray> written() const
    {
        const std::lock_guard lock(m_mutex);
        return m_written;
    }
    int writes() const { return m_writes; }

private:
    static void pause(QRandomGenerator& random, int fromMs, int toMs)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(fromMs + random.bounded(toMs - fromMs + 1)));
    }
    QByteArray path(const QString& name) const { return QFile::encodeName(m_folder + QLatin1Char('/') + name); }
    void record(const QString& name, const QByteArray& bytes)
    {
        const std::lock_guard lock(m_mutex);
        m_written.insert(name, bytes);
        ++m_writes;
    }

    void rewrite()
    {
        QRandomGenerator random(m_seed);
        while (!m_stopping) {
            const QString name = m_names.at(random.bounded(int(m_names.size())));
            int kind = random.bounded(3);  // append, same size, new size
            // Never creating: a file the run has taken stays gone.
            const int fd = ::open(path(name).constData(), O_RDWR | O_CLOEXEC);
            struct stat st {};
            if (fd < 0 || ::fstat(fd, &st) != 0) {
                if (fd >= 0)
                    ::close(fd);
                pause(random, 1, 3);
                continue;
            }
            if (kind == 0 && st.st_size > 100000)
                kind = 2;
            const qint64 size = kind == 0 ? 1000 + random.bounded(3000) : kind == 1 ? st.st_size : 20000 + random.bounded(40001);
            const QByteArray bytes = randomBytes(random, size);
            bool ok = kind != 2 || ::ftruncate(fd, 0) == 0;
            // In up to three pieces, so that a run may meet the file half written.
            qint64 done = 0;
            const qint64 piece = size / (1 + random.bounded(3)) + 1;
            while (ok && done < size) {
                const qint64 n = qMin(piece, size - done);
                const off_t at = kind == 0 ? st.st_size + done : done;
                ok = ::pwrite(fd, bytes.constData() + done, size_t(n), at) == n;
                done += n;
            }
            // What the file holds now, read through the same descriptor.
            if (ok && ::fstat(fd, &st) == 0) {
                QByteArray now(qsizetype(st.st_size), Qt::Uninitialized);
                if (::pread(fd, now.data(), size_t(now.size()), 0) == now.size())
                    record(name, now);
            }
            ::close(fd);
            pause(random, 1, 3);
        }
    }

    void copy()
    {
        QRandomGenerator random(m_seed + 1);
        for (int member : std::as_const(m_newMembers)) {
            if (m_stopping)
                break;
            const QString name = QString::number(member) + QStringLiteral(".jpg");
            const QByteArray bytes = randomBytes(random, 20000 + random.bounded(40001));
            const int fd = ::open(path(name).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd < 0)
                continue;
            qsizetype done = 0;
            while (done < bytes.size()) {
                const qsizetype n = qMin<qsizetype>(4096 + random.bounded(12288), bytes.size() - done);
                if (::write(fd, bytes.constData() + done, size_t(n)) != n)
                    break;
                done += n;
                if (done < bytes.size())
                    pause(random, 5, 40);
            }
            if (done == bytes.size())
                record(name, bytes);
            ::close(fd);
            pause(random, 0, 10);
        }
    }

    const QString m_folder;
    const QStringList m_names;
    const QList<int> m_newMembers;
    const quint32 m_seed;
    std::atomic<bool> m_stopping{false};
    mutable std::mutex m_mutex;
    QHash<QString, QByteArray> m_written;
    int m_writes = 0;
    std::thread m_rewriter;
    std::thread m_copier;
};

// The count a run's summary gives for files left because they changed after their read.
int filesLeftChanged(const Run::Result& result)
{
    static const QRegularExpression left(QStringLiteral("(\\d+) dejados por cambiar"));
    const QRegularExpressionMatch match = left.match(result.out);
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

// 4. Writers in the folder during a run: every file the run deleted had its last bytes stored, and
// once the writers stop, a further run stores every photo with its last bytes and leaves none.
Tally writersTrial(const Context& ctx, Engine engine)
{
    Tally tally(QStringLiteral("writers"), engineName(engine));
    const Server* server = ctx.serverFor(engine);
    const int count = ctx.scale.writerPhotos;
    const qint64 runMs = 100 * count;  // enough for a run of count photos on either engine
    int left = 0;
    int writes = 0;
    for (int round = 0; round < ctx.scale.writerTrials; ++round) {
        QRandomGenerator random = ctx.random(TrialId::Writers, engine, round);
        PhotoSet set = makePhotoSet(count, random);
        QStringList storedNames;
        for (const Photo& photo : std::as_const(set.photos)) {
            if (!photo.mustStay())
                storedNames.append(photo.name);
        }
        QList<int> newMembers;
        for (int member = count + 1; member <= count + count / 10; ++member)
            newMembers.append(member);
        set.members.append(newMembers);
        Scene scene(*ctx.program, engine, server, std::move(set));
        const QString context = QStringLiteral("writers %1").arg(round);

        FolderWriters writers(scene.folder, storedNames, newMembers, random.generate());
        QThread::msleep(100);  // a copy under way when the run lists the folder
        const Run::Result result = ctx.program->run(scene.folder, Context::bound(runMs));
        writers.stop();
        checkRunCompleted(result, tally, context);
        left += filesLeftChanged(result);
        writes += writers.writes();

        // From here on each photo must end with the bytes its last write left.
        QHash<QString, QByteArray> written = writers.written();
        for (Photo& photo : scene.set.photos) {
            if (written.contains(photo.name))
                photo.bytes = written.take(photo.name);
        }
        for (auto it = written.cbegin(); it != written.cend(); ++it)
            scene.set.photos.append({it.key(), it.key().section(QLatin1Char('.'), 0, 0).toInt(), it.value(),
                                     Photo::Fate::Stored});
        checkAfterFault(scene, ctx, runMs, tally, context);
    }
    tally.figures << QStringLiteral("%1 writes during the runs, %2 files left by the runs because they changed")
                         .arg(writes)
                         .arg(left);
    return tally;
}

// Runs the program once on an empty folder, as a database in use has met it before.
void useOnce(const Context& ctx, Scene& scene, Tally& tally, const QString& context)
{
    const QString empty = scene.dir.filePath(QStringLiteral("vacia"));
    QDir().mkdir(empty);
    checkRunCompleted(ctx.program->run(empty, Context::bound(0)), tally, context + QStringLiteral(", its first run"));
}

// 5. A SQLite database held by other connections: a reader with a read transaction open through
// the whole run (on a database the program has used before, and on one fresh from the schema
// script) must not stop the run; a writer holding the write lock beyond the busy time-out of 5 s
// ends it with the locked-record message.
Tally sqliteHeldTrial(const Context& ctx)
{
    Tally tally(QStringLiteral("SQLite held"), engineName(Engine::Sqlite));
    const int count = ctx.scale.serverPhotos;
    const qint64 runMs = measureRunTime(ctx, Engine::Sqlite, nullptr, count, tally);
    int completed = 0;
    for (int round = 0; round < ctx.scale.heldTrials; ++round) {
        QRandomGenerator random = ctx.random(TrialId::SqliteHeld, Engine::Sqlite, round);
        for (const bool usedBefore : {true, false}) {
            Scene scene(*ctx.program, Engine::Sqlite, nullptr, makePhotoSet(count, random));
            const QString context = QStringLiteral("reader %1 on a database %2")
                                        .arg(round)
                                        .arg(usedBefore ? QStringLiteral("the program used before")
                                                        : QStringLiteral("fresh from the schema script"));
            if (usedBefore)
                useOnce(ctx, scene, tally, context);
            Run::Result result;
            {
                TrialDatabase::Session reader(*scene.db);
                reader.exec(QStringLiteral("BEGIN"));
                reader.scalar(QStringLiteral("SELECT COUNT(*) FROM ABONADOSFOTOS"));
                result = ctx.program->run(scene.folder, Context::bound(runMs));
                reader.exec(QStringLiteral("COMMIT"));
            }
            checkCompleted(result, scene, tally, context);
            ++tally.trials;
            tally.photos += count;
        }

        Scene scene(*ctx.program, Engine::Sqlite, nullptr, makePhotoSet(count, random));
        const qint64 moment = random.bounded(int(runMs * 6 / 10) + 1);
        const QString context = QStringLiteral("write lock %1 taken at %2 ms").arg(round).arg(moment);
        useOnce(ctx, scene, tally, context);
        Run run = ctx.program->start(scene.folder);
        run.waitFor(moment);
        Run::Result result;
        {
            TrialDatabase::Session writer(*scene.db);
            writer.exec(QStringLiteral("BEGIN IMMEDIATE"));
            result = run.finish(EndBoundMs);
            writer.exec(QStringLiteral("COMMIT"));
        }
        if (!completedFirst(result, completed))
            checkEndedWith(result, QStringLiteral("Registro Bloqueado por otro Usuario"), tally, context);
        checkAfterFault(scene, ctx, runMs, tally, context);
    }
    tally.figures << QStringLiteral("%1 runs needed no write after the lock was taken").arg(completed);
    return tally;
}

// An entry of a photo folder, and what a run must make of it.
struct OddEntry {
    QString label;
    QByteArray name;  // the bytes of its name
    enum class Expect { Skipped, Stored, Refused, EndsRun } expect;
    int member = 0;             // the member the name is a photo of, if any
    QByteArray bytes;           // what a store must hold
    bool rowBeforeEnd = false;  // EndsRun: the file's row is stored before the run ends
    // Makes the entry at path; the reason when it cannot be made here. Beside the photo folder,
    // the folder work holds photo.bin (the bytes), a folder and a FIFO for links to point at.
    std::function<QString(const QByteArray& path, const QString& work)> make;
};

QString chattr(const QString& flag, const QByteArray& path)
{
    QProcess process;
    process.start(QStringLiteral("chattr"), {flag, QFile::decodeName(path)});
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return QStringLiteral("chattr %1 failed: %2")
            .arg(flag, QString::fromLocal8Bit(process.readAllStandardError()).trimmed());
    return {};
}

// A file under a name of any bytes (Qt's names are text).
bool writeRaw(const QByteArray& path, const QByteArray& bytes, mode_t mode)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    const bool written = fd >= 0 && ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    if (fd >= 0)
        ::close(fd);
    return written && ::chmod(path.constData(), mode) == 0;
}

QList<OddEntry> oddEntries(const QByteArray& photo)
{
    using E = OddEntry::Expect;
    const bool root = ::geteuid() == 0;
    const auto file = [photo](mode_t mode) {
        return [photo, mode](const QByteArray& path, const QString&) {
            return writeRaw(path, photo, mode) ? QString() : QStringLiteral("cannot write the file");
        };
    };
    const auto link = [](const char* target) {
        return [target](const QByteArray& path, const QString& work) {
            const QByteArray to = QFile::encodeName(work) + '/' + target;
            return ::symlink(to.constData(), path.constData()) == 0 ? QString() : QStringLiteral("symlink failed");
        };
    };
    return {
        {QStringLiteral("FIFO"), "7.jpg", E::Skipped, 7, {}, false,
         [](const QByteArray& path, const QString&) {
             return ::mkfifo(path.constData(), 0644) == 0 ? QString() : QStringLiteral("mkfifo failed");
         }},
        {QStringLiteral("folder"), "8.jpg", E::Skipped, 8, {}, false,
         [](const QByteArray& path, const QString&) {
             return ::mkdir(path.constData(), 0755) == 0 ? QString() : QStringLiteral("mkdir failed");
         }},
        // A link is no photo, whatever it leads to: it could lead out of the folder.
        {QStringLiteral("link to a photo"), "9.jpg", E::Skipped, 9, {}, false, link("photo.bin")},
        {QStringLiteral("dangling link"), "20.jpg", E::Skipped, 20, {}, false, link("missing.bin")},
        {QStringLiteral("link to a folder"), "21.jpg", E::Skipped, 21, {}, false, link("folder")},
        {QStringLiteral("link to a FIFO"), "22.jpg", E::Skipped, 22, {}, false, link("fifo")},
        {QStringLiteral("0-byte photo"), "23.jpg", E::Stored, 23, QByteArray(""), false,
         [](const QByteArray& path, const QString&) {
             return writeRaw(path, {}, 0644) ? QString() : QStringLiteral("cannot write the file");
         }},
        {QStringLiteral("3 GB sparse file"), "24.jpg", E::Refused, 24, {}, false,
         [](const QByteArray& path, const QString&) {
             const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
             const bool made = fd >= 0 && ::ftruncate(fd, qint64(3) << 30) == 0;
             if (fd >= 0)
                 ::close(fd);
             // Last read before its last change: any read now sets the access time anew.
             const timespec times[2] = {{::time(nullptr) - 3600, 0}, {0, UTIME_NOW}};
             return made && ::utimensat(AT_FDCWD, path.constData(), times, 0) == 0 ? QString()
                                                                                  : QStringLiteral("truncate failed");
         }},
        {QStringLiteral("blank before the dot"), "25 .jpg", E::Stored, 25, photo, false, file(0644)},
        {QStringLiteral("blank inside the name"), "foto 26.jpg", E::Skipped, 0, {}, false, file(0644)},
        {QStringLiteral("newline in the name"), "27\n.jpg", E::Skipped, 27, {}, false, file(0644)},
        {QStringLiteral("byte not valid UTF-8 before the dot"), "28\xff.jpg", E::Skipped, 28, {}, false, file(0644)},
        // Such a name cannot reach the file again through the program's text (Qt's names are
        // Unicode): the run counts it, skips it and leaves it; nothing is lost.
        {QStringLiteral("byte not valid UTF-8 after the dot"), "29.\xff.jpg", E::Skipped, 29, {}, false, file(0644)},
        {QStringLiteral("read-only file"), "11.jpg", E::EndsRun, 11, photo, true, file(0444)},
        {QStringLiteral("file without read permission"), "12.jpg", E::EndsRun, 12, {}, false,
         [root, file](const QByteArray& path, const QString& work) {
             return root ? QStringLiteral("root reads it all the same; only an ordinary user can try it")
                         : file(0200)(path, work);
         }},
        {QStringLiteral("immutable file"), "10.jpg", E::EndsRun, 10, photo, true,
         [root, file](const QByteArray& path, const QString& work) {
             if (!root)
                 return QStringLiteral("only root may set the immutable attribute (chattr +i)");
             file(0644)(path, work);
             return chattr(QStringLiteral("+i"), path);
         }},
    };
}

// 6. Odd entries in the folder, each once, in a folder of its own between the photos 1.jpg and
// 99.jpg: no run hangs, nothing is lost, and each entry leads to what its kind must. Each outcome
// is noted.
Tally oddEntriesTrial(const Context& ctx, Engine engine)
{
    using E = OddEntry::Expect;
    Tally tally(QStringLiteral("odd entries"), engineName(engine));
    QRandomGenerator random = ctx.random(TrialId::OddEntries, engine, 0);
    const QByteArray photo = randomBytes(random, 30000);
    for (const OddEntry& entry : oddEntries(photo)) {
        PhotoSet set;
        for (int member = 1; member <= 99; ++member)
            set.members.append(member);
        set.photos = {{QStringLiteral("1.jpg"), 1, randomBytes(random, 25000), Photo::Fate::Stored},
                      {QStringLiteral("99.jpg"), 99, randomBytes(random, 25000), Photo::Fate::Stored}};
        Scene scene(*ctx.program, engine, ctx.serverFor(engine), set);
        const QString work = scene.dir.filePath(QStringLiteral("aparte"));
        QDir().mkpath(work + QStringLiteral("/folder"));
        writeFile(work + QStringLiteral("/photo.bin"), photo);
        ::mkfifo(QFile::encodeName(work + QStringLiteral("/fifo")).constData(), 0644);
        const QByteArray path = QFile::encodeName(scene.folder) + '/' + entry.name;
        const QString label =
            entry.label + QStringLiteral(" \"%1\"").arg(QString::fromUtf8(entry.name).replace(u'\n', QStringLiteral("\\n")));
        const QString whyNot = entry.make(path, work);
        if (!whyNot.isEmpty()) {
            tally.note(label + QStringLiteral(": not tried: ") + whyNot);
            continue;
        }
        struct stat before {};
        ::lstat(path.constData(), &before);

        const Run::Result result = ctx.program->run(scene.folder, EndBoundMs);
        if (entry.label == QLatin1String("immutable file"))
            chattr(QStringLiteral("-i"), path);
        struct stat after {};
        const bool present = ::lstat(path.constData(), &after) == 0;
        const QHash<int, QByteArray> stored = scene.db->storedPhotos();
        const bool entryStored = entry.member > 0 && stored.contains(entry.member);
        bool storedRight = entryStored && stored.value(entry.member) == entry.bytes;
        if (storedRight && entry.bytes.isEmpty()) {
            TrialDatabase::Session session(*scene.db);
            storedRight = session.scalar(QStringLiteral("SELECT COUNT(*) FROM ABONADOSFOTOS WHERE CODIGO = %1 AND "
                                                        "FOTO IS NOT NULL AND FILESIZE = 0")
                                             .arg(entry.member))
                              .toInt() == 1;
        }
        const bool refused = result.out.contains(QStringLiteral(" 1 de tamaño no permitido"));

        QString outcome = entryStored ? (storedRight ? QStringLiteral("stored") : QStringLiteral("stored wrong"))
                          : present   ? QStringLiteral("left in place")
                                      : QStringLiteral("gone, not stored");
        if (refused)
            outcome += QStringLiteral(", refused for its size");
        if (result.hung)
            outcome += QStringLiteral("; the run hung");
        else if (result.completed())
            outcome += QStringLiteral("; run completed");
        else
            outcome += QStringLiteral("; run ended with error %1 naming %2").arg(result.failureNumber()).arg(result.failedFile());
        tally.note(label + QStringLiteral(": ") + outcome);

        bool asExpected = false;
        switch (entry.expect) {
        case E::Skipped: asExpected = result.completed() && present && !entryStored; break;
        case E::Stored: asExpected = result.completed() && !present && storedRight; break;
        case E::Refused:
            // Refused without a read: the access time stays as it was.
            asExpected = result.completed() && present && !entryStored && refused &&
                         after.st_atim.tv_sec == before.st_atim.tv_sec;
            break;
        case E::EndsRun:
            // Right after its own row, if it has one: 1.jpg before it stored and gone, 99.jpg untouched.
            asExpected = result.exitCode == 1 && result.failureNumber() == 70 &&
                         result.failedFile().endsWith(QString::fromUtf8(entry.name)) && present &&
                         entryStored == entry.rowBeforeEnd && (!entryStored || storedRight) &&
                         !entryExists(scene.folder + QStringLiteral("/1.jpg")) &&
                         entryExists(scene.folder + QStringLiteral("/99.jpg")) && !stored.contains(99);
            break;
        }
        if (result.hung) {
            ++tally.hangs;
        } else if (!asExpected) {
            ++tally.unexpected;
            tally.note(label + QStringLiteral(": not what it must lead to; ") + result.summary());
        }
        if (entry.expect != E::EndsRun && !result.hung &&
            (entryExists(scene.folder + QStringLiteral("/1.jpg")) || entryExists(scene.folder + QStringLiteral("/99.jpg")))) {
            ++tally.unexpected;
            tally.note(label + QStringLiteral(": the photos around it were left in the folder"));
        }
        checkNothingLost(scene, stored, tally, label);
        if (!entryExists(work + QStringLiteral("/photo.bin"))) {
            ++tally.lost;
            tally.note(label + QStringLiteral(": the file a link pointed to is gone"));
        }
        checkIntegrity(scene, tally, label);
        ::unlink(path.constData());  // a name that is not UTF-8 is beyond the temporary folder's clean-up
        ++tally.trials;
        tally.photos += 3;
    }
    return tally;
}
}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Fault trials of the headless upload."));
    parser.addHelpOption();
    const QCommandLineOption longOption(QStringLiteral("long"), QStringLiteral("The long version, with more rounds."));
    const QCommandLineOption seedOption(QStringLiteral("seed"), QStringLiteral("Draws of an earlier run."),
                                        QStringLiteral("N"));
    const QCommandLineOption programOption(QStringLiteral("program"), QStringLiteral("The retratix executable."),
                                           QStringLiteral("PATH"), QStringLiteral(RETRATIX_PROGRAM));
    parser.addOptions({longOption, seedOption, programOption});
    parser.addPositionalArgument(QStringLiteral("trial"),
                                 QStringLiteral("kills, server-stopped, server-frozen, writers, sqlite-held, odd-entries, desks, "
                                                "privileged"));
    parser.process(application);
    const QStringList chosen = parser.positionalArguments();
    const auto wanted = [&](const char* trial) { return chosen.isEmpty() || chosen.contains(QLatin1String(trial)); };

    Context ctx;
    ctx.scale = parser.isSet(longOption) ? LongScale : ShortScale;
    ctx.seed = parser.isSet(seedOption) ? parser.value(seedOption).toULongLong() : QRandomGenerator::system()->generate64();
    const QString host = qEnvironmentVariable("RETRATIX_PG_HOST");
    const int port = qEnvironmentVariableIntValue("RETRATIX_PG_PORT");
    if (!host.isEmpty() && port > 0)
        ctx.server = Server{host, port};
    out() << "Fault trials, " << (parser.isSet(longOption) ? "long" : "short") << " version, seed " << ctx.seed
          << (ctx.server ? QStringLiteral(", PostgreSQL on %1:%2").arg(host).arg(port)
                         : QStringLiteral(", PostgreSQL trials skipped (no RETRATIX_PG_HOST and RETRATIX_PG_PORT)"))
          << Qt::endl;

    bool clean = true;
    const auto report = [&](const Tally& tally) {
        clean = clean && tally.clean();
        out() << tally.line() << Qt::endl;
    };
    try {
        ctx.program = std::make_unique<ProgramFolder>(parser.value(programOption));
        if (wanted("kills")) {
            for (const Engine engine : ctx.engines())
                report(killTrial(ctx, engine));
        }
        if (ctx.server && (wanted("server-stopped") || wanted("server-frozen"))) {
            PrivateServer server;
            if (!server.whyNot().isEmpty()) {
                out() << "Server trials skipped: " << server.whyNot() << Qt::endl;
            } else {
                // One measure for both: the measured run is checked like the trials' runs.
                Tally measured(QStringLiteral("server measure"), engineName(Engine::Postgres));
                const qint64 runMs =
                    measureRunTime(ctx, Engine::Postgres, &server.address(), ctx.scale.serverPhotos, measured);
                report(measured);
                if (wanted("server-stopped"))
                    report(serverStoppedTrial(ctx, server, runMs));
                if (wanted("server-frozen"))
                    report(serverFrozenTrial(ctx, server, runMs));
            }
        }
        if (wanted("writers")) {
            for (const Engine engine : ctx.engines())
                report(writersTrial(ctx, engine));
        }
        if (wanted("sqlite-held"))
            report(sqliteHeldTrial(ctx));
        if (wanted("odd-entries")) {
            // What an entry leads to hardly depends on the engine: the short version spares the
            // server one database per entry.
            for (const Engine engine : ctx.scale.oddEntriesOnServer ? ctx.engines() : QList<Engine>{Engine::Sqlite})
                report(oddEntriesTrial(ctx, engine));
        }
        if (wanted("desks")) {
            for (const Engine engine : ctx.engines())
                report(desksTrial(parser.value(programOption), engine, ctx.serverFor(engine), ctx.scale.deskPhotos,
                                  ctx.random(TrialId::Desks, engine, 0)));
        }
        if (wanted("privileged")) {
            // The short version spares the server: what the attacks get hardly depends on the engine.
            privilegedTrial(parser.value(programOption),
                            ctx.scale.privilegedOnServer ? ctx.engines() : QList<Engine>{Engine::Sqlite},
                            ctx.server ? &*ctx.server : nullptr, ctx.scale.privileged,
                            ctx.random(TrialId::Privileged, Engine::Sqlite, 0), report);
        }
    } catch (const SetupError& error) {
        out() << "The trials could not be set up: " << error.what() << Qt::endl;
        return 2;
    }
    out() << (clean ? "No trial lost a file, left a database corrupt, hung, ended unexpectedly or let an attack get "
                      "anything."
                    : "FAULTS FOUND: see the notes above.")
          << Qt::endl;
    return clean ? 0 : 1;
}
