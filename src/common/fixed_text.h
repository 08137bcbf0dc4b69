#pragma once

#include "common/text.h"

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

    // The full N characters, blanks included.
    const QString& value() const { return m_text; }
    // Without leading and trailing blanks (U+0020 only).
    QString trimmed() const { return trimBlanks(m_text); }

    bool operator==(const FixedText& other) const = default;

private:
    void assign(const QString& value)
    {
        m_text = value.left(N);
        if (m_text.size() < N)
            m_text.append(QString(N - m_text.size(), QLatin1Char(' ')));
    }

    QString m_text;
};
