#pragma once

#include <QString>

namespace reporting {
class Report;
}

// Turns a report's selection condition (engine formula syntax: {TABLE.FIELD}, "IN Date ... TO Date"
// ranges, Date(y,m,d) literals) into SQL and merges it into the report's own query, so that the
// database filters the rows.
//
// Texts are worked on with 16-bit positions counted from 1: a position or length beyond 32767 raises
// overflow (6), a negative length or a position before 1 raises invalid argument (5). Searches are
// case-sensitive.
namespace ModRutinas {

// An empty condition changes nothing. Otherwise clears the record selection formula, appends the
// condition to the query's WHERE part (dropping its "(+)" outer-join markers), translates the dates
// of that part and strips double quotes and braces from the whole query. Traps nothing.
void MergeConditionIntoSql(reporting::Report& report, const QString& condition);

// Replaces the first occurrence of find until there is none, searching again from the start after
// every replacement. An empty find, or a replacement that contains find, would never end: both raise
// invalid argument (5) instead.
void ReplaceAll(QString& text, const QString& find, const QString& replacement);

// "IN Date(y,m,d) TO Date(y,m,d)" becomes " BETWEEN  TO_DATE('y/m/d', 'YYYY/MM/DD')  AND  TO_DATE(...)  ".
// Traps nothing: a "TO Date" with no ")" after it overflows (6), a ")" before "IN Date" raises 5.
void TranslateDateRanges(QString& text);

// " Date(y,m,d)" becomes "  TO_DATE('y/m/d', 'YYYY/MM/DD')  ". Traps its own failures: shows
// "Error <number> en la linea <line>" and returns, the text keeping what it held before the failing step.
void TranslateDateLiterals(QString& text);

}  // namespace ModRutinas
