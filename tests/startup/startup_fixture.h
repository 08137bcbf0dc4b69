#pragma once

// What the start-up tests share: a program folder of their own for Polidex.ini, a platform that
// reports that folder, recorded messages, and no connection left over from the test before.

#include "common/messages.h"
#include "common/platform.h"
#include "startup/mod_glob.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// Writes a file's bytes as they are (Windows-1252, CR LF as the suite writes them).
inline void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(bytes);
}

// A complete Polidex.ini of the suite; sid is the "Conexion"/"SID" line's value.
inline QByteArray completeIni(const QByteArray& sid)
{
    return "[Conexion]\r\n"
           "BASEDATOS=ORACLE\r\n"
           "PRVBD=OraOLEDB\r\n"
           "SID=" + sid + "\r\n"
           "SVR=SERVIDOR\r\n"
           "BD=POLIDEX\r\n"
           "[Form]\r\n"
           "Left=120\r\n"
           "Top=-45\r\n"
           "Width=9000\r\n"
           "Height=6000\r\n"
           "[Listados]\r\n"
           "RptPath=C:\\Polidex\\Listados\\\r\n"
           "[FicherosASCII]\r\n"
           "PathASCII=C:\\Polidex\\Ascii\r\n"
           "[Impresoras]\r\n"
           "ImpresoraTickets=Ticket\r\n"
           "PuertoCajon=COM1\r\n"
           "Instalacion=7\r\n"
           "[Fotos]\r\n"
           "FotoPath=C:\\Fotos\r\n"
           "DefPath=C:\\Fotos\\Defecto\r\n";
}

// A platform whose folder, names and printers a test chooses; installed while it lives.
class TestPlatform final : public Platform {
public:
    TestPlatform() { Platform::install(this); }
    ~TestPlatform() override { Platform::install(nullptr); }
    TestPlatform(const TestPlatform&) = delete;
    TestPlatform& operator=(const TestPlatform&) = delete;

    QString programFolder() const override { return folder; }
    QString computerName() const override { return computer; }
    QString userName() const override { return user; }
    QStringList installedPrinters() const override { return printers; }

    QString folder;
    QString computer = QStringLiteral("PUESTO1");
    QString user = QStringLiteral("recepcion");
    QStringList printers;
};

// One per test function: made in init(), dropped in cleanup().
class StartupFixture final {
public:
    StartupFixture()
    {
        platform.folder = QDir::toNativeSeparators(folder.path());
        Messages::install(&messages);
        ModGlob::DbConnection.reset();
    }
    ~StartupFixture()
    {
        // The connection goes before the folder that may hold its database file.
        ModGlob::DbConnection.reset();
        Messages::install(nullptr);
    }
    StartupFixture(const StartupFixture&) = delete;
    StartupFixture& operator=(const StartupFixture&) = delete;

    QString iniPath() const { return folder.filePath(QStringLiteral("Polidex.ini")); }
    void writeIni(const QByteArray& bytes) const { writeFile(iniPath(), bytes); }

    QTemporaryDir folder;  // first: the platform reports it
    TestPlatform platform;
    RecordingMessages messages;
};
