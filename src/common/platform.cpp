#include "platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QPrinterInfo>
#include <QSysInfo>

namespace {
Platform* installed = nullptr;
}

QString Platform::programFolder() const
{
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
}

QString Platform::computerName() const { return QSysInfo::machineHostName(); }

QString Platform::userName() const
{
    QString name = qEnvironmentVariable("USERNAME");
    if (name.isEmpty())
        name = qEnvironmentVariable("USER");
    return name;
}

QStringList Platform::installedPrinters() const { return QPrinterInfo::availablePrinterNames(); }

Platform& Platform::current()
{
    static Platform real;
    return installed ? *installed : real;
}

void Platform::install(Platform* platform) { installed = platform; }

namespace Application {
QString title() { return QStringLiteral("Retratix"); }
int majorVersion() { return 1; }
int minorVersion() { return 0; }
int revision() { return 0; }
QChar pathSeparator() { return QDir::separator(); }
}  // namespace Application
