#include "upload/watch_folder.h"

#include "common/folder_files.h"
#include "common/numbers.h"
#include "common/text.h"
#include "db/connection.h"
#include "photos/photo_preparation.h"
#include "upload/photo_decisions.h"
#include "upload/photo_store.h"
#include "upload/run_report.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>

namespace {

// A failure of the database, not of a file: provider-style numbers are negative.
bool isDatabaseFailure(const Failure& failure) { return failure.number < 0; }

// Photos that stayed, looked at per rescan where notices may miss a rewrite: a bounded cost per
// rescan however many stay (10 000 stayed photos are each looked at every 20 s at the default
// 2 s rescan).
constexpr qsizetype StayedLooksPerRescan = 1000;

FolderNotices::Source noticesFromEnvironment(FolderNotices::Source configured)
{
    const QString chosen = qEnvironmentVariable("RETRATIX_WATCH_NOTICES");
    if (chosen == QLatin1String("native"))
        return FolderNotices::Source::Native;
    if (chosen == QLatin1String("portable"))
        return FolderNotices::Source::Portable;
    if (chosen == QLatin1String("none"))
        return FolderNotices::Source::None;
    return configured;
}

}  // namespace

WatchFolder::WatchFolder(Settings settings, QTextStream& out, QTextStream& err, bool quiet)
    : m_settings(std::move(settings)), m_out(out), m_err(err), m_quiet(quiet),
      m_entries(std::make_unique<FolderEntries>(m_settings.folder)),
      m_notices(FolderNotices::create(noticesFromEnvironment(m_settings.notices)))
{
    m_clock.start();
    connect(m_notices.get(), &FolderNotices::entriesChanged, this, [this](const QSet<QString>& names) {
        for (const QString& name : names)
            if (isPhotoName(name))
                lookAt(name);
    });
    connect(m_notices.get(), &FolderNotices::folderChanged, this, [this] { readFolder(true); });
    m_rescan.setInterval(int(m_settings.rescanMs));
    connect(&m_rescan, &QTimer::timeout, this, [this] { rescan(); });
    m_settleCheck.setInterval(int(qBound(qint64(50), m_settings.settleMs / 4, qint64(500))));
    connect(&m_settleCheck, &QTimer::timeout, this, [this] { uploadSettled(); });
}

bool WatchFolder::isPhotoName(const QString& name) const
{
    return PhotoDecisions::isPhotoName(name, m_settings.run.photos);
}

void WatchFolder::lookAt(const QString& name) { track(name, m_entries->look(name), m_clock.elapsed()); }

void WatchFolder::track(const QString& name, const FolderEntries::Entry& entry, qint64 seenAtMs)
{
    if (entry.kind != FolderFiles::EntryKind::RegularFile) {
        m_seen.remove(name);
        m_unhandled.remove(name);
        return;
    }
    const auto seen = m_seen.constFind(name);
    if (seen != m_seen.cend() && seen->sameFile(entry))
        return;
    m_seen.insert(name, Seen{entry.inode, entry.size, entry.modifiedNs, seenAtMs, false});
    m_unhandled.insert(name);
}

void WatchFolder::readFolder(bool lookAtEvery)
{
    QSet<QString> listed;
    QList<std::pair<QString, FolderEntries::Entry>> looked;
    m_entries->list([&](const QString& name, quint64 inode) {
        if (!isPhotoName(name))
            return;
        listed.insert(name);
        const auto seen = m_seen.constFind(name);
        // Where the listing gives inodes, a file replaced under its name is told without a look.
        if (lookAtEvery || seen == m_seen.cend() || (inode != 0 && seen->inode != inode))
            looked.append({name, m_entries->look(name)});
    });
    // One time for the whole reading, taken after its last look: the photos that were there
    // together settle together, in one run.
    const qint64 seenAt = m_clock.elapsed();
    for (const auto& [name, entry] : std::as_const(looked))
        track(name, entry, seenAt);
    for (auto it = m_seen.begin(); it != m_seen.end();) {
        if (listed.contains(it.key())) {
            ++it;
        } else {
            m_unhandled.remove(it.key());
            it = m_seen.erase(it);
        }
    }
}

void WatchFolder::forgetAll()
{
    m_seen.clear();
    m_unhandled.clear();
    m_stayedRound.clear();
}

// The cheap look of every rescan. Where notices may miss changes, the folder is read again when
// its modification time moved, and once more at the next rescan: file systems keep that time with
// a granularity of up to two seconds, so an entry made just after a reading can leave it as that
// reading saw it. A rewrite in place leaves the folder's time alone; the stayed photos' slice finds it.
void WatchFolder::rescan()
{
    const bool complete = m_notices->complete();
    switch (m_entries->check()) {
    case FolderEntries::FolderState::Missing:
        forgetAll();
        m_folderChangedBefore = false;
        return;
    case FolderEntries::FolderState::Opened:
        // Watched before it is read, so that no change falls between the two.
        m_notices->watch(m_settings.folder);
        forgetAll();
        readFolder(true);
        m_folderChangedBefore = true;
        return;
    case FolderEntries::FolderState::Changed:
        if (!complete)
            readFolder(false);
        m_folderChangedBefore = true;
        break;
    case FolderEntries::FolderState::Unchanged:
        if (m_folderChangedBefore && !complete)
            readFolder(false);
        m_folderChangedBefore = false;
        break;
    }
    if (!complete)
        lookAtStayedSlice();
}

void WatchFolder::lookAtStayedSlice()
{
    if (m_stayedRound.isEmpty()) {
        for (auto it = m_seen.cbegin(); it != m_seen.cend(); ++it)
            if (it->handled)
                m_stayedRound.append(it.key());
    }
    for (qsizetype looks = 0; looks < StayedLooksPerRescan && !m_stayedRound.isEmpty(); ++looks) {
        const QString name = m_stayedRound.takeLast();
        const auto seen = m_seen.constFind(name);
        if (seen != m_seen.cend() && seen->handled)
            lookAt(name);
    }
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
    if (m_unhandled.isEmpty())
        return;
    for (const QString& name : QStringList(m_unhandled.cbegin(), m_unhandled.cend()))
        lookAt(name);
    QSet<QString> settled;
    for (const QString& name : std::as_const(m_unhandled))
        if (now - m_seen.value(name).stableSinceMs >= m_settings.settleMs)
            settled.insert(name);
    if (settled.isEmpty())
        return;

    UploadRun::Settings settings = m_settings.run;
    settings.folder = m_settings.folder;
    settings.names = QStringList(settled.cbegin(), settled.cend());
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
        if (m_settings.run.reportError)
            m_settings.run.reportError(*failure);
        if (!summary.failedFile.isEmpty())
            m_err << tr("Archivo del error: %1").arg(printableText(QDir::toNativeSeparators(summary.failedFile)))
                  << '\n';
        m_err.flush();
    }
    if (!m_quiet) {
        m_out << summary.toText() << '\n';
        m_out.flush();
    }
    // What the run examined is not examined again until it changes; after a failure only the file
    // it stopped at, and those after it are tried again. A file that changed while the run was at
    // it settles anew.
    for (const QString& name : std::as_const(settled)) {
        const Seen before = m_seen.value(name);
        lookAt(name);
        const auto seen = m_seen.find(name);
        if (seen == m_seen.end() || seen->inode != before.inode || seen->size != before.size ||
            seen->modifiedNs != before.modifiedNs)
            continue;
        if (summary.end == UploadSummary::End::Completed ||
            QDir(m_settings.folder).filePath(name) == summary.failedFile) {
            seen->handled = true;
            m_unhandled.remove(name);
        }
    }
}

int WatchFolder::exec()
{
    if (!QFileInfo(m_settings.folder).isDir()) {
        m_err << tr("No existe la carpeta: %1").arg(printableText(QDir::toNativeSeparators(m_settings.folder)))
              << '\n';
        m_err.flush();
        return 2;
    }
    // What a killed run left in a private folder is a photo again (the watch's runs read no folder).
    try {
        FolderFiles::Folder(m_settings.folder).recoverInterrupted();
    } catch (const Failure&) {
    }
    rescan();
    m_rescan.start();
    m_settleCheck.start();
    if (!m_quiet) {
        m_err << tr("Vigilando %1; cada foto se sube cuando lleva %2 s sin cambiar.")
                     .arg(printableText(QDir::toNativeSeparators(m_settings.folder)))
                     .arg(m_settings.settleMs / 1000.0)
              << '\n';
        m_err.flush();
    }
    QEventLoop loop;
    m_loop = &loop;
    if (!m_stopping)
        loop.exec();
    m_loop = nullptr;
    m_rescan.stop();
    m_settleCheck.stop();
    return 0;
}

void WatchFolder::stop()
{
    m_stopping = true;
    if (m_loop)
        m_loop->quit();
}
