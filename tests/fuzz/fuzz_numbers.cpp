// The number conversions under several regional settings.
// Input: a byte that picks the locale, then the text in UTF-8 (so that the locales' own separators,
// such as U+202F or U+066B, can occur).

#include "common/failure.h"
#include "common/numbers.h"
#include "common/text.h"
#include "fuzz_support.h"

#include <QLocale>

#include <limits>

namespace {

const QList<QLocale>& locales()
{
    static const QList<QLocale> all = [] {
        QList<QLocale> list{QLocale::c()};
        for (const char* name : {"es_ES", "de_DE", "en_US", "fr_FR", "ar_EG", "de_CH", "sv_SE", "fa_IR", "hi_IN"})
            list.append(QLocale(QString::fromLatin1(name)));
        return list;
    }();
    return all;
}

// A conversion's value, or the number of the failure it raised (0 when it returned a value).
struct Outcome {
    int64_t value = 0;
    int32_t failure = 0;
};

template <typename Convert>
Outcome outcome(Convert convert)
{
    try {
        return {convert(), 0};
    } catch (const Failure& failure) {
        fuzz::check(failure.number == RuntimeError::Overflow || failure.number == RuntimeError::TypeMismatch,
                    QStringLiteral("conversion raised %1").arg(failure.number));
        return {0, failure.number};
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const QLocale& locale = locales().at(data[0] % locales().size());
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));

    const bool numeric = Numbers::isNumeric(text, locale);
    const Outcome as32 = outcome([&] { return Numbers::toInt32(text, locale); });
    const Outcome as16 = outcome([&] { return Numbers::toInt16(text, locale); });

    // Type mismatch exactly when the check calls the text not a number.
    fuzz::check(numeric == (as32.failure != RuntimeError::TypeMismatch), QStringLiteral("isNumeric and toInt32 agree"));
    fuzz::check(numeric == (as16.failure != RuntimeError::TypeMismatch), QStringLiteral("isNumeric and toInt16 agree"));
    if (!numeric)
        return 0;

    // Both round the same number: the 16-bit one overflows exactly when the value does not fit.
    const bool fits16 = as32.failure == 0 && as32.value >= std::numeric_limits<int16_t>::min()
                        && as32.value <= std::numeric_limits<int16_t>::max();
    fuzz::check(fits16 ? as16.failure == 0 && as16.value == as32.value : as16.failure == RuntimeError::Overflow,
                QStringLiteral("toInt16 agrees with toInt32"));
    if (as32.failure != 0)
        return 0;

    // The value written back reads as itself; with a minus sign in front of an unsigned text it
    // reads as its opposite (halves round to even either way).
    const auto value = static_cast<int32_t>(as32.value);
    fuzz::check(Numbers::toInt32(Numbers::toSignedText(value), locale) == value,
                QStringLiteral("toSignedText reads back"));
    const QStringView body = trimEnds(text, u" \t");
    if (body.front() != u'+' && body.front() != u'-')
        fuzz::check(Numbers::toInt32(QLatin1Char('-') + body.toString(), locale) == -value,
                    QStringLiteral("a minus sign gives the opposite"));
    return 0;
}
