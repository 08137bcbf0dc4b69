#include "upload/upload_run.h"

#include "common/numbers.h"
#include "db/recordset.h"
#include "db/statement.h"
#include "photos/photo_preparation.h"
#include "upload/photo_store.h"
#include "upload/run_report.h"
#include "upload/upload_log.h"
#include "upload/upload_progress.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>

QString UploadSummary::toText() const
{
    const auto tr = [](const char* text) { return QCoreApplication::translate("UploadSummary", text); };
    QString outcome;
    switch (end) {
    case End::Completed: outcome = tr("terminada"); break;
    case End::Stopped: outcome = tr("detenida"); break;
    case End::FolderMissing: outcome = tr("sin carpeta"); break;
    case End::Failed: outcome = tr("fallida (error %1)").arg(failure ? failure->number : 0); break;
    }
    QString text = tr("Ejecución %1 %2: %3 archivos, %4 fotos insertadas, %5 actualizadas, %6 de tamaño no "
                      "permitido, %7 de abonados no existentes, %8 omitidos, %9 borrados")
                       .arg(runUser, outcome)
                       .arg(filesVisited)
                       .arg(inserted)
                       .arg(updated)
                       .arg(sizeRefused)
                       .arg(memberMissing)
                       .arg(skipped)
                       .arg(filesDeleted);
    if (converted)
        text += tr(", %1 ajustadas o convertidas").arg(converted);
    if (notValid)
        text += tr(", %1 no válidas").arg(notValid);
    if (originalsKept)
        text += tr(", %1 originales guardados").arg(originalsKept);
    if (filesChanged)
        text += tr(", %1 dejados por cambiar tras leerlos").arg(filesChanged);
    return text;
}

UploadRun::UploadRun(Settings settings) : m_settings(std::move(settings))
{
    m_settings.durableBatchSize = qMax(1, m_settings.durableBatchSize);
}

QString UploadRun::reportCondition(const QString& runUser)
{
    return QStringLiteral("{LOG_ABONADOSFOTOS.USUARIO}= '") + runUser + QStringLiteral("'");
}

QStringList UploadRun::folderNames(const QString& folder)
{
    QStringList names = FolderFiles::fileNames(folder);
    std::sort(names.begin(), names.end());
    names.squeeze();
    return names;
}

QString UploadRun::freshRunUser(int32_t firstDraw)
{
    // A number that log rows already carry is drawn again, so that the run's DELETE never
    // removes an earlier run's log.
    db::Statement taken(*m_settings.connection,
                        QStringLiteral("SELECT USUARIO FROM LOG_ABONADOSFOTOS WHERE USUARIO = ?"));
    taken.convertForColumns(QStringLiteral("LOG_ABONADOSFOTOS"), {QStringLiteral("USUARIO")});
    // Another run at work that drew the same number holds it: drawn again too, so that two runs
    // never share a number, even when they draw it at the same moment.
    db::Connection& connection = *m_settings.connection;
    int32_t number = firstDraw;
    for (int draw = 1;; ++draw) {
        const bool reserved = connection.reserveRunNumber(number);
        if (reserved) {
            taken.execute({QString::number(number)});
            // Only a log holding nearly every number exhausts the draws: the run keeps the last one.
            if (taken.rows().isEmpty() || draw >= m_settings.maxRunNumberDraws) {
                m_reservedNumber = number;
                break;
            }
            connection.releaseRunNumber(number);
        } else if (draw >= m_settings.maxRunNumberDraws) {
            break;
        }
        number = m_settings.drawRunNumber();
    }
    return QString::number(number);
}

QList<UploadRun::Candidate> UploadRun::gatherBatch(const QStringList& names, qsizetype& next,
                                                   std::optional<Failure>& stop, QString& stopFile)
{
    QList<Candidate> batch;
    while (next < names.size() && batch.size() < m_settings.durableBatchSize) {
        const qsizetype i = next++;
        m_summary.filesVisited = int(i + 1);
        if (m_settings.progress && i - m_settings.progress->value() > 50)
            m_settings.progress->setValue(int(i));
        EntryDecision decision = m_decisions->byName(names.at(i));
        if (!decision.isPhoto()) {
            ++m_summary.skipped;
            continue;
        }
        const QString path = m_folder->filePath(decision.name);
        if (decision.kind == EntryDecision::Kind::Stop) {
            stop = decision.failure;  // the photos before it are stored first
            stopFile = path;
            break;
        }
        batch.append({std::move(decision), path, i});
    }
    return batch;
}

void UploadRun::prepareRemovals()
{
    // A folder that lets no file go, or an originals folder that takes none, would end the run only
    // after a whole batch of stored photos.
    m_folder->prepareRemovals();
    if (!m_originals.isEmpty()) {
        m_originalsFolder = FolderFiles::Folder::openOrCreate(m_originals, &*m_folder);
        m_originalsFolder->checkAllowsRemoval();
    }
}

void UploadRun::apply(const Candidate& candidate, PhotoStore& store, UploadLog& log, const QString& installationCode)
{
    const EntryDecision& decision = candidate.decision;
    switch (decision.kind) {
    case EntryDecision::Kind::Stop: throw *decision.failure;
    case EntryDecision::Kind::MemberMissing: ++m_summary.memberMissing; break;
    case EntryDecision::Kind::TooLarge: ++m_summary.sizeRefused; break;
    case EntryDecision::Kind::NotValid: ++m_summary.notValid; break;
    case EntryDecision::Kind::Insert:
        store.insertPhoto(installationCode, decision.name, decision.photo.bytes);
        ++m_summary.inserted;
        break;
    case EntryDecision::Kind::Update:
        store.updatePhoto(installationCode, decision.name, decision.photo.bytes);
        ++m_summary.updated;
        break;
    default: return;  // never visited as a photo
    }
    log.WriteLogRow(m_summary.runUser, decision.name, decision.logFlag(), decision.logText());
    if (!decision.isStored())
        return;  // the file stays
    if (decision.photo.converted())
        ++m_summary.converted;
    // A file its deletion would refuse ends the run here, right after its row.
    if (decision.stopAfter)
        throw *decision.stopAfter;
    m_stored.append({decision.name, candidate.path, decision.photo.snapshot});
}

void UploadRun::storeBatch(QList<Candidate>& batch, PhotoStore& store, UploadLog& log,
                           const QString& installationCode)
{
    db::Connection& connection = *m_settings.connection;
    UploadSummary::Timings& timings = m_summary.timings;
    QElapsedTimer clock;
    clock.start();
    QList<int32_t> members;
    for (const Candidate& candidate : batch)
        members.append(candidate.decision.member);
    store.prefetch(members);
    timings.queries += clock.nsecsElapsed();

    clock.restart();
    qint64 readNs = 0;
    std::optional<Failure> failure;
    connection.beginBatch();
    try {
        for (qsizetype i = 0; i < batch.size(); ++i) {
            if (m_settings.stopRequested && m_settings.stopRequested()) {
                m_stopped = true;
                break;
            }
            Candidate& candidate = batch[i];
            m_currentFile = candidate.path;
            connection.setBatchTag(int(i));
            QElapsedTimer reading;
            reading.start();
            m_decisions->decideFile(candidate.decision, store, [this] { prepareRemovals(); });
            readNs += reading.nsecsElapsed();
            apply(candidate, store, log, installationCode);
            candidate.decision.photo.bytes = {};  // stored or refused: no longer needed
            if (m_settings.onProgress)
                m_settings.onProgress(int(candidate.index + 1), int(m_total), examined());
        }
    } catch (const Failure& atFile) {
        failure = atFile;  // what the batch wrote before it is kept, as photo by photo
    }
    const QString failedAt = m_currentFile;
    try {
        connection.commitBatch();
    } catch (const Failure& commit) {
        // Nothing of the batch is committed: its files stay, with their rows.
        connection.rollbackBatch();
        m_stored.clear();
        const int tag = connection.failedBatchTag();
        if (tag >= 0 && tag < batch.size())
            m_currentFile = batch.at(tag).path;
        throw commit;
    }
    timings.reads += readNs;
    timings.writes += clock.nsecsElapsed() - readNs;
    deleteStoredFiles();
    if (failure) {
        m_currentFile = failedAt;
        throw *failure;
    }
}

void UploadRun::releaseRunNumber()
{
    if (m_reservedNumber >= 0)
        m_settings.connection->releaseRunNumber(m_reservedNumber);
    m_reservedNumber = -1;
}

void UploadRun::deleteStoredFiles()
{
    if (m_stored.isEmpty())
        return;
    QElapsedTimer clock;
    clock.start();
    // A file goes only once its row is on disk.
    if (m_settings.makeDurable)
        m_settings.makeDurable();
    else
        m_settings.connection->makeCommittedDurable();
    m_summary.timings.durability += clock.nsecsElapsed();

    clock.restart();
    const QList<StoredFile> batch = std::exchange(m_stored, {});
    std::optional<Failure> firstFailure;
    for (const StoredFile& file : batch) {
        try {
            // A delete without forcing removes a file only as it was read: one that changed since stays.
            if (!m_originalsFolder) {
                if (m_folder->removeIfUnchanged(file.name, file.snapshot) == FolderFiles::RemoveOutcome::Removed)
                    ++m_summary.filesDeleted;
                else
                    ++m_summary.filesChanged;
                continue;
            }
            // Made once and kept open: whatever happens to its name, the run's files go into it.
            if (!m_runOriginals) {
                const QString name = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-")) +
                                     m_summary.runUser;
                m_runOriginals = m_originalsFolder->subfolder(name);
                m_runOriginals->checkAllowsRemoval();
            }
            if (m_folder->moveIfUnchanged(file.name, file.snapshot, *m_runOriginals) ==
                FolderFiles::RemoveOutcome::Removed)
                ++m_summary.originalsKept;
            else
                ++m_summary.filesChanged;
        } catch (const Failure& failure) {
            if (!firstFailure) {
                firstFailure = failure;
                m_currentFile = file.path;
            }
        }
    }
    m_summary.timings.deletion += clock.nsecsElapsed();
    if (firstFailure)
        throw *firstFailure;
}

QStringList UploadRun::namesToVisit()
{
    // What a killed run left in a private folder is a photo again.
    if (!m_settings.names)
        m_folder->recoverInterrupted();
    // Taken once: the run deletes files while it walks the list.
    QElapsedTimer clock;
    clock.start();
    QStringList names = m_settings.names ? *m_settings.names : m_folder->fileNames();
    std::sort(names.begin(), names.end());
    names.squeeze();
    m_total = names.size();
    m_summary.timings.listing = clock.nsecsElapsed();
    if (m_settings.progress)
        m_settings.progress->setMaximum(static_cast<int>(names.size()) - 1);
    return names;
}

void UploadRun::visit(const QStringList& names, const QString& installationCode)
{
    db::Connection& connection = *m_settings.connection;
    UploadLog log(connection);
    PhotoStore store(connection, installationCode, m_settings.installationText);
    m_decisions.emplace(*m_folder, m_settings.photos);
    qsizetype next = 0;
    std::optional<Failure> stop;
    QString stopFile;
    QElapsedTimer clock;
    while (next < names.size() && !stop && !m_stopped) {
        clock.start();
        QList<Candidate> batch = gatherBatch(names, next, stop, stopFile);
        m_summary.timings.gathering += clock.nsecsElapsed();
        if (!batch.isEmpty())
            storeBatch(batch, store, log, installationCode);
        if (m_settings.onProgress && !m_stopped)
            m_settings.onProgress(int(next), int(m_total), examined());
    }
    if (stop) {
        m_currentFile = stopFile;
        throw *stop;
    }
    m_currentFile.clear();
}

UploadSummary UploadRun::run()
{
    m_summary = {};
    m_stored.clear();
    m_currentFile.clear();
    m_stopped = false;
    m_total = 0;
    m_reservedNumber = -1;
    m_originals = m_settings.photos.originalsFor(m_settings.folder);
    // The folders are let go when the run ends, and with them the run's private folder.
    const auto releaseFolders = qScopeGuard([this] {
        m_decisions.reset();
        m_runOriginals.reset();
        m_originalsFolder.reset();
        m_folder.reset();
    });

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

        m_folder.emplace(folder);
        const QStringList names = namesToVisit();

        db::Connection& connection = *m_settings.connection;
        m_summary.runUser = freshRunUser(firstDraw);
        db::Command command;
        command.setActiveConnection(connection);
        command.setCommandText(QStringLiteral("DELETE FROM LOG_ABONADOSFOTOS WHERE USUARIO = ") + m_summary.runUser);
        command.setCommandType(db::CommandType::Text);
        command.execute(db::OptionsUnspecified);

        visit(names, installationCode);
        if (m_stopped) {
            releaseRunNumber();
            m_summary.end = UploadSummary::End::Stopped;
            return m_summary;
        }

        releaseRunNumber();
        if (m_settings.report)
            m_settings.report->open(reportFile(), reportCondition(m_summary.runUser), reportCaption());
    } catch (const Failure& failure) {
        m_summary.failedFile = m_currentFile;
        m_settings.connection->rollbackBatch();
        releaseRunNumber();
        m_summary.end = UploadSummary::End::Failed;
        m_summary.failure = failure;
        if (m_settings.reportError)
            m_settings.reportError(failure);
    }
    return m_summary;
}
