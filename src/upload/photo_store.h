#pragma once

#include "common/folder_files.h"
#include "db/statement.h"
#include "photos/photo_preparation.h"
#include "startup/retratix_settings.h"

#include <QList>
#include <QSet>
#include <QString>

#include <cstdint>
#include <functional>
#include <variant>

namespace db {
class Connection;
class Stream;
}
class UploadLog;

// What a photo file comes to: the bytes to store (its own, or fitted, turned or converted where the
// settings ask), or why it is refused. A file too large is refused without being read; a read that
// fails raises its failure.
struct PhotoFile {
    enum class Verdict { Store, TooLarge, NotValid };
    Verdict verdict = Verdict::Store;
    QByteArray bytes;                   // to store
    FolderFiles::FileSnapshot snapshot;  // the file as it was read
    Photos::Prepared prepared;          // what fitting, turning or converting made of it

    bool converted() const
    {
        return verdict == Verdict::Store && prepared.outcome == Photos::Prepared::Outcome::Converted;
    }
};
PhotoFile readPhotoFile(const FolderFiles::Folder& folder, const QString& fileName, const RetratixSettings& settings);

// The member checks and the photo rows of ABONADOSFOTOS for one installation and one folder.
// Every failure (database, file) passes to the caller; the store traps nothing. Rows are written
// at once, or with the connection's open batch.
class PhotoStore final {
public:
    // Files of this many bytes or more are refused.
    static constexpr qint64 PhotoSizeLimit = 150000;
    // Members one existence query asks about.
    static constexpr int MembersPerQuery = 100;

    enum class Outcome { Inserted, Updated, SizeRefused, NotValid };

    // installationCode: the checked text of the installation code (see checkedInstallationCode).
    // currentInstallationText: what the window's code box holds when an update writes it;
    // the checked code when none is given.
    // settings: whether photos are fitted, turned upright or converted from other formats (with
    // none of them, every photo is stored byte for byte as read).
    PhotoStore(db::Connection& connection, UploadLog& log, const FolderFiles::Folder& folder, QString installationCode,
               std::function<QString()> currentInstallationText = {}, RetratixSettings settings = {});

    // Answers MemberExists and PhotoExists for these members from one query per hundred (one round
    // trip to a server) instead of two per member; other members are asked about when needed.
    void prefetch(const QList<int32_t>& memberNumbers);
    bool MemberExists(int32_t memberNumber);
    // A photo this store inserted since the prefetch exists too (a second file of the same member
    // updates it).
    bool PhotoExists(int32_t memberNumber);
    // From now on the member has a photo (a file of it was stored, or would be).
    void markPhotoStored(int32_t memberNumber) { m_photos.insert(memberNumber); }
    // Store the photo of fileName (in the folder) or refuse it for its size, and log the outcome.
    Outcome InsertPhoto(const QString& runUser, const QString& installationCode, const QString& fileName);
    Outcome UpdatePhoto(const QString& runUser, const QString& installationCode, const QString& fileName);

    // The file whose bytes the last insert or update stored, as it was when it was read.
    const FolderFiles::FileSnapshot& lastStoredFile() const { return m_lastSnapshot; }
    // Whether the last insert or update stored other bytes than the file's (fitted, turned, converted).
    bool lastStoredConverted() const { return m_lastConverted; }
    // Time spent reading photo files, in nanoseconds (and preparing them, where they are changed).
    qint64 readNs() const { return m_readNs; }

    // The folder and the name joined with the platform's separator.
    static QString photoFilePath(const QString& folder, const QString& fileName);
    // The text of the name before its first ".".
    static QString memberCode(const QString& fileName);
    // The member code as it goes into SQL and into CODIGO: unchanged when it is plain digits
    // (007 stays 007), else the decimal text of its number, so that a regional form such as
    // "1.000" or " 12" never reaches the statement as it is.
    static QString memberCodeForSql(const QString& fileName);
    // The installation code text when it is a whole number written plainly (an optional minus
    // and digits, within 32 bits); otherwise type mismatch (13), so no statement is built from it.
    static QString checkedInstallationCode(const QString& text);

private:
    // Adds the answers for these members.
    void ask(const QList<int32_t>& memberNumbers);
    // Logs the refusal of a file too large to be stored.
    Outcome refuseForSize(const QString& runUser, const QString& fileName);
    // The bytes to store for the photo file: read through the stream, and fitted, turned upright or
    // converted where the settings ask; a refusal (too large, no image) is logged and gives its outcome.
    std::variant<QByteArray, Outcome> photoBytes(const QString& runUser, const QString& fileName);

    db::Connection& m_connection;
    UploadLog& m_log;
    const FolderFiles::Folder& m_folder;
    QString m_installationCode;
    std::function<QString()> m_currentInstallationText;
    RetratixSettings m_settings;
    FolderFiles::FileSnapshot m_lastSnapshot;
    bool m_lastConverted = false;
    qint64 m_readNs = 0;
    db::Statement m_existence;
    db::Statement m_insert;
    db::Statement m_update;
    QSet<int32_t> m_asked;
    QSet<int32_t> m_members;
    QSet<int32_t> m_photos;
};
