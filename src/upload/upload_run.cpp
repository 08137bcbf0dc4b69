#include "upload/upload_run.h"

#include "common/numbers.h"
#include "db/recordset.h"
#include "startup/mod_glob.h"
#include "upload/photo_store.h"
#include "upload/run_report.h"
#include "upload/upload_log.h"
#include "upload/upload_progress.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// A delete without forcing removes a file only as it was read: one that changed since stays.
FolderFiles::RemoveOutcome deleteWithoutForcing(const QString& path, const FolderFiles::FileSnapshot& snapshot)
{
    FolderFiles::checkRemovable(path);
    return FolderFiles::removeIfUnchanged(path, snapshot);
}

}  // namespace

QString UploadSummary::toText() const
{
    QString outcome;
    switch (end) {
    case End::Completed: outcome = QStringLiteral("completed"); break;
    case End::FolderMissing: outcome = QStringLiteral("folder not found"); break;
    case End::Failed: outcome = QStringLiteral("failed (error %1)").arg(failure ? failure->number : 0); break;
    }
    return QStringLiteral("run %1 %2: %3 files, %4 inserted, %5 updated, %6 too large, %7 not members, "
                          "%8 skipped, %9 deleted")
        .arg(runUser, outcome)
        .arg(filesVisited)
        .arg(inserted)
        .arg(updated)
        .arg(sizeRefused)
        .arg(memberMissing)
        .arg(skipped)
        .arg(filesDeleted) +
        (filesChanged ? QStringLiteral(", %1 left because they changed after they were read").arg(filesChanged)
                      : QString());
}

UploadRun::UploadRun(Settings settings) : m_settings(std::move(settings))
{
    if (!m_settings.reportError)
        m_settings.reportError = [](const Failure& failure) { ModGlob::ReportError(failure); };
}

QString UploadRun::reportCondition(const QString& runUser)
{
    return QStringLiteral("{LOG_ABONADOSFOTOS.USUARIO}= '") + runUser + QStringLiteral("'");
}

QString UploadRun::freshRunUser(int32_t firstDraw)
{
    // A number that log rows already carry is drawn again, so that the run's DELETE never
    // removes an earlier run's log.
    int32_t number = firstDraw;
    for (int draw = 1; draw < m_settings.maxRunNumberDraws; ++draw) {
        db::Recordset rs;
        rs.open(QStringLiteral("SELECT USUARIO FROM LOG_ABONADOSFOTOS WHERE USUARIO = ") + QString::number(number),
                *m_settings.connection, 3, 3, -1);
        if (rs.bof() || rs.eof())
            break;
        number = m_settings.drawRunNumber();
    }
    return QString::number(number);
}

void UploadRun::fileStored(const QString& path, const FolderFiles::FileSnapshot& snapshot)
{
    // A file its deletion would refuse ends the run here, right after its row, as its deletion would.
    FolderFiles::checkRemovable(path);
    m_pendingDeletions.append({path, snapshot});
    if (m_pendingDeletions.size() >= m_settings.durableBatchSize)
        deletePendingFiles();
}

void UploadRun::deletePendingFiles()
{
    if (m_pendingDeletions.isEmpty())
        return;
    // A file goes only once its row is on disk.
    if (m_settings.makeDurable)
        m_settings.makeDurable();
    else
        m_settings.connection->makeCommittedDurable();
    const QList<StoredFile> batch = std::exchange(m_pendingDeletions, {});
    std::optional<Failure> firstFailure;
    for (const StoredFile& file : batch) {
        try {
            if (deleteWithoutForcing(file.path, file.snapshot) == FolderFiles::RemoveOutcome::Removed)
                ++m_summary.filesDeleted;
            else
                ++m_summary.filesChanged;
        } catch (const Failure& failure) {
            if (!firstFailure) {
                firstFailure = failure;
                m_currentFile = file.path;
            }
        }
    }
    if (firstFailure)
        throw *firstFailure;
}

UploadSummary UploadRun::run()
{
    m_summary = {};
    m_pendingDeletions.clear();
    m_currentFile.clear();
    try {
        const int32_t firstDraw = m_settings.drawRunNumber();
        m_summary.runUser = QString::number(firstDraw);

        const QString folder = m_settings.folder;
        if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
            m_summary.end = UploadSummary::End::FolderMissing;
            return m_summary;
        }
        // Checked before anything changes; no statement is ever built from other text.
        const QString installationCode = PhotoStore::checkedInstallationCode(m_settings.installationText());

        // Taken once: the run deletes files while it walks the list.
        const QStringList names =
            QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
        if (m_settings.progress)
            m_settings.progress->setMaximum(static_cast<int>(names.size()) - 1);

        db::Connection& connection = *m_settings.connection;
        m_summary.runUser = freshRunUser(firstDraw);
        const QString& runUser = m_summary.runUser;
        db::Command command;
        command.setActiveConnection(connection);
        command.setCommandText(QStringLiteral("DELETE FROM LOG_ABONADOSFOTOS WHERE USUARIO = ") + runUser);
        command.setCommandType(1);
        command.execute(-1);

        UploadLog log(connection);
        PhotoStore store(connection, log, folder, installationCode, m_settings.installationText);

        bool folderChecked = false;
        for (int32_t i = 0; i < names.size(); ++i) {
            const QString& name = names.at(i);
            m_summary.filesVisited = i + 1;
            m_currentFile = PhotoStore::photoFilePath(folder, name);
            if (m_settings.progress && i - m_settings.progress->value() > 50)
                m_settings.progress->setValue(i);

            const QString code = PhotoStore::memberCode(name);
            if (!name.contains(QStringLiteral(".jpg")) || !Numbers::isNumeric(code)) {
                ++m_summary.skipped;
                continue;
            }
            // Only a regular file (or a link to one) is a photo: a FIFO, socket, device, folder or
            // dangling link is never opened, and a name gone since the listing has nothing to store.
            if (FolderFiles::entryKind(m_currentFile) != FolderFiles::EntryKind::RegularFile) {
                ++m_summary.skipped;
                continue;
            }
            const int32_t memberNumber = Numbers::toInt32(code);
            if (!store.MemberExists(memberNumber)) {
                log.WriteLogRow(runUser, name, UploadLog::notStored(), UploadLog::memberMissing());
                ++m_summary.memberMissing;
                continue;
            }
            if (!folderChecked) {
                // Before the first store: a folder that lets no file go would end the run only
                // after a whole batch of stored photos.
                FolderFiles::checkFolderAllowsRemoval(folder);
                folderChecked = true;
            }
            const PhotoStore::Outcome outcome = store.PhotoExists(memberNumber)
                                                    ? store.UpdatePhoto(runUser, installationCode, name)
                                                    : store.InsertPhoto(runUser, installationCode, name);
            switch (outcome) {
            case PhotoStore::Outcome::Inserted: ++m_summary.inserted; break;
            case PhotoStore::Outcome::Updated: ++m_summary.updated; break;
            case PhotoStore::Outcome::SizeRefused: ++m_summary.sizeRefused; continue;  // the file stays
            }
            fileStored(m_currentFile, store.lastStoredFile());
        }
        m_currentFile.clear();
        deletePendingFiles();

        if (m_settings.report)
            m_settings.report->open(reportFile(), reportCondition(runUser), reportCaption());
    } catch (const Failure& failure) {
        m_summary.failedFile = m_currentFile;
        // Rows already committed are made durable and their files go, as if each had been
        // deleted right after its store; if that fails too, the files simply stay.
        try {
            deletePendingFiles();
        } catch (const Failure&) {
        }
        m_summary.end = UploadSummary::End::Failed;
        m_summary.failure = failure;
        m_settings.reportError(failure);
    }
    return m_summary;
}
