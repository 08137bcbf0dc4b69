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
