#pragma once

#include "common/failure.h"
#include "common/folder_files.h"
#include "upload/photo_decisions.h"
#include "startup/retratix_settings.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>

namespace db {
class Connection;
}
class PhotoStore;
class RunReport;
class UploadLog;
class UploadProgress;

// What one upload run did.
struct UploadSummary {
    enum class End { Completed, FolderMissing, Failed, Stopped };
    End end = End::Completed;
    QString runUser;
    int filesVisited = 0;
    int inserted = 0;
    int updated = 0;
    int sizeRefused = 0;
    int memberMissing = 0;
    int skipped = 0;          // names without ".jpg" or without a numeric member code
    int filesDeleted = 0;
    int filesChanged = 0;     // stored, then changed before their deletion: left for the next run
    int converted = 0;        // stored fitted, turned upright or converted to JPEG
    int notValid = 0;         // named as a photo in another format, but no image
    int originalsKept = 0;    // stored photos' files moved to the originals folder, not deleted
    std::optional<Failure> failure;
    QString failedFile;       // the file the run was at when it failed

    // Where the run's time went, in nanoseconds.
    struct Timings {
        qint64 listing = 0;     // the folder's names
        qint64 gathering = 0;   // which names are photos (names, entry kinds, member codes)
        qint64 queries = 0;     // which members exist and have a photo
        qint64 reads = 0;       // the photo files
        qint64 writes = 0;      // photo and log rows, committed
        qint64 durability = 0;  // committed rows made durable
        qint64 deletion = 0;    // stored files checked and deleted
    } timings;

    // One line: the run number and the count of each outcome.
    QString toText() const;
};

// One upload of a folder of member photos: stores each photo of an existing member, logs every
// photo examined, deletes the stored files once their rows are durable, and hands the run's
// report on. Any failure ends the run through reportError; nothing done is undone.
//
// The photos go in batches: one query asks which of a batch's members exist and have a photo, the
// batch's rows are written in one transaction (sent without waiting for each answer where the
// engine allows), made durable, and only then are the batch's files deleted. A failure at a file
// (unreadable, cannot be deleted, a member code beyond 32 bits) commits what the batch wrote
// before it, as a photo-by-photo run would have; a failure of the database rolls back what the
// engine cannot keep of the batch, and every file whose row is not committed stays.
class UploadRun final {
public:
    struct Settings {
        db::Connection* connection = nullptr;
        QString folder;
        // The installation code box's text at this moment.
        std::function<QString()> installationText;
        // A number from 1 to 999999 per call.
        std::function<int32_t()> drawRunNumber;
        UploadProgress* progress = nullptr;  // optional
        RunReport* report = nullptr;         // optional
        // Shows the failure that ended the run (the program's message; see RunContext).
        std::function<void(const Failure&)> reportError;
        // Photos per batch: rows written in one transaction and made durable together before their
        // files are deleted.
        int durableBatchSize = 100;
        // Makes every committed row durable; the connection's own way when empty.
        std::function<void()> makeDurable;
        // Draws before a run number that earlier runs' log rows carry is kept anyway.
        int maxRunNumberDraws = 1000;
        // Fitting, turning, other formats, the originals folder ([Retratix] of Polidex.ini).
        RetratixSettings photos;
        // After each photo and each batch: files done of the folder's total, photos examined so far.
        std::function<void(int done, int total, int photos)> onProgress;
        // Asked between photos: true ends the run there, after the photos stored so far are
        // committed, made durable and deleted (as a completed run, with no report).
        std::function<bool()> stopRequested;
        // Only these names are visited (a watched folder's settled files), and the folder is not
        // read; unset, every entry of the folder is, after the files of killed runs are put back.
        std::optional<QStringList> names;
    };

    explicit UploadRun(Settings settings);

    UploadSummary run();

    // The report of a run and its selection condition.
    static QString reportFile() { return QStringLiteral("ListadoFotos.rpt"); }
    static QString reportCaption() { return QStringLiteral("Informe Fotos"); }
    static QString reportCondition(const QString& runUser);

    // The names of the folder's entries that are not folders, in name order (a list of names only:
    // the run's memory does not grow with a record per entry).
    static QStringList folderNames(const QString& folder);

private:
    struct Candidate {
        EntryDecision decision;
        QString path;
        qsizetype index = 0;  // in the folder's names
    };
    struct StoredFile {
        QString name;
        QString path;
        FolderFiles::FileSnapshot snapshot;
    };

    QString freshRunUser(int32_t firstDraw);
    // The names the run visits, in name order (the folder's, after a killed run's files are back).
    QStringList namesToVisit();
    // Visits the names batch by batch until the last, a stop or a failure (which it raises).
    void visit(const QStringList& names, const QString& installationCode);
    // Visits names from next on until a batch of photos is gathered; a failure at a name stops it.
    QList<Candidate> gatherBatch(const QStringList& names, qsizetype& next, std::optional<Failure>& stop,
                                 QString& stopFile);
    void storeBatch(QList<Candidate>& batch, PhotoStore& store, UploadLog& log, const QString& installationCode);
    // The one place a file's outcome is carried out: its photo row, its log row, and its file kept
    // for deletion once the row is durable. A decision to stop raises its failure.
    void apply(const Candidate& candidate, PhotoStore& store, UploadLog& log, const QString& installationCode);
    // Before the first photo is stored: the folder lets files go, the originals folder takes them.
    void prepareRemovals();
    void deleteStoredFiles();
    // Gives up the run number this run reserved (its rows, once written, keep it taken).
    void releaseRunNumber();

    Settings m_settings;
    UploadSummary m_summary;
    QList<StoredFile> m_stored;  // the batch's stored files, deleted once their rows are durable
    QString m_currentFile;       // the photo at hand, or the stored file whose deletion failed
    bool m_stopped = false;  // a stop was asked for between photos
    qsizetype m_total = 0;   // names the run visits
    int32_t m_reservedNumber = -1;
    // Photos examined so far, whatever their outcome.
    int examined() const
    {
        return m_summary.inserted + m_summary.updated + m_summary.sizeRefused + m_summary.memberMissing +
               m_summary.notValid;
    }
    std::optional<FolderFiles::Folder> m_folder;  // the photo folder, open for the run
    std::optional<PhotoDecisions> m_decisions;
    QString m_originals;  // where stored files go instead of being deleted (empty: deleted)
    std::optional<FolderFiles::Folder> m_originalsFolder;
    std::optional<FolderFiles::Folder> m_runOriginals;  // this run's subfolder of it, made at the first move
};
