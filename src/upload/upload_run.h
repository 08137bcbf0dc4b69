#pragma once

#include "common/failure.h"
#include "common/folder_files.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>

namespace db {
class Connection;
}
class RunReport;
class UploadProgress;

// What one upload run did.
struct UploadSummary {
    enum class End { Completed, FolderMissing, Failed };
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
    std::optional<Failure> failure;
    QString failedFile;       // the file the run was at when it failed

    // One line: the run number and the count of each outcome.
    QString toText() const;
};

// One upload of a folder of member photos: stores each photo of an existing member, logs every
// photo examined, deletes the stored files once their rows are durable, and hands the run's
// report on. Any failure ends the run through reportError; nothing done is undone.
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
        std::function<void(const Failure&)> reportError;  // ModGlob::ReportError when empty
        // Stored files whose rows are made durable together before their deletion.
        int durableBatchSize = 100;
        // Makes every committed row durable; the connection's own way when empty.
        std::function<void()> makeDurable;
        // Draws before a run number that earlier runs' log rows carry is kept anyway.
        int maxRunNumberDraws = 1000;
    };

    explicit UploadRun(Settings settings);

    UploadSummary run();

    // The report of a run and its selection condition.
    static QString reportFile() { return QStringLiteral("ListadoFotos.rpt"); }
    static QString reportCaption() { return QStringLiteral("Informe Fotos"); }
    static QString reportCondition(const QString& runUser);

private:
    QString freshRunUser(int32_t firstDraw);
    struct StoredFile {
        QString path;
        FolderFiles::FileSnapshot snapshot;
    };
    void fileStored(const QString& path, const FolderFiles::FileSnapshot& snapshot);
    void deletePendingFiles();

    Settings m_settings;
    UploadSummary m_summary;
    QList<StoredFile> m_pendingDeletions;
    QString m_currentFile;  // the photo at hand, or the stored file whose deletion failed
};
