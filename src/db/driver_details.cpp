#include "db/driver_details.h"

#include <QDate>
#include <QLibrary>
#include <QSqlDriver>
#include <QSqlResult>
#include <QVariant>

#include <sqlite3.h>

namespace db::detail {

namespace {

// The one ODBC call the layer makes itself, resolved from the driver manager that Qt's ODBC
// driver has already loaded (no ODBC headers or link-time dependency needed).
using SqlGetDiagRec = short (*)(short handleType, void* handle, short record, unsigned char* state,
                                int* nativeError, unsigned char* message, short bufferLength, short* textLength);
constexpr short SqlHandleStmt = 3;

SqlGetDiagRec odbcGetDiagRec()
{
    static const SqlGetDiagRec function = [] {
#ifdef Q_OS_WIN
        QLibrary library(QStringLiteral("odbc32"));
#else
        QLibrary library(QStringLiteral("odbc"), 2);
#endif
        return reinterpret_cast<SqlGetDiagRec>(library.resolve("SQLGetDiagRec"));
    }();
    return function;
}

void* handleOf(const QVariant& handle)
{
    return handle.isValid() && handle.constData() ? *static_cast<void* const*>(handle.constData()) : nullptr;
}

// The statement's first diagnostic state ("23505"), while the driver still holds it.
QString odbcSqlState(const QSqlQuery& query)
{
    const SqlGetDiagRec getDiagRec = odbcGetDiagRec();
    const QSqlResult* result = query.result();
    void* statement = result ? handleOf(result->handle()) : nullptr;
    if (!getDiagRec || !statement)
        return {};
    unsigned char state[6] = {};
    int nativeError = 0;
    short length = 0;
    const short rc = getDiagRec(SqlHandleStmt, statement, 1, state, &nativeError, nullptr, 0, &length);
    if (rc != 0 && rc != 1)
        return {};
    return QString::fromLatin1(reinterpret_cast<const char*>(state), 5);
}

sqlite3* sqliteHandle(const QSqlDatabase& database)
{
    const QVariant handle = database.driver()->handle();
    if (qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return static_cast<sqlite3*>(handleOf(handle));
}

void toDate(sqlite3_context* context, int argc, sqlite3_value** argv)
{
    if (argc != 2 || sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    const auto text = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_value_text(argv[0])));
    const auto format = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_value_text(argv[1])));
    const QByteArray iso = isoDateFromFormat(text, format).toUtf8();
    if (iso.isEmpty()) {
        // As the server engines do: a text that is not a date in the format is an error, not a NULL.
        const QByteArray message = QStringLiteral("TO_DATE: '%1' is not a date in the format '%2'")
                                       .arg(text, format)
                                       .toUtf8();
        sqlite3_result_error(context, message.constData(), static_cast<int>(message.size()));
        return;
    }
    sqlite3_result_text(context, iso.constData(), static_cast<int>(iso.size()), SQLITE_TRANSIENT);
}

}  // namespace

QSqlError queryError(const QSqlQuery& query, const QSqlDatabase& database)
{
    const QSqlError error = query.lastError();
    const QString driver = database.driverName();
    if (driver == QLatin1String("QODBC")) {
        const QString state = odbcSqlState(query);
        if (!state.isEmpty())
            return QSqlError(error.driverText(), error.databaseText(), error.type(), state);
    } else if (driver == QLatin1String("QSQLITE")) {
        // Qt reports the primary code; the extended one tells a type refusal from a key violation.
        if (sqlite3* handle = sqliteHandle(database)) {
            const int extended = sqlite3_extended_errcode(handle);
            bool ok = false;
            const int reported = error.nativeErrorCode().toInt(&ok);
            if (ok && (extended & 0xff) == (reported & 0xff))
                return QSqlError(error.driverText(), error.databaseText(), error.type(),
                                 QString::number(extended));
        }
    }
    return error;
}

int syncSqliteLog(QSqlDatabase& database)
{
    sqlite3* handle = sqliteHandle(database);
    if (!handle)
        return SQLITE_MISUSE;
    sqlite3_mutex_enter(sqlite3_db_mutex(handle));
    sqlite3_file* log = nullptr;
    int rc = sqlite3_file_control(handle, "main", SQLITE_FCNTL_JOURNAL_POINTER, &log);
    // The log is synced whole: its header, every committed frame, and (when the log was new)
    // the folder entry that names it.
    if (rc == SQLITE_OK && log && log->pMethods)
        rc = log->pMethods->xSync(log, SQLITE_SYNC_NORMAL);
    sqlite3_mutex_leave(sqlite3_db_mutex(handle));
    return rc;
}

void registerSqliteFunctions(QSqlDatabase& database)
{
    sqlite3* handle = sqliteHandle(database);
    if (!handle)
        return;
    sqlite3_create_function_v2(handle, "TO_DATE", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, &toDate, nullptr,
                               nullptr, nullptr);
}

QString isoDateFromFormat(const QString& text, const QString& format)
{
    const QString value = text.trimmed();
    const QString pattern = format.trimmed().toUpper();
    int year = -1;
    int month = -1;
    int day = -1;
    qsizetype v = 0;
    qsizetype p = 0;
    auto readNumber = [&](int maxDigits, int& target) {
        qsizetype digits = 0;
        int number = 0;
        while (v < value.size() && digits < maxDigits && value.at(v).isDigit()) {
            number = number * 10 + value.at(v).digitValue();
            ++v;
            ++digits;
        }
        if (digits == 0)
            return false;
        target = number;
        return true;
    };
    while (p < pattern.size()) {
        if (pattern.mid(p, 4) == QLatin1String("YYYY")) {
            if (!readNumber(4, year))
                return {};
            p += 4;
        } else if (pattern.mid(p, 2) == QLatin1String("MM")) {
            if (!readNumber(2, month))
                return {};
            p += 2;
        } else if (pattern.mid(p, 2) == QLatin1String("DD")) {
            if (!readNumber(2, day))
                return {};
            p += 2;
        } else if (pattern.at(p).isLetterOrNumber()) {
            return {};  // a format element this function does not know
        } else {
            if (v >= value.size() || value.at(v).isLetterOrNumber())
                return {};
            ++v;
            ++p;
        }
    }
    const QDate date(year, month, day);
    if (v != value.size() || year < 0 || !date.isValid())
        return {};
    return date.toString(Qt::ISODate);
}

}  // namespace db::detail
