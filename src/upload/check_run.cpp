#include "upload/check_run.h"

#include "common/folder_files.h"
#include "common/numbers.h"
#include "photos/photo_preparation.h"
#include "startup/mod_glob.h"
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
    return tr("Comprobación: %1 archivos; se subirían %2 fotos, %3 no se subirían, %4 no son fotos, %5 avisos")
        .arg(rows.size())
        .arg(wouldStore)
        .arg(wouldRefuse)
        .arg(noPhotos)
        .arg(warnings);
}

CheckRun::CheckRun(Settings settings) : m_settings(std::move(settings))
{
    if (!m_settings.reportError)
        m_settings.reportError = [](const Failure& failure) { ModGlob::ReportError(failure); };
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
        db::Connection& connection = *m_settings.connection;
        UploadLog log(connection);  // never written: the store's refusals are not asked for
        const FolderFiles::Folder photoFolder(folder);
        PhotoStore store(connection, log, photoFolder, installationCode, m_settings.installationText,
                         m_settings.photos);
        QStringList names = photoFolder.fileNames();
        std::sort(names.begin(), names.end());
        const QStringList& formats = m_settings.photos.formats;

        struct Candidate {
            qsizetype row;
            int32_t member;
        };
        QList<Candidate> candidates;
        for (const QString& name : names) {
            CheckRow row{name, QString(), tr("No es una foto"), QString()};
            const QString code = PhotoStore::memberCode(name);
            if (!name.contains(QStringLiteral(".jpg")) && (formats.isEmpty() || !Photos::hasFormat(name, formats))) {
                row.detail = formats.isEmpty() ? tr("el nombre no contiene «.jpg»")
                                               : tr("el nombre no tiene «.jpg» ni otro formato de los admitidos");
            } else if (!Numbers::isNumeric(code)) {
                row.detail = tr("«%1», lo que precede al primer punto, no es un código de abonado").arg(code);
            } else if (const FolderFiles::EntryKind kind = photoFolder.entryKind(name);
                       kind != FolderFiles::EntryKind::RegularFile) {
                row.detail = kind == FolderFiles::EntryKind::Link
                                 ? tr("es un enlace a otro archivo, que podría estar fuera de la carpeta")
                                 : tr("no es un archivo que se pueda leer (una carpeta o una tubería)");
            } else {
                try {
                    candidates.append({summary.rows.size(), Numbers::toInt32(code)});
                } catch (const Failure& failure) {
                    row.outcome = tr("Fin de la carga");
                    row.detail = tr("el código no cabe en 32 bits: la carga terminaría aquí (error %1: %2)")
                                     .arg(failure.number)
                                     .arg(failure.description);
                    ++summary.warnings;
                }
            }
            if (row.outcome == tr("No es una foto"))
                ++summary.noPhotos;
            summary.rows.append(row);
        }

        // Which members exist and have a photo: asked as the upload asks, a hundred at a time.
        QList<int32_t> members;
        for (const Candidate& candidate : candidates)
            members.append(candidate.member);
        store.prefetch(members);
        QHash<int32_t, QList<qsizetype>> filesOfMember;
        for (const Candidate& candidate : candidates) {
            CheckRow& row = summary.rows[candidate.row];
            if (!store.MemberExists(candidate.member)) {
                row.stored = UploadLog::notStored();
                row.outcome = UploadLog::memberMissing();
                ++summary.wouldRefuse;
                continue;
            }
            filesOfMember[candidate.member].append(candidate.row);
            PhotoFile photo;
            try {
                photo = readPhotoFile(photoFolder, row.file, m_settings.photos);
                if (photo.verdict == PhotoFile::Verdict::Store)
                    photoFolder.checkRemovable(row.file);
            } catch (const Failure& failure) {
                row.outcome = tr("Fin de la carga");
                row.detail = tr("la carga terminaría aquí (error %1: %2)").arg(failure.number).arg(failure.description);
                ++summary.warnings;
                continue;
            }
            const QString said = nameFormat(row.file, formats);
            const QString is = contentFormat(photo.snapshot.size > 0 ? photo.bytes.left(16) : QByteArray());
            if (photo.verdict == PhotoFile::Verdict::TooLarge) {
                row.stored = UploadLog::notStored();
                row.outcome = UploadLog::sizeNotAllowed();
                ++summary.wouldRefuse;
                continue;
            }
            if (photo.verdict == PhotoFile::Verdict::NotValid) {
                row.stored = UploadLog::notStored();
                row.outcome = UploadLog::photoNotValid();
                row.detail = tr("no es una imagen que el programa sepa leer");
                ++summary.wouldRefuse;
                continue;
            }
            if (!photo.converted() && is != said) {
                appendDetail(row, is.isEmpty() ? tr("el contenido no es una imagen %1").arg(said)
                                               : tr("el contenido es %1, no %2").arg(is, said));
                ++summary.warnings;
            }
            if (photo.converted())
                appendDetail(row, tr("se guardaría ajustada: %1 x %2, calidad %3, %4 bytes")
                                      .arg(photo.prepared.size.width())
                                      .arg(photo.prepared.size.height())
                                      .arg(photo.prepared.quality)
                                      .arg(photo.prepared.bytes.size()));
            row.stored = UploadLog::stored();
            // A second file of the member updates what the first inserted, as in the upload.
            row.outcome = store.PhotoExists(candidate.member) ? UploadLog::photoUpdated() : UploadLog::photoInserted();
            store.markPhotoStored(candidate.member);
            ++summary.wouldStore;
        }
        // Several files of one member: each replaces the one before; the last visited stays.
        for (const QList<qsizetype>& rows : std::as_const(filesOfMember)) {
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

        if (m_settings.report && !m_settings.reportFolder.isEmpty()) {
            const QString dataSource = writeReportDatabase(m_settings.reportFolder + QStringLiteral("/comprobacion.db"),
                                                           folder, summary);
            m_settings.report->open(reportFile(), QString(), reportCaption(), dataSource);
        }
    } catch (const Failure& failure) {
        summary.end = CheckSummary::End::Failed;
        summary.failure = failure;
        m_settings.reportError(failure);
    }
    return summary;
}

QString CheckRun::writeReportDatabase(const QString& path, const QString& folder, const CheckSummary& summary)
{
    return CheckReport::writeDatabase(path, folder, summary);
}
