#include "upload/photo_store.h"

#include "common/failure.h"
#include "common/numbers.h"
#include "common/platform.h"
#include "db/recordset.h"
#include "upload/upload_log.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <limits>

namespace {

bool isPlainDigits(const QString& text)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    return digits.match(text).hasMatch();
}

}  // namespace

PhotoStore::PhotoStore(db::Connection& connection, UploadLog& log, QString folder, QString installationCode,
                       std::function<QString()> currentInstallationText)
    : m_connection(connection),
      m_log(log),
      m_folder(std::move(folder)),
      m_installationCode(checkedInstallationCode(installationCode)),
      m_currentInstallationText(std::move(currentInstallationText))
{
    if (!m_currentInstallationText)
        m_currentInstallationText = [code = m_installationCode] { return code; };
}

QString PhotoStore::photoFilePath(const QString& folder, const QString& fileName)
{
    const QChar separator = Application::pathSeparator();
    // A drive root already ends with the separator.
    if (folder.endsWith(separator) || folder.endsWith(QLatin1Char('/')))
        return folder + fileName;
    return folder + separator + fileName;
}

QString PhotoStore::memberCode(const QString& fileName)
{
    const qsizetype dot = fileName.indexOf(QLatin1Char('.'));
    return dot < 0 ? fileName : fileName.left(dot);
}

QString PhotoStore::memberCodeForSql(const QString& fileName)
{
    const QString code = memberCode(fileName);
    if (isPlainDigits(code))
        return code;
    return QString::number(Numbers::toInt32(code));
}

QString PhotoStore::checkedInstallationCode(const QString& text)
{
    static const QRegularExpression wholeNumber(QStringLiteral("^-?[0-9]{1,10}$"));
    bool ok = false;
    const qlonglong value = wholeNumber.match(text).hasMatch() ? text.toLongLong(&ok) : 0;
    if (!ok || value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
        throw RuntimeError::failure(RuntimeError::TypeMismatch);
    return text;
}

bool PhotoStore::exists(const QString& table, int32_t memberNumber)
{
    db::Recordset rs;
    rs.open(QStringLiteral("SELECT CODIGO FROM ") + table + QStringLiteral(" WHERE CODINSTALACION=") +
                m_installationCode + QStringLiteral(" AND CODIGO = ") + QString::number(memberNumber),
            m_connection, 3, 3, -1);
    return !rs.bof() && !rs.eof();
}

bool PhotoStore::MemberExists(int32_t memberNumber) { return exists(QStringLiteral("ABONADOS"), memberNumber); }

bool PhotoStore::PhotoExists(int32_t memberNumber) { return exists(QStringLiteral("ABONADOSFOTOS"), memberNumber); }

bool PhotoStore::refusedForSize(const QString& runUser, const QString& fileName, qint64 size)
{
    if (size < PhotoSizeLimit)
        return false;
    m_log.WriteLogRow(runUser, fileName, UploadLog::notStored(), UploadLog::sizeNotAllowed());
    return true;
}

bool PhotoStore::loadPhoto(const QString& runUser, const QString& fileName, db::Stream& stream)
{
    const QString path = photoFilePath(m_folder, fileName);
    // The size comes from the file system, so a large file is refused without being read.
    if (refusedForSize(runUser, fileName, QFileInfo(path).size()))
        return false;
    stream.setType(1);
    stream.open(0, -1);
    stream.loadFromFile(path, PhotoSizeLimit);
    m_lastSnapshot = stream.fileSnapshot();
    // The file may have grown since it was measured.
    return !refusedForSize(runUser, fileName, stream.beyondLimit() ? PhotoSizeLimit : stream.size());
}

void PhotoStore::savePhotoRow(db::Recordset& rs, const QString& installationCode, const QString& fileName,
                              db::Stream& stream)
{
    rs.setCollect(QStringLiteral("Codinstalacion"), installationCode);
    rs.setCollect(QStringLiteral("filename"), fileName);
    rs.setCollect(QStringLiteral("filesize"), stream.size());
    rs.setCollect(QStringLiteral("foto"), stream.read(-1));
    rs.update();
    stream.close();
    rs.close();
}

PhotoStore::Outcome PhotoStore::InsertPhoto(const QString& runUser, const QString& installationCode,
                                            const QString& fileName)
{
    const QString code = checkedInstallationCode(installationCode);
    db::Stream stream;
    if (!loadPhoto(runUser, fileName, stream))
        return Outcome::SizeRefused;

    db::Recordset rs;
    rs.open(QStringLiteral("SELECT * FROM ABONADOSFOTOS WHERE CODINSTALACION = -1"), m_connection, 3, 3, -1);
    rs.addNew();
    rs.setCollect(QStringLiteral("Codigo"), memberCodeForSql(fileName));
    savePhotoRow(rs, code, fileName, stream);

    m_log.WriteLogRow(runUser, fileName, UploadLog::stored(), UploadLog::photoInserted());
    return Outcome::Inserted;
}

PhotoStore::Outcome PhotoStore::UpdatePhoto(const QString& runUser, const QString& installationCode,
                                            const QString& fileName)
{
    const QString code = checkedInstallationCode(installationCode);
    db::Stream stream;
    if (!loadPhoto(runUser, fileName, stream))
        return Outcome::SizeRefused;

    db::Recordset rs;
    rs.open(QStringLiteral("SELECT * FROM ABONADOSFOTOS WHERE CODINSTALACION = ") + code +
                QStringLiteral(" AND CODIGO = ") + memberCodeForSql(fileName),
            m_connection, 3, 3, -1);
    // The first row found is changed (CODIGO stays); with none, the first assignment fails.
    savePhotoRow(rs, m_currentInstallationText(), fileName, stream);

    m_log.WriteLogRow(runUser, fileName, UploadLog::stored(), UploadLog::photoUpdated());
    return Outcome::Updated;
}
