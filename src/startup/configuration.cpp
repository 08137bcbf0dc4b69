#include "mod_glob.h"
#include "windows_1252.h"

#include "common/numbers.h"
#include "common/platform.h"
#include "common/text.h"

#include <QFile>
#include <QRegularExpression>

#include <optional>

namespace ModGlob {
namespace {

// The longest value the reader returns: its buffer holds 255 characters with the final NUL.
constexpr qsizetype MaxValueLength = 254;

// Lines, names and values lose the blanks and tabs around them.
QString trimmedLine(QStringView line) { return trimEnds(line, u" \t").toString(); }

QString withoutMatchingQuotes(const QString& value)
{
    if (value.size() >= 2 && value.front() == value.back()
        && (value.front() == QLatin1Char('"') || value.front() == QLatin1Char('\'')))
        return value.mid(1, value.size() - 2);
    return value;
}

// The value of key in the first section called section, or nothing.
std::optional<QString> findValue(const QString& text, const QString& section, const QString& key)
{
    enum class Place { BeforeSection, InSection, PastSection };
    Place place = Place::BeforeSection;
    const auto lines = QStringView(text).split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
    for (const QStringView rawLine : lines) {
        const QString line = trimmedLine(rawLine);
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            if (place == Place::InSection)
                return std::nullopt;  // only the first section of the name counts
            const qsizetype close = line.indexOf(QLatin1Char(']'));
            const QString name = trimmedLine(QStringView(line).mid(1, close < 0 ? -1 : close - 1));
            if (name.compare(section, Qt::CaseInsensitive) == 0)
                place = Place::InSection;
            continue;
        }
        if (place != Place::InSection)
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            continue;
        if (trimmedLine(QStringView(line).left(equals)).compare(key, Qt::CaseInsensitive) == 0)
            return withoutMatchingQuotes(trimmedLine(QStringView(line).mid(equals + 1)));
    }
    return std::nullopt;
}

// The name the platform reports, if it fits a buffer of N characters with its final NUL.
// One that does not fit leaves the buffer as it was before the call, all NULs: the empty text.
template <int N>
void storeSystemName(FixedText<N>& variable, QString name)
{
    name.remove(QChar(0));
    variable = name.size() < N ? name : QString();
}

// The value as the file holds it, however long: the data source, a URL with its options, is
// never cut (the 254 characters of the classic reader included).
QString readWholeValue(const QString& file, const QString& section, const QString& key)
{
    QFile ini(file);
    if (!ini.open(QIODevice::ReadOnly))
        return {};
    return findValue(decodeWindows1252(ini.readAll()), section, key).value_or(QString());
}

}  // namespace

QString ReadIniValue(const QString& file, const QString& section, const QString& key, const QString& defaultValue)
{
    QFile ini(file);
    if (!ini.open(QIODevice::ReadOnly))
        return defaultValue;
    return ReadIniText(ini.readAll(), section, key, defaultValue);
}

QString ReadIniText(const QByteArray& content, const QString& section, const QString& key, const QString& defaultValue)
{
    const auto value = findValue(decodeWindows1252(content), trimmedLine(section), trimmedLine(key));
    if (!value || value->isEmpty())
        return defaultValue;
    return value->left(MaxValueLength);
}

void LoadConfiguration()
{
    const Platform& platform = Platform::current();
    IniFilePath = platform.programFolder() + Application::pathSeparator() + IniFileName;
    const auto read = [](const char* section, const char* key) {
        return ReadIniValue(IniFilePath, QLatin1String(section), QLatin1String(key), QString());
    };

    DatabaseType = read("Conexion", "BASEDATOS");
    DbProvider = read("Conexion", "PRVBD");
    DatabaseSid = readWholeValue(IniFilePath, QStringLiteral("Conexion"), QStringLiteral("SID"));
    ServerName = read("Conexion", "SVR");
    DatabaseName = read("Conexion", "BD");
    storeSystemName(ComputerName, platform.computerName());
    storeSystemName(UserName, platform.userName());
    DatabasePassword = QString();
    // Nothing reads the Form keys, but their conversions can stop the start.
    FormLeft = Numbers::toInt16(read("Form", "Left"));
    FormTop = Numbers::toInt16(read("Form", "Top"));
    FormWidth = Numbers::toInt16(read("Form", "Width"));
    FormHeight = Numbers::toInt16(read("Form", "Height"));
    ReportFolder = read("Listados", "RptPath");
    AsciiFolder = read("FicherosASCII", "PathASCII");
    TicketPrinter = read("Impresoras", "ImpresoraTickets");
    CashDrawerPort = read("Impresoras", "PuertoCajon");
    // The suite keeps the installation code in the printers' section.
    InstallationCode = Numbers::toInt16(read("Impresoras", "Instalacion"));
    PhotoFolder = read("Fotos", "FotoPath");
    DefaultPhotoFolder = read("Fotos", "DefPath");

    const QStringList printers = platform.installedPrinters();
    const QString wanted = TicketPrinter.trimmed();
    TicketPrinterIndex = 0;
    while (TicketPrinterIndex < printers.size() && printers.at(TicketPrinterIndex) != wanted)
        ++TicketPrinterIndex;
}

}  // namespace ModGlob
