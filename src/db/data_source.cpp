#include "db/data_source.h"

#include "common/platform.h"
#include "db/driver_details.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>

#include <sqlite3.h>

namespace db {

namespace {

Failure openFailure(const QString& source, const QString& description)
{
    return Failure(ProviderError::ErrorsOccurred, source, description);
}

// A failed open leaves no connection behind under that name.
[[noreturn]] void failOpen(QSqlDatabase& database, const QString& connectionName, const Failure& failure)
{
    database.close();
    database = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName);
    throw failure;
}

void runPragma(QSqlDatabase& database, const QString& connectionName, const QString& pragma, QString* result = nullptr)
{
    QSqlQuery query(database);
    if (!query.exec(pragma)) {
        const Failure failure = failureFromSqlError(detail::queryError(query, database), database.driverName());
        query = QSqlQuery();
        failOpen(database, connectionName, failure);
    }
    if (result && query.next())
        *result = query.value(0).toString();
}

QSqlDatabase openSqlite(const QString& connectionName, const DataSource& source)
{
    const QFileInfo file(source.path);
    if (!file.absoluteDir().exists())
        throw openFailure(QStringLiteral("QSQLITE"),
                          QStringLiteral("No existe la carpeta de la base de datos: ") +
                              QDir::toNativeSeparators(file.absolutePath()));
    // Opening never creates a file: a mistyped path must not start an empty database.
    // The URI's mode=rw makes SQLite itself refuse a file that vanishes after this check.
    if (!file.exists())
        throw openFailure(QStringLiteral("QSQLITE"), QStringLiteral("No existe el archivo de base de datos: ") +
                                                         QDir::toNativeSeparators(file.absoluteFilePath()));

    QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    QUrl uri = QUrl::fromLocalFile(file.absoluteFilePath());
    uri.setQuery(QStringLiteral("mode=rw"));
    database.setDatabaseName(uri.toString(QUrl::FullyEncoded));
    database.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=5000"));
    if (!database.open())
        failOpen(database, connectionName, failureFromSqlError(database.lastError(), QStringLiteral("QSQLITE")));

    // Durability: in WAL mode with synchronous=NORMAL a returned commit is atomic and consistent,
    // and reaches the disk when Connection::makeCommittedDurable() syncs the log. Where WAL is not
    // possible (some network file systems), FULL makes every commit durable.
    // The mode is asked first: a file already in WAL needs no change, and the change (which needs
    // the database to itself) is only tried; another program reading a database in the older
    // journal mode makes it fail, and the connection then works in that mode.
    QString mode;
    runPragma(database, connectionName, QStringLiteral("PRAGMA journal_mode"), &mode);
    if (mode.compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
        QSqlQuery change(database);
        if (change.exec(QStringLiteral("PRAGMA journal_mode=WAL")) && change.next())
            mode = change.value(0).toString();
    }
    if (mode.compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0)
        runPragma(database, connectionName, QStringLiteral("PRAGMA synchronous=NORMAL"));
    else
        runPragma(database, connectionName, QStringLiteral("PRAGMA synchronous=FULL"));
    runPragma(database, connectionName, QStringLiteral("PRAGMA foreign_keys=ON"));
    detail::registerSqliteFunctions(database);
    return database;
}

QSqlDatabase openPostgres(const QString& connectionName, const DataSource& source, const QString& userId,
                          const QString& password, int timeoutSeconds)
{
    if (!detail::postgresAvailable())
        throw openFailure(QStringLiteral("Retratix"),
                          QStringLiteral("Esta versión del programa no se conecta directamente a PostgreSQL "
                                         "(postgresql://); use un origen de datos ODBC (odbc:NOMBRE) con el "
                                         "controlador ODBC de PostgreSQL."));
    QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName);
    database.setHostName(source.host);
    database.setPort(source.port);
    database.setDatabaseName(source.database);
    database.setUserName(source.user.isEmpty() ? userId : source.user);
    database.setPassword(source.user.isEmpty() ? password : source.password);
    // libpq waits at least 2 seconds.
    QStringList options{QStringLiteral("connect_timeout=%1").arg(qMax(timeoutSeconds, 2))};
    if (!source.options.isEmpty())
        options.append(source.options);
    database.setConnectOptions(options.join(QLatin1Char(';')));
    if (!database.open())
        failOpen(database, connectionName, failureFromSqlError(database.lastError(), QStringLiteral("QPSQL")));
    // A returned commit is on the server's disk, whatever the server's own default says.
    runPragma(database, connectionName, QStringLiteral("SET synchronous_commit TO on"));
    return database;
}

QSqlDatabase openOdbc(const QString& connectionName, const QString& dsn, const QString& userId,
                      const QString& password, int timeoutSeconds)
{
    QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), connectionName);
    database.setDatabaseName(dsn);
    database.setUserName(userId);
    database.setPassword(password);
    database.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1").arg(timeoutSeconds));
    if (!database.open())
        failOpen(database, connectionName, failureFromSqlError(database.lastError(), QStringLiteral("QODBC")));
    return database;
}

QSqlDatabase openOracle(const QString& connectionName, const QString& service, const QString& userId,
                        const QString& password, int timeoutSeconds)
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QOCI"))) {
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QODBC")))
            throw openFailure(QStringLiteral("Retratix"),
                              QStringLiteral("No hay controlador de Oracle ni de ODBC para el servicio ") + service);
        return openOdbc(connectionName, service, userId, password, timeoutSeconds);
    }
    QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QOCI"), connectionName);
    database.setDatabaseName(service);
    database.setUserName(userId);
    database.setPassword(password);
    if (!database.open())
        failOpen(database, connectionName, failureFromSqlError(database.lastError(), QStringLiteral("QOCI")));
    return database;
}

int32_t numberForSqlState(const QString& state)
{
    if (state.startsWith(QLatin1String("23")))
        return ProviderError::IntegrityViolation;
    if (state == QLatin1String("42501") || state.startsWith(QLatin1String("28")))
        return ProviderError::PermissionDenied;
    if (state == QLatin1String("42P07") || state == QLatin1String("42S01"))
        return ProviderError::DuplicateTable;
    if (state == QLatin1String("55P03") || state == QLatin1String("HYT00") || state == QLatin1String("HYT01"))
        return ProviderError::AbortLimitReached;
    // Deadlock, serialization failure, lock not available: a conflict with another user.
    if (state == QLatin1String("40P01") || state == QLatin1String("40001") || state == QLatin1String("55006"))
        return ProviderError::Unspecified;
    if (state.startsWith(QLatin1String("42")) || state == QLatin1String("37000") || state.startsWith(QLatin1String("07")))
        return ProviderError::StatementError;
    if (state == QLatin1String("22001") || state == QLatin1String("22003"))
        return LayerError::DataOverflow;
    if (state.startsWith(QLatin1String("22")))
        return LayerError::ConversionFailed;
    return ProviderError::ErrorsOccurred;
}

int32_t numberForOracleError(int code)
{
    switch (code) {
    case 1:      // unique constraint violated
    case 1400:   // cannot insert NULL
    case 2290:   // check constraint violated
    case 2291:   // parent key not found
    case 2292:   // child record found
        return ProviderError::IntegrityViolation;
    case 1031:   // insufficient privileges
    case 1017:   // invalid username/password
        return ProviderError::PermissionDenied;
    case 955:    // name is already used by an existing object
        return ProviderError::DuplicateTable;
    case 54:     // resource busy and acquire with NOWAIT specified
    case 30006:  // resource busy; acquire with WAIT timeout expired
        return ProviderError::AbortLimitReached;
    case 60:     // deadlock detected while waiting for resource
    case 8177:   // can't serialize access for this transaction
        return ProviderError::Unspecified;
    case 1401:   // inserted value too large for column
    case 12899:  // value too large for column
    case 1438:   // value larger than specified precision
        return LayerError::DataOverflow;
    case 1722:   // invalid number
    case 1858:   // a non-numeric character was found where a numeric was expected
        return LayerError::ConversionFailed;
    default:
        if (code >= 900 && code < 1000)  // ORA-009xx: the statement itself is wrong
            return ProviderError::StatementError;
        return ProviderError::ErrorsOccurred;
    }
}

int32_t numberForSqliteCode(int code, const QString& message)
{
    if (code == SQLITE_CONSTRAINT_DATATYPE)  // a STRICT table refused a value of another type
        return LayerError::ConversionFailed;
    switch (code & 0xff) {
    case SQLITE_CONSTRAINT: return ProviderError::IntegrityViolation;
    case SQLITE_PERM:
    case SQLITE_READONLY:
    case SQLITE_AUTH:
        return ProviderError::PermissionDenied;
    case SQLITE_TOOBIG: return LayerError::DataOverflow;
    case SQLITE_MISMATCH: return LayerError::ConversionFailed;
    case SQLITE_ERROR:  // the statement: syntax, unknown table or column, existing table
        if (message.contains(QLatin1String("already exists")))
            return ProviderError::DuplicateTable;
        return ProviderError::StatementError;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return ProviderError::Unspecified;  // another connection holds the database
    default: return ProviderError::ErrorsOccurred;  // full disk, I/O error, corruption...
    }
}

}  // namespace

DataSource parseDataSource(const QString& dataSource)
{
    const QString text = dataSource.trimmed();
    DataSource result;
    auto malformed = [&](const QString& why) {
        return openFailure(QStringLiteral("Retratix"), QStringLiteral("Origen de datos no válido (") + why +
                                                           QStringLiteral("): ") + shownDataSource(text));
    };
    if (text.isEmpty())
        throw malformed(QStringLiteral("vacío"));

    if (text.startsWith(QLatin1String("sqlite:"), Qt::CaseInsensitive)) {
        const QString path = text.mid(7).trimmed();
        if (path.isEmpty())
            throw malformed(QStringLiteral("falta la ruta"));
        result.engine = Engine::SQLite;
        result.path = QDir::cleanPath(QDir(Platform::current().programFolder()).absoluteFilePath(QDir::fromNativeSeparators(path)));
        return result;
    }
    if (text.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive) ||
        text.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive)) {
        const QUrl url(text, QUrl::StrictMode);
        QString database = url.path(QUrl::FullyDecoded);
        if (database.startsWith(QLatin1Char('/')))
            database.remove(0, 1);
        if (!url.isValid() || url.host().isEmpty() || database.isEmpty() || database.contains(QLatin1Char('/')))
            throw malformed(QStringLiteral("se espera postgresql://SERVIDOR[:PUERTO]/BASE"));
        result.engine = Engine::PostgreSQL;
        result.host = url.host();
        result.port = url.port(5432);
        result.database = database;
        result.user = url.userName(QUrl::FullyDecoded);
        result.password = url.password(QUrl::FullyDecoded);
        // libpq's keywords (sslmode, sslrootcert, connect_timeout, application_name...), each value
        // quoted as libpq reads it. The driver splits its options at ";", which no value may hold.
        QStringList options;
        static const QRegularExpression keyword(QStringLiteral("^[a-z_]+$"));
        for (const auto& [key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded)) {
            if (!keyword.match(key).hasMatch() || value.contains(QLatin1Char(';')))
                throw malformed(QStringLiteral("opción no válida: ") + key);
            QString quoted = value;
            quoted.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('\''), QLatin1String("\\'"));
            options.append(key + QStringLiteral("='") + quoted + QLatin1Char('\''));
        }
        result.options = options.join(QLatin1Char(';'));
        return result;
    }
    if (text.startsWith(QLatin1String("odbc:"), Qt::CaseInsensitive)) {
        result.engine = Engine::Odbc;
        result.database = text.mid(5).trimmed();
        if (result.database.isEmpty())
            throw malformed(QStringLiteral("falta el origen ODBC"));
        return result;
    }
    result.engine = Engine::OracleService;
    result.database = text;
    return result;
}

QString shownDataSource(const QString& dataSource)
{
    // libpq's password and sslpassword in any spelling (a misspelt key is refused, and shown, before
    // libpq could refuse it), and ODBC's PWD; libpq's passfile names a file, which may show.
    const auto isSecret = [](const QString& key) {
        const QString name = key.trimmed().toLower();
        return (name.contains(QLatin1String("pass")) && name != QLatin1String("passfile")) ||
               name.contains(QLatin1String("pwd"));
    };
    const QString text = dataSource.trimmed();
    if (text.startsWith(QLatin1String("odbc:"), Qt::CaseInsensitive)) {
        // A data source name, or a connection string: KEY=VALUE pairs, a value possibly in braces or quotes.
        static const QRegularExpression pair(QStringLiteral("(?:^|;)([^=;]*)=(\\{[^}]*\\}?|\"[^\"]*\"?|'[^']*'?|[^;]*)"));
        QString shown = text;
        qsizetype shift = 0;
        for (const QRegularExpressionMatch& match : pair.globalMatch(text)) {
            if (!isSecret(match.captured(1)))
                continue;
            shown.replace(match.capturedStart(2) + shift, match.capturedLength(2), QStringLiteral("***"));
            shift += 3 - match.capturedLength(2);
        }
        return shown;
    }
    if (!text.startsWith(QLatin1String("postgres"), Qt::CaseInsensitive) || !text.contains(QLatin1String("://")))
        return text;
    QUrl url(text);
    if (!url.isValid())
        return QStringLiteral("postgresql://…");  // nothing of it shown: it may hold a password
    if (!url.password().isEmpty())
        url.setPassword(QStringLiteral("***"));
    if (url.hasQuery()) {
        // Keys compared as libpq reads them (decoded), shown as written.
        const QUrlQuery query(url);
        const QList<std::pair<QString, QString>> keys = query.queryItems(QUrl::FullyDecoded);
        const QList<std::pair<QString, QString>> items = query.queryItems(QUrl::PrettyDecoded);
        QUrlQuery masked;
        for (qsizetype i = 0; i < items.size(); ++i)
            masked.addQueryItem(items.at(i).first, isSecret(keys.at(i).first) ? QStringLiteral("***") : items.at(i).second);
        url.setQuery(masked);
    }
    return url.toString();
}

QString connectionStringValue(const QString& connectionString, const QString& key)
{
    // Key=Value pairs split at ";", except inside a value in quotes (a doubled quote stands for one).
    const QString& text = connectionString;
    qsizetype at = 0;
    while (at < text.size()) {
        const qsizetype equals = text.indexOf(QLatin1Char('='), at);
        if (equals < 0)
            break;
        const QString name = text.mid(at, equals - at).trimmed();
        qsizetype next = equals + 1;
        while (next < text.size() && text.at(next) == QLatin1Char(' '))
            ++next;
        QString value;
        if (next < text.size() && (text.at(next) == QLatin1Char('"') || text.at(next) == QLatin1Char('\''))) {
            const QChar quote = text.at(next++);
            while (next < text.size()) {
                if (text.at(next) == quote) {
                    if (next + 1 < text.size() && text.at(next + 1) == quote) {
                        value += quote;
                        next += 2;
                        continue;
                    }
                    ++next;
                    break;
                }
                value += text.at(next++);
            }
            const qsizetype end = text.indexOf(QLatin1Char(';'), next);
            next = end < 0 ? text.size() : end + 1;
        } else {
            const qsizetype end = text.indexOf(QLatin1Char(';'), next);
            value = text.mid(next, (end < 0 ? text.size() : end) - next).trimmed();
            next = end < 0 ? text.size() : end + 1;
        }
        if (name.compare(key, Qt::CaseInsensitive) == 0)
            return value;
        at = next;
    }
    return {};
}

QSqlDatabase openDataSource(const QString& connectionName, const QString& dataSource, const QString& userId,
                            const QString& password, int timeoutSeconds)
{
    const DataSource source = parseDataSource(dataSource);
    switch (source.engine) {
    case Engine::SQLite: return openSqlite(connectionName, source);
    case Engine::PostgreSQL: return openPostgres(connectionName, source, userId, password, timeoutSeconds);
    case Engine::Odbc: return openOdbc(connectionName, source.database, userId, password, timeoutSeconds);
    case Engine::OracleService: return openOracle(connectionName, source.database, userId, password, timeoutSeconds);
    }
    throw openFailure(QStringLiteral("Retratix"), shownDataSource(dataSource));
}

Failure failureFromSqlError(const QSqlError& error, const QString& driverName)
{
    QString description = error.databaseText().trimmed();
    if (description.isEmpty())
        description = error.driverText().trimmed();
    const QString code = error.nativeErrorCode().trimmed();
    int32_t number = ProviderError::ErrorsOccurred;

    static const QRegularExpression sqlState(QStringLiteral("^[0-9A-Z]{5}$"));
    static const QRegularExpression oracleCode(QStringLiteral("ORA-(\\d{5})"));
    if (driverName == QLatin1String("QSQLITE")) {
        bool ok = false;
        const int value = code.toInt(&ok);
        if (ok)
            number = numberForSqliteCode(value, description);
    } else if (driverName == QLatin1String("QOCI")) {
        bool ok = false;
        const int value = code.startsWith(QLatin1String("ORA-")) ? code.mid(4).toInt(&ok) : code.toInt(&ok);
        if (ok)
            number = numberForOracleError(value);
    } else {
        // PostgreSQL and ODBC: an Oracle code in the message says more than ODBC's broad states.
        const QRegularExpressionMatch oracle = oracleCode.match(description);
        if (oracle.hasMatch())
            number = numberForOracleError(oracle.captured(1).toInt());
        else if (sqlState.match(code).hasMatch())
            number = numberForSqlState(code);
    }
    return Failure(number, driverName, description);
}

void createSqliteFile(const QString& path)
{
    const QFileInfo file(path);
    if (!file.absoluteDir().exists())
        throw RuntimeError::failure(RuntimeError::PathNotFound);
    if (file.exists())
        return;
    QFile created(file.absoluteFilePath());
    if (!created.open(QIODevice::WriteOnly))
        throw RuntimeError::failure(RuntimeError::PermissionDenied);
}

void executeScript(QSqlDatabase& database, const QString& script)
{
    QString statement;
    const QStringList lines = script.split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1String("--")))
            continue;
        statement += line + QLatin1Char('\n');
        if (!trimmed.endsWith(QLatin1Char(';')))
            continue;
        statement = statement.trimmed();
        statement.chop(1);
        QSqlQuery query(database);
        if (!query.exec(statement))
            throw failureFromSqlError(detail::queryError(query, database), database.driverName());
        statement.clear();
    }
}

}  // namespace db
