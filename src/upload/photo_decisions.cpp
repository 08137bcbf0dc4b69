#include "upload/photo_decisions.h"

#include "common/numbers.h"
#include "upload/photo_store.h"
#include "upload/upload_log.h"

QString EntryDecision::logFlag() const
{
    if (!isLogged())
        return {};
    return isStored() ? UploadLog::stored() : UploadLog::notStored();
}

QString EntryDecision::logText() const
{
    switch (kind) {
    case Kind::MemberMissing: return UploadLog::memberMissing();
    case Kind::TooLarge: return UploadLog::sizeNotAllowed();
    case Kind::NotValid: return UploadLog::photoNotValid();
    case Kind::Insert: return UploadLog::photoInserted();
    case Kind::Update: return UploadLog::photoUpdated();
    default: return {};
    }
}

PhotoFile readPhotoFile(const FolderFiles::Folder& folder, const QString& fileName, const RetratixSettings& settings)
{
    PhotoFile photo;
    // Only where photos may be changed is a large file read at all (up to what a camera makes).
    const bool preparing = settings.changesPhotos();
    const qint64 readLimit = preparing ? Photos::LargestOriginal : PhotoStore::PhotoSizeLimit;
    // The size comes from the folder's entry, so a large file is refused without being opened.
    if (folder.fileSize(fileName) >= readLimit) {
        photo.verdict = PhotoFile::Verdict::TooLarge;
        return photo;
    }
    // The file may have grown since it was measured.
    FolderFiles::FileBytes file = folder.readRegularFile(fileName, readLimit);
    photo.snapshot = file.snapshot;
    photo.bytes = std::move(file.bytes);
    if (file.beyondLimit) {
        photo.verdict = PhotoFile::Verdict::TooLarge;
        return photo;
    }
    if (preparing)
        photo.prepared = Photos::prepare(photo.bytes, fileName, {settings.fitPhotos, settings.uprightPhotos},
                                         PhotoStore::PhotoSizeLimit);
    if (photo.prepared.outcome == Photos::Prepared::Outcome::TooLarge ||
        (photo.prepared.outcome == Photos::Prepared::Outcome::AsIs && photo.bytes.size() >= PhotoStore::PhotoSizeLimit))
        photo.verdict = PhotoFile::Verdict::TooLarge;
    else if (photo.prepared.outcome == Photos::Prepared::Outcome::Undecodable)
        photo.verdict = PhotoFile::Verdict::NotValid;
    else if (photo.prepared.outcome == Photos::Prepared::Outcome::Converted)
        photo.bytes = photo.prepared.bytes;
    return photo;
}

PhotoDecisions::PhotoDecisions(const FolderFiles::Folder& folder, RetratixSettings settings)
    : m_folder(folder), m_settings(std::move(settings))
{
}

bool PhotoDecisions::isPhotoName(const QString& name, const RetratixSettings& settings)
{
    const bool photoName = name.contains(QStringLiteral(".jpg")) ||
                           (!settings.formats.isEmpty() && Photos::hasFormat(name, settings.formats));
    return photoName && Numbers::isNumeric(PhotoStore::memberCode(name));
}

EntryDecision PhotoDecisions::byName(const QString& name) const
{
    EntryDecision decision;
    decision.name = name;
    const bool photoName = name.contains(QStringLiteral(".jpg")) ||
                           (!m_settings.formats.isEmpty() && Photos::hasFormat(name, m_settings.formats));
    if (!photoName)
        return decision;
    const QString code = PhotoStore::memberCode(name);
    if (!Numbers::isNumeric(code)) {
        decision.kind = EntryDecision::Kind::NoMemberCode;
        return decision;
    }
    // Only a regular file of the folder's own is a photo: a FIFO, socket, device, folder or link is
    // never opened, and a name gone since the listing has nothing to store.
    decision.entry = m_folder.entryKind(name);
    if (decision.entry != FolderFiles::EntryKind::RegularFile) {
        decision.kind = EntryDecision::Kind::NotPhotoEntry;
        return decision;
    }
    try {
        decision.member = Numbers::toInt32(code);
        decision.kind = EntryDecision::Kind::Insert;
    } catch (const Failure& failure) {
        decision.kind = EntryDecision::Kind::Stop;
        decision.failure = failure;
    }
    return decision;
}

void PhotoDecisions::decideFile(EntryDecision& decision, MemberPhotos& members,
                                const std::function<void()>& allowRemovals)
{
    if (!members.memberExists(decision.member)) {
        decision.kind = EntryDecision::Kind::MemberMissing;
        return;
    }
    try {
        // Before the first store: a folder that lets no file go ends the upload before any photo is
        // stored, not a whole batch later.
        if (!m_removalsAllowed && allowRemovals)
            allowRemovals();
        m_removalsAllowed = true;
        decision.photo = readPhotoFile(m_folder, decision.name, m_settings);
    } catch (const Failure& failure) {
        decision.kind = EntryDecision::Kind::Stop;
        decision.failure = failure;
        return;
    }
    switch (decision.photo.verdict) {
    case PhotoFile::Verdict::TooLarge: decision.kind = EntryDecision::Kind::TooLarge; return;
    case PhotoFile::Verdict::NotValid: decision.kind = EntryDecision::Kind::NotValid; return;
    case PhotoFile::Verdict::Store: break;
    }
    // A second file of the member replaces what the first one stored.
    decision.kind = members.photoExists(decision.member) || m_storedMembers.contains(decision.member)
                        ? EntryDecision::Kind::Update
                        : EntryDecision::Kind::Insert;
    m_storedMembers.insert(decision.member);
    // A file its deletion would refuse ends the upload right after its row, as its deletion would.
    try {
        m_folder.checkRemovable(decision.name);
    } catch (const Failure& failure) {
        decision.stopAfter = failure;
    }
}
