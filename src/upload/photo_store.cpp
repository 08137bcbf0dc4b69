#include "upload/photo_store.h"

#include "common/failure.h"
#include "common/numbers.h"
#include "common/platform.h"
#include "db/data_source.h"
#include "db/recordset.h"

#include <QRegularExpression>

#include <limits>

namespace {

bool isPlainDigits(const QString& text)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    return digits.match(text).hasMatch();
}

// Which of a hundred members exist (1) and which have a photo (2) at the installation, in one query.
QString existenceSql()
{
    QStringList marks;
    for (int i = 0; i < PhotoStore::MembersPerQuery; ++i)
        marks.append(QStringLiteral("?"));
    const QString members = marks.join(QStringLiteral(", "));
    return QStringLiteral("SELECT 1, CODIGO FROM ABONADOS WHERE CODINSTALACION=? AND CODIGO IN (%1) "
                          "UNION ALL SELECT 2, CODIGO FROM ABONADOSFOTOS WHERE CODINSTALACION=? AND CODIGO IN (%1)")
        .arg(members);
}

}  // namespace

PhotoStore::PhotoStore(db::Connection& connection, QString installationCode,
                       std::function<QString()> currentInstallationText)
    : m_connection(connection),
      m_installationCode(checkedInstallationCode(installationCode)),
      m_currentInstallationText(std::move(currentInstallationText)),
      m_existence(connection, existenceSql()),
      m_insert(connection, QStringLiteral("INSERT INTO ABONADOSFOTOS (Codigo, Codinstalacion, filename, filesize, foto) "
                                          "VALUES (?, ?, ?, ?, ?)")),
      m_update(connection, QStringLiteral("UPDATE ABONADOSFOTOS SET Codinstalacion = ?, filename = ?, filesize = ?, "
                                          "foto = ? WHERE ") +
                               db::firstRowOnly(connection, QStringLiteral("ABONADOSFOTOS"),
                                                QStringLiteral("CODINSTALACION = ? AND CODIGO = ?")))
{
    if (!m_currentInstallationText)
        m_currentInstallationText = [code = m_installationCode] { return code; };
    const QString photos = QStringLiteral("ABONADOSFOTOS");
    m_insert.convertForColumns(photos, {QStringLiteral("Codigo"), QStringLiteral("Codinstalacion"),
                                        QStringLiteral("filename"), QStringLiteral("filesize"), QStringLiteral("foto")});
    // The code text "007" reaches CODIGO, written or compared, as the column's type has it.
    m_update.convertForColumns(photos, {QStringLiteral("Codinstalacion"), QStringLiteral("filename"),
                                        QStringLiteral("filesize"), QStringLiteral("foto"),
                                        QStringLiteral("CODINSTALACION"), QStringLiteral("CODIGO")});
    // No row to change: as a recordset without a current row refuses the first assignment.
    m_update.setRowsMismatchFailure(
        Failure(db::LayerError::NoCurrentRecord, QStringLiteral("Retratix"),
                QStringLiteral("BOF o EOF es True, o el registro actual se eliminó. La operación solicitada requiere "
                               "un registro actual.")));
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

void PhotoStore::prefetch(const QList<int32_t>& memberNumbers)
{
    m_asked.clear();
    m_members.clear();
    m_photos.clear();
    ask(memberNumbers);
}

void PhotoStore::ask(const QList<int32_t>& memberNumbers)
{
    const qlonglong installation = m_installationCode.toLongLong();
    for (qsizetype first = 0; first < memberNumbers.size(); first += MembersPerQuery) {
        const QList<int32_t> chunk = memberNumbers.mid(first, MembersPerQuery);
        QVariantList members;
        for (int i = 0; i < MembersPerQuery; ++i)
            members.append(chunk.at(qMin<qsizetype>(i, chunk.size() - 1)));  // the last one repeated
        m_existence.execute(QVariantList{installation} + members + QVariantList{installation} + members);
        for (const QVariantList& row : m_existence.rows())
            (row.at(0).toInt() == 1 ? m_members : m_photos).insert(row.at(1).toInt());
        for (int32_t number : chunk)
            m_asked.insert(number);
    }
}

bool PhotoStore::memberExists(int32_t memberNumber)
{
    if (!m_asked.contains(memberNumber))
        ask({memberNumber});
    return m_members.contains(memberNumber);
}

bool PhotoStore::photoExists(int32_t memberNumber)
{
    if (!m_asked.contains(memberNumber))
        ask({memberNumber});
    return m_photos.contains(memberNumber);
}

void PhotoStore::insertPhoto(const QString& installationCode, const QString& fileName, const QByteArray& bytes)
{
    const QString code = checkedInstallationCode(installationCode);
    m_insert.queue({memberCodeForSql(fileName), code, fileName, int32_t(bytes.size()), bytes}, 1);
}

void PhotoStore::updatePhoto(const QString& installationCode, const QString& fileName, const QByteArray& bytes)
{
    const QString code = checkedInstallationCode(installationCode);
    // The first row found is changed (CODIGO stays); with none, the update fails.
    m_update.queue({m_currentInstallationText(), fileName, int32_t(bytes.size()), bytes, code, memberCodeForSql(fileName)},
                   1);
}
