#pragma once

#include <QList>
#include <QString>
#include <QVariant>

namespace reporting {

// A column that a query's WHERE part holds to one value in every row it returns.
struct FixedColumn {
    QString table;  // as written before the dot, without quotes; empty for a bare column name
    QString column;
    QVariant value;  // QString for a quoted text, double for a number
};

// The comparisons "column = literal" (either way round; the column bare, TABLE.COLUMN or quoted
// "TABLE"."COLUMN"; the literal a quoted text or a number) that the WHERE part of a query ANDs at
// its top level, also inside parentheses around ANDed terms. A comparison under OR or NOT, one of a
// query joined with UNION, INTERSECT, EXCEPT or MINUS, and every comparison of a text this reading
// cannot follow (comments, an unclosed quote, unbalanced parentheses) count as none: nothing is ever reported that a row
// could contradict.
QList<FixedColumn> fixedColumns(const QString& sql);

}  // namespace reporting
