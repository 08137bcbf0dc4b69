#include "reporting/query_conditions.h"

#include <optional>

namespace reporting {

namespace {

struct Token {
    enum class Kind { Word, Quoted, Text, Number, Symbol };
    Kind kind = Kind::Symbol;
    QString text;  // a word or quoted name, a text's value, a number's digits, a symbol
    int depth = 0;  // parentheses (and CASE ... END) around the token

    bool isWord(QLatin1String word) const { return kind == Kind::Word && text.compare(word, Qt::CaseInsensitive) == 0; }
    bool isSymbol(QLatin1String symbol) const { return kind == Kind::Symbol && text == symbol; }
    bool isName() const { return kind == Kind::Word || kind == Kind::Quoted; }
};

bool isWordCharacter(QChar c) { return c.isLetterOrNumber() || c == u'_' || c == u'$' || c == u'#'; }

// The query's tokens; nothing when it holds a comment, an unclosed quote or unbalanced parentheses.
std::optional<QList<Token>> tokens(const QString& sql)
{
    QList<Token> out;
    int depth = 0;
    qsizetype i = 0;
    const qsizetype n = sql.size();
    while (i < n) {
        const QChar c = sql.at(i);
        if (c.isSpace()) {
            ++i;
            continue;
        }
        Token token;
        if (c == u'\'' || c == u'"') {
            // A doubled quote inside stands for one.
            QString value;
            qsizetype j = i + 1;
            for (;; ++j) {
                if (j >= n)
                    return std::nullopt;
                if (sql.at(j) == c) {
                    if (j + 1 < n && sql.at(j + 1) == c) {
                        value += c;
                        ++j;
                        continue;
                    }
                    break;
                }
                value += sql.at(j);
            }
            token.kind = c == u'\'' ? Token::Kind::Text : Token::Kind::Quoted;
            token.text = value;
            i = j + 1;
        } else if (c.isDigit() || (c == u'.' && i + 1 < n && sql.at(i + 1).isDigit())) {
            qsizetype j = i;
            while (j < n && (sql.at(j).isDigit() || sql.at(j) == u'.'))
                ++j;
            // 1e5, 0x1F and the like are read as words: no literal this reading trusts.
            token.kind = j < n && isWordCharacter(sql.at(j)) ? Token::Kind::Word : Token::Kind::Number;
            while (j < n && isWordCharacter(sql.at(j)))
                ++j;
            token.text = sql.mid(i, j - i);
            i = j;
        } else if (isWordCharacter(c)) {
            qsizetype j = i;
            while (j < n && isWordCharacter(sql.at(j)))
                ++j;
            token.kind = Token::Kind::Word;
            token.text = sql.mid(i, j - i);
            i = j;
        } else {
            const QStringView rest = QStringView(sql).mid(i);
            if (rest.startsWith(u"--") || rest.startsWith(u"/*"))
                return std::nullopt;
            static const QLatin1String twoCharacters[] = {QLatin1String("<>"), QLatin1String("!="), QLatin1String("<="),
                                                          QLatin1String(">="), QLatin1String("||"), QLatin1String("::")};
            qsizetype length = 1;
            for (const QLatin1String symbol : twoCharacters)
                if (rest.startsWith(symbol))
                    length = 2;
            token.text = sql.mid(i, length);
            i += length;
        }
        if (token.isSymbol(QLatin1String(")")) || token.isWord(QLatin1String("END")))
            if (--depth < 0)
                return std::nullopt;
        token.depth = depth;
        if (token.isSymbol(QLatin1String("(")) || token.isWord(QLatin1String("CASE")))
            ++depth;
        out.append(token);
    }
    if (depth != 0)
        return std::nullopt;
    return out;
}

using Span = QList<Token>;

// Parentheses that enclose the whole span go: "((a = 1))" is "a = 1".
Span withoutEnclosingParentheses(Span span)
{
    while (span.size() >= 2 && span.first().isSymbol(QLatin1String("(")) && span.last().isSymbol(QLatin1String(")"))) {
        const int outer = span.first().depth;
        // The first "(" must close at the very end, not earlier as in "(a) = (b)".
        bool enclosing = true;
        for (qsizetype k = 1; k + 1 < span.size(); ++k)
            if (span.at(k).depth == outer && span.at(k).isSymbol(QLatin1String(")")))
                enclosing = false;
        if (!enclosing)
            break;
        span = span.mid(1, span.size() - 2);
    }
    return span;
}

// A column name: NAME or NAME.NAME; true when the span is exactly one.
bool readColumn(const Span& span, FixedColumn& column)
{
    if (span.size() == 1 && span.at(0).isName()) {
        column.column = span.at(0).text;
        return true;
    }
    if (span.size() == 3 && span.at(0).isName() && span.at(1).isSymbol(QLatin1String(".")) && span.at(2).isName()) {
        column.table = span.at(0).text;
        column.column = span.at(2).text;
        return true;
    }
    return false;
}

// A quoted text or a number with an optional sign; true when the span is exactly one.
bool readLiteral(const Span& span, QVariant& value)
{
    if (span.size() == 1 && span.at(0).kind == Token::Kind::Text) {
        value = span.at(0).text;
        return true;
    }
    const bool signedNumber = span.size() == 2 && (span.at(0).isSymbol(QLatin1String("-")) || span.at(0).isSymbol(QLatin1String("+")));
    if ((span.size() == 1 || signedNumber) && span.last().kind == Token::Kind::Number) {
        bool ok = false;
        const double number = span.last().text.toDouble(&ok);
        if (!ok)
            return false;
        value = span.at(0).isSymbol(QLatin1String("-")) ? -number : number;
        return true;
    }
    return false;
}

void collect(const Span& whole, QList<FixedColumn>& out)
{
    const Span span = withoutEnclosingParentheses(whole);
    if (span.isEmpty())
        return;
    const int level = span.first().depth;
    // AND binds tighter than OR: with an OR at this level no term holds on its own.
    for (const Token& token : span)
        if (token.depth == level && token.isWord(QLatin1String("OR")))
            return;
    QList<Span> terms{Span{}};
    int betweens = 0;  // the AND of "x BETWEEN a AND b" joins no terms
    for (const Token& token : span) {
        if (token.depth == level && token.isWord(QLatin1String("BETWEEN")))
            ++betweens;
        if (token.depth == level && token.isWord(QLatin1String("AND"))) {
            if (betweens > 0) {
                --betweens;
            } else {
                terms.append(Span{});
                continue;
            }
        }
        terms.last().append(token);
    }
    if (terms.size() > 1) {
        for (const Span& term : std::as_const(terms))
            collect(term, out);
        return;
    }
    // One comparison: column = literal, or literal = column.
    qsizetype equals = -1;
    for (qsizetype k = 0; k < span.size(); ++k)
        if (span.at(k).depth == level && span.at(k).isSymbol(QLatin1String("="))) {
            if (equals >= 0)
                return;
            equals = k;
        }
    if (equals < 0)
        return;
    const Span left = span.mid(0, equals);
    const Span right = span.mid(equals + 1);
    FixedColumn fixed;
    if ((readColumn(left, fixed) && readLiteral(right, fixed.value))
        || (readColumn(right, fixed) && readLiteral(left, fixed.value)))
        out.append(fixed);
}

}  // namespace

QList<FixedColumn> fixedColumns(const QString& sql)
{
    const std::optional<QList<Token>> all = tokens(sql);
    if (!all)
        return {};
    static const QLatin1String combined[] = {QLatin1String("UNION"), QLatin1String("INTERSECT"), QLatin1String("EXCEPT"),
                                             QLatin1String("MINUS")};
    static const QLatin1String after[] = {QLatin1String("GROUP"), QLatin1String("ORDER"), QLatin1String("HAVING"),
                                          QLatin1String("LIMIT"), QLatin1String("OFFSET"), QLatin1String("FETCH"),
                                          QLatin1String("FOR"), QLatin1String("WINDOW"), QLatin1String("CONNECT"),
                                          QLatin1String("START"), QLatin1String("RETURNING")};
    qsizetype where = -1;
    qsizetype end = all->size();
    for (qsizetype k = 0; k < all->size(); ++k) {
        const Token& token = all->at(k);
        if (token.depth != 0)
            continue;
        for (const QLatin1String word : combined)
            if (token.isWord(word))
                return {};
        if (where < 0 && token.isWord(QLatin1String("WHERE"))) {
            where = k;
        } else if (where >= 0 && end == all->size()) {
            bool ends = token.isSymbol(QLatin1String(";"));
            for (const QLatin1String word : after)
                ends = ends || token.isWord(word);
            if (ends)
                end = k;
        }
    }
    if (where < 0)
        return {};
    QList<FixedColumn> out;
    collect(all->mid(where + 1, end - where - 1), out);
    return out;
}

}  // namespace reporting
