#include "reporting/formula.h"

#include "reporting/report_engine.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <cmath>

namespace reporting {

struct Formula::Node {
    enum class Kind { Literal, Field, FormulaRef, Add, Join };
    Kind kind = Kind::Literal;
    QVariant literal;
    QString name;
    std::shared_ptr<const Node> left, right;
    int height = 1;  // levels of the tree below and including this node
};

namespace {

const QString EngineSource = QStringLiteral("Motor de informes");

bool isNumber(const QVariant& v)
{
    switch (v.metaType().id()) {
    case QMetaType::Int: case QMetaType::UInt: case QMetaType::LongLong: case QMetaType::ULongLong:
    case QMetaType::Double: case QMetaType::Float: case QMetaType::Short: case QMetaType::UShort:
    case QMetaType::Long: case QMetaType::ULong:
        return true;
    default:
        return false;
    }
}

// Tokens and a cursor over a formula text.
class Scanner {
public:
    Scanner(const QString& text, int32_t failureNumber) : m_text(text), m_number(failureNumber) {}

    [[noreturn]] void fail(const QString& what) const
    {
        throw Failure(m_number, EngineSource,
                      QStringLiteral("Fórmula no válida (%1, posición %2): %3").arg(what).arg(m_pos + 1).arg(m_text));
    }
    void skipBlanks()
    {
        while (m_pos < m_text.size() && m_text.at(m_pos).isSpace())
            ++m_pos;
    }
    bool atEnd()
    {
        skipBlanks();
        return m_pos >= m_text.size();
    }
    QChar peek()
    {
        skipBlanks();
        return m_pos < m_text.size() ? m_text.at(m_pos) : QChar();
    }
    bool accept(QLatin1String token, bool word = false)
    {
        skipBlanks();
        if (!QStringView(m_text).mid(m_pos).startsWith(token, word ? Qt::CaseInsensitive : Qt::CaseSensitive))
            return false;
        const qsizetype end = m_pos + token.size();
        if (word && end < m_text.size() && (m_text.at(end).isLetterOrNumber() || m_text.at(end) == u'_'))
            return false;
        m_pos = end;
        return true;
    }
    void expect(QLatin1String token)
    {
        if (!accept(token))
            fail(QStringLiteral("se esperaba %1").arg(token));
    }

    // 'text' or "text"; a doubled quote inside stands for one quote.
    QString quoted()
    {
        const QChar quote = peek();
        QString result;
        for (++m_pos; m_pos < m_text.size(); ++m_pos) {
            if (m_text.at(m_pos) == quote) {
                if (m_pos + 1 < m_text.size() && m_text.at(m_pos + 1) == quote) {
                    result += quote;
                    ++m_pos;
                    continue;
                }
                ++m_pos;
                return result;
            }
            result += m_text.at(m_pos);
        }
        fail(QStringLiteral("texto sin cerrar"));
    }

    double number()
    {
        skipBlanks();
        const qsizetype start = m_pos;
        if (m_pos < m_text.size() && m_text.at(m_pos) == u'-')
            ++m_pos;
        while (m_pos < m_text.size() && (m_text.at(m_pos).isDigit() || m_text.at(m_pos) == u'.'))
            ++m_pos;
        bool ok = false;
        const double value = QStringView(m_text).mid(start, m_pos - start).toDouble(&ok);
        if (!ok)
            fail(QStringLiteral("número no válido"));
        return value;
    }

    // {TABLE.FIELD} (returned with its braces) or {@name} (returned as @name).
    QString reference()
    {
        skipBlanks();
        const qsizetype close = m_text.indexOf(u'}', m_pos);
        if (close < 0)
            fail(QStringLiteral("falta }"));
        const QString inner = m_text.mid(m_pos + 1, close - m_pos - 1).trimmed();
        m_pos = close + 1;
        if (inner.startsWith(u'@') && inner.size() > 1)
            return inner;
        const qsizetype dot = inner.indexOf(u'.');
        if (dot <= 0 || dot == inner.size() - 1)
            fail(QStringLiteral("la referencia debe ser {TABLA.CAMPO}"));
        return u'{' + inner + u'}';
    }

private:
    const QString& m_text;
    int32_t m_number;
    qsizetype m_pos = 0;
};

using NodePtr = std::shared_ptr<const Formula::Node>;

NodePtr parseExpression(Scanner& s, int nesting);

NodePtr parseTerm(Scanner& s, int nesting)
{
    auto node = std::make_shared<Formula::Node>();
    const QChar c = s.peek();
    if (c == u'\'' || c == u'"') {
        node->literal = s.quoted();
    } else if (c == u'{') {
        const QString ref = s.reference();
        if (ref.startsWith(u'@')) {
            node->kind = Formula::Node::Kind::FormulaRef;
            node->name = ref.mid(1);
        } else {
            node->kind = Formula::Node::Kind::Field;
            node->name = ref;
        }
    } else if (c.isDigit() || c == u'-') {
        node->literal = s.number();
    } else if (c == u'(') {
        s.expect(QLatin1String("("));
        if (nesting >= MaxFormulaDepth)
            s.fail(QStringLiteral("demasiados paréntesis anidados"));
        NodePtr inner = parseExpression(s, nesting + 1);
        s.expect(QLatin1String(")"));
        return inner;
    } else {
        s.fail(c.isNull() ? QStringLiteral("falta un término") : QStringLiteral("carácter inesperado %1").arg(c));
    }
    return node;
}

NodePtr parseExpression(Scanner& s, int nesting)
{
    NodePtr left = parseTerm(s, nesting);
    for (;;) {
        Formula::Node::Kind kind;
        if (s.accept(QLatin1String("+")))
            kind = Formula::Node::Kind::Add;
        else if (s.accept(QLatin1String("&")))
            kind = Formula::Node::Kind::Join;
        else
            return left;
        auto node = std::make_shared<Formula::Node>();
        node->kind = kind;
        node->left = left;
        node->right = parseTerm(s, nesting);
        node->height = 1 + std::max(node->left->height, node->right->height);
        if (node->height > MaxFormulaDepth)
            s.fail(QStringLiteral("demasiados términos seguidos"));
        left = node;
    }
}

QVariant evaluateNode(const Formula::Node& node, const FormulaContext& context)
{
    switch (node.kind) {
    case Formula::Node::Kind::Literal:
        return node.literal;
    case Formula::Node::Kind::Field:
        return withoutPadding(context.field(node.name));
    case Formula::Node::Kind::FormulaRef:
        return context.formula(node.name);
    case Formula::Node::Kind::Add:
    case Formula::Node::Kind::Join: {
        const QVariant left = evaluateNode(*node.left, context);
        const QVariant right = evaluateNode(*node.right, context);
        // A field without a value (NULL, or no row) leaves the whole formula without one, so that a
        // caption such as 'Ejecución nº ' + {T.F} disappears rather than standing half empty.
        if (left.isNull() || right.isNull())
            return {};
        if (node.kind == Formula::Node::Kind::Add && isNumber(left) && isNumber(right))
            return left.toDouble() + right.toDouble();
        return displayText(left) + displayText(right);
    }
    }
    return {};
}

void collect(const Formula::Node* node, Formula::Node::Kind kind, QStringList& out)
{
    if (!node)
        return;
    if (node->kind == kind && !out.contains(node->name))
        out.append(node->name);
    collect(node->left.get(), kind, out);
    collect(node->right.get(), kind, out);
}

}  // namespace

QString displayText(const QVariant& value)
{
    if (value.isNull() || !value.isValid())
        return {};
    switch (value.metaType().id()) {
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = value.toDouble();
        if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 1e15)
            return QString::number(static_cast<qint64>(d));
        return QLocale::system().toString(d, 'g', 15);
    }
    case QMetaType::QDate:
        return value.toDate().toString(QStringLiteral("dd/MM/yyyy"));
    case QMetaType::QDateTime:
        return value.toDateTime().toString(QStringLiteral("dd/MM/yyyy HH:mm"));
    default:
        return value.toString();
    }
}

QVariant withoutPadding(const QVariant& value)
{
    if (value.metaType().id() != QMetaType::QString)
        return value;
    QString text = value.toString();
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1) == u' ')
        --end;
    text.truncate(end);
    return text;
}

Formula::Formula() = default;
Formula::~Formula() = default;
Formula::Formula(const Formula&) = default;
Formula& Formula::operator=(const Formula&) = default;

Formula Formula::parse(const QString& text)
{
    Formula formula;
    Scanner scanner(text, ReportFormulaError);
    if (scanner.atEnd()) {
        auto empty = std::make_shared<Node>();
        empty->literal = QString();
        formula.m_root = empty;
        return formula;
    }
    try {
        formula.m_root = parseExpression(scanner, 0);
        if (!scanner.atEnd())
            scanner.fail(QStringLiteral("texto sobrante"));
    } catch (const Failure&) {
        // A value put between quotes as it is, without doubling the quotes inside it.
        const QString trimmed = text.trimmed();
        if (trimmed.size() >= 2 && (trimmed.front() == u'\'' || trimmed.front() == u'"')
            && trimmed.back() == trimmed.front()) {
            auto literal = std::make_shared<Node>();
            literal->literal = trimmed.mid(1, trimmed.size() - 2);
            formula.m_root = literal;
            return formula;
        }
        throw;
    }
    return formula;
}

QVariant Formula::evaluate(const FormulaContext& context) const
{
    return m_root ? evaluateNode(*m_root, context) : QVariant();
}

int Formula::height() const
{
    return m_root ? m_root->height : 0;
}

QStringList Formula::fieldReferences() const
{
    QStringList out;
    collect(m_root.get(), Node::Kind::Field, out);
    return out;
}

QStringList Formula::formulaReferences() const
{
    QStringList out;
    collect(m_root.get(), Node::Kind::FormulaRef, out);
    return out;
}

SelectionFormula SelectionFormula::parse(const QString& text)
{
    SelectionFormula selection;
    Scanner s(text, ReportSelectionUnsupported);
    if (s.atEnd())
        return selection;
    int depth = 0;  // parentheses may enclose any run of comparisons
    for (;;) {
        while (s.accept(QLatin1String("(")))
            ++depth;
        if (s.peek() != u'{')
            s.fail(QStringLiteral("se esperaba {TABLA.CAMPO}"));
        Comparison c;
        c.field = s.reference();
        if (c.field.startsWith(u'@'))
            s.fail(QStringLiteral("no se admiten fórmulas en la selección"));
        // Longest operators first.
        static const QList<std::pair<QLatin1String, Op>> ops = {
            {QLatin1String("<>"), Op::NotEqual}, {QLatin1String("<="), Op::LessOrEqual},
            {QLatin1String(">="), Op::GreaterOrEqual}, {QLatin1String("="), Op::Equal},
            {QLatin1String("<"), Op::Less}, {QLatin1String(">"), Op::Greater},
        };
        bool found = false;
        for (const auto& [token, op] : ops) {
            if (s.accept(token)) {
                c.op = op;
                found = true;
                break;
            }
        }
        if (!found)
            s.fail(QStringLiteral("se esperaba un operador de comparación"));
        const QChar q = s.peek();
        if (q == u'\'' || q == u'"')
            c.literal = s.quoted();
        else if (q.isDigit() || q == u'-')
            c.literal = s.number();
        else
            s.fail(QStringLiteral("se esperaba un texto entre comillas o un número"));
        while (depth > 0 && s.accept(QLatin1String(")")))
            --depth;
        selection.m_comparisons.append(c);
        if (s.atEnd()) {
            if (depth != 0)
                s.fail(QStringLiteral("falta )"));
            return selection;
        }
        if (!s.accept(QLatin1String("and"), true))
            s.fail(QStringLiteral("solo se admiten comparaciones unidas con AND"));
    }
}

bool SelectionFormula::matches(const FormulaContext& context) const
{
    for (const Comparison& c : m_comparisons) {
        const QVariant value = context.field(c.field);
        if (value.isNull())
            return false;
        int order = 0;
        if (c.literal.metaType().id() == QMetaType::Double) {
            bool ok = false;
            const double number = value.toString().trimmed().toDouble(&ok);
            if (!ok)
                return false;
            const double literal = c.literal.toDouble();
            order = number < literal ? -1 : number > literal ? 1 : 0;
        } else {
            order = displayText(value).compare(c.literal.toString());
        }
        bool ok = false;
        switch (c.op) {
        case Op::Equal: ok = order == 0; break;
        case Op::NotEqual: ok = order != 0; break;
        case Op::Less: ok = order < 0; break;
        case Op::LessOrEqual: ok = order <= 0; break;
        case Op::Greater: ok = order > 0; break;
        case Op::GreaterOrEqual: ok = order >= 0; break;
        }
        if (!ok)
            return false;
    }
    return true;
}

QList<std::pair<QString, QVariant>> SelectionFormula::equalities() const
{
    QList<std::pair<QString, QVariant>> out;
    for (const Comparison& c : m_comparisons)
        if (c.op == Op::Equal)
            out.append({c.field, c.literal});
    return out;
}

QStringList SelectionFormula::fieldReferences() const
{
    QStringList out;
    for (const Comparison& c : m_comparisons)
        if (!out.contains(c.field, Qt::CaseInsensitive))
            out.append(c.field);
    return out;
}

}  // namespace reporting
