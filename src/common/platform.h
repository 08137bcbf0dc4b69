#pragma once

#include <QString>
#include <QStringList>

// What the program asks of the operating system. Tests substitute it.
class Platform {
public:
    virtual ~Platform() = default;
    // Folder that holds the program's executable, without a trailing separator.
    virtual QString programFolder() const;
    virtual QString computerName() const;
    // The logged-on user's name as the system reports it (any length).
    virtual QString userName() const;
    // Device names of the installed printers, in the system's order.
    virtual QStringList installedPrinters() const;

    static Platform& current();
    // Installs a platform (not owned); nullptr restores the real one.
    static void install(Platform* platform);
};

// Ends the program at once with an exit status; caught only in main().
struct ProgramEnd final {
    int exitStatus = 1;
};

namespace Application {
// The application title shown on the splash window and on messages without a title of their own.
QString title();
int majorVersion();
int minorVersion();
int revision();
// The platform's separator between a folder and a name ("\" on Windows, "/" elsewhere).
QChar pathSeparator();
}  // namespace Application
