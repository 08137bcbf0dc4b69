#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// Writes a configuration file's bytes as they are (Windows-1252, CR LF as the suite writes them).
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
