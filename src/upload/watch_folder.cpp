#include "upload/watch_folder.h"

#include "common/folder_files.h"
#include "common/numbers.h"
#include "db/connection.h"
#include "photos/photo_preparation.h"
#include "upload/photo_store.h"
#include "startup/mod_glob.h"
#include "upload/run_report.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QSet>

namespace {

// A failure of the database, not of a file: provider-style numbers are negative.
bool isDatabaseFailure(const Failure& failure) { return failure.number < 0; }

}  // namespace

WatchFolder::WatchFolder(Settings settings, QTextStream& out, QTextStream& err, bool quiet)
    : m_settings(std::move(settings)), m_out(out), m_err(err), m_quiet(quiet)
{
    m_clock.start();
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] { scan(); });
    m_rescan.setInterval(int(m_settings.rescanMs));
    connect(&m_rescan, &QTimer::timeout, this, [this] { scan(); });
    m_settleCheck.setInterval(int(qBound(qint64(50), m_settings.settleMs / 4, qint64(500))));
    connect(&m_settleCheck, &QTimer::timeout, this, [this] { uploadSettled(); });
}

bool WatchFolder::isPhotoName(const QString& name) const
{
    const QStringList& formats = m_settings.run.photos.formats;
    const bool photoName =
        name.contains(QStringLiteral(".jpg")) || (!formats.isEmpty() && Photos::hasFormat(name, formats));
    return photoName && Numbers::isNumeric(PhotoStore::memberCode(name));
}

void WatchFolder::scan()
{
    const qint64 now = m_clock.elapsed();
    QSet<QString> present;
    for (const QString& name : UploadRun::folderNames(m_settings.folder)) {
        if (!isPhotoName(name))
            continue;
        const QFileInfo info(QDir(m_settings.folder).filePath(name));
        if (!info.isFile())
            continue;
        present.insert(name);
        const qint64 modified = info.lastModified().toMSecsSinceEpoch();
        Seen& seen = m_seen[name];
        if (seen.size != info.size() || seen.modifiedMs != modified) {
            seen = Seen{info.size(), modified, now, false};
        }
    }
    for (auto it = m_seen.begin(); it != m_seen.end();)
        it = present.contains(it.key()) ? std::next(it) : m_seen.erase(it);
}

void WatchFolder::uploadSettled()
{
    if (m_running || m_stopping)
        return;
    const qint64 now = m_clock.elapsed();
    if (m_databaseAway) {
        if (now < m_nextReconnectMs)
            return;
        m_nextReconnectMs = now + m_settings.reconnectMs;
        if (!m_settings.run.connection || m_settings.run.connection->lost()) {
            db::Connection* connection = m_settings.reconnect ? m_settings.reconnect() : nullptr;
            if (!connection)
                return;
            m_settings.run.connection = connection;
        }
    }
    scan();
    QSet<QString> settled;
    for (auto it = m_seen.cbegin(); it != m_seen.cend(); ++it)
        if (!it->handled && now - it->stableSinceMs >= m_settings.settleMs)
            settled.insert(it.key());
    if (settled.isEmpty())
        return;

    UploadRun::Settings settings = m_settings.run;
    settings.folder = m_settings.folder;
    settings.acceptName = [settled](const QString& name) { return settled.contains(name); };
    std::unique_ptr<RunReport> report = m_settings.makeReport ? m_settings.makeReport(QString()) : nullptr;
    settings.report = report.get();
    std::optional<Failure> failure;
    settings.reportError = [&failure](const Failure& reported) { failure = reported; };
    m_running = true;
    const UploadSummary summary = UploadRun(std::move(settings)).run();
    m_running = false;
    m_runs.append(summary);

    if (summary.end == UploadSummary::End::Failed && failure && isDatabaseFailure(*failure)) {
        // Nothing is lost: every file whose row is not committed is still in the folder.
        if (!m_databaseAway && !m_quiet)
            m_err << tr("La base de datos no está disponible (%1); se reintentará cada %2 s.")
                         .arg(failure->description)
                         .arg(m_settings.reconnectMs / 1000)
                  << '\n';
        m_err.flush();
        m_databaseAway = true;
        m_nextReconnectMs = now + m_settings.reconnectMs;
        return;
    }
    if (m_databaseAway && !m_quiet) {
        m_err << tr("La base de datos vuelve a estar disponible.") << '\n';
        m_err.flush();
    }
    m_databaseAway = false;
    if (failure) {
        ModGlob::ReportError(*failure);
        if (!summary.failedFile.isEmpty())
            m_err << tr("Archivo del error: %1").arg(QDir::toNativeSeparators(summary.failedFile)) << '\n';
        m_err.flush();
    }
    if (!m_quiet) {
        m_out << summary.toText() << '\n';
        m_out.flush();
    }
    // What the run examined is not examined again until it changes; after a failure only the file
    // it stopped at, and those after it are tried again.
    for (const QString& name : std::as_const(settled)) {
        if (summary.end == UploadSummary::End::Completed ||
            QDir(m_settings.folder).filePath(name) == summary.failedFile)
            m_seen[name].handled = true;
    }
}

int WatchFolder::exec()
{
    if (!QFileInfo(m_settings.folder).isDir()) {
        m_err << tr("No existe la carpeta: %1").arg(QDir::toNativeSeparators(m_settings.folder)) << '\n';
        m_err.flush();
        return 2;
    }
    m_watcher.addPath(m_settings.folder);
    scan();
    m_rescan.start();
    m_settleCheck.start();
    if (!m_quiet) {
        m_err << tr("Vigilando %1; cada foto se sube cuando lleva %2 s sin cambiar.")
                     .arg(QDir::toNativeSeparators(m_settings.folder))
                     .arg(m_settings.settleMs / 1000.0)
              << '\n';
        m_err.flush();
    }
    QEventLoop loop;
    connect(this, &QObject::destroyed, &loop, &QEventLoop::quit);
    QTimer stopping;
    connect(&stopping, &QTimer::timeout, &loop, [this, &loop] {
        if (m_stopping)
            loop.quit();
    });
    stopping.start(50);
    loop.exec();
    m_rescan.stop();
    m_settleCheck.stop();
    return 0;
}

void WatchFolder::stop() { m_stopping = true; }
