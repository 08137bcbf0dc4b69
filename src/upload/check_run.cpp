#include "upload/check_run.h"

#include "common/folder_files.h"
#include "common/numbers.h"
#include "photos/photo_preparation.h"
#include "upload/photo_decisions.h"
#include "upload/check_report.h"
#include "upload/photo_store.h"
#include "upload/run_report.h"
#include "upload/upload_log.h"
#include "upload/upload_run.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>

namespace {

QString tr(const char* text) { return QCoreApplication::translate("CheckRun", text); }

// The format a file's first bytes say it is, or nothing.
QString contentFormat(const QByteArray& bytes)
{
    if (bytes.startsWith("\xFF\xD8\xFF"))
        return QStringLiteral("JPEG");
    if (bytes.startsWith("\x89PNG\r\n\x1A\n"))
        return QStringLiteral("PNG");
    if (bytes.startsWith("GIF87a") || bytes.startsWith("GIF89a"))
        return QStringLiteral("GIF");
    if (bytes.startsWith("BM"))
        return QStringLiteral("BMP");
    if (bytes.size() >= 12 && bytes.mid(4, 4) == "ftyp")
        return QStringLiteral("HEIF");
    return {};
}

// The format a file's name says: JPEG for ".jpg" and its kin, else the extension it matched.
QString nameFormat(const QString& name, const QStringList& formats)
{
    if (Photos::namesJpeg(name))
        return QStringLiteral("JPEG");
    for (const QString& format : formats)
        if (name.contains(QLatin1Char('.') + format, Qt::CaseInsensitive))
            return format == QLatin1String("heic") || format == QLatin1String("heif") ? QStringLiteral("HEIF")
                                                                                     : format.toUpper();
    return {};
}

void appendDetail(CheckRow& row, const QString& detail)
{
    row.detail = row.detail.isEmpty() ? detail : row.detail + QStringLiteral("; ") + detail;
}

}  // namespace

QString CheckSummary::toText() const
{
    switch (end) {
    case End::FolderMissing: return tr("Comprobación: la carpeta no existe");
    case End::Failed:
        return tr("Comprobación fallida (error %1)").arg(failure ? failure->number : 0);
    case End::Completed: break;
    }
    QString text = tr("Comprobación: %1 archivos; se subirían %2 fotos, %3 no se subirían, %4 no son fotos, %5 avisos")
                       .arg(rows.size())
                       .arg(wouldStore)
                       .arg(wouldRefuse)
                       .arg(noPhotos)
                       .arg(warnings);
    if (notReached)
        text += tr("; la carga terminaría antes de %1").arg(notReached);
    return text;
}

CheckRun::CheckRun(Settings settings) : m_settings(std::move(settings))
{
}

namespace {

// The row of a name as its name and entry decide it (no database, no content asked yet).
CheckRow rowByName(const EntryDecision& decision, const QStringList& formats)
{
    CheckRow row{decision.name, QString(), tr("No es una foto"), QString()};
    switch (decision.kind) {
    case EntryDecision::Kind::NotPhotoName:
        row.detail = formats.isEmpty() ? tr("el nombre no contiene «.jpg»")
                                       : tr("el nombre no tiene «.jpg» ni otro formato de los admitidos");
        break;
    case EntryDecision::Kind::NoMemberCode:
        row.detail = tr("«%1», lo que precede al primer punto, no es un código de abonado")
                         .arg(PhotoStore::memberCode(decision.name));
        break;
    case EntryDecision::Kind::NotPhotoEntry:
        row.detail = decision.entry == FolderFiles::EntryKind::Link
                         ? tr("es un enlace a otro archivo, que podría estar fuera de la carpeta")
                         : tr("no es un archivo que se pueda leer (una carpeta o una tubería)");
        break;
    case EntryDecision::Kind::Stop:
        row.kind = CheckRow::Kind::Stop;
        row.outcome = tr("Fin de la carga");
        row.detail = tr("el código no cabe en 32 bits: la carga terminaría aquí (error %1: %2)")
                         .arg(decision.failure->number)
                         .arg(decision.failure->description);
        break;
    default: break;  // a photo: its file decides
    }
    return row;
}

// The row of a photo once its member and file have decided it; whether the upload would end at it.
bool fillPhotoRow(CheckRow& row, const EntryDecision& decision, const QStringList& formats, int& warnings)
{
    if (decision.kind == EntryDecision::Kind::Stop) {
        row.kind = CheckRow::Kind::Stop;
        row.outcome = tr("Fin de la carga");
        row.detail =
            tr("la carga terminaría aquí (error %1: %2)").arg(decision.failure->number).arg(decision.failure->description);
        ++warnings;
        return true;
    }
    row.stored = decision.logFlag();
    row.outcome = decision.logText();
    if (!decision.isStored()) {
        row.kind = CheckRow::Kind::WouldRefuse;
        if (decision.kind == EntryDecision::Kind::NotValid)
            row.detail = tr("no es una imagen que el programa sepa leer");
        return false;
    }
    row.kind = CheckRow::Kind::WouldStore;
    const PhotoFile& photo = decision.photo;
    const QString said = nameFormat(row.file, formats);
    const QString is = contentFormat(photo.snapshot.size > 0 ? photo.bytes.left(16) : QByteArray());
    if (!photo.converted() && is != said) {
        appendDetail(row, is.isEmpty() ? tr("el contenido no es una imagen %1").arg(said)
                                       : tr("el contenido es %1, no %2").arg(is, said));
        ++warnings;
    }
    if (photo.converted())
        appendDetail(row, tr("se guardaría ajustada: %1 x %2, calidad %3, %4 bytes")
                              .arg(photo.prepared.size.width())
                              .arg(photo.prepared.size.height())
                              .arg(photo.prepared.quality)
                              .arg(photo.prepared.bytes.size()));
    if (!decision.stopAfter)
        return false;
    appendDetail(row, tr("no se podría borrar: la carga terminaría tras esta foto (error %1: %2)")
                          .arg(decision.stopAfter->number)
                          .arg(decision.stopAfter->description));
    ++warnings;
    return true;
}

// Several files of one member: each replaces the one before; the last visited stays.
void noteSameMember(CheckSummary& summary, const QHash<int32_t, QList<qsizetype>>& filesOfMember)
{
    for (const QList<qsizetype>& rows : filesOfMember) {
        if (rows.size() < 2)
            continue;
        const QString last = summary.rows.at(rows.last()).file;
        QStringList earlier;
        for (qsizetype i = 0; i + 1 < rows.size(); ++i) {
            earlier.append(summary.rows.at(rows.at(i)).file);
            appendDetail(summary.rows[rows.at(i)], tr("otro archivo del mismo abonado la sustituye: %1").arg(last));
        }
        appendDetail(summary.rows[rows.last()], tr("sustituye a %1, del mismo abonado").arg(earlier.join(QStringLiteral(", "))));
        summary.warnings += int(rows.size());
    }
}

// Every row after the one the upload would end at: never visited; then the counts by kind.
void finish(CheckSummary& summary, qsizetype stopRow)
{
    for (qsizetype i = stopRow < 0 ? summary.rows.size() : stopRow + 1; i < summary.rows.size(); ++i)
        summary.rows[i] = CheckRow{summary.rows.at(i).file, QString(), tr("Sin llegar"),
                                   tr("la carga terminaría antes, en %1").arg(summary.rows.at(stopRow).file),
                                   CheckRow::Kind::NotReached};
    for (const CheckRow& row : std::as_const(summary.rows)) {
        switch (row.kind) {
        case CheckRow::Kind::NoPhoto: ++summary.noPhotos; break;
        case CheckRow::Kind::WouldStore: ++summary.wouldStore; break;
        case CheckRow::Kind::WouldRefuse: ++summary.wouldRefuse; break;
        case CheckRow::Kind::NotReached: ++summary.notReached; break;
        case CheckRow::Kind::Stop: break;
        }
    }
}

}  // namespace

void CheckRun::describe(CheckSummary& summary, const QStringList& names, const FolderFiles::Folder& folder,
                        MemberPhotos& members) const
{
    const QStringList& formats = m_settings.photos.formats;
    PhotoDecisions decisions(folder, m_settings.photos);
    QList<EntryDecision> photos;  // in the order the upload visits them
    QList<qsizetype> photoRows;
    qsizetype stopRow = -1;  // the row of the file the upload would end at
    for (const QString& name : names) {
        if (stopRow >= 0) {
            summary.rows.append(CheckRow{name, QString(), QString(), QString()});  // not reached
            continue;
        }
        EntryDecision decision = decisions.byName(name);
        summary.rows.append(rowByName(decision, formats));
        if (decision.kind == EntryDecision::Kind::Stop) {
            ++summary.warnings;
            stopRow = summary.rows.size() - 1;
        } else if (decision.isPhoto()) {
            photos.append(std::move(decision));
            photoRows.append(summary.rows.size() - 1);
        }
    }
    // Which members exist and have a photo: asked as the upload asks, a hundred at a time.
    QList<int32_t> photoMembers;
    for (const EntryDecision& photo : std::as_const(photos))
        photoMembers.append(photo.member);
    members.prefetch(photoMembers);
    QHash<int32_t, QList<qsizetype>> filesOfMember;
    for (qsizetype i = 0; i < photos.size() && (stopRow < 0 || photoRows.at(i) < stopRow); ++i) {
        EntryDecision& decision = photos[i];
        decisions.decideFile(decision, members, [&folder] { folder.checkAllowsRemoval(); });
        if (decision.isStored())
            filesOfMember[decision.member].append(photoRows.at(i));
        if (fillPhotoRow(summary.rows[photoRows.at(i)], decision, formats, summary.warnings))
            stopRow = photoRows.at(i);
    }
    noteSameMember(summary, filesOfMember);
    finish(summary, stopRow);
}

CheckSummary CheckRun::run()
{
    CheckSummary summary;
    try {
        const QString& folder = m_settings.folder;
        if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
            summary.end = CheckSummary::End::FolderMissing;
            return summary;
        }
        const QString installationCode = PhotoStore::checkedInstallationCode(m_settings.installationText());
        const FolderFiles::Folder photoFolder(folder);
        PhotoStore store(*m_settings.connection, installationCode, m_settings.installationText);
        QStringList names = photoFolder.fileNames();
        std::sort(names.begin(), names.end());
        describe(summary, names, photoFolder, store);
        if (m_settings.report && !m_settings.reportFolder.isEmpty()) {
            const QString dataSource = writeReportDatabase(m_settings.reportFolder + QStringLiteral("/comprobacion.db"),
                                                           folder, summary);
            m_settings.report->open(reportFile(), QString(), reportCaption(), dataSource);
        }
    } catch (const Failure& failure) {
        summary.end = CheckSummary::End::Failed;
        summary.failure = failure;
        if (m_settings.reportError)
            m_settings.reportError(failure);
    }
    return summary;
}

QString CheckRun::writeReportDatabase(const QString& path, const QString& folder, const CheckSummary& summary)
{
    return CheckReport::writeDatabase(path, folder, summary);
}
