#pragma once

// What the fault trials share: photo folders and what each file must become, a database of each
// trial's own, the program run headless with a bound on its time, and the checks made after a run.

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <memory>
#include <stdexcept>

namespace trials {

enum class Engine { Sqlite, Postgres };
QString engineName(Engine engine);

// The source tree: RETRATIX_SOURCE_DIR, else the one the trials were built from.
QString sourceDir();

// A trial that could not be set up: a fault of the trial's surroundings, not of the program.
struct SetupError : std::runtime_error {
    explicit SetupError(const QString& what) : std::runtime_error(what.toStdString()) {}
};

// The findings of one trial on one engine, printed as one line.
class Tally final {
public:
    Tally(QString trial, QString engine);
    int trials = 0;
    qint64 photos = 0;
    int lost = 0;
    int corrupt = 0;
    int hangs = 0;
    int unexpected = 0;
    // An attack's line counts the runs in which it got anything (read, created or changed anything
    // outside the photo folder, or stored what it must not): breaches.
    bool countsBreaches = false;
    int breaches = 0;
    QStringList figures;  // what else the line tells

    // Prints a finding (or an outcome worth noting) at once, under the trial's name.
    void note(const QString& text) const;
    bool clean() const { return lost == 0 && corrupt == 0 && hangs == 0 && unexpected == 0 && breaches == 0; }
    QString line() const;

private:
    QString m_trial;
    QString m_engine;
    QElapsedTimer m_clock;
};

// A photo file of a trial folder and what a run must do with it.
struct Photo {
    enum class Fate { Stored, NotMember, TooLarge };
    QString name;
    int member = 0;
    QByteArray bytes;  // what the file holds last
    Fate fate = Fate::Stored;
    bool mustStay() const { return fate != Fate::Stored; }
};

// The photos of a folder, and the members and stored photos of installation 1 they meet.
struct PhotoSet {
    QList<Photo> photos;
    QList<int> members;
    QHash<int, QByteArray> storedBefore;
};

QByteArray randomBytes(QRandomGenerator& random, qsizetype size);
// "1.jpg" to "<count>.jpg" of 20 to 60 KB of random bytes: most members exist, a quarter of them
// with a photo stored already; some members do not exist; a few files are too large (one of
// exactly the limit), and one is a byte under it.
PhotoSet makePhotoSet(int count, QRandomGenerator& random);
void writeFile(const QString& path, const QByteArray& bytes);
// The names in a folder, whatever they are (hidden files, links, FIFOs, folders).
QStringList folderEntries(const QString& folder);
// Whether the name exists (a dangling link does).
bool entryExists(const QString& path);

// A PostgreSQL server reached with the program's account.
struct Server {
    QString host;
    int port = 0;
};

// A fresh database with the program's tables (the project's schema script): a SQLite file, or a
// database of its own on a server, dropped with the object.
class TrialDatabase final {
public:
    TrialDatabase(Engine engine, const QString& folder, const Server* server);
    ~TrialDatabase();
    TrialDatabase(const TrialDatabase&) = delete;
    TrialDatabase& operator=(const TrialDatabase&) = delete;

    Engine engine() const { return m_engine; }
    // The SID of Polidex.ini.
    QString dataSource() const;

    // Installation 1, its members and the photos stored before a run.
    void seed(const PhotoSet& set);
    // CODIGO -> FOTO of installation 1.
    QHash<int, QByteArray> storedPhotos();
    // Empty when the database passes its checks: SQLite's integrity check; on PostgreSQL every
    // row readable, keys unique, and amcheck's index and table checks where the server has it.
    QString integrityProblem();
    // Whether the server has amcheck in this database (PostgreSQL).
    bool hasAmcheck();

    // A connection of the trial's own, open while the session lives.
    class Session final {
    public:
        explicit Session(const TrialDatabase& database);
        Session(Engine engine, const QString& target, const Server& server);
        ~Session();
        Session(const Session&) = delete;
        Session& operator=(const Session&) = delete;
        // Runs the statement with its values bound. A failure is a SetupError, or false with its
        // text when error is given.
        bool exec(const QString& sql, const QVariantList& values = {}, QSqlQuery* result = nullptr,
                  QString* error = nullptr);
        QVariant scalar(const QString& sql);

    private:
        QString m_name;
    };

private:
    friend class Session;
    Engine m_engine;
    QString m_path;  // SQLite
    Server m_server;
    QString m_name;  // PostgreSQL
};

// One run of the program under way.
class Run final {
public:
    explicit Run(std::unique_ptr<QProcess> process);
    ~Run();
    Run(Run&&) = default;

    // Waits up to ms for the run to end; true once it has.
    bool waitFor(qint64 ms);
    void kill();
    // SIGTERM, as systemd stops a unit; the run ends on its own.
    void terminate();
    qint64 elapsedMs() const { return m_clock.elapsed(); }

    struct Result {
        bool hung = false;    // over its bound, then killed
        bool killed = false;  // by the trial
        int exitCode = -1;
        QString out;
        QString err;
        qint64 ms = 0;
        bool completed() const { return !hung && !killed && exitCode == 0 && out.contains(QStringLiteral(" terminada: ")); }
        int failureNumber() const;   // "fallida (error N)", else 0
        QString failedFile() const;  // named on standard error, else empty
        QString summary() const;     // for notes
    };
    // Waits up to boundMs more; a run over its bound is killed and counted as hung.
    Result finish(qint64 boundMs);

private:
    std::unique_ptr<QProcess> m_process;
    QElapsedTimer m_clock;
    bool m_killed = false;
};

// The program copied into a folder of its own beside its Polidex.ini.
class ProgramFolder final {
public:
    explicit ProgramFolder(const QString& program);
    // Polidex.ini for this installation and database.
    void configure(const QString& dataSource, int installation = 1) const;
    // The headless upload of the folder, with further options.
    Run start(const QString& photoFolder, const QStringList& options = {}) const;
    // The program with these arguments (--check, --watch).
    Run launch(const QStringList& arguments) const;
    Run::Result run(const QString& photoFolder, qint64 boundMs) const { return start(photoFolder).finish(boundMs); }

private:
    QTemporaryDir m_dir;
};

// A PostgreSQL server of the trials' own (pg_server.sh), which a trial may stop and freeze while
// the other tests go on with theirs. Stopped and removed with the object.
class PrivateServer final {
public:
    PrivateServer();
    ~PrivateServer();
    PrivateServer(const PrivateServer&) = delete;
    PrivateServer& operator=(const PrivateServer&) = delete;
    // Empty when the server could not start.
    QString whyNot() const { return m_whyNot; }
    const Server& address() const { return m_address; }
    // pg_ctl stop -m mode, and the start again on the same port; SetupError when they fail.
    void stop(const QString& mode);
    void start();

private:
    QString ask(const QString& command);
    QProcess m_helper;
    Server m_address;
    QString m_whyNot;
};

// A trial's fresh folder of photos and its fresh database, seeded, with the program pointed at it.
struct Scene {
    Scene(const ProgramFolder& program, Engine engine, const Server* server, PhotoSet set);
    QTemporaryDir dir;
    QString folder;
    PhotoSet set;
    std::unique_ptr<TrialDatabase> db;
};

// The checks after a run. context names the trial and the run in every note.
// Every photo gone from its name is stored byte-identical for its member; a file that must stay
// is there. Counts lost files.
void checkNothingLost(const Scene& scene, const QHash<int, QByteArray>& stored, Tally& tally, const QString& context);
// The database passes its integrity checks. Counts corrupt databases.
void checkIntegrity(Scene& scene, Tally& tally, const QString& context);
// A run that had to complete did (else a hang or an unexpected outcome); returns whether it did.
bool checkRunCompleted(const Run::Result& result, Tally& tally, const QString& context);
// A run that had to complete did, and left only the files that must stay (unchanged); every photo
// is stored with its bytes, and the photos refused kept what was stored before. Includes the two
// checks above. alsoThere: entries the trial made beside the photo set that must still be there.
void checkCompleted(const Run::Result& result, Scene& scene, Tally& tally, const QString& context,
                    const QStringList& alsoThere = {});
// A run that had to end: within its bound (else a hang), with this failure (else unexpected).
// Returns whether it ended as expected.
bool checkEndedWith(const Run::Result& result, const QString& message, Tally& tally, const QString& context);

}  // namespace trials
