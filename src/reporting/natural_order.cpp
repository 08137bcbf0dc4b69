#include "reporting/natural_order.h"

namespace reporting {

namespace {

// The run of characters from position i that are all digits or all not.
QStringView runAt(QStringView text, qsizetype i)
{
    const bool digits = text.at(i).isDigit();
    qsizetype end = i + 1;
    while (end < text.size() && text.at(end).isDigit() == digits)
        ++end;
    return text.mid(i, end - i);
}

// Two runs of digits by value, however long: without leading zeros, the longer is larger.
int compareNumbers(QStringView a, QStringView b)
{
    const auto significant = [](QStringView digits) {
        qsizetype zeros = 0;
        while (zeros < digits.size() && digits.at(zeros).digitValue() == 0)
            ++zeros;
        return digits.mid(zeros);
    };
    a = significant(a);
    b = significant(b);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (const int d = a.at(i).digitValue() - b.at(i).digitValue(); d != 0)
            return d < 0 ? -1 : 1;
    return 0;
}

}  // namespace

NaturalOrder::NaturalOrder() = default;  // QCollator(): the user's locale

int NaturalOrder::compare(QStringView a, QStringView b) const
{
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const QStringView x = runAt(a, i), y = runAt(b, j);
        const bool numbers = x.at(0).isDigit() && y.at(0).isDigit();
        const int order = numbers ? compareNumbers(x, y) : m_collator.compare(x, y);
        if (order != 0)
            return order < 0 ? -1 : 1;
        i += x.size();
        j += y.size();
    }
    if ((i < a.size()) != (j < b.size()))
        return i < a.size() ? 1 : -1;
    const int codes = a.compare(b);
    return codes < 0 ? -1 : codes > 0 ? 1 : 0;
}

}  // namespace reporting
