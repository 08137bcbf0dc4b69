#pragma once

#include "reporting/formula.h"
#include "reporting/report_definition.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QVariant>

class QPainter;

namespace reporting {

enum class BandKind { PageHeader, ColumnHeadings, Detail, NoRows, FooterBand, CountLine, PageFooter };

struct PlacedBand {
    BandKind kind = BandKind::Detail;
    double top = 0;     // millimetres from the paper's top edge
    double height = 0;
    int row = -1;       // the row whose fields the band shows (-1: none)
    int item = -1;      // FooterBand, CountLine: index in the report footer
    int line = -1;      // CountLine: index of the counted value
    double bottom() const { return top + height; }
};

struct PageLayout {
    QList<PlacedBand> bands;
};

// Places bands on pages, once, apart from painting: the page header and page footer on every page,
// the column headings on every page with detail rows, a detail row only where it fits above the
// page footer, then the report footer.
class Paginator final {
public:
    explicit Paginator(const ReportDefinition& definition);

    void addRow(int row);
    // Places the report footer; footerLines holds the number of lines of each footer item
    // (1 for a band, the number of values for a count section).
    void finish(const QList<int>& footerLines);

    const QList<PageLayout>& pages() const { return m_pages; }
    bool isFinished() const { return m_finished; }
    // Bottom limit of the body of every page: where the page footer starts.
    double bodyBottom() const;

private:
    void startPage(bool withHeadings);
    void place(BandKind kind, double height, int row, int item, int line, bool withHeadings);

    const ReportDefinition& m_def;
    QList<PageLayout> m_pages;
    double m_y = 0;
    bool m_pageHasBody = false;
    int m_lastRow = -1;
    bool m_finished = false;
};

// The rows of one report run laid out on pages; paints any page once it is laid out.
class ReportDocument final {
public:
    // fields: the {TABLE.FIELD} names of each row's values, in order; formulas: the formula texts
    // in use (parsed here: a formula that does not parse raises Failure ReportFormulaError).
    ReportDocument(const ReportDefinition& definition, QStringList fields, const QList<FormulaDefinition>& formulas,
                   QDateTime printDate);
    ~ReportDocument();

    void appendRow(QVariantList values);
    void finish();
    // Values that the report's conditions hold every row to, by {TABLE.FIELD}: what such a field
    // shows in a band without a row (the page header of a report without rows).
    void setFixedValues(const QHash<QString, QVariant>& values);

    bool isFinished() const { return m_paginator.isFinished(); }
    int rowCount() const { return static_cast<int>(m_rows.size()); }
    int pageCount() const { return static_cast<int>(m_paginator.pages().size()); }
    // Pages that will not change any more: all once finished, else all but the one being filled.
    int completedPageCount() const;
    const QList<PageLayout>& pages() const { return m_paginator.pages(); }
    const ReportDefinition& definition() const { return m_def; }

    // The field's value in a row; for no row (-1), the value the report's conditions fix, if any.
    QVariant value(int row, const QString& field) const;
    QVariant formulaValue(int row, const QString& name) const;
    // Lines of a count section: value and number of rows, declared values first.
    QList<std::pair<QString, int>> countLines(int footerItem) const;

    // Paints a page (0-based) at the size of the painter's device resolution: one millimetre is
    // logicalDpiX / 25.4 device units, the origin is the paper's top-left corner.
    void paintPage(int page, QPainter& painter) const;
    // The texts shown on a page, one element a line (search and tests).
    QString pageText(int page) const;

private:
    struct RowContext;
    struct Count {
        QStringList order;
        QHash<QString, int> counts;
    };
    QString elementText(const ReportElement& element, const PlacedBand& band, int page) const;
    const RowHighlight* highlightOf(const PlacedBand& band) const;
    const ReportBand& bandOf(const PlacedBand& band) const;

    const ReportDefinition& m_def;
    QStringList m_fields;
    QHash<QString, int> m_fieldIndex;  // lower-case {table.field} -> index
    QHash<QString, Formula> m_formulas;
    QHash<QString, QVariant> m_fixed;  // lower-case {table.field} -> value
    QList<SelectionFormula> m_highlights;  // the detail band's conditions, in order
    QDateTime m_printDate;
    QList<QVariantList> m_rows;
    QList<Count> m_counts;  // per footer item
    Paginator m_paginator;
};

}  // namespace reporting
