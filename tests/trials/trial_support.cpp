#include "trial_support.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QTextStream>

#include <cstring>
#include <sys/stat.h>

namespace trials {

namespace {

QAtomicInt connectionCounter;
QAtomicInt databaseCounter;

QString readText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw SetupError(QStringLiteral("cannot read ") + path);
    return QString::fromUtf8(file.readAll());
}

// The statements of a schema script: each ends with ";" at the end of a line.
QStringList scriptStatements(const QString& script)
{
    QStringList statements;
    QString statement;
    for (const QString& line : script.split(QLatin1Char('\n'))) {
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1String("--")))
            continue;
        statement += line + QLatin1Char('\n');
        if (trimmed.endsWith(QLatin1Char(';'))) {
            statement = statement.trimmed();
            statement.chop(1);
            statements.append(statement);
            statement.clear();
        }
    }
    return statements;
}

QString photoPath(const Scene& scene, const Photo& photo) { return scene.folder + QLatin1Char('/') + photo.name; }

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

QString engineName(Engine engine)
{
    return engine == Engine::Sqlite ? QStringLiteral("SQLite") : QStringLiteral("PostgreSQL");
}

QString sourceDir() { return qEnvironmentVariable("RETRATIX_SOURCE_DIR", QStringLiteral(RETRATIX_SOURCE_DIR_DEFAULT)); }

// ---- Tally

Tally::Tally(QString trial, QString engine) : m_trial(std::move(trial)), m_engine(std::move(engine))
{
    m_clock.start();
}

void Tally::note(const QString& text) const
{
    QTextStream(stdout) << "  [" << m_trial << ", " << m_engine << "] " << text << Qt::endl;
}

QString Tally::line() const
{
    QString text = countsBreaches
                       ? QStringLiteral("%1 %2 runs %3, photos %4, got anything %5, files lost %6, corrupt databases "
                                        "%7, hangs %8, unexpected %9, %10 s")
                             .arg(m_trial, -16)
                             .arg(m_engine, -11)
                             .arg(trials, 3)
                             .arg(photos, 6)
                             .arg(breaches)
                       : QStringLiteral("%1 %2 trials %3, photos %4, files lost %5, corrupt databases %6, hangs %7, "
                                        "unexpected %8, %9 s")
                             .arg(m_trial, -16)
                             .arg(m_engine, -11)
                             .arg(trials, 3)
                             .arg(photos, 6);
    text = text.arg(lost).arg(corrupt).arg(hangs).arg(unexpected).arg(m_clock.elapsed() / 1000.0, 0, 'f', 1);
    if (!figures.isEmpty())
        text += QStringLiteral(" (") + figures.join(QStringLiteral("; ")) + QLatin1Char(')');
    return text;
}

// ---- Photo folders

QByteArray randomBytes(QRandomGenerator& random, qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    qsizetype at = 0;
    for (; at + 4 <= size; at += 4) {
        const quint32 word = random.generate();
        std::memcpy(bytes.data() + at, &word, 4);
    }
    for (; at < size; ++at)
        bytes[at] = char(random.generate());
    return bytes;
}

PhotoSet makePhotoSet(int count, QRandomGenerator& random)
{
    constexpr int Limit = 150000;  // the program refuses this many bytes or more
    PhotoSet set;
    for (int member = 1; member <= count; ++member) {
        Photo photo;
        photo.name = QString::number(member) + QStringLiteral(".jpg");
        photo.member = member;
        qsizetype size = 20000 + random.bounded(40001);
        const int draw = random.bounded(100);
        if (member == 1 || (member > 2 && draw < 3)) {
            photo.fate = Photo::Fate::TooLarge;
            size = member == 1 ? Limit : Limit + random.bounded(50000);
        } else if (member == 2) {
            size = Limit - 1;
        } else if (draw < 11) {
            photo.fate = Photo::Fate::NotMember;
        }
        if (photo.fate != Photo::Fate::NotMember) {
            set.members.append(member);
            if (random.bounded(4) == 0)
                set.storedBefore.insert(member, randomBytes(random, 1000 + random.bounded(4000)));
        }
        photo.bytes = randomBytes(random, size);
        set.photos.append(photo);
    }
    return set;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        throw SetupError(QStringLiteral("cannot write ") + path);
}

QStringList folderEntries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

bool entryExists(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

// ---- Databases

TrialDatabase::Session::Session(const TrialDatabase& database)
    : Session(database.m_engine, database.m_engine == Engine::Sqlite ? database.m_path : database.m_name,
              database.m_server)
{
}

TrialDatabase::Session::Session(Engine engine, const QString& target, const Server& server)
    : m_name(QStringLiteral("trials-%1").arg(connectionCounter.fetchAndAddRelaxed(1)))
{
    QSqlDatabase database =
        QSqlDatabase::addDatabase(engine == Engine::Sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL"), m_name);
    database.setDatabaseName(target);
    if (engine == Engine::Sqlite) {
        database.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    } else {
        database.setHostName(server.host);
        database.setPort(server.port);
        database.setUserName(QStringLiteral("regusr1"));
        database.setPassword(QStringLiteral("3k9tWqRm"));
        database.setConnectOptions(QStringLiteral("connect_timeout=10"));
    }
    if (!database.open()) {
        const QString error = database.lastError().text();
        database = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
        throw SetupError(QStringLiteral("cannot open the trial database %1: %2").arg(target, error));
    }
}

TrialDatabase::Session::~Session()
{
    QSqlDatabase::database(m_name, false).close();
    QSqlDatabase::removeDatabase(m_name);
}

bool TrialDatabase::Session::exec(const QString& sql, const QVariantList& values, QSqlQuery* result, QString* error)
{
    QSqlQuery query(QSqlDatabase::database(m_name, false));
    query.setForwardOnly(true);
    bool ok;
    if (values.isEmpty()) {
        ok = query.exec(sql);
    } else {
        ok = query.prepare(sql);
        for (const QVariant& value : values)
            query.addBindValue(value);
        ok = ok && query.exec();
    }
    if (!ok) {
        const QString text = query.lastError().text();
        if (!error)
            throw SetupError(sql.left(80) + QStringLiteral(": ") + text);
        *error = text;
        return false;
    }
    if (result)
        *result = std::move(query);
    return true;
}

QVariant TrialDatabase::Session::scalar(const QString& sql)
{
    QSqlQuery query;
    exec(sql, {}, &query);
    return query.next() ? query.value(0) : QVariant();
}

TrialDatabase::TrialDatabase(Engine engine, const QString& folder, const Server* server) : m_engine(engine)
{
    const QString engineFolder = engine == Engine::Sqlite ? QStringLiteral("sqlite") : QStringLiteral("postgresql");
    const QStringList schema = scriptStatements(readText(sourceDir() + QStringLiteral("/db/") + engineFolder +
                                                         QStringLiteral("/schema.sql")));
    if (engine == Engine::Sqlite) {
        m_path = folder + QStringLiteral("/retratix.db");
    } else {
        if (!server)
            throw SetupError(QStringLiteral("no PostgreSQL server"));
        m_server = *server;
        m_name = QStringLiteral("trials_%1_%2")
                     .arg(QCoreApplication::applicationPid())
                     .arg(databaseCounter.fetchAndAddRelaxed(1));
        Session admin(engine, QStringLiteral("retratix"), m_server);
        admin.exec(QStringLiteral("CREATE DATABASE ") + m_name);
    }
    Session session(*this);
    for (const QString& statement : schema)
        session.exec(statement);
}

TrialDatabase::~TrialDatabase()
{
    if (m_name.isEmpty())
        return;
    try {
        Session admin(m_engine, QStringLiteral("retratix"), m_server);
        QString error;
        admin.exec(QStringLiteral("DROP DATABASE IF EXISTS ") + m_name + QStringLiteral(" WITH (FORCE)"), {}, nullptr,
                   &error);
    } catch (const SetupError&) {
        // A server that is down keeps the database; the cluster is thrown away anyway.
    }
}

QString TrialDatabase::dataSource() const
{
    if (m_engine == Engine::Sqlite)
        return QStringLiteral("sqlite:") + m_path;
    return QStringLiteral("postgresql://%1:%2/%3").arg(m_server.host).arg(m_server.port).arg(m_name);
}

void TrialDatabase::seed(const PhotoSet& set)
{
    Session session(*this);
    session.exec(QStringLiteral("BEGIN"));
    session.exec(QStringLiteral("INSERT INTO INSTALACIONES (CODINSTALACION, NOMBRE) VALUES (1, 'Norte'), (2, 'Sur')"));
    QStringList rows;
    for (int member : set.members)
        rows.append(QStringLiteral("(1, %1)").arg(member));
    // Those who are no members here are members of another installation: a run must not take them
    // for members of its own.
    for (const Photo& photo : set.photos) {
        if (photo.fate == Photo::Fate::NotMember)
            rows.append(QStringLiteral("(2, %1)").arg(photo.member));
    }
    session.exec(QStringLiteral("INSERT INTO ABONADOS (CODINSTALACION, CODIGO) VALUES ") + rows.join(QLatin1Char(',')));
    for (auto it = set.storedBefore.cbegin(); it != set.storedBefore.cend(); ++it)
        session.exec(QStringLiteral("INSERT INTO ABONADOSFOTOS (CODINSTALACION, CODIGO, FILENAME, FILESIZE, FOTO) "
                                    "VALUES (1, ?, 'antes.jpg', ?, ?)"),
                     {it.key(), int(it.value().size()), it.value()});
    session.exec(QStringLiteral("COMMIT"));
}

QHash<int, QByteArray> TrialDatabase::storedPhotos()
{
    Session session(*this);
    QSqlQuery query;
    session.exec(QStringLiteral("SELECT CODIGO, FOTO FROM ABONADOSFOTOS WHERE CODINSTALACION = 1"), {}, &query);
    QHash<int, QByteArray> photos;
    while (query.next())
        photos.insert(query.value(0).toInt(), query.value(1).toByteArray());
    return photos;
}

bool TrialDatabase::hasAmcheck()
{
    if (m_engine != Engine::Postgres)
        return false;
    Session session(*this);
    return session.scalar(QStringLiteral("SELECT COUNT(*) FROM pg_extension WHERE extname = 'amcheck'")).toInt() > 0;
}

QString TrialDatabase::integrityProblem()
{
    Session session(*this);
    QSqlQuery query;
    QString error;
    if (m_engine == Engine::Sqlite) {
        if (!session.exec(QStringLiteral("PRAGMA integrity_check"), {}, &query, &error))
            return error;
        QStringList messages;
        while (query.next())
            messages.append(query.value(0).toString());
        return messages == QStringList{QStringLiteral("ok")} ? QString() : messages.join(QStringLiteral("; "));
    }
    // Every row readable, photos whole.
    if (!session.exec(QStringLiteral("SELECT CODINSTALACION, CODIGO, FILESIZE, FOTO FROM ABONADOSFOTOS"), {}, &query,
                      &error))
        return error;
    while (query.next()) {
        if (query.value(2).toLongLong() != query.value(3).toByteArray().size())
            return QStringLiteral("photo of member %1 is not FILESIZE long").arg(query.value(1).toInt());
    }
    // Keys unique in the tables themselves, not only in their indexes.
    session.exec(QStringLiteral("SET enable_indexscan = off"));
    session.exec(QStringLiteral("SET enable_indexonlyscan = off"));
    session.exec(QStringLiteral("SET enable_bitmapscan = off"));
    for (const char* table : {"ABONADOS", "ABONADOSFOTOS"}) {
        const int duplicates = session
                                   .scalar(QStringLiteral("SELECT COUNT(*) FROM (SELECT 1 FROM ") + QLatin1String(table) +
                                           QStringLiteral(" GROUP BY CODINSTALACION, CODIGO HAVING COUNT(*) > 1) d"))
                                   .toInt();
        if (duplicates > 0)
            return QStringLiteral("%1 keys twice in %2").arg(duplicates).arg(QLatin1String(table));
    }
    if (session.scalar(QStringLiteral("SELECT COUNT(*) FROM pg_extension WHERE extname = 'amcheck'")).toInt() == 0)
        return {};
    session.exec(QStringLiteral("SELECT c.oid::regclass::text FROM pg_index i JOIN pg_class c ON c.oid = i.indexrelid "
                                "JOIN pg_namespace n ON n.oid = c.relnamespace WHERE n.nspname = 'public'"),
                 {}, &query);
    QStringList indexes;
    while (query.next())
        indexes.append(query.value(0).toString());
    for (const QString& index : indexes) {
        if (!session.exec(QStringLiteral("SELECT bt_index_check('%1'::regclass, true)").arg(index), {}, nullptr, &error))
            return index + QStringLiteral(": ") + error;
    }
    for (const char* table : {"instalaciones", "abonados", "abonadosfotos", "log_abonadosfotos"}) {
        const int problems =
            session.scalar(QStringLiteral("SELECT COUNT(*) FROM verify_heapam('%1', check_toast => true)")
                               .arg(QLatin1String(table)))
                .toInt();
        if (problems > 0)
            return QStringLiteral("%1 problems in table %2").arg(problems).arg(QLatin1String(table));
    }
    return {};
}

// ---- Runs of the program

Run::Run(std::unique_ptr<QProcess> process) : m_process(std::move(process)) { m_clock.start(); }

Run::~Run()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(10000);
    }
}

bool Run::waitFor(qint64 ms)
{
    if (m_process->state() == QProcess::NotRunning)
        return true;
    m_process->waitForFinished(int(ms));
    return m_process->state() == QProcess::NotRunning;
}

void Run::terminate() { m_process->terminate(); }

void Run::kill()
{
    m_process->kill();  // SIGKILL
    m_process->waitForFinished(10000);
    m_killed = true;
}

Run::Result Run::finish(qint64 boundMs)
{
    Result result;
    if (!waitFor(boundMs)) {
        m_process->kill();
        m_process->waitForFinished(10000);
        result.hung = true;
    }
    result.killed = m_killed;
    result.exitCode = m_process->exitStatus() == QProcess::NormalExit ? m_process->exitCode() : -1;
    result.out = QString::fromLocal8Bit(m_process->readAllStandardOutput());
    result.err = QString::fromLocal8Bit(m_process->readAllStandardError());
    result.ms = m_clock.elapsed();
    return result;
}

int Run::Result::failureNumber() const
{
    static const QRegularExpression failed(QStringLiteral("fallida \\(error (-?\\d+)\\)"));
    const QRegularExpressionMatch match = failed.match(out);
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

QString Run::Result::failedFile() const
{
    static const QRegularExpression named(QStringLiteral("Archivo del error: ([^\\n]*)"));
    const QRegularExpressionMatch match = named.match(err);
    return match.hasMatch() ? match.captured(1) : QString();
}

QString Run::Result::summary() const
{
    if (hung)
        return QStringLiteral("still running after %1 s, killed").arg(ms / 1000.0, 0, 'f', 1);
    QStringList lines;
    for (const QString& line : (out + err).split(QLatin1Char('\n'))) {
        if (!line.trimmed().isEmpty() && !line.startsWith(QLatin1String("QStandardPaths")))
            lines.append(line.trimmed());
    }
    return QStringLiteral("exit %1 after %2 s: %3")
        .arg(exitCode)
        .arg(ms / 1000.0, 0, 'f', 1)
        .arg(lines.join(QStringLiteral(" | ")));
}

ProgramFolder::ProgramFolder(const QString& program)
{
    if (!m_dir.isValid() || !QFile::copy(program, m_dir.filePath(QStringLiteral("retratix"))))
        throw SetupError(QStringLiteral("cannot copy the program ") + program);
    // Qt wants a private runtime folder; a bare shell may have none.
    const QString runtime = m_dir.filePath(QStringLiteral("runtime"));
    if (!QDir().mkdir(runtime) ||
        !QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        throw SetupError(QStringLiteral("cannot make ") + runtime);
}

void ProgramFolder::configure(const QString& dataSource, int installation) const
{
    writeFile(m_dir.filePath(QStringLiteral("Polidex.ini")),
              "[Conexion]\r\nSID=" + dataSource.toUtf8() +
                  "\r\n[Form]\r\nLeft=0\r\nTop=0\r\nWidth=7500\r\nHeight=5200\r\n[Listados]\r\nRptPath=" +
                  sourceDir().toUtf8() + "/reports/\r\n[Impresoras]\r\nInstalacion=" + QByteArray::number(installation) +
                  "\r\n");
}

Run ProgramFolder::start(const QString& photoFolder, const QStringList& options) const
{
    return launch(QStringList{QStringLiteral("--upload"), photoFolder} + options);
}

Run ProgramFolder::launch(const QStringList& arguments) const
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.filePath(QStringLiteral("runtime")));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process->setProcessEnvironment(environment);
    process->setProgram(m_dir.filePath(QStringLiteral("retratix")));
    process->setArguments(arguments);
    process->start();
    if (!process->waitForStarted(10000))
        throw SetupError(QStringLiteral("cannot start the program: ") + process->errorString());
    return Run(std::move(process));
}

PrivateServer::PrivateServer()
{
    m_helper.setProgram(QStringLiteral("bash"));
    m_helper.setArguments({sourceDir() + QStringLiteral("/tests/trials/pg_server.sh")});
    m_helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_helper.start();
    const QString port = m_helper.waitForStarted(10000) ? ask(QStringLiteral("port")) : QString();
    if (port.isEmpty() || port == QLatin1String("none")) {
        m_whyNot = QStringLiteral("no PostgreSQL server of the trials' own could start (tests/trials/pg_server.sh)");
        return;
    }
    m_address = {QStringLiteral("127.0.0.1"), port.toInt()};
}

PrivateServer::~PrivateServer()
{
    // The end of its input stops the server.
    m_helper.closeWriteChannel();
    if (!m_helper.waitForFinished(120000)) {
        m_helper.kill();
        m_helper.waitForFinished(10000);
    }
}

QString PrivateServer::ask(const QString& command)
{
    m_helper.write(command.toUtf8() + '\n');
    QElapsedTimer clock;
    clock.start();
    while (!m_helper.canReadLine() && clock.elapsed() < 180000 && m_helper.state() == QProcess::Running)
        m_helper.waitForReadyRead(1000);
    return QString::fromUtf8(m_helper.readLine()).trimmed();
}

void PrivateServer::stop(const QString& mode)
{
    if (ask(QStringLiteral("stop ") + mode) != QLatin1String("ok"))
        throw SetupError(QStringLiteral("pg_ctl stop -m ") + mode + QStringLiteral(" failed"));
}

void PrivateServer::start()
{
    if (ask(QStringLiteral("start")) != QLatin1String("ok"))
        throw SetupError(QStringLiteral("the trials' server did not start again"));
}

Scene::Scene(const ProgramFolder& program, Engine engine, const Server* server, PhotoSet photoSet)
    : set(std::move(photoSet))
{
    if (!dir.isValid())
        throw SetupError(QStringLiteral("no temporary folder"));
    folder = dir.filePath(QStringLiteral("fotos"));
    if (!QDir().mkdir(folder))
        throw SetupError(QStringLiteral("cannot make ") + folder);
    for (const Photo& photo : std::as_const(set.photos))
        writeFile(photoPath(*this, photo), photo.bytes);
    db = std::make_unique<TrialDatabase>(engine, dir.path(), server);
    db->seed(set);
    program.configure(db->dataSource());
}

// ---- Checks

void checkNothingLost(const Scene& scene, const QHash<int, QByteArray>& stored, Tally& tally, const QString& context)
{
    for (const Photo& photo : scene.set.photos) {
        if (entryExists(photoPath(scene, photo)))
            continue;
        const auto row = stored.constFind(photo.member);
        if (!photo.mustStay() && row != stored.cend() && *row == photo.bytes)
            continue;
        ++tally.lost;
        tally.note(context + QStringLiteral(": %1 is gone, ").arg(photo.name) +
                   (photo.mustStay()            ? QStringLiteral("yet it had to stay")
                    : row == stored.cend()      ? QStringLiteral("and its member has no photo row")
                                                : QStringLiteral("and the row holds other bytes (%1 instead of %2)")
                                                      .arg(row->size())
                                                      .arg(photo.bytes.size())));
    }
}

void checkIntegrity(Scene& scene, Tally& tally, const QString& context)
{
    const QString problem = scene.db->integrityProblem();
    if (problem.isEmpty())
        return;
    ++tally.corrupt;
    tally.note(context + QStringLiteral(": the database fails its checks: ") + problem);
}

bool checkRunCompleted(const Run::Result& result, Tally& tally, const QString& context)
{
    if (result.hung) {
        ++tally.hangs;
        tally.note(context + QStringLiteral(": ") + result.summary());
    } else if (!result.completed()) {
        ++tally.unexpected;
        tally.note(context + QStringLiteral(": the run did not complete: ") + result.summary());
    }
    return result.completed();
}

void checkCompleted(const Run::Result& result, Scene& scene, Tally& tally, const QString& context,
                    const QStringList& alsoThere)
{
    const bool completed = checkRunCompleted(result, tally, context);
    const QHash<int, QByteArray> stored = scene.db->storedPhotos();
    checkNothingLost(scene, stored, tally, context);
    checkIntegrity(scene, tally, context);

    // Each kind of wrong outcome counts once per run, naming its files.
    QHash<QString, QStringList> wrong;
    QStringList strays = folderEntries(scene.folder);
    for (const QString& name : alsoThere) {
        if (!strays.removeOne(name))
            wrong[QStringLiteral("gone, yet they had to stay")].append(name);
    }
    for (const Photo& photo : std::as_const(scene.set.photos)) {
        const bool present = strays.removeOne(photo.name);
        if (photo.mustStay()) {
            if (present && fileBytes(photoPath(scene, photo)) != photo.bytes)
                wrong[QStringLiteral("changed, yet they had to stay as they were")].append(photo.name);
            else if (stored.value(photo.member) != scene.set.storedBefore.value(photo.member))
                wrong[QStringLiteral("refused, yet their member's photo changed")].append(photo.name);
        } else if (present && completed) {  // a run that did not complete leaves files, counted once above
            wrong[QStringLiteral("left in the folder")].append(photo.name);
        }
    }
    if (!strays.isEmpty())
        wrong[QStringLiteral("in the folder, yet no trial made them")] = strays;
    for (auto it = wrong.cbegin(); it != wrong.cend(); ++it) {
        ++tally.unexpected;
        const QStringList& names = it.value();
        tally.note(context + QStringLiteral(": %1 files %2: ").arg(names.size()).arg(it.key()) +
                   names.mid(0, 8).join(QStringLiteral(", ")) + (names.size() > 8 ? QStringLiteral(", ...") : QString()));
    }
}

bool checkEndedWith(const Run::Result& result, const QString& message, Tally& tally, const QString& context)
{
    if (result.hung) {
        ++tally.hangs;
        tally.note(context + QStringLiteral(": ") + result.summary());
        return false;
    }
    if (result.exitCode == 1 && result.err.contains(message))
        return true;
    ++tally.unexpected;
    tally.note(context + QStringLiteral(": expected the run to end with \"") + message + QStringLiteral("\"; ") +
               result.summary());
    return false;
}

}  // namespace trials
