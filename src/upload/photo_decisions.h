#pragma once

#include "common/failure.h"
#include "common/folder_files.h"
#include "photos/photo_preparation.h"
#include "startup/retratix_settings.h"

#include <QList>
#include <QSet>
#include <QString>

#include <cstdint>
#include <optional>

// What a photo file comes to: the bytes to store (its own, or fitted, turned or converted where the
// settings ask), or why it is refused. A file too large is refused without being read; a read that
// fails raises its failure.
struct PhotoFile {
    enum class Verdict { Store, TooLarge, NotValid };
    Verdict verdict = Verdict::Store;
    QByteArray bytes;                    // to store
    FolderFiles::FileSnapshot snapshot;  // the file as it was read
    Photos::Prepared prepared;           // what fitting, turning or converting made of it

    bool converted() const
    {
        return verdict == Verdict::Store && prepared.outcome == Photos::Prepared::Outcome::Converted;
    }
};
PhotoFile readPhotoFile(const FolderFiles::Folder& folder, const QString& fileName, const RetratixSettings& settings);

// What the upload does with one entry of the photo folder, decided in one place for the upload,
// the check and the watch, so that they never disagree.
struct EntryDecision {
    enum class Kind {
        // Left alone and not logged:
        NotPhotoName,   // no ".jpg" in the name (nor an extension of the opted-in formats)
        NoMemberCode,   // the text before the first "." is no number
        NotPhotoEntry,  // a link, folder, FIFO, socket or device, or gone since the listing
        // The upload ends here, with nothing logged for the file: a member code beyond 32 bits, a
        // read that fails.
        Stop,
        // Logged, and the file stays:
        MemberMissing,  // "N" "Abonado no existente"
        TooLarge,       // "N" "Tamaño no permitido"
        NotValid,       // "N" "Foto no válida"
        // Stored and logged, then the file goes:
        Insert,  // "S" "Foto Insertada"
        Update,  // "S" "Foto Actualizada"
    };

    QString name;
    Kind kind = Kind::NotPhotoName;
    FolderFiles::EntryKind entry = FolderFiles::EntryKind::Missing;
    int32_t member = 0;
    std::optional<Failure> failure;  // Stop: why
    // Insert, Update: a deletion that would be refused (read-only, immutable) ends the upload right
    // after this file's row.
    std::optional<Failure> stopAfter;
    PhotoFile photo;  // TooLarge, NotValid, Insert, Update: what was read of the file

    // A name the upload visits as a photo: it is logged, or it ends the run.
    bool isPhoto() const { return kind >= Kind::Stop; }
    bool isLogged() const { return kind >= Kind::MemberMissing; }
    bool isStored() const { return kind == Kind::Insert || kind == Kind::Update; }
    // The log row's two texts ("S"/"N" and the outcome); empty for a file that is not logged.
    QString logFlag() const;
    QString logText() const;
};

// Which members of the installation exist and have a photo (the database's answers), and which
// got one during the run.
class MemberPhotos {
public:
    virtual ~MemberPhotos() = default;
    // Asks about these members at once, where the store can (one query per hundred).
    virtual void prefetch(const QList<int32_t>& members) = 0;
    virtual bool memberExists(int32_t member) = 0;
    virtual bool photoExists(int32_t member) = 0;
};

class PhotoDecisions final {
public:
    PhotoDecisions(const FolderFiles::Folder& folder, RetratixSettings settings);

    // The name rules alone: ".jpg" (lower case, as the suite defines it; in any case where the
    // opted-in formats name JPEG) or an opted-in format's extension, and a numeric member code.
    static bool isPhotoName(const QString& name, const RetratixSettings& settings);
    bool isPhotoName(const QString& name) const { return isPhotoName(name, m_settings); }

    // What the name and the entry say, before any database or file content is asked: NotPhotoName,
    // NoMemberCode, NotPhotoEntry or Stop are final; any other decision is a photo whose outcome
    // decideFile() completes (its kind Insert until then).
    EntryDecision byName(const QString& name) const;

    // Completes a photo's decision: its member, then (for an existing member) its file's bytes,
    // size and format, insert or update, and whether its deletion would be refused. A second file of
    // a member updates what the first one stored. A failure to read the file makes it a Stop.
    // Before the first photo that would be stored, allowRemovals() is called, so that a folder that
    // lets no file go ends the upload before anything is stored; its failure passes.
    void decideFile(EntryDecision& decision, MemberPhotos& members, const std::function<void()>& allowRemovals);

private:
    const FolderFiles::Folder& m_folder;
    RetratixSettings m_settings;
    QSet<int32_t> m_storedMembers;  // got a photo from an earlier file of this run
    bool m_removalsAllowed = false;
};
