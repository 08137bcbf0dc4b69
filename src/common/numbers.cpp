#include "numbers.h"

#include "failure.h"
#include "text.h"

#include <QRegularExpression>

#include <limits>
#include <optional>

namespace Numbers {
namespace {

struct Decimal {
    bool negative = false;
    QString integerDigits;
    QString fractionDigits;
};

std::optional<Decimal> parse(const QString& text, const QLocale& locale)
{
    const QStringView body = trimEnds(text, u" \t");

    const QString decimalPoint = locale.decimalPoint();
    const QString groupSeparator = locale.groupSeparator();

    Decimal result;
    qsizetype i = 0;
    if (i < body.size() && (body.at(i) == QLatin1Char('+') || body.at(i) == QLatin1Char('-'))) {
        result.negative = body.at(i) == QLatin1Char('-');
        ++i;
    }
    bool inFraction = false;
    bool anyDigit = false;
    while (i < body.size()) {
        const QChar c = body.at(i);
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            (inFraction ? result.fractionDigits : result.integerDigits).append(c);
            anyDigit = true;
            ++i;
        } else if (!inFraction && !decimalPoint.isEmpty() && body.mid(i).startsWith(decimalPoint)) {
            inFraction = true;
            i += decimalPoint.size();
        } else if (!inFraction && !groupSeparator.isEmpty() && body.mid(i).startsWith(groupSeparator)) {
            i += groupSeparator.size();
        } else {
            return std::nullopt;
        }
    }
    if (!anyDigit)
        return std::nullopt;
    return result;
}

// The rounded value, or nothing when it exceeds what 64 bits hold (certainly an overflow).
std::optional<int64_t> roundHalfEven(const Decimal& number)
{
    QString digits = number.integerDigits;
    while (digits.size() > 1 && digits.at(0) == QLatin1Char('0'))
        digits.remove(0, 1);
    if (digits.size() > 18)
        return std::nullopt;
    int64_t magnitude = digits.isEmpty() ? 0 : digits.toLongLong();

    const QString& fraction = number.fractionDigits;
    if (!fraction.isEmpty()) {
        const int first = fraction.at(0).digitValue();
        const bool restNonZero = fraction.mid(1).contains(QRegularExpression(QStringLiteral("[1-9]")));
        const bool roundUp = first > 5 || (first == 5 && (restNonZero || magnitude % 2 == 1));
        if (roundUp)
            ++magnitude;
    }
    return number.negative ? -magnitude : magnitude;
}

template <typename Int>
Int convert(const QString& text, const QLocale& locale)
{
    const auto parsed = parse(text, locale);
    if (!parsed)
        throw RuntimeError::failure(RuntimeError::TypeMismatch);
    const auto value = roundHalfEven(*parsed);
    if (!value || *value < std::numeric_limits<Int>::min() || *value > std::numeric_limits<Int>::max())
        throw RuntimeError::failure(RuntimeError::Overflow);
    return static_cast<Int>(*value);
}

}  // namespace

bool isNumeric(const QString& text, const QLocale& locale) { return parse(text, locale).has_value(); }

int16_t toInt16(const QString& text, const QLocale& locale) { return convert<int16_t>(text, locale); }

int32_t toInt32(const QString& text, const QLocale& locale) { return convert<int32_t>(text, locale); }

QString toSignedText(int64_t number)
{
    return number < 0 ? QString::number(number) : QLatin1Char(' ') + QString::number(number);
}

}  // namespace Numbers
