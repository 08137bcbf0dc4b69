// The selection-condition-to-SQL translation.
// Input: a byte that picks the routine (low two bits) and whether 32760 blanks go in front of the
// text (next bit: positions then reach past 32767), then UTF-8 lines:
//   ReplaceAll:             find, replacement (cut to find's length), text (the rest)
//   TranslateDateRanges:    text
//   TranslateDateLiterals:  text
//   MergeConditionIntoSql:  the report's query, condition (the rest)

#include "common/failure.h"
#include "common/messages.h"
#include "fuzz_support.h"
#include "reporting/mod_rutinas.h"
#include "reporting/report_engine.h"
#include "reporting/query_only_report.h"

#include <QRegularExpression>

#include <optional>

namespace {

using reportingtest::QueryOnlyReport;

RecordingMessages& messages()
{
    static RecordingMessages recorded;
    static ScopedMessages installed(recorded);
    return recorded;
}

// The number of the failure call raised (0: none); a failure other than 5 or 6 is a finding.
template <typename Call>
int32_t failureOf(Call call)
{
    try {
        call();
    } catch (const Failure& failure) {
        fuzz::check(failure.number == RuntimeError::InvalidArgument || failure.number == RuntimeError::Overflow,
                    QStringLiteral("raised %1").arg(failure.number));
        return failure.number;
    }
    return 0;
}

// Replacing as the routine describes it: search from the start after every replacement, a position
// beyond 32767 overflowing. Nothing when it overflows.
std::optional<QString> replacedFromTheStart(QString text, const QString& find, const QString& replacement)
{
    for (;;) {
        const qsizetype found = text.indexOf(find);
        if (found < 0)
            return text;
        if (found + 1 > 32767)
            return std::nullopt;
        text.replace(found, find.size(), replacement);
    }
}

void replaceAll(const QString& find, const QString& replacement, QString text)
{
    const std::optional<QString> expected =
        find.isEmpty() || replacement.contains(find) ? std::nullopt : replacedFromTheStart(text, find, replacement);
    const int32_t failure = failureOf([&] { ModRutinas::ReplaceAll(text, find, replacement); });
    if (find.isEmpty() || replacement.contains(find))
        fuzz::check(failure == RuntimeError::InvalidArgument, QStringLiteral("endless replacement refused"));
    else if (!expected)
        fuzz::check(failure == RuntimeError::Overflow, QStringLiteral("replacement beyond 32767 overflows"));
    else
        fuzz::check(failure == 0 && text == *expected, QStringLiteral("same text as searching from the start"));
}

void translateDateRanges(QString text)
{
    if (failureOf([&] { ModRutinas::TranslateDateRanges(text); }) == 0)
        fuzz::check(!text.contains(QStringLiteral("IN Date")) || !text.contains(QStringLiteral("TO Date")),
                    QStringLiteral("no range left"));
}

// Traps its own failures: either no literal is left or one message says where it stopped.
void translateDateLiterals(QString text)
{
    messages().shown.clear();
    ModRutinas::TranslateDateLiterals(text);
    const auto& shown = messages().shown;
    if (shown.isEmpty()) {
        fuzz::check(!text.contains(QStringLiteral(" Date")), QStringLiteral("no literal left"));
        return;
    }
    static const QRegularExpression trapped(QStringLiteral("^Error [56] en la linea [0-9]+$"));
    fuzz::check(shown.size() == 1 && trapped.match(shown.first().text).hasMatch(),
                QStringLiteral("one message naming the failure and the step"));
}

void mergeConditionIntoSql(const QString& sql, const QString& condition)
{
    QueryOnlyReport report;
    report.sql = sql;
    report.selection = QStringLiteral("{T.A} = 1");
    messages().shown.clear();
    if (failureOf([&] { ModRutinas::MergeConditionIntoSql(report, condition); }) != 0)
        return;
    if (condition.isEmpty()) {
        fuzz::check(report.sql == sql && report.selection == QStringLiteral("{T.A} = 1"),
                    QStringLiteral("an empty condition changes nothing"));
        return;
    }
    fuzz::check(report.selection.isEmpty(), QStringLiteral("selection formula cleared"));
    fuzz::check(!report.sql.contains(u'"') && !report.sql.contains(u'{') && !report.sql.contains(u'}'),
                QStringLiteral("no quotes or braces left"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const int routine = data[0] & 3;
    const QString blanks(data[0] & 4 ? 32760 : 0, u' ');
    const QList<QByteArray> parts = fuzz::split(data + 1, size - 1, routine == 0 ? 3 : routine == 3 ? 2 : 1);
    const auto text = [&](int part) { return QString::fromUtf8(parts.at(part)); };

    switch (routine) {
    // The program's replacements never lengthen the text. Longer ones are slow by nature (a growing
    // text searched again and again, up to position 32767) and would only slow the fuzzing down.
    case 0: replaceAll(text(0), text(1).left(text(0).size()), blanks + text(2)); break;
    case 1: translateDateRanges(blanks + text(0)); break;
    case 2: translateDateLiterals(blanks + text(0)); break;
    default: mergeConditionIntoSql(blanks + text(0), text(1)); break;
    }
    return 0;
}
