#pragma once

#include "upload/upload_run.h"

#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTextStream>
#include <QTimer>

#include <functional>

// A drop folder watched for photos: each photo is uploaded once it has stopped changing for the
// settle time, in a run of its own with its own report; a photo that stays after its run (a member
// that does not exist, a file too large) is not uploaded again until it changes. The platform's
// notice of changes in the folder wakes the watch; a rescan every few seconds stands in where the
// notice does not come (network folders). A database that goes away ends no watch: the run fails
// with nothing lost, the watch says so once and tries again until the database answers.
class WatchFolder final : public QObject {
    Q_OBJECT
public:
    struct Settings {
        QString folder;
        qint64 settleMs = 5000;
        qint64 rescanMs = 2000;
        qint64 reconnectMs = 10000;
        // A template for each run: connection, installation, photos, report; folder and
        // acceptName are the watch's own.
        UploadRun::Settings run;
        // Makes the report of a run that stored or examined photos; may return nullptr (no report).
        std::function<std::unique_ptr<RunReport>(const QString& runUser)> makeReport;
        // Opens the connection anew after it was lost: the new one, or nullptr while it cannot.
        std::function<db::Connection*()> reconnect;
    };

    WatchFolder(Settings settings, QTextStream& out, QTextStream& err, bool quiet);

    // Watches until stop(); the exit status: 0, or 2 when the folder does not exist.
    int exec();
    // Ends the watch after the photo being stored (safe to call from a signal's handler through
    // a flag the watch polls: see stopFlag()).
    void stop();
    // The runs made so far.
    const QList<UploadSummary>& runs() const { return m_runs; }

private:
    struct Seen {
        qint64 size = -1;
        qint64 modifiedMs = 0;
        qint64 stableSinceMs = 0;  // the watch's clock when it last saw the file change
        bool handled = false;      // uploaded (or examined) as it is now
    };

    void scan();
    void uploadSettled();
    bool isPhotoName(const QString& name) const;

    Settings m_settings;
    QTextStream& m_out;
    QTextStream& m_err;
    bool m_quiet;
    QFileSystemWatcher m_watcher;
    QTimer m_rescan;
    QTimer m_settleCheck;
    QElapsedTimer m_clock;
    QHash<QString, Seen> m_seen;
    QList<UploadSummary> m_runs;
    bool m_stopping = false;
    bool m_running = false;
    bool m_databaseAway = false;
    qint64 m_nextReconnectMs = 0;
};
