#pragma once

#include <QString>
#include <QStringView>

// The text without any of the given characters at either end. Unlike QString::trimmed(), it
// keeps line breaks and other white space that the caller did not name.
inline QStringView trimEnds(QStringView text, QStringView characters)
{
    while (!text.isEmpty() && characters.contains(text.front()))
        text = text.mid(1);
    while (!text.isEmpty() && characters.contains(text.back()))
        text.chop(1);
    return text;
}

// Without leading and trailing blanks (U+0020 only), as the program trims names, paths and keys.
inline QString trimBlanks(QStringView text) { return trimEnds(text, u" ").toString(); }

// The text as it may reach a terminal or the system journal: every control character (C0, DEL,
// C1), line and paragraph separator and bidirectional override is written visibly as \n, \t, \r,
// \xHH or \uHHHH, so that a file name can neither start a line of its own nor send a terminal an
// escape sequence. Everything else stays as it is.
inline QString printableText(QStringView text)
{
    const auto needsEscape = [](char16_t c) {
        return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 ||
               (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
    };
    QString printable;
    printable.reserve(text.size());
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        if (!needsEscape(c)) {
            printable.append(ch);
            continue;
        }
        switch (c) {
        case u'\n': printable.append(u"\\n"); break;
        case u'\r': printable.append(u"\\r"); break;
        case u'\t': printable.append(u"\\t"); break;
        default:
            printable.append(c <= 0xFF ? QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'))
                                       : QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0')));
        }
    }
    return printable;
}
