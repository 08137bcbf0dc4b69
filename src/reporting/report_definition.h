#pragma once

#include <QByteArray>
#include <QColor>
#include <QList>
#include <QMarginsF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>

// A report definition as read from a .rpt file (format: REPORT_FORMAT.md). Lengths in millimetres.
namespace reporting {

enum class ElementKind {
    Text,         // fixed text
    Field,        // value of a database field {TABLE.FIELD} in the current row
    Formula,      // value of a formula field
    PrintDate,    // date (and time) the report was run
    PageNumber,   // "Página %1 de %2"
    RecordCount,  // number of rows of the report
    GroupValue,   // in a count-per-value section: the value counted
    GroupCount,   // in a count-per-value section: its number of rows
    Line,
    Rect,
};

struct ReportElement {
    ElementKind kind = ElementKind::Text;
    QRectF rect;  // relative to the band's top-left corner (the left margin)
    // Fixed text, field reference, formula name, or date / page-number format.
    QString text;
    QString fontFamily = QStringLiteral("DejaVu Sans");
    double fontSize = 9.0;  // points
    bool bold = false;
    bool italic = false;
    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
    QColor color = Qt::black;
    QColor fill;             // Rect: fill colour (invalid: none)
    double penWidth = 0.25;  // Line, Rect: 0 draws no border
};

// Detail rows that meet a condition (record selection syntax) stand out: a background of their
// own, their texts in another colour, bold.
struct RowHighlight {
    QString when;
    QColor fill;   // invalid: the row's usual background
    QColor color;  // invalid: each element's own colour
    bool bold = false;
};

struct ReportBand {
    double height = 0;
    QList<ReportElement> elements;
    QColor alternateFill;  // detail band: background of every second row
    QList<RowHighlight> highlights;  // detail band: the first that a row meets applies
    bool isEmpty() const { return height <= 0; }
};

// One line per value of a field: the declared values first (also when no row has them),
// then any other value found, in order of first appearance.
struct CountSection {
    QString field;  // {TABLE.FIELD}
    QStringList values;
    ReportBand line;
};

struct FooterItem {
    enum class Kind { Band, CountPerValue };
    Kind kind = Kind::Band;
    ReportBand band;
    CountSection count;
};

struct TableDefinition {
    QString name;
    QStringList fields;  // column names
};

// The report's own order of its rows, after any sort fields the program adds.
struct SortFieldDefinition {
    QString field;  // {TABLE.FIELD}
    bool descending = false;
    bool natural = false;  // texts in natural order (NaturalOrder)
};

struct FormulaDefinition {
    QString name;
    QString text;
};

struct ReportDefinition {
    QString title;
    QSizeF paperSize{210.0, 297.0};  // A4 portrait
    QMarginsF margins{15.0, 12.0, 15.0, 12.0};
    QList<TableDefinition> tables;
    QList<FormulaDefinition> formulas;
    QString sql;
    QList<SortFieldDefinition> sort;
    ReportBand pageHeader;
    ReportBand columnHeadings;
    ReportBand detail;
    ReportBand noRows;  // shown in place of the detail rows when there are none
    QList<FooterItem> reportFooter;
    ReportBand pageFooter;

    double contentWidth() const { return paperSize.width() - margins.left() - margins.right(); }
};

// Reads a definition file; a file that cannot be opened, read or parsed raises
// Failure ReportFileNotFound whose description says why.
ReportDefinition readReportDefinition(const QString& path);
// The same for definition text; sourceName names it in failure descriptions.
ReportDefinition parseReportDefinition(const QByteArray& xml, const QString& sourceName);

}  // namespace reporting
