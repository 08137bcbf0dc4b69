#pragma once

#include "common/failure.h"
#include "common/fixed_text.h"
#include "db/connection.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>

// The program's global state and its configuration, connection and error routines; its start-up
// sequence and window routines are in startup_windows/.
namespace ModGlob {

// Whole path of the configuration file (not cut: a program in a deep folder must still find it).
inline QString IniFilePath;
inline QString DatabaseType;
inline FixedText<30> DbProvider;
// Whole value (not cut): the width a service name needed would cut a URL and its options.
inline QString DatabaseSid;
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
// Whole value (not cut): it ends with the data source.
inline QString DbConnectionString;
inline std::unique_ptr<db::Connection> DbConnection;
inline FixedText<40> InstallationName;

// The built-in database account.
QString builtInUser();
QString builtInPassword();

// The name of the configuration file in the program's folder.
inline constexpr QLatin1String IniFileName{"Polidex.ini"};

// Reads one value of an initialisation file: section and key names without regard to case, the
// first section and the first key of a name win, the value without the blanks around it and
// without matching quotes, cut at 254 characters; the default when the file, section or key is
// missing or the value is empty. The file's text is Windows-1252.
QString ReadIniValue(const QString& file, const QString& section, const QString& key, const QString& defaultValue);
// The same lookup in the bytes of a file already read.
QString ReadIniText(const QByteArray& content, const QString& section, const QString& key, const QString& defaultValue);
// Fills the globals from the configuration file and the platform. A failed conversion of an
// integer key (6 overflow, 13 type mismatch) passes to the caller.
void LoadConfiguration();
// Loads the configuration and opens DbConnection. When no connection can be had it shows its
// message and throws ProgramEnd.
void ConnectDatabase();
// Why the last open of ConnectDatabase failed (the engine's or the layer's description, never a
// password), empty when it did not. The message the program ends with names no cause; the
// description also goes to standard error, for the administrator.
QString ConnectionFailureReason();
// Opens DbConnection anew with the connection string of start-up, after it was lost (a watched
// folder outlives a database that is away for a while). False, with no message, when it cannot.
bool ReconnectDatabase();
// Shows the failure being handled in the program's common format: a fixed sentence for five
// provider failures, otherwise its number, source and description.
void ReportError(const Failure& failure);

}  // namespace ModGlob
