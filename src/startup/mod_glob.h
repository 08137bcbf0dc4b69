#pragma once

#include "common/fixed_text.h"
#include "db/connection.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class QWidget;

// The program's global state and its start-up, configuration, connection and error routines.
namespace ModGlob {

// Whole path of the configuration file (not cut: a program in a deep folder must still find it).
inline QString IniFilePath;
inline QString DatabaseType;
inline FixedText<30> DbProvider;
inline FixedText<100> DatabaseSid;
inline FixedText<15> ServerName;
inline FixedText<75> DatabaseName;
inline FixedText<35> ComputerName;
inline FixedText<15> UserName;
inline FixedText<15> DatabasePassword;
inline int16_t FormLeft = 0;
inline int16_t FormTop = 0;
inline int16_t FormWidth = 0;
inline int16_t FormHeight = 0;
// Whole value (not cut): the report file name is appended to it directly.
inline QString ReportFolder;
inline FixedText<75> AsciiFolder;
inline FixedText<50> TicketPrinter;
inline FixedText<5> CashDrawerPort;
inline int16_t InstallationCode = 0;
inline FixedText<75> PhotoFolder;
inline FixedText<75> DefaultPhotoFolder;
inline int32_t TicketPrinterIndex = 0;
inline FixedText<200> DbConnectionString;
inline std::unique_ptr<db::Connection> DbConnection;
inline FixedText<40> InstallationName;

// The built-in database account.
QString builtInUser();
QString builtInPassword();

// Reads one value of an initialisation file (see configuration.cpp for the reader's contract).
QString ReadIniValue(const QString& file, const QString& section, const QString& key, const QString& defaultValue);
void LoadConfiguration();
void ConnectDatabase();
// Shows the failure being handled in the program's common format.
void ReportError(const Failure& failure);
void CenterWindow(QWidget& window);

// Opens the connection, shows the splash, then the window that showMainWindow opens.
void StartUp(const std::function<void()>& showMainWindow);

}  // namespace ModGlob
