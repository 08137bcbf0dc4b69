#pragma once

#include "common/failure.h"
#include "common/folder_files.h"
#include "startup/retratix_settings.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace db {
class Connection;
}
class MemberPhotos;
class RunReport;

// One file of a checked folder: what an upload would do with it, and what the upload cannot see.
struct CheckRow {
    enum class Kind {
        NoPhoto,      // the upload leaves it alone, unlogged
        WouldStore,   // stored and logged "S"
        WouldRefuse,  // logged "N", left in the folder
        Stop,         // the upload would end at this file
        NotReached,   // after the file the upload would end at: never visited
    };
    QString file;
    QString stored;   // "S" or "N" as the upload would log it; empty: not logged
    QString outcome;  // the upload's log text ("Foto Insertada", ...), "No es una foto", "Fin de la carga"
                      // or "Sin llegar"
    QString detail;   // why; fitting, duplicates, content that is not what the name says
    Kind kind = Kind::NoPhoto;
};

struct CheckSummary {
    enum class End { Completed, FolderMissing, Failed };
    End end = End::Completed;
    QList<CheckRow> rows;  // in the order an upload visits the files
    int wouldStore = 0;
    int wouldRefuse = 0;
    int noPhotos = 0;
    int notReached = 0;  // after the file the upload would end at
    int warnings = 0;    // duplicates, content unlike its name, files the upload would stop at
    std::optional<Failure> failure;

    QString toText() const;
};

// What an upload of a folder would do, file by file, found exactly as the upload finds it (the
// same names, members, photos, sizes, fitting), with nothing written to the database and no file
// touched: for staff to look at a folder before they upload it. Beyond the upload's own outcomes
// it reports what an upload cannot see: several files of one member (the last one visited wins),
// a file whose content is not an image of the format its name says, and a file the upload would
// stop at (a member code beyond 32 bits, an unreadable file, one it could not delete).
class CheckRun final {
public:
    struct Settings {
        db::Connection* connection = nullptr;
        QString folder;
        std::function<QString()> installationText;
        RetratixSettings photos;
        RunReport* report = nullptr;  // optional
        // Shows the failure that ended the check (the program's message; see RunContext).
        std::function<void(const Failure&)> reportError;
        // A folder where the report's own database is written (it lives as long as the report is read).
        QString reportFolder;
    };

    explicit CheckRun(Settings settings);
    CheckSummary run();

    static QString reportFile() { return QStringLiteral("ComprobacionFotos.rpt"); }
    static QString reportCaption() { return QStringLiteral("Comprobación de fotos"); }
    // Writes the rows into a new SQLite database at path (the table the check's report reads) and
    // returns its data source.
    static QString writeReportDatabase(const QString& path, const QString& folder, const CheckSummary& summary);

private:
    // The rows of the folder's names (in the upload's order), decided as the upload decides them.
    void describe(CheckSummary& summary, const QStringList& names, const FolderFiles::Folder& folder,
                  MemberPhotos& members) const;

    Settings m_settings;
};
