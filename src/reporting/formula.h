#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>

// Formula texts of report definitions and of record selection formulas (REPORT_FORMAT.md).
namespace reporting {

// What a formula reads while it is evaluated: the fields of the current row and other formulas.
class FormulaContext {
public:
    virtual ~FormulaContext() = default;
    // The value of {TABLE.FIELD} in the current row (names without regard to case).
    virtual QVariant field(const QString& reference) const = 0;
    // The value of the formula {@name}.
    virtual QVariant formula(const QString& name) const = 0;
};

// The text shown for a value: whole numbers without decimals, dates as dd/MM/yyyy.
QString displayText(const QVariant& value);
// A database value without the blanks that fixed-width (CHAR) columns pad texts with.
QVariant withoutPadding(const QVariant& value);

// How deep a formula may nest: its tree (each term in a row nests one level deeper, a reference to
// another formula as deep as that one) and its parentheses. Parsing, evaluating and freeing a
// formula recurse once per level: a deeper one is refused rather than exhausting the stack.
constexpr int MaxFormulaDepth = 256;

// terms joined by + or &: 'text' or "text" (a doubled quote stands for one), numbers, {TABLE.FIELD},
// {@formula} and parenthesised formulas. + adds two numbers and joins anything else; & always joins.
class Formula final {
public:
    Formula();
    ~Formula();
    Formula(const Formula&);
    Formula& operator=(const Formula&);

    // Raises Failure ReportFormulaError for text that does not parse. A text that does not parse but
    // starts and ends with the same quote is taken as a literal text (a value quoted without doubling
    // the quotes inside it, as 'O'Brien').
    static Formula parse(const QString& text);
    QVariant evaluate(const FormulaContext& context) const;
    // Levels of the formula's tree, at most MaxFormulaDepth; references to other formulas count one.
    int height() const;
    QStringList fieldReferences() const;
    QStringList formulaReferences() const;

    struct Node;

private:
    std::shared_ptr<const Node> m_root;
};

// Record selection formula: comparisons {TABLE.FIELD} op literal, op one of = <> < <= > >=, literal a
// quoted text or a number, joined with AND (any case), optionally in parentheses. Anything else is
// refused with Failure ReportSelectionUnsupported: never silently ignored.
class SelectionFormula final {
public:
    static SelectionFormula parse(const QString& text);
    bool isEmpty() const { return m_comparisons.isEmpty(); }
    bool matches(const FormulaContext& context) const;
    QStringList fieldReferences() const;
    // The "=" comparisons, field and literal: every row the formula lets through has that value.
    QList<std::pair<QString, QVariant>> equalities() const;

    enum class Op { Equal, NotEqual, Less, LessOrEqual, Greater, GreaterOrEqual };
    struct Comparison {
        QString field;
        Op op = Op::Equal;
        QVariant literal;  // QString or double
    };

private:
    QList<Comparison> m_comparisons;
};

}  // namespace reporting
