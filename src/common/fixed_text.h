#pragma once

#include <QString>

// A text of exactly N characters: a shorter value is padded with blanks on the right,
// a longer one keeps its first N characters. Used as a name, path or key, it is trimmed.
template <int N>
class FixedText final {
    static_assert(N > 0);

public:
    FixedText() : m_text(N, QLatin1Char(' ')) {}
    FixedText(const QString& value) { assign(value); }  // NOLINT: assignment from text is the point

    FixedText& operator=(const QString& value)
    {
        assign(value);
        return *this;
    }

    static constexpr int capacity() { return N; }
    // The full N characters, blanks included.
    const QString& value() const { return m_text; }
    // Without leading and trailing blanks.
    QString trimmed() const { return trimBlanks(m_text); }

    bool operator==(const FixedText& other) const = default;

    // Removes leading and trailing U+0020 only (not tabs or line breaks).
    static QString trimBlanks(const QString& text)
    {
        qsizetype first = 0;
        qsizetype last = text.size();
        while (first < last && text.at(first) == QLatin1Char(' '))
            ++first;
        while (last > first && text.at(last - 1) == QLatin1Char(' '))
            --last;
        return text.mid(first, last - first);
    }

private:
    void assign(const QString& value)
    {
        m_text = value.left(N);
        if (m_text.size() < N)
            m_text.append(QString(N - m_text.size(), QLatin1Char(' ')));
    }

    QString m_text;
};

// Trim of blanks (U+0020) only, as the program trims names, paths and keys.
inline QString trimBlanks(const QString& text) { return FixedText<1>::trimBlanks(text); }
