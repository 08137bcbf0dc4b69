#pragma once

#include "db/statement.h"
#include "upload/photo_decisions.h"

#include <QList>
#include <QSet>
#include <QString>

#include <cstdint>
#include <functional>

namespace db {
class Connection;
}

// The member checks and the photo rows of ABONADOSFOTOS for one installation. Every database
// failure passes to the caller. Rows are written at once, or with the connection's open batch.
class PhotoStore final : public MemberPhotos {
public:
    // Files of this many bytes or more are refused.
    static constexpr qint64 PhotoSizeLimit = 150000;
    // Members one existence query asks about.
    static constexpr int MembersPerQuery = 100;

    // installationCode: the checked text of the installation code (see checkedInstallationCode).
    // currentInstallationText: what the window's code box holds when an update writes it;
    // the checked code when none is given.
    PhotoStore(db::Connection& connection, QString installationCode,
               std::function<QString()> currentInstallationText = {});

    // Answers memberExists and photoExists for these members from one query per hundred (one round
    // trip to a server) instead of two per member; other members are asked about when needed.
    void prefetch(const QList<int32_t>& memberNumbers) override;
    bool memberExists(int32_t memberNumber) override;
    bool photoExists(int32_t memberNumber) override;

    // The photo row of fileName's member: a new one, or the first one found changed (CODIGO stays).
    void insertPhoto(const QString& installationCode, const QString& fileName, const QByteArray& bytes);
    void updatePhoto(const QString& installationCode, const QString& fileName, const QByteArray& bytes);

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

    db::Connection& m_connection;
    QString m_installationCode;
    std::function<QString()> m_currentInstallationText;
    db::Statement m_existence;
    db::Statement m_insert;
    db::Statement m_update;
    QSet<int32_t> m_asked;
    QSet<int32_t> m_members;
    QSet<int32_t> m_photos;
};
