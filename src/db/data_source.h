#pragma once

#include "common/failure.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

namespace db {

// Opens a Qt Sql connection called connectionName on the engine that dataSource names
// (see Connection for the forms), with the given account and time-out, or raises a Failure.
// Used by Connection and by the report engine's logon.
QSqlDatabase openDataSource(const QString& connectionName, const QString& dataSource, const QString& userId,
                            const QString& password, int timeoutSeconds);

// A driver error as the program's Failure: provider-style number, the driver as source,
// the engine's message as description.
Failure failureFromSqlError(const QSqlError& error, const QString& driverName);

}  // namespace db
