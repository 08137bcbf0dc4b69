#pragma once

#include "upload/folder_entries.h"
#include "upload/folder_notices.h"
#include "upload/upload_run.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTextStream>
#include <QTimer>

#include <functional>
#include <memory>

// A drop folder watched for photos: each photo is uploaded once it has stopped changing for the
// settle time, in a run of its own with its own report; a photo that stays after its run (a member
// that does not exist, a file too large) is not uploaded again until it changes, is rewritten or is
// replaced. A symbolic link or a file with further hard links is no photo. A database that goes
// away ends no watch: the run fails with nothing lost, the watch says so once and tries again until
// the database answers.
//
// Its work does not grow with the folder while nothing changes. The folder is read whole only at
// the start, when notices were lost and, where notices may miss changes, when the folder's own
// modification time moved; otherwise the watch looks only at the entries a change notice names and
// at the photos still settling (on every settle check). Where notices may miss changes (a network
// share gets none for another machine's writes) every rescan also looks at a slice of the photos
// that stayed, since a rewrite in place leaves the folder's time alone: a bounded cost per rescan,
// paid for with a later discovery when very many photos stay.
class WatchFolder final : public QObject {
    Q_OBJECT
public:
    struct Settings {
        QString folder;
        qint64 settleMs = 5000;
        qint64 rescanMs = 2000;
        qint64 reconnectMs = 10000;
        // A template for each run: connection, installation, photos, report; folder and names
        // are the watch's own.
        UploadRun::Settings run;
        // Makes the report of a run that stored or examined photos; may return nullptr (no report).
        std::function<std::unique_ptr<RunReport>(const QString& runUser)> makeReport;
        // Opens the connection anew after it was lost: the new one, or nullptr while it cannot.
        std::function<db::Connection*()> reconnect;
        // Where changes are told: the platform's own, or Qt's portable means; no notices at all is
        // how the watch works on a network share. The environment variable RETRATIX_WATCH_NOTICES
        // (native, portable, none) overrides it, for benchmarks and trials of the program as a whole.
        FolderNotices::Source notices = FolderNotices::Source::Native;
    };

    WatchFolder(Settings settings, QTextStream& out, QTextStream& err, bool quiet);

    // Watches until stop(); the exit status: 0, or 2 when the folder does not exist.
    int exec();
    // Ends the watch once the photo being stored is done. Called on the watch's thread: a signal's
    // handler only sets a flag, which a timer of the caller turns into this call.
    void stop();
    // The runs made so far.
    const QList<UploadSummary>& runs() const { return m_runs; }

private:
    struct Seen {
        quint64 inode = 0;
        qint64 size = -1;
        qint64 modifiedNs = 0;
        qint64 stableSinceMs = 0;  // the watch's clock when it last saw the file change
        bool handled = false;      // uploaded (or examined) as it is now

        bool sameFile(const FolderEntries::Entry& entry) const
        {
            return inode == entry.inode && size == entry.size && modifiedNs == entry.modifiedNs;
        }
    };

    void rescan();
    // Reads the whole folder; looks at every photo name, or only at those new or of another inode.
    void readFolder(bool lookAtEvery);
    // Tracks the entry as it is now: a photo file first seen or changed settles anew from the
    // time it was seen so.
    void lookAt(const QString& name);
    void track(const QString& name, const FolderEntries::Entry& entry, qint64 seenAtMs);
    void lookAtStayedSlice();
    void forgetAll();
    void uploadSettled();
    bool isPhotoName(const QString& name) const;

    Settings m_settings;
    QTextStream& m_out;
    QTextStream& m_err;
    bool m_quiet;
    std::unique_ptr<FolderEntries> m_entries;  // the upload's view of the folder's entries
    std::unique_ptr<FolderNotices> m_notices;
    QTimer m_rescan;
    QTimer m_settleCheck;
    QElapsedTimer m_clock;
    // The folder's photo files; those not handled are looked at on every settle check.
    QHash<QString, Seen> m_seen;
    QSet<QString> m_unhandled;
    QStringList m_stayedRound;  // handled photos still to look at in this round
    bool m_folderChangedBefore = false;
    QEventLoop* m_loop = nullptr;
    QList<UploadSummary> m_runs;
    bool m_stopping = false;
    bool m_running = false;
    bool m_databaseAway = false;
    qint64 m_nextReconnectMs = 0;
};
