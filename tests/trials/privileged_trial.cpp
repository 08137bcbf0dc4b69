// The attacks of the account that fills the photo folder on an upload and a watch that run as root:
//   1 secret links   7.jpg -> a root-only file, 8.jpg -> /proc/self/environ, 9.jpg a hard link to
//                    another (made by root, as on a system without fs.protected_hardlinks)
//   2 originales     with --fit, originales/ a link to a folder on another file system and to a
//                    root-only folder; an administrator's --originals on another file system and a
//                    photo of another account's, mode 0600, whose copy must stay 0600
//   3 folder swap    the run's originals subfolder (or originales itself) exchanged with a link to a
//                    root-only folder (renameat2 RENAME_EXCHANGE) over and over during a run
//   4 report links   --pdf and --csv at links to a root-only file and dangling into a root-only
//                    folder, --check's --pdf, and the watch's --pdf-dir with dangling links at the
//                    names it would choose
//   5 lock link      the SQLite database in a folder the attacker writes, <db>-retratix a link to a
//                    root-only name and to the root-only file
//   6 forged names   names with a line break forging a summary line and with an escape sequence,
//                    in --check's output and on standard error of uploads that end at them
//   7 255-byte name  stored and deleted (or moved to originales) in one run, nothing left for the next
//   8 watch          the watch over the links of attack 1, regular photos and a 255-byte name
// An attack gets something when anything outside the folder was read (a file's access time, set
// before its last change so that a read moves it), created or changed, when a stored photo holds a
// root-only file's bytes or the program's environment, when a line is forged or an escape sequence
// printed, or when a photo cannot go. Regular photos must be stored and gone as in any run.

#include "privileged_trial.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QTextStream>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <new>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace trials {

namespace {

QByteArray native(const QString& path) { return QFile::encodeName(path); }

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

// The first few of a list, and how many more.
QString listed(const QStringList& items)
{
    constexpr qsizetype Shown = 4;
    QString text = items.mid(0, Shown).join(QStringLiteral("; "));
    if (items.size() > Shown)
        text += QStringLiteral("; and %1 more").arg(items.size() - Shown);
    return text;
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// ---- The attacker: an account of no one's, with exactly the rights of the folder's owner

uid_t unusedId(uid_t from)
{
    uid_t id = from;
    while (::getpwuid(id) || ::getgrgid(gid_t(id)))
        ++id;
    return id;
}

// What an attacker's process and the trial share: a request to stop and a count of what it did.
struct Shared {
    std::atomic<bool> stop{false};
    std::atomic<long> count{0};
};

// A forked process that drops every group and takes the uid and gid given before its action runs.
// The action makes plain system calls on buffers made before the fork.
class Attacker final {
public:
    Attacker(uid_t id, const std::function<bool(Shared&)>& action)
    {
        void* memory = ::mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED)
            throw SetupError(QStringLiteral("mmap failed"));
        m_shared = new (memory) Shared;
        m_pid = ::fork();
        if (m_pid < 0) {
            ::munmap(memory, sizeof(Shared));
            throw SetupError(QStringLiteral("fork failed"));
        }
        if (m_pid == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid_t(id)) != 0 || ::setuid(id) != 0 || ::getuid() != id)
                ::_exit(3);
            ::_exit(action(*m_shared) ? 0 : 1);
        }
    }
    ~Attacker()
    {
        if (m_pid > 0)
            end();
        ::munmap(m_shared, sizeof(Shared));
    }
    Attacker(const Attacker&) = delete;
    Attacker& operator=(const Attacker&) = delete;

    // Asks the action to stop, waits for it and gives its count; SetupError when it failed.
    long finish(const QString& what)
    {
        const int status = end();
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            throw SetupError(QStringLiteral("the attacker's account could not %1 (status %2)").arg(what).arg(status));
        return m_shared->count;
    }

private:
    int end()
    {
        m_shared->stop = true;
        int status = 0;
        for (int waited = 0; ::waitpid(m_pid, &status, WNOHANG) == 0; ++waited) {
            if (waited == 1000) {  // ten seconds
                ::kill(m_pid, SIGKILL);
                ::waitpid(m_pid, &status, 0);
                break;
            }
            ::usleep(10'000);
        }
        m_pid = -1;
        return status;
    }

    Shared* m_shared = nullptr;
    pid_t m_pid = -1;
};

void asAttacker(uid_t id, const QString& what, const std::function<bool()>& action)
{
    Attacker(id, [&action](Shared&) { return action(); }).finish(what);
}

// ---- What lies outside the photo folder

// An entry as far as a read, a write or a new entry shows: kind, owner, mode, links, size, change and
// modification times, and for a file its access time. Found with lstat: never read, never followed.
QString entryState(const QString& path)
{
    struct stat st {};
    if (::lstat(native(path).constData(), &st) != 0)
        return QStringLiteral("missing");
    QString state = QStringLiteral("mode %1 owner %2 links %3 size %4 changed %5.%6 modified %7.%8")
                        .arg(st.st_mode, 0, 8)
                        .arg(st.st_uid)
                        .arg(st.st_nlink)
                        .arg(st.st_size)
                        .arg(st.st_ctim.tv_sec)
                        .arg(st.st_ctim.tv_nsec)
                        .arg(st.st_mtim.tv_sec)
                        .arg(st.st_mtim.tv_nsec);
    // A folder's access time moves whenever it is listed, also by this trial.
    if (!S_ISDIR(st.st_mode))
        state += QStringLiteral(" accessed %1.%2").arg(st.st_atim.tv_sec).arg(st.st_atim.tv_nsec);
    return state;
}

using Outside = QMap<QString, QString>;

template<typename Visit>
void eachEntry(const QStringList& roots, const Visit& visit)
{
    for (const QString& root : roots) {
        visit(root);
        QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            visit(it.next());
    }
}

Outside outsideState(const QStringList& roots)
{
    Outside state;
    eachEntry(roots, [&state](const QString& path) { state.insert(path, entryState(path)); });
    return state;
}

// Every file's access time an hour before its modification: under relatime the next read moves it.
void ageAccessTimes(const QStringList& roots)
{
    eachEntry(roots, [](const QString& path) {
        struct stat st {};
        if (::lstat(native(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
            return;
        const timespec times[2] = {{st.st_mtim.tv_sec - 3600, 0}, {0, UTIME_OMIT}};
        ::utimensat(AT_FDCWD, native(path).constData(), times, AT_SYMLINK_NOFOLLOW);
    });
}

// ---- A photo folder of the attacker's, with a root-only secret beside it

struct Accounts {
    uid_t staff = 0;       // owns and fills the photo folder: the attacker
    uid_t otherStaff = 0;  // another member of staff, owner of one photo
};

void giveTo(const QString& path, uid_t id)
{
    eachEntry({path}, [id](const QString& entry) {
        if (::lchown(native(entry).constData(), id, gid_t(id)) != 0)
            throw SetupError(QStringLiteral("cannot give %1 to %2").arg(entry).arg(id));
    });
}

// Photos 1 to count, except those of the members given, who are members all the same: the attack
// puts its own entries under their names.
PhotoSet photosBeside(int count, QRandomGenerator& random, const QList<int>& taken)
{
    PhotoSet set = makePhotoSet(count, random);
    set.photos.removeIf([&taken](const Photo& photo) { return taken.contains(photo.member); });
    for (int member : taken) {
        if (!set.members.contains(member))
            set.members.append(member);
    }
    return set;
}

class Stage final {
public:
    Stage(const ProgramFolder& program, Engine engine, const Server* server, PhotoSet set, const Accounts& accounts,
          const QByteArray& mark)
        : scene(program, engine, server, std::move(set)), m_accounts(accounts)
    {
        // Others may pass through to the photo folder, as they reach a share; the rest is root's.
        if (!QFile::setPermissions(scene.dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                         QFile::ExeGroup | QFile::ExeOther))
            throw SetupError(QStringLiteral("cannot open ") + scene.dir.path());
        giveTo(scene.folder, accounts.staff);
        rootOnly = scene.dir.filePath(QStringLiteral("root-only"));
        secret = rootOnly + QStringLiteral("/secret");
        drop = rootOnly + QStringLiteral("/drop");
        if (::mkdir(native(rootOnly).constData(), 0700) != 0 || ::mkdir(native(drop).constData(), 0700) != 0)
            throw SetupError(QStringLiteral("cannot make ") + rootOnly);
        // Two secrets, so that a link to one and a second name of the other each count on their own.
        for (const QString& path : {secret, rootOnly + QStringLiteral("/shadow")}) {
            const QByteArray bytes = "RETRATIX-TRIAL-SECRET " + mark + ' ' + QFile::encodeName(path) + '\n';
            writeFile(path, bytes);
            ::chmod(native(path).constData(), 0600);
            secrets.insert(path, bytes);
        }
        const QByteArray folder = native(scene.folder);
        const QByteArray secretPath = native(secret);
        asAttacker(accounts.staff, QStringLiteral("write the photo folder, or could read the secret"), [=] {
            return ::access(folder.constData(), W_OK | X_OK) == 0 && ::open(secretPath.constData(), O_RDONLY) < 0 &&
                   errno == EACCES;
        });
        outsideRoots = {rootOnly};
    }

    // A folder of the attacker's beside the photo folder (reports, the database).
    QString staffFolder(const QString& name) const
    {
        const QString path = scene.dir.filePath(name);
        if (!QDir().mkdir(path))
            throw SetupError(QStringLiteral("cannot make ") + path);
        giveTo(path, m_accounts.staff);
        return path;
    }

    // The attacker's links in the folder (made by the attacker), and a hard link to the other secret
    // (made by root, as any account could on a system without fs.protected_hardlinks).
    void plantSecretLinks()
    {
        const QByteArray folder = native(scene.folder);
        const QByteArray target = native(secret);
        asAttacker(m_accounts.staff, QStringLiteral("plant links"), [=] {
            return ::symlink(target.constData(), (folder + "/7.jpg").constData()) == 0 &&
                   ::symlink("/proc/self/environ", (folder + "/8.jpg").constData()) == 0;
        });
        if (::link(native(rootOnly + QStringLiteral("/shadow")).constData(), (folder + "/9.jpg").constData()) != 0)
            throw SetupError(QStringLiteral("cannot make a hard link to a secret"));
        planted << QStringLiteral("7.jpg") << QStringLiteral("8.jpg") << QStringLiteral("9.jpg");
        linkMembers << 7 << 8 << 9;
    }

    // From here on, anything outside that changes was the program's doing.
    void freeze()
    {
        ageAccessTimes(outsideRoots);
        m_before = outsideState(outsideRoots);
    }

    // What changed outside since freeze(), noted; how many entries.
    int outsideChanges(const Tally& tally, const QString& context) const
    {
        const Outside after = outsideState(outsideRoots);
        QStringList changes;
        for (auto it = m_before.cbegin(); it != m_before.cend(); ++it) {
            const QString now = after.value(it.key(), QStringLiteral("missing"));
            if (now == QLatin1String("missing")) {
                changes.append(it.key() + QStringLiteral(" removed"));
            } else if (now != it.value()) {
                // The fields that differ: "links 2 -> 1", "accessed ... -> ..." (read).
                const QStringList was = it.value().split(QLatin1Char(' '));
                const QStringList is = now.split(QLatin1Char(' '));
                QStringList fields;
                for (qsizetype i = 0; i + 1 < was.size() && i + 1 < is.size(); i += 2) {
                    if (was.at(i + 1) != is.at(i + 1))
                        fields.append(QStringLiteral("%1 %2 -> %3").arg(was.at(i), was.at(i + 1), is.at(i + 1)));
                }
                changes.append(it.key() + QStringLiteral(" changed (") + fields.join(QStringLiteral(", ")) + QLatin1Char(')'));
            }
        }
        for (auto it = after.cbegin(); it != after.cend(); ++it) {
            if (!m_before.contains(it.key()))
                changes.append(it.key() + QStringLiteral(" created"));
        }
        if (!changes.isEmpty())
            tally.note(context + QStringLiteral(": outside the folder, ") + listed(changes));
        return int(changes.size());
    }

    Scene scene;
    QString rootOnly;  // root's, 0700: two secrets and an empty folder
    QString secret;    // 0600, the one links and outputs point to
    QHash<QString, QByteArray> secrets;  // path -> bytes
    QString drop;
    QStringList outsideRoots;
    QStringList planted;  // the attacker's entries in the folder, which must stay
    QList<int> linkMembers;

private:
    Accounts m_accounts;
    Outside m_before;
};

// ---- The trial

class PrivilegedTrial final {
public:
    PrivilegedTrial(const QString& program, const Server* server, const PrivilegedScale& scale,
                    QRandomGenerator random)
        : m_program(program), m_server(server), m_scale(scale), m_random(random)
    {
        m_accounts.staff = unusedId(64123);
        m_accounts.otherStaff = unusedId(m_accounts.staff + 1);
        // The program's environment carries a mark that a stored /proc/self/environ would show.
        m_environMark = "environ-" + QByteArray::number(m_random.generate64(), 16);
        qputenv("RETRATIX_TRIAL_MARK", m_environMark);
    }

    Tally secretLinks(Engine engine);
    Tally originales();
    Tally folderSwap(Engine engine);
    Tally reportLinks();
    Tally lockLink();
    Tally forgedNames();
    Tally longName();
    Tally watch(Engine engine);

    const Accounts& accounts() const { return m_accounts; }

private:
    std::unique_ptr<Stage> stage(Engine engine, PhotoSet set)
    {
        return std::make_unique<Stage>(m_program, engine, serverFor(engine), std::move(set), m_accounts,
                                       QByteArray::number(m_random.generate64(), 16));
    }
    const Server* serverFor(Engine engine) const { return engine == Engine::Postgres ? m_server : nullptr; }
    static Tally attackTally(const QString& name, Engine engine)
    {
        Tally tally(name, engineName(engine));
        tally.countsBreaches = true;
        return tally;
    }
    int secretsStored(Stage& stage, const Tally& tally, const QString& context) const;
    void checkNothingGot(Stage& stage, Tally& tally, const QString& context, int alsoGot = 0) const;
    Run::Result watchUntil(const Stage& stage, const QStringList& options, const std::function<bool()>& done,
                           Tally& tally, const QString& context) const;

    ProgramFolder m_program;
    const Server* m_server;
    PrivilegedScale m_scale;
    QRandomGenerator m_random;
    Accounts m_accounts;
    QByteArray m_environMark;
};

// A run of a few photos has this long.
constexpr qint64 RunBoundMs = 120'000;

// Stored photos that hold the secret or the program's environment, and the photos of the members
// whose names the attack took when they changed; each noted.
int PrivilegedTrial::secretsStored(Stage& stage, const Tally& tally, const QString& context) const
{
    int found = 0;
    TrialDatabase::Session session(*stage.scene.db);
    QSqlQuery query;
    session.exec(QStringLiteral("SELECT CODINSTALACION, CODIGO, FOTO FROM ABONADOSFOTOS"), {}, &query);
    while (query.next()) {
        const QByteArray photo = query.value(2).toByteArray();
        bool secret = false;
        for (const QByteArray& bytes : std::as_const(stage.secrets))
            secret = secret || photo.contains(bytes.trimmed());
        if (!secret && !photo.contains(m_environMark))
            continue;
        ++found;
        tally.note(context + QStringLiteral(": the stored photo of member %1 (installation %2) holds %3")
                                 .arg(query.value(1).toInt())
                                 .arg(query.value(0).toInt())
                                 .arg(secret ? QStringLiteral("the root-only file") : QStringLiteral("the program's environment")));
    }
    const QHash<int, QByteArray> stored = stage.scene.db->storedPhotos();
    for (int member : std::as_const(stage.linkMembers)) {
        if (stored.value(member) != stage.scene.set.storedBefore.value(member)) {
            ++found;
            tally.note(context + QStringLiteral(": member %1's photo changed through a link").arg(member));
        }
    }
    return found;
}

// The run got nothing: nothing outside changed or read, nothing secret stored. alsoGot: what the
// caller found besides. One breach per run.
void PrivilegedTrial::checkNothingGot(Stage& stage, Tally& tally, const QString& context, int alsoGot) const
{
    const int got = alsoGot + stage.outsideChanges(tally, context) + secretsStored(stage, tally, context);
    if (got > 0)
        ++tally.breaches;
    // Last, since it reads them: the secrets byte for byte.
    for (auto it = stage.secrets.cbegin(); it != stage.secrets.cend(); ++it) {
        if (fileBytes(it.key()) == it.value())
            continue;
        tally.note(context + QStringLiteral(": %1 changed").arg(it.key()));
        if (got == 0)
            ++tally.breaches;
        break;
    }
}

// The attacker's entries are all still there; counts those gone as unexpected.
void checkPlanted(const Stage& stage, Tally& tally, const QString& context)
{
    QStringList gone;
    for (const QString& name : stage.planted) {
        if (!entryExists(stage.scene.folder + QLatin1Char('/') + name))
            gone.append(name);
    }
    if (gone.isEmpty())
        return;
    ++tally.unexpected;
    tally.note(context + QStringLiteral(": the attacker's entries are gone: ") + gone.join(QStringLiteral(", ")));
}

// The regular files in the folders below folder, never reached through a link: where originals went,
// whatever the folders are called now. Name -> paths.
QHash<QString, QStringList> filesBelow(const QString& folder)
{
    QHash<QString, QStringList> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info = it.nextFileInfo();
        if (info.absolutePath() != QDir(folder).absolutePath())
            files[info.fileName()].append(info.filePath());
    }
    return files;
}

// Every photo of the set gone from the folder is in a folder below originals (under its name or
// NAME.N) with its bytes; with modes given, with its source's permissions and owner too. Counts
// the originals missing as lost and another owner as unexpected; returns how many copies were open
// to more than their originals were.
int checkOriginals(const Stage& stage, const QString& originals, Tally& tally, const QString& context,
                   const QHash<QString, std::pair<quint32, uint>>& modes = {})
{
    const QHash<QString, QStringList> files = filesBelow(originals);
    QStringList opened;
    QStringList owned;
    QStringList missing;
    for (const Photo& photo : stage.scene.set.photos) {
        if (photo.mustStay() || entryExists(stage.scene.folder + QLatin1Char('/') + photo.name))
            continue;
        QString found;
        for (auto it = files.cbegin(); it != files.cend() && found.isEmpty(); ++it) {
            if (it.key() != photo.name && !it.key().startsWith(photo.name + QLatin1Char('.')))
                continue;
            for (const QString& path : it.value()) {
                if (fileBytes(path) == photo.bytes)
                    found = path;
            }
        }
        if (found.isEmpty()) {
            ++tally.lost;
            missing.append(photo.name);
            continue;
        }
        if (!modes.contains(photo.name))
            continue;
        struct stat st {};
        ::lstat(native(found).constData(), &st);
        const auto [mode, owner] = modes.value(photo.name);
        const QString copy = QStringLiteral("%1 (%2 of %3, its original %4 of %5)")
                                 .arg(photo.name)
                                 .arg(st.st_mode & 0777, 4, 8, QLatin1Char('0'))
                                 .arg(st.st_uid)
                                 .arg(mode, 4, 8, QLatin1Char('0'))
                                 .arg(owner);
        if (st.st_mode & 0777 & ~mode)
            opened.append(copy);
        else if (st.st_uid != owner)
            owned.append(copy);
    }
    if (!missing.isEmpty())
        tally.note(context + QStringLiteral(": stored and gone, but in no folder below %1: ").arg(originals) +
                   listed(missing));
    if (!opened.isEmpty())
        tally.note(context + QStringLiteral(": copies open to more than their originals: ") + listed(opened));
    if (!owned.isEmpty()) {
        ++tally.unexpected;
        tally.note(context + QStringLiteral(": copies of another owner: ") + listed(owned));
    }
    return int(opened.size());
}

// A folder of its own on another file system than the photo folder's (/dev/shm), removed with it.
class ShmFolder final {
public:
    explicit ShmFolder(const QString& name)
        : m_path(QStringLiteral("/dev/shm/retratix-trial-%1-%2").arg(::getpid()).arg(name))
    {
        QDir(m_path).removeRecursively();
    }
    ~ShmFolder() { QDir(m_path).removeRecursively(); }
    const QString& path() const { return m_path; }

private:
    QString m_path;
};

// A --check run that had to complete did; a hang or an unexpected end is counted.
bool checkCheckCompleted(const Run::Result& result, Tally& tally, const QString& context)
{
    if (result.hung) {
        ++tally.hangs;
    } else if (result.exitCode != 0 || !result.out.contains(QStringLiteral("Comprobación: "))) {
        ++tally.unexpected;
    } else {
        return true;
    }
    tally.note(context + QStringLiteral(": ") + result.summary());
    return false;
}

// How many regular photos of the set a run stored and let go.
int photosGone(const Stage& stage)
{
    int gone = 0;
    for (const Photo& photo : stage.scene.set.photos)
        gone += entryExists(stage.scene.folder + QLatin1Char('/') + photo.name) ? 0 : 1;
    return gone;
}

bool isRegularFileStarting(const QString& path, const QByteArray& start)
{
    struct stat st {};
    return ::lstat(native(path).constData(), &st) == 0 && S_ISREG(st.st_mode) && fileBytes(path).startsWith(start);
}

// 1. Links to a root-only file and to the program's environment, and a hard link to the file: a
// check and an upload; nothing of theirs is read or stored, the links stay.
Tally PrivilegedTrial::secretLinks(Engine engine)
{
    Tally tally = attackTally(QStringLiteral("1 secret links"), engine);
    const auto st = stage(engine, photosBeside(m_scale.photos, m_random, {7, 8, 9}));
    st->plantSecretLinks();
    st->freeze();
    checkCheckCompleted(m_program.launch({QStringLiteral("--check"), st->scene.folder}).finish(RunBoundMs), tally,
                        QStringLiteral("--check"));
    checkCompleted(m_program.run(st->scene.folder, RunBoundMs), st->scene, tally, QStringLiteral("--upload"),
                   st->planted);
    checkNothingGot(*st, tally, QStringLiteral("--check and --upload"));
    tally.trials += 2;
    tally.photos += 2 * st->scene.set.photos.size();
    return tally;
}

// 2. With --fit, originales/ a link to a folder of the attacker's on another file system and to a
// root-only folder: nothing goes there (the run ends before its first store, naming the link);
// then an administrator's --originals on another file system, where the copy of a photo of another
// account's, mode 0600, stays 0600 and that account's.
Tally PrivilegedTrial::originales()
{
    Tally tally = attackTally(QStringLiteral("2 originales"), Engine::Sqlite);
    for (const bool elsewhere : {true, false}) {
        const auto st = stage(Engine::Sqlite, photosBeside(m_scale.photos, m_random, {7, 8, 9}));
        st->plantSecretLinks();
        const ShmFolder shm(QStringLiteral("originales"));
        const QString target = elsewhere ? shm.path() : st->drop;
        const QString context = QStringLiteral("originales -> %1").arg(target);
        const QByteArray shmPath = native(shm.path());
        const QByteArray link = native(st->scene.folder + QStringLiteral("/originales"));
        const QByteArray to = native(target);
        asAttacker(m_accounts.staff, QStringLiteral("link originales"), [=] {
            return (!elsewhere || ::mkdir(shmPath.constData(), 0755) == 0) && ::symlink(to.constData(), link.constData()) == 0;
        });
        st->planted << QStringLiteral("originales");
        if (elsewhere)
            st->outsideRoots << shm.path();
        st->freeze();
        const Run::Result result = m_program.start(st->scene.folder, {QStringLiteral("--fit")}).finish(RunBoundMs);
        if (result.hung) {
            ++tally.hangs;
            tally.note(context + QStringLiteral(": ") + result.summary());
        }
        tally.figures << QStringLiteral("originales -> %1: %2, %3 photos stored")
                             .arg(elsewhere ? QStringLiteral("/dev/shm") : QStringLiteral("root-only"),
                                  result.completed() ? QStringLiteral("completed")
                                                     : QStringLiteral("error %1").arg(result.failureNumber()))
                             .arg(photosGone(*st));
        checkNothingLost(st->scene, st->scene.db->storedPhotos(), tally, context);
        checkIntegrity(st->scene, tally, context);
        checkPlanted(*st, tally, context);
        checkNothingGot(*st, tally, context);
        ++tally.trials;
        tally.photos += st->scene.set.photos.size();
    }

    const auto st = stage(Engine::Sqlite, photosBeside(m_scale.photos, m_random, {7, 8, 9}));
    st->plantSecretLinks();
    const ShmFolder shm(QStringLiteral("administrador"));
    if (!QDir().mkdir(shm.path()))
        throw SetupError(QStringLiteral("cannot make ") + shm.path());
    const QString originals = shm.path() + QStringLiteral("/originales");
    const QString context = QStringLiteral("--originals %1").arg(originals);
    struct stat photoFolder {};
    struct stat shmFolder {};
    ::stat(native(st->scene.folder).constData(), &photoFolder);
    ::stat(native(shm.path()).constData(), &shmFolder);
    if (photoFolder.st_dev == shmFolder.st_dev)
        tally.figures << QStringLiteral("/dev/shm is on the photo folder's file system here: no copy made");
    // One photo is another member of staff's, for them alone.
    QHash<QString, std::pair<quint32, uint>> modes;
    bool given = false;
    for (const Photo& photo : std::as_const(st->scene.set.photos)) {
        const QByteArray path = native(st->scene.folder + QLatin1Char('/') + photo.name);
        if (!given && !photo.mustStay()) {
            given = true;
            if (::chown(path.constData(), m_accounts.otherStaff, gid_t(m_accounts.otherStaff)) != 0 ||
                ::chmod(path.constData(), 0600) != 0)
                throw SetupError(QStringLiteral("cannot give a photo to another account"));
        }
        struct stat source {};
        ::stat(path.constData(), &source);
        modes.insert(photo.name, {source.st_mode & 0777, source.st_uid});
    }
    st->freeze();
    const Run::Result result =
        m_program.start(st->scene.folder, {QStringLiteral("--fit"), QStringLiteral("--originals"), originals})
            .finish(RunBoundMs);
    checkCompleted(result, st->scene, tally, context, st->planted);
    const int opened = checkOriginals(*st, originals, tally, context, modes);
    QStringList open;
    eachEntry({originals}, [&open](const QString& path) {
        struct stat folder {};
        if (::lstat(native(path).constData(), &folder) == 0 && S_ISDIR(folder.st_mode) && (folder.st_mode & 0077))
            open.append(path);
    });
    if (!open.isEmpty()) {
        ++tally.unexpected;
        tally.note(context + QStringLiteral(": folders made open to others: ") + open.join(QStringLiteral(", ")));
    }
    checkNothingGot(*st, tally, context, opened);
    tally.figures << (opened == 0 ? QStringLiteral("--originals on /dev/shm: %1 copies, none more open than its original")
                                             .arg(photosGone(*st))
                                  : QStringLiteral("--originals on /dev/shm: %1 copies more open than their originals")
                                        .arg(opened));
    ++tally.trials;
    tally.photos += st->scene.set.photos.size();
    return tally;
}

// The name of the run's originals subfolder ("yyyyMMdd-HHmmss-RUN") in the folder open on fd, read
// with getdents64 into name: no allocation in the attacker's process. False while there is none.
bool findRunFolder(int fd, char (&name)[256])
{
    alignas(8) char buffer[16384];
    ::lseek(fd, 0, SEEK_SET);
    for (;;) {
        const ssize_t got = ::getdents64(fd, buffer, sizeof buffer);
        if (got <= 0)
            return false;
        for (ssize_t at = 0; at < got;) {
            const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
            at += entry->d_reclen;
            const char* found = entry->d_name;
            if (std::strlen(found) > 16 && found[8] == '-' && found[15] == '-' && found[0] >= '0' && found[0] <= '9') {
                std::strcpy(name, found);
                return true;
            }
        }
    }
}

// 3. The attacker owns originales/ and, from the moment the run makes its subfolder there, exchanges
// that subfolder (or originales itself) with a link to a root-only folder as fast as it can: nothing
// lands in the root-only folder, and every stored photo is in the run's subfolder, whatever its name.
Tally PrivilegedTrial::folderSwap(Engine engine)
{
    Tally tally = attackTally(QStringLiteral("3 folder swap"), engine);
    long exchanges = 0;
    int endedAtOpen = 0;
    for (int round = 0; round < m_scale.swapRounds; ++round) {
        const bool parent = round % 2 == 1;
        const auto st = stage(engine, makePhotoSet(m_scale.swapPhotos, m_random));
        const QString context = QStringLiteral("round %1, %2 exchanged")
                                    .arg(round)
                                    .arg(parent ? QStringLiteral("originales") : QStringLiteral("the run's subfolder"));
        const QString originales = st->scene.folder + QStringLiteral("/originales");
        const QByteArray originalsPath = native(originales);
        const QByteArray linkPath = native(parent ? st->scene.folder + QStringLiteral("/.enlace")
                                                  : originales + QStringLiteral("/.enlace"));
        const QByteArray dropPath = native(st->drop);
        asAttacker(m_accounts.staff, QStringLiteral("make originales"), [=] {
            return ::mkdir(originalsPath.constData(), 0755) == 0 &&
                   ::symlink(dropPath.constData(), linkPath.constData()) == 0;
        });
        st->planted << QStringLiteral("originales");
        if (parent)
            st->planted << QStringLiteral(".enlace");
        st->freeze();

        Attacker attacker(m_accounts.staff, [=](Shared& shared) {
            const int folder = ::open(originalsPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (folder < 0)
                return false;
            char run[256] = {};
            while (!shared.stop && !findRunFolder(folder, run))
                ::sched_yield();
            while (!shared.stop) {
                const int done =
                    parent ? ::renameat2(AT_FDCWD, originalsPath.constData(), AT_FDCWD, linkPath.constData(), RENAME_EXCHANGE)
                           : ::renameat2(folder, run, folder, ".enlace", RENAME_EXCHANGE);
                if (done == 0)
                    ++shared.count;
                else
                    ::sched_yield();
            }
            return true;
        });
        const Run::Result result =
            m_program.start(st->scene.folder, {QStringLiteral("--fit")}).finish(60'000 + 200 * qint64(m_scale.swapPhotos));
        const long made = attacker.finish(QStringLiteral("exchange the folders"));
        exchanges += made;
        if (made == 0) {
            ++tally.unexpected;
            tally.note(context + QStringLiteral(": the attacker found no run subfolder to exchange"));
        }

        if (!result.completed() && !result.hung && result.failureNumber() == 75) {
            // Exchanged between its making and its opening: the run refuses the link it finds.
            ++endedAtOpen;
            tally.note(context + QStringLiteral(": the run ended at the subfolder's open: ") +
                       result.out.section(QLatin1Char('\n'), 0, 0));
            checkNothingLost(st->scene, st->scene.db->storedPhotos(), tally, context);
            checkIntegrity(st->scene, tally, context);
            checkPlanted(*st, tally, context);
        } else {
            checkCompleted(result, st->scene, tally, context, st->planted);
        }
        checkOriginals(*st, st->scene.folder, tally, context);
        checkNothingGot(*st, tally, context);
        ++tally.trials;
        tally.photos += st->scene.set.photos.size();
    }
    tally.figures << QStringLiteral("%1 exchanges during the runs").arg(exchanges)
                  << QStringLiteral("%1 runs ended at the subfolder's open (error 75)").arg(endedAtOpen);
    return tally;
}

// Starts the watch over the stage's folder, and ends it with SIGTERM once done() or a minute passed.
Run::Result PrivilegedTrial::watchUntil(const Stage& stage, const QStringList& options,
                                        const std::function<bool()>& done, Tally& tally, const QString& context) const
{
    Run run = m_program.launch(
        QStringList{QStringLiteral("--watch"), stage.scene.folder, QStringLiteral("--settle"), QStringLiteral("1")} +
        options);
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 60'000 && !run.waitFor(100)) {
    }
    if (!done()) {
        ++tally.unexpected;
        tally.note(context + QStringLiteral(": the watch had not done its work after %1 s").arg(clock.elapsed() / 1000));
    }
    run.terminate();
    return run.finish(30'000);
}

// 4. Report outputs at the attacker's links: --pdf and --csv at a link to the root-only file and at
// a dangling link into the root-only folder (both ways round), --check's --pdf at a dangling link,
// and the watch's --pdf-dir with dangling links at every name it could choose for two minutes.
// The reports are written in the links' place; the root-only folder stays as it was.
Tally PrivilegedTrial::reportLinks()
{
    Tally tally = attackTally(QStringLiteral("4 report links"), Engine::Sqlite);
    const auto plant = [this](const QList<std::pair<QString, QString>>& links) {
        QList<std::pair<QByteArray, QByteArray>> paths;
        for (const auto& [link, target] : links)
            paths.append({native(link), native(target)});
        asAttacker(m_accounts.staff, QStringLiteral("plant links for the reports"), [paths] {
            for (const auto& [link, target] : paths) {
                if (::symlink(target.constData(), link.constData()) != 0)
                    return false;
            }
            return true;
        });
    };

    for (const bool pdfAtSecret : {true, false}) {
        const auto st = stage(Engine::Sqlite, photosBeside(m_scale.photos, m_random, {}));
        const QString folder = st->staffFolder(QStringLiteral("salida"));
        const QString pdf = folder + QStringLiteral("/informe.pdf");
        const QString csv = folder + QStringLiteral("/filas.csv");
        plant({{pdf, pdfAtSecret ? st->secret : st->rootOnly + QStringLiteral("/informe.pdf")},
               {csv, pdfAtSecret ? st->rootOnly + QStringLiteral("/filas.csv") : st->secret}});
        st->freeze();
        const QString context = pdfAtSecret ? QStringLiteral("--pdf at the root-only file, --csv dangling")
                                            : QStringLiteral("--pdf dangling, --csv at the root-only file");
        const Run::Result result =
            m_program.start(st->scene.folder, {QStringLiteral("--pdf"), pdf, QStringLiteral("--csv"), csv}).finish(RunBoundMs);
        checkCompleted(result, st->scene, tally, context);
        if (!isRegularFileStarting(pdf, "%PDF") || !isRegularFileStarting(csv, "\xEF\xBB\xBF")) {
            ++tally.unexpected;
            tally.note(context + QStringLiteral(": the report and its rows are not written in the links' place"));
        }
        checkNothingGot(*st, tally, context);
        ++tally.trials;
        tally.photos += st->scene.set.photos.size();
    }

    {
        const auto st = stage(Engine::Sqlite, photosBeside(m_scale.photos, m_random, {}));
        const QString pdf = st->staffFolder(QStringLiteral("salida")) + QStringLiteral("/comprobacion.pdf");
        plant({{pdf, st->rootOnly + QStringLiteral("/comprobacion.pdf")}});
        st->freeze();
        const QString context = QStringLiteral("--check --pdf dangling");
        if (checkCheckCompleted(
                m_program.launch({QStringLiteral("--check"), st->scene.folder, QStringLiteral("--pdf"), pdf}).finish(RunBoundMs),
                tally, context) &&
            !isRegularFileStarting(pdf, "%PDF")) {
            ++tally.unexpected;
            tally.note(context + QStringLiteral(": the report is not written in the link's place"));
        }
        checkNothingGot(*st, tally, context);
        ++tally.trials;
        tally.photos += st->scene.set.photos.size();
    }

    const auto st = stage(Engine::Sqlite, photosBeside(m_scale.photos, m_random, {}));
    const QString reports = st->staffFolder(QStringLiteral("informes"));
    QList<std::pair<QString, QString>> links;
    const QDateTime now = QDateTime::currentDateTime();
    for (int second = 0; second < 120; ++second) {
        const QString stamp = now.addSecs(second).toString(QStringLiteral("yyyyMMdd-HHmmss"));
        for (const QString& suffix : {QString(), QStringLiteral("-2"), QStringLiteral("-3")}) {
            const QString name = QStringLiteral("InformeFotos-%1%2.pdf").arg(stamp, suffix);
            links.append({reports + QLatin1Char('/') + name, st->rootOnly + QLatin1Char('/') + name});
        }
    }
    plant(links);
    st->freeze();
    const QString context = QStringLiteral("--watch --pdf-dir with dangling links");
    const auto written = [&reports] {
        for (const QString& name : QDir(reports).entryList({QStringLiteral("InformeFotos-*.pdf")}, QDir::Files)) {
            if (isRegularFileStarting(reports + QLatin1Char('/') + name, "%PDF"))
                return name;
        }
        return QString();
    };
    const Run::Result result = watchUntil(*st, {QStringLiteral("--pdf-dir"), reports},
                                          [&written] { return !written().isEmpty(); }, tally, context);
    checkCompleted(result, st->scene, tally, context);
    checkNothingGot(*st, tally, context);
    tally.figures << QStringLiteral("the watch wrote %1 beside %2 links").arg(written()).arg(links.size());
    ++tally.trials;
    tally.photos += st->scene.set.photos.size();
    return tally;
}

// 5. The SQLite database in a folder the attacker writes, its run-number lock file <db>-retratix a
// link to a root-only name and to the root-only file: the run completes, the link is replaced by a
// file of the run's own, nothing is created or changed where it pointed.
Tally PrivilegedTrial::lockLink()
{
    Tally tally = attackTally(QStringLiteral("5 lock link"), Engine::Sqlite);
    for (const bool atSecret : {false, true}) {
        const auto st = stage(Engine::Sqlite, photosBeside(m_scale.photos, m_random, {}));
        const QString base = st->staffFolder(QStringLiteral("base"));
        st->scene.db = std::make_unique<TrialDatabase>(Engine::Sqlite, base, nullptr);
        st->scene.db->seed(st->scene.set);
        m_program.configure(st->scene.db->dataSource());
        const QByteArray lock = native(base + QStringLiteral("/retratix.db-retratix"));
        const QByteArray target = native(atSecret ? st->secret : st->rootOnly + QStringLiteral("/nologin"));
        asAttacker(m_accounts.staff, QStringLiteral("link the lock file"),
                   [=] { return ::symlink(target.constData(), lock.constData()) == 0; });
        st->freeze();
        const QString context = atSecret ? QStringLiteral("lock file at the root-only file")
                                         : QStringLiteral("lock file at root-only/nologin");
        checkCompleted(m_program.run(st->scene.folder, RunBoundMs), st->scene, tally, context);
        struct stat entry {};
        if (::lstat(lock.constData(), &entry) != 0 || !S_ISREG(entry.st_mode)) {
            ++tally.unexpected;
            tally.note(context + QStringLiteral(": the lock file is no file of the run's own"));
        }
        checkNothingGot(*st, tally, context);
        ++tally.trials;
        tally.photos += st->scene.set.photos.size();
    }
    return tally;
}

// What a forged name shows if it gets through: a line of its own that looks like a run's summary.
const QString ForgedLine = QStringLiteral("Ejecución 4242 terminada");

// Raw control characters other than the line ends and tabs of the program's own layout, and lines
// that start with the forged text, in what a run printed; each noted.
int forgeries(const Run::Result& result, const Tally& tally, const QString& context)
{
    int found = 0;
    for (const auto& [stream, text] : {std::pair{QStringLiteral("standard output"), result.out},
                                       std::pair{QStringLiteral("standard error"), result.err}}) {
        for (const QChar c : text) {
            const char16_t code = c.unicode();
            if ((code < 0x20 && code != u'\n' && code != u'\r' && code != u'\t') || (code >= 0x7F && code <= 0x9F)) {
                ++found;
                tally.note(context + QStringLiteral(": a raw \\x%1 on %2").arg(uint(code), 2, 16, QLatin1Char('0')).arg(stream));
                break;
            }
        }
        for (const QString& line : text.split(QLatin1Char('\n'))) {
            if (line.startsWith(ForgedLine)) {
                ++found;
                tally.note(context + QStringLiteral(": a forged line on %1: %2").arg(stream, line));
            }
        }
    }
    return found;
}

// 6. A name with an escape sequence and one with a line break that forges a summary line, both
// read-only: --check lists them, an upload ends at the first, the next (once the attacker lets the
// first go) at the second, the last completes. Every output shows them escaped, nothing raw.
Tally PrivilegedTrial::forgedNames()
{
    Tally tally = attackTally(QStringLiteral("6 forged names"), Engine::Sqlite);
    const QString escape = QStringLiteral("12.jpg\x1b[2J");
    const QString forged = QStringLiteral("13.jpg\n") + ForgedLine + QStringLiteral(": 1 archivos");
    PhotoSet set = photosBeside(m_scale.photos, m_random, {12, 13});
    for (const auto& [name, member] : {std::pair{escape, 12}, std::pair{forged, 13}})
        set.photos.append({name, member, randomBytes(m_random, 30000), Photo::Fate::Stored});
    const auto st = stage(Engine::Sqlite, set);
    const QByteArray escapePath = native(st->scene.folder + QLatin1Char('/') + escape);
    const QByteArray forgedPath = native(st->scene.folder + QLatin1Char('/') + forged);
    const auto chmodAsAttacker = [this](const QByteArray& path, mode_t mode) {
        asAttacker(m_accounts.staff, QStringLiteral("chmod a photo"), [=] { return ::chmod(path.constData(), mode) == 0; });
    };
    chmodAsAttacker(escapePath, 0444);
    chmodAsAttacker(forgedPath, 0444);
    st->freeze();
    const QString escapeShown = QStringLiteral("12.jpg\\x1b[2J");
    const QString forgedShown = QStringLiteral("13.jpg\\n") + ForgedLine;
    int got = 0;
    const auto shows = [&](const QString& text, const QString& what, const QString& context) {
        if (text.contains(what))
            return;
        ++tally.unexpected;
        tally.note(context + QStringLiteral(": \"%1\" not shown").arg(what));
    };

    const Run::Result check = m_program.launch({QStringLiteral("--check"), st->scene.folder}).finish(RunBoundMs);
    checkCheckCompleted(check, tally, QStringLiteral("--check"));
    got += forgeries(check, tally, QStringLiteral("--check"));
    shows(check.out, escapeShown, QStringLiteral("--check"));
    shows(check.out, forgedShown, QStringLiteral("--check"));

    for (const auto& [endsAt, shown] : {std::pair{escape, escapeShown}, std::pair{forged, forgedShown}}) {
        const QString context = QStringLiteral("upload ending at %1").arg(shown);
        const Run::Result result = m_program.run(st->scene.folder, RunBoundMs);
        got += forgeries(result, tally, context);
        if (result.hung) {
            ++tally.hangs;
        } else if (result.exitCode != 1 || result.failureNumber() != 70) {
            ++tally.unexpected;
            tally.note(context + QStringLiteral(": ") + result.summary());
        }
        shows(result.err, QStringLiteral("Archivo del error: ") + st->scene.folder + QLatin1Char('/') + shown, context);
        checkNothingLost(st->scene, st->scene.db->storedPhotos(), tally, context);
        // The owner lets it go; the next run stores it and goes on.
        chmodAsAttacker(endsAt == escape ? escapePath : forgedPath, 0644);
    }
    const Run::Result last = m_program.run(st->scene.folder, RunBoundMs);
    got += forgeries(last, tally, QStringLiteral("the last upload"));
    checkCompleted(last, st->scene, tally, QStringLiteral("the last upload"));
    checkNothingGot(*st, tally, QStringLiteral("--check and uploads"), got);
    tally.trials += 4;
    tally.photos += 4 * st->scene.set.photos.size();
    return tally;
}

// 7. A 255-byte name (5.jpg and 250 more): stored and deleted in the first run, which completes;
// the next run finds nothing to store. With --fit, another such name goes to originales.
Tally PrivilegedTrial::longName()
{
    Tally tally = attackTally(QStringLiteral("7 255-byte name"), Engine::Sqlite);
    {
        PhotoSet set = photosBeside(m_scale.photos, m_random, {5});
        set.photos.append({QStringLiteral("5.jpg") + QString(250, QLatin1Char('x')), 5, randomBytes(m_random, 30000),
                           Photo::Fate::Stored});
        const auto st = stage(Engine::Sqlite, set);
        st->freeze();
        const Run::Result first = m_program.run(st->scene.folder, RunBoundMs);
        checkCompleted(first, st->scene, tally, QStringLiteral("the first run"));
        const Run::Result second = m_program.run(st->scene.folder, RunBoundMs);
        const bool idle = second.completed() && second.out.contains(QStringLiteral(" 0 fotos insertadas, 0 actualizadas"));
        if (!idle)
            tally.note(QStringLiteral("the second run: ") + second.summary());
        checkNothingGot(*st, tally, QStringLiteral("two runs"), (first.completed() ? 0 : 1) + (idle ? 0 : 1));
        tally.trials += 2;
        tally.photos += 2 * st->scene.set.photos.size();
    }
    PhotoSet set = photosBeside(m_scale.photos, m_random, {6});
    set.photos.append({QStringLiteral("6.jpg") + QString(250, QLatin1Char('y')), 6, randomBytes(m_random, 30000),
                       Photo::Fate::Stored});
    const auto st = stage(Engine::Sqlite, set);
    st->freeze();
    const Run::Result result = m_program.start(st->scene.folder, {QStringLiteral("--fit")}).finish(RunBoundMs);
    checkCompleted(result, st->scene, tally, QStringLiteral("--fit"), {QStringLiteral("originales")});
    checkOriginals(*st, st->scene.folder, tally, QStringLiteral("--fit"));
    checkNothingGot(*st, tally, QStringLiteral("--fit"), result.completed() ? 0 : 1);
    ++tally.trials;
    tally.photos += st->scene.set.photos.size();
    return tally;
}

// 8. The watch over the links of attack 1, regular photos and a 255-byte name: the photos go, the
// links stay, nothing of theirs is read or stored. Ended with SIGTERM, as systemd stops it.
Tally PrivilegedTrial::watch(Engine engine)
{
    Tally tally = attackTally(QStringLiteral("8 watch"), engine);
    PhotoSet set = photosBeside(m_scale.photos, m_random, {5, 7, 8, 9});
    set.photos.append({QStringLiteral("5.jpg") + QString(250, QLatin1Char('z')), 5, randomBytes(m_random, 30000),
                       Photo::Fate::Stored});
    const auto st = stage(engine, set);
    st->plantSecretLinks();
    st->freeze();
    const auto uploaded = [&st] {
        for (const Photo& photo : st->scene.set.photos) {
            if (!photo.mustStay() && entryExists(st->scene.folder + QLatin1Char('/') + photo.name))
                return false;
        }
        return true;
    };
    const Run::Result result = watchUntil(*st, {}, uploaded, tally, QStringLiteral("--watch"));
    checkCompleted(result, st->scene, tally, QStringLiteral("--watch"), st->planted);
    checkNothingGot(*st, tally, QStringLiteral("--watch"));
    ++tally.trials;
    tally.photos += st->scene.set.photos.size();
    return tally;
}

}  // namespace

void privilegedTrial(const QString& program, const QList<Engine>& engines, const Server* server,
                     const PrivilegedScale& scale, QRandomGenerator random,
                     const std::function<void(const Tally&)>& report)
{
    if (::geteuid() != 0) {
        out() << QStringLiteral("%1 ").arg(QStringLiteral("privileged"), -16) << NeedsRoot
              << " (the trial runs the upload as root over a folder of another account's)" << Qt::endl;
        return;
    }
    PrivilegedTrial trial(program, server, scale, random);
    try {
        asAttacker(trial.accounts().staff, QStringLiteral("be taken"), [] { return true; });
    } catch (const SetupError&) {
        out() << QStringLiteral("%1 ").arg(QStringLiteral("privileged"), -16) << NeedsRoot
              << " that may act as another account (uid " << trial.accounts().staff << ")" << Qt::endl;
        return;
    }
    out() << "privileged: the photo folder is uid " << trial.accounts().staff
          << "'s, the uploads and the watch run as root" << Qt::endl;
    int tried = 0;
    int got = 0;
    const auto attack = [&](const Tally& tally) {
        ++tried;
        got += tally.breaches > 0 ? 1 : 0;
        report(tally);
    };
    for (const Engine engine : engines)
        attack(trial.secretLinks(engine));
    attack(trial.originales());
    for (const Engine engine : engines)
        attack(trial.folderSwap(engine));
    attack(trial.reportLinks());
    attack(trial.lockLink());
    attack(trial.forgedNames());
    attack(trial.longName());
    for (const Engine engine : engines)
        attack(trial.watch(engine));
    out() << "privileged: " << tried << " attacks tried, " << got << " got anything" << Qt::endl;
}

}  // namespace trials
