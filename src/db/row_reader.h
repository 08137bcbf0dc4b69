#pragma once

#include "db/connection.h"

#include <QString>
#include <QVariant>

#include <memory>

namespace db {

// The rows of one query, read forward a slice at a time (a report lays out its first pages while
// later rows are still coming). The query and every read are calls to the server bounded by the
// connection's command time-out, and fail with the layer's failures. Values come as the engine's
// driver types them (numbers, texts, dates, bytes). The reader must go before its connection.
class RowReader final {
public:
    // Runs the query; raises a Failure when it does not run.
    RowReader(Connection& connection, const QString& sql);
    ~RowReader();
    RowReader(const RowReader&) = delete;
    RowReader& operator=(const RowReader&) = delete;

    // The result's column of that name ("TABLE.COLUMN" or "COLUMN", without regard to case), -1
    // when it has none.
    int column(const QString& name) const;
    // Moves to the next row; false after the last one, and the query is finished. Raises a Failure.
    bool next();
    // A column of the current row.
    QVariant value(int column) const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

}  // namespace db
