#pragma once

#include <QLocale>
#include <QString>

#include <cstdint>

// Numbers read from text as the workstation reads them: optional blanks around the number,
// an optional sign, decimal digits, the regional group separator and at most one regional
// decimal separator. A fraction rounds to the nearest whole number, halves to the even one.
namespace Numbers {

// True when the whole text reads as such a number (the empty text does not).
bool isNumeric(const QString& text, const QLocale& locale = QLocale::system());

// Conversions: type mismatch (13) when the text is not a number, overflow (6) when the
// rounded value lies outside the target's range.
int16_t toInt16(const QString& text, const QLocale& locale = QLocale::system());
int32_t toInt32(const QString& text, const QLocale& locale = QLocale::system());

// The number as the classic number-to-text function writes it: a minus sign for a negative
// number, a blank for zero or a positive one, then the digits.
QString toSignedText(int64_t number);

}  // namespace Numbers
