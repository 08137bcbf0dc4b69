#include "desks_trial.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

#include <vector>

namespace trials {

namespace {

// A member whose code ends in 7 is none of the installation's: the file stays.
bool isMember(int code) { return code % 10 != 7; }

struct Desk {
    int installation = 0;
    int firstMember = 0;
    std::unique_ptr<ProgramFolder> program;
    QString folder;
    QString csv;
    QHash<QString, QByteArray> files;  // name -> bytes
};

int runNumberOf(const Run::Result& result)
{
    static const QRegularExpression run(QStringLiteral("Ejecución (\\d+) (terminada|fallida)"));
    const QRegularExpressionMatch match = run.match(result.out);
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

// The file names of the report's rows (CSV: a byte-order mark, a header, "name;S|N;text" lines).
QStringList csvNames(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    if (!lines.isEmpty())
        lines.removeFirst();
    QStringList names;
    for (const QString& line : std::as_const(lines))
        names.append(line.section(QLatin1Char(';'), 0, 0));
    return names;
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

}  // namespace

Tally desksTrial(const QString& program, Engine engine, const Server* server, int photos, QRandomGenerator random)
{
    Tally tally(QStringLiteral("desks at once"), engineName(engine));
    const QList<std::pair<int, int>> layout =
        engine == Engine::Postgres
            ? QList<std::pair<int, int>>{{1, 1}, {1, 1 + photos / 2}, {2, 1}, {2, 1 + photos / 2}, {3, 1}, {4, 1}, {5, 1}, {6, 1}}
            : QList<std::pair<int, int>>{{1, 1}, {1, 1 + photos / 2}};
    QTemporaryDir root;
    TrialDatabase db(engine, root.path(), server);
    {
        TrialDatabase::Session session(db);
        session.exec(QStringLiteral("BEGIN"));
        QSet<int> installations;
        for (const auto& [installation, first] : layout)
            installations.insert(installation);
        for (int installation : std::as_const(installations)) {
            session.exec(QStringLiteral("INSERT INTO INSTALACIONES (CODINSTALACION, NOMBRE) VALUES (%1, 'Sede %1')").arg(installation));
            QStringList rows;
            for (int code = 1; code < photos * 2; ++code)
                if (isMember(code))
                    rows.append(QStringLiteral("(%1, %2)").arg(installation).arg(code));
            session.exec(QStringLiteral("INSERT INTO ABONADOS (CODINSTALACION, CODIGO) VALUES ") + rows.join(QLatin1Char(',')));
        }
        session.exec(QStringLiteral("COMMIT"));
    }

    std::vector<Desk> desks;
    for (const auto& [installation, first] : layout) {
        Desk desk;
        desk.installation = installation;
        desk.firstMember = first;
        desk.program = std::make_unique<ProgramFolder>(program);
        desk.program->configure(db.dataSource(), installation);
        const QString deskDir = root.filePath(QStringLiteral("desk%1").arg(desks.size() + 1));
        desk.folder = deskDir + QStringLiteral("/fotos");
        desk.csv = deskDir + QStringLiteral("/filas.csv");
        QDir().mkpath(desk.folder);
        for (int code = first; code < first + photos; ++code) {
            const QString name = QStringLiteral("%1.jpg").arg(code);
            desk.files.insert(name, randomBytes(random, 20'000 + random.bounded(40'000)));
            writeFile(desk.folder + QLatin1Char('/') + name, desk.files.value(name));
        }
        desks.push_back(std::move(desk));
    }

    // All at once, then each desk again until it completes (a run may end on another desk's row).
    const qint64 bound = 120'000 + qint64(photos) * 200;
    QElapsedTimer clock;
    clock.start();
    std::vector<Run> runs;
    for (const Desk& desk : std::as_const(desks))
        runs.push_back(desk.program->start(desk.folder, {QStringLiteral("--csv"), desk.csv}));
    QList<Run::Result> results;
    for (Run& run : runs)
        results.append(run.finish(bound));
    const qint64 togetherMs = clock.elapsed();

    QSet<int> runNumbers;
    int keyConflicts = 0;   // the other desk's row came first: the key refused this one
    int lockConflicts = 0;  // the other desk held the database or the row too long
    TrialDatabase::Session session(db);
    for (size_t i = 0; i < desks.size(); ++i) {
        const Desk& desk = desks.at(i);
        const QString context = QStringLiteral("desk %1 (installation %2)").arg(i + 1).arg(desk.installation);
        Run::Result result = results.at(i);
        QStringList met = desk.files.keys();  // what the run met: the whole folder
        for (int again = 0; !result.completed() && !result.hung && again < 3; ++again) {
            // The program's answers to a row another desk wrote at the same moment.
            const int number = result.failureNumber();
            if (number != int(0x80040E2Fu) && number != int(0x80004005u)) {
                ++tally.unexpected;
                tally.note(context + QStringLiteral(": ") + result.summary());
                break;
            }
            ++(number == int(0x80040E2Fu) ? keyConflicts : lockConflicts);
            const int failedRun = runNumberOf(result);
            if (runNumbers.contains(failedRun)) {
                ++tally.unexpected;
                tally.note(context + QStringLiteral(": run number %1 shared").arg(failedRun));
            }
            runNumbers.insert(failedRun);
            met = folderEntries(desk.folder);
            result = desk.program->start(desk.folder, {QStringLiteral("--csv"), desk.csv}).finish(bound);
        }
        if (!checkRunCompleted(result, tally, context))
            continue;
        const int number = runNumberOf(result);
        if (number == 0 || runNumbers.contains(number)) {
            ++tally.unexpected;
            tally.note(context + QStringLiteral(": run number %1 shared or missing").arg(number));
        }
        runNumbers.insert(number);
        // Its log holds a row for each file it met, once, and no other; so does its report.
        QSqlQuery query;
        session.exec(QStringLiteral("SELECT NOMBRE_FOTO, SUBIO FROM LOG_ABONADOSFOTOS WHERE USUARIO = ?"), {number}, &query);
        QStringList logged;
        while (query.next()) {
            logged.append(query.value(0).toString());
            if ((query.value(1).toString() == QLatin1String("S")) != isMember(query.value(0).toString().section(u'.', 0, 0).toInt())) {
                ++tally.unexpected;
                tally.note(context + QStringLiteral(": %1 logged %2").arg(query.value(0).toString(), query.value(1).toString()));
            }
        }
        if (sorted(logged) != sorted(met)) {
            ++tally.unexpected;
            tally.note(context + QStringLiteral(": run %1 logged %2 rows for the %3 files it met")
                                     .arg(number)
                                     .arg(logged.size())
                                     .arg(met.size()));
        }
        if (sorted(csvNames(desk.csv)) != sorted(met)) {
            ++tally.unexpected;
            tally.note(context + QStringLiteral(": the report of run %1 does not list the files it met").arg(number));
        }
    }

    // Every photo gone is stored for its installation's member, as its desk's bytes or as those of
    // the other desk with that member; a file of no member stays as it was.
    QHash<std::pair<int, int>, QByteArray> stored;
    QSqlQuery query;
    session.exec(QStringLiteral("SELECT CODINSTALACION, CODIGO, FOTO FROM ABONADOSFOTOS"), {}, &query);
    while (query.next())
        stored.insert({query.value(0).toInt(), query.value(1).toInt()}, query.value(2).toByteArray());
    for (const Desk& desk : std::as_const(desks)) {
        for (auto it = desk.files.cbegin(); it != desk.files.cend(); ++it) {
            const int code = it.key().section(u'.', 0, 0).toInt();
            const QString path = desk.folder + QLatin1Char('/') + it.key();
            bool ok;
            if (!isMember(code)) {
                QFile file(path);
                ok = file.open(QIODevice::ReadOnly) && file.readAll() == it.value();
            } else {
                const QByteArray photo = stored.value({desk.installation, code});
                ok = !entryExists(path) && !photo.isEmpty();
                bool oneOfTheirs = false;
                for (const Desk& other : std::as_const(desks))
                    oneOfTheirs = oneOfTheirs || (other.installation == desk.installation && other.files.value(it.key()) == photo);
                ok = ok && oneOfTheirs;
            }
            if (!ok) {
                ++tally.lost;
                tally.note(QStringLiteral("installation %1: %2 lost or left").arg(desk.installation).arg(it.key()));
            }
            ++tally.photos;
        }
    }
    const int twice = session.scalar(QStringLiteral("SELECT COUNT(*) FROM (SELECT CODINSTALACION, CODIGO FROM ABONADOSFOTOS "
                                                    "GROUP BY CODINSTALACION, CODIGO HAVING COUNT(*) > 1) AS T"))
                          .toInt();
    if (twice > 0) {
        ++tally.unexpected;
        tally.note(QStringLiteral("%1 members with two stored photos").arg(twice));
    }
    const QString problem = db.integrityProblem();
    if (!problem.isEmpty()) {
        ++tally.corrupt;
        tally.note(problem);
    }
    tally.trials = int(desks.size());
    tally.figures << QStringLiteral("%1 desks at once in %2 s, %3 photos/s together")
                         .arg(desks.size())
                         .arg(togetherMs / 1000.0, 0, 'f', 1)
                         .arg(togetherMs > 0 ? tally.photos * 1000.0 / togetherMs : 0.0, 0, 'f', 0)
                  << QStringLiteral("%1 runs ended on another desk's row (key %2, lock %3) and completed when run again")
                         .arg(keyConflicts + lockConflicts)
                         .arg(keyConflicts)
                         .arg(lockConflicts)
                  << QStringLiteral("%1 run numbers, none shared").arg(runNumbers.size());
    return tally;
}

}  // namespace trials
