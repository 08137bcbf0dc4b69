#include "reporting/mod_rutinas.h"

#include "common/failure.h"
#include "common/messages.h"
#include "common/platform.h"
#include "reporting/report_engine.h"

namespace {

[[noreturn]] void raiseFailure(int32_t number) { throw RuntimeError::failure(number); }

// Positions and lengths are 16-bit signed numbers: beyond 32767 they overflow.
int position(qsizetype value)
{
    if (value > 32767 || value < -32768)
        raiseFailure(RuntimeError::Overflow);
    return static_cast<int>(value);
}

// 1-based position of the first occurrence of find at or after start (case-sensitive); 0 if none.
int inStr(const QString& text, const QString& find, int start = 1)
{
    if (start < 1)
        raiseFailure(RuntimeError::InvalidArgument);
    const qsizetype found = text.indexOf(find, start - 1);
    return found < 0 ? 0 : position(found + 1);
}

// The characters from start (1-based) to the end.
QString mid(const QString& text, int start)
{
    if (start < 1)
        raiseFailure(RuntimeError::InvalidArgument);
    return text.mid(start - 1);
}

QString mid(const QString& text, int start, int length)
{
    if (start < 1 || length < 0)
        raiseFailure(RuntimeError::InvalidArgument);
    return text.mid(start - 1, length);
}

QString left(const QString& text, int length)
{
    if (length < 0)
        raiseFailure(RuntimeError::InvalidArgument);
    return text.left(length);
}

// Steps from start one character at a time until the character is ")". Without a ")" the step runs
// past the end of the text and on past 32767, which overflows.
int scanToClosing(const QString& text, int start)
{
    const qsizetype found = text.indexOf(QLatin1Char(')'), start - 1);
    if (found < 0)
        raiseFailure(RuntimeError::Overflow);
    return position(found + 1);
}

// The text after the first "(" of a date, with "," as "/" and without ")". A date without "(" would
// come out with its "Date" word intact and be found again by the loops for ever: it is refused.
QString datePart(const QString& date)
{
    const int opening = inStr(date, QStringLiteral("("));
    if (opening == 0)
        raiseFailure(RuntimeError::InvalidArgument);
    QString part = mid(date, position(opening + 1));
    ModRutinas::ReplaceAll(part, QStringLiteral(","), QStringLiteral("/"));
    ModRutinas::ReplaceAll(part, QStringLiteral(")"), QString());
    return part;
}

QString toDate(const QString& datePart)
{
    return QStringLiteral(" TO_DATE('") + datePart + QStringLiteral("', 'YYYY/MM/DD') ");
}

}  // namespace

namespace ModRutinas {

void MergeConditionIntoSql(reporting::Report& report, const QString& condition)
{
    if (condition.isEmpty())
        return;
    report.setRecordSelectionFormula(QString());
    QString sql = report.sqlQueryString();

    QString tail;
    if (const int orderBy = inStr(sql, QStringLiteral("ORDER BY")); orderBy != 0) {
        tail = mid(sql, orderBy);
        sql = left(sql, orderBy - 1);
    }
    QString where;
    if (const int whereAt = inStr(sql, QStringLiteral("WHERE")); whereAt != 0) {
        where = mid(sql, whereAt);
        sql = left(sql, whereAt - 1);
    }
    const QString head = sql;

    // The engine's outer joins become inner joins: only rows that meet the condition matter.
    ReplaceAll(where, QStringLiteral("(+)"), QString());
    if (!where.isEmpty())
        where += QStringLiteral(" AND ( ") + condition + QStringLiteral(" )");
    else
        where = QStringLiteral(" WHERE (") + condition + QStringLiteral(" )");
    TranslateDateRanges(where);
    TranslateDateLiterals(where);

    sql = head + where + tail;
    // The engine's quoted names and the condition's {TABLE.FIELD} become plain TABLE.FIELD.
    ReplaceAll(sql, QStringLiteral("\""), QString());
    ReplaceAll(sql, QStringLiteral("{"), QString());
    ReplaceAll(sql, QStringLiteral("}"), QString());
    report.setSqlQueryString(sql);
}

void ReplaceAll(QString& text, const QString& find, const QString& replacement)
{
    if (find.isEmpty() || replacement.contains(find))
        raiseFailure(RuntimeError::InvalidArgument);
    // Searching again from the start after each replacement finds the same occurrence as resuming
    // find.size() - 1 characters before the replacement: the text before that point did not change.
    qsizetype from = 0;
    for (;;) {
        const qsizetype found = text.indexOf(find, from);
        if (found < 0)
            return;
        position(found + 1);
        text.replace(found, find.size(), replacement);
        from = qMax<qsizetype>(0, found - (find.size() - 1));
    }
}

void TranslateDateRanges(QString& text)
{
    const QString inDate = QStringLiteral("IN Date");
    const QString toDateWord = QStringLiteral("TO Date");
    for (;;) {
        const int posIn = inStr(text, inDate);
        const int posTo = inStr(text, toDateWord);
        int end = 0;
        if (posTo != 0)
            end = scanToClosing(text, posTo);
        if (posIn == 0 || posTo == 0)
            return;

        const QString range = mid(text, posIn, position(end - posIn + 1));
        const int fromStart = inStr(range, inDate);
        const int fromEnd = inStr(range, QStringLiteral(")"), fromStart);
        const QString from = mid(range, fromStart, position(fromEnd - fromStart + 1));
        const QString to = mid(range, inStr(range, toDateWord));

        text = left(text, posIn - 1) + QStringLiteral(" BETWEEN ") + toDate(datePart(from)) + QStringLiteral(" AND ")
               + toDate(datePart(to)) + QLatin1Char(' ') + mid(text, position(end + 1));
    }
}

void TranslateDateLiterals(QString& text)
{
    // The number of the step that is running, reported when it fails.
    int line = 100;
    try {
        const QString dateWord = QStringLiteral(" Date");
        for (;;) {
            line = 200;
            const int start = inStr(text, dateWord);
            if (start == 0)
                return;
            const int end = scanToClosing(text, start);
            line = 300;
            const QString literal = mid(text, start, position(end - start + 1));
            const int closing = scanToClosing(literal, 1);
            line = 400;
            QString date = left(literal, closing);
            const int opening = inStr(date, QStringLiteral("("));
            line = 500;
            if (opening == 0)
                raiseFailure(RuntimeError::InvalidArgument);  // see datePart()
            date = mid(date, position(opening + 1));
            line = 600;
            ReplaceAll(date, QStringLiteral(","), QStringLiteral("/"));
            line = 700;
            ReplaceAll(date, QStringLiteral(")"), QString());
            line = 800;
            date = toDate(date);
            line = 900;
            date = QLatin1Char(' ') + date + QLatin1Char(' ');
            line = 1000;
            text = left(text, start - 1) + date + mid(text, position(end + 1));
        }
    } catch (const Failure& failure) {
        showMessage(QStringLiteral("Error ") + QString::number(failure.number) + QStringLiteral(" en la linea ")
                        + QString::number(line),
                    MessageIcon::None, Application::title());
    }
}

}  // namespace ModRutinas
