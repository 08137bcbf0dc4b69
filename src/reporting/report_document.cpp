#include "reporting/report_document.h"

#include "reporting/report_engine.h"

#include <QFontMetricsF>
#include <QLocale>
#include <QPaintDevice>
#include <QPainter>

#include <algorithm>
#include <functional>

namespace reporting {

namespace {
constexpr double Epsilon = 1e-6;
}

// ---------------------------------------------------------------------------------------------
// Pagination

Paginator::Paginator(const ReportDefinition& definition) : m_def(definition) {}

double Paginator::bodyBottom() const
{
    return m_def.paperSize.height() - m_def.margins.bottom() - m_def.pageFooter.height;
}

void Paginator::startPage(bool withHeadings)
{
    m_pages.append(PageLayout{});
    PageLayout& page = m_pages.last();
    m_y = m_def.margins.top();
    if (!m_def.pageHeader.isEmpty()) {
        page.bands.append({BandKind::PageHeader, m_y, m_def.pageHeader.height});
        m_y += m_def.pageHeader.height;
    }
    if (!m_def.pageFooter.isEmpty())
        page.bands.append({BandKind::PageFooter, bodyBottom(), m_def.pageFooter.height});
    if (withHeadings && !m_def.columnHeadings.isEmpty()) {
        page.bands.append({BandKind::ColumnHeadings, m_y, m_def.columnHeadings.height});
        m_y += m_def.columnHeadings.height;
    }
    m_pageHasBody = false;
}

void Paginator::place(BandKind kind, double height, int row, int item, int line, bool withHeadings)
{
    // The page footer's room is reserved: a band goes on the next page unless it fits above it
    // (a band taller than a whole page still goes on a page of its own rather than nowhere).
    if (m_pages.isEmpty() || (m_pageHasBody && m_y + height > bodyBottom() + Epsilon))
        startPage(withHeadings);
    PageLayout& page = m_pages.last();
    page.bands.append({kind, m_y, height, row, item, line});
    m_y += height;
    m_pageHasBody = true;
    // Page header, headings and page footer show the fields of the page's first row.
    if (kind == BandKind::Detail)
        for (PlacedBand& band : page.bands)
            if (band.row < 0 && (band.kind == BandKind::PageHeader || band.kind == BandKind::PageFooter
                                 || band.kind == BandKind::ColumnHeadings))
                band.row = row;
}

void Paginator::addRow(int row)
{
    place(BandKind::Detail, m_def.detail.height, row, -1, -1, true);
    m_lastRow = row;
}

void Paginator::finish(const QList<int>& footerLines)
{
    if (m_finished)
        return;
    if (m_pages.isEmpty()) {
        startPage(true);
        if (!m_def.noRows.isEmpty())
            place(BandKind::NoRows, m_def.noRows.height, -1, -1, -1, true);
    }
    for (int item = 0; item < m_def.reportFooter.size(); ++item) {
        const FooterItem& footer = m_def.reportFooter.at(item);
        if (footer.kind == FooterItem::Kind::Band) {
            if (!footer.band.isEmpty())
                place(BandKind::FooterBand, footer.band.height, m_lastRow, item, -1, false);
            continue;
        }
        const int lines = item < footerLines.size() ? footerLines.at(item) : 0;
        for (int line = 0; line < lines; ++line)
            place(BandKind::CountLine, footer.count.line.height, m_lastRow, item, line, false);
    }
    // Pages that hold only the report footer show the fields of the last row.
    for (PageLayout& page : m_pages)
        for (PlacedBand& band : page.bands)
            if (band.row < 0 && (band.kind == BandKind::PageHeader || band.kind == BandKind::PageFooter
                                 || band.kind == BandKind::ColumnHeadings))
                band.row = m_lastRow;
    m_finished = true;
}

// ---------------------------------------------------------------------------------------------
// Document

struct ReportDocument::RowContext final : FormulaContext {
    RowContext(const ReportDocument& doc, int row) : doc(doc), row(row) {}
    QVariant field(const QString& reference) const override { return doc.value(row, reference); }
    QVariant formula(const QString& name) const override { return doc.formulaValue(row, name); }
    const ReportDocument& doc;
    int row;
};

ReportDocument::ReportDocument(const ReportDefinition& definition, QStringList fields,
                               const QList<FormulaDefinition>& formulas, QDateTime printDate)
    : m_def(definition), m_fields(std::move(fields)), m_printDate(std::move(printDate)), m_paginator(definition)
{
    for (int i = 0; i < m_fields.size(); ++i)
        m_fieldIndex.insert(m_fields.at(i).toLower(), i);
    for (const FormulaDefinition& f : formulas) {
        Formula parsed;
        try {
            parsed = Formula::parse(f.text);
        } catch (Failure& failure) {
            failure.description = QStringLiteral("%1: %2").arg(f.name, failure.description);
            throw;
        }
        for (const QString& field : parsed.fieldReferences())
            if (!m_fieldIndex.contains(field.toLower()))
                throw Failure(ReportFormulaError, QStringLiteral("Motor de informes"),
                              QStringLiteral("%1: el campo %2 no es del informe").arg(f.name, field));
        m_formulas.insert(f.name, parsed);
    }
    // Formula references must name formulas, must not go round in a circle, and must not nest
    // deeper than a formula may (evaluating one recurses into those it refers to).
    QHash<QString, int> state;  // 1 visiting, 2 done
    QHash<QString, int> depth;  // of a formula done: its height plus the depth of the deepest it refers to
    std::function<int(const QString&, int)> visit = [&](const QString& name, int chain) {
        if (state.value(name) == 2)
            return depth.value(name);
        if (state.value(name) == 1)
            throw Failure(ReportFormulaError, QStringLiteral("Motor de informes"),
                          QStringLiteral("La fórmula %1 se refiere a sí misma").arg(name));
        const auto tooDeep = [&] {
            return Failure(ReportFormulaError, QStringLiteral("Motor de informes"),
                           QStringLiteral("La fórmula %1 anida demasiadas fórmulas").arg(name));
        };
        if (chain > MaxFormulaDepth)
            throw tooDeep();
        state.insert(name, 1);
        int deepest = 0;
        for (const QString& ref : m_formulas.value(name).formulaReferences()) {
            if (!m_formulas.contains(ref))
                throw Failure(ReportFormulaError, QStringLiteral("Motor de informes"),
                              QStringLiteral("%1: la fórmula {@%2} no existe").arg(name, ref));
            deepest = std::max(deepest, visit(ref, chain + 1));
        }
        const int total = m_formulas.value(name).height() + deepest;
        if (total > MaxFormulaDepth)
            throw tooDeep();
        state.insert(name, 2);
        depth.insert(name, total);
        return total;
    };
    for (auto it = m_formulas.cbegin(); it != m_formulas.cend(); ++it)
        visit(it.key(), 1);
    for (const RowHighlight& highlight : m_def.detail.highlights)
        m_highlights.append(SelectionFormula::parse(highlight.when));
    m_counts.resize(m_def.reportFooter.size());
    for (int i = 0; i < m_def.reportFooter.size(); ++i)
        m_counts[i].order = m_def.reportFooter.at(i).count.values;
}

ReportDocument::~ReportDocument() = default;

void ReportDocument::appendRow(QVariantList values)
{
    m_rows.append(std::move(values));
    const int row = rowCount() - 1;
    for (int i = 0; i < m_def.reportFooter.size(); ++i) {
        const FooterItem& item = m_def.reportFooter.at(i);
        if (item.kind != FooterItem::Kind::CountPerValue)
            continue;
        const QString key = displayText(value(row, item.count.field));
        Count& count = m_counts[i];
        if (!count.order.contains(key))
            count.order.append(key);
        ++count.counts[key];
    }
    m_paginator.addRow(row);
}

void ReportDocument::finish()
{
    QList<int> lines;
    for (const Count& count : std::as_const(m_counts))
        lines.append(static_cast<int>(count.order.size()));
    m_paginator.finish(lines);
}

void ReportDocument::setFixedValues(const QHash<QString, QVariant>& values)
{
    m_fixed.clear();
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        m_fixed.insert(it.key().toLower(), it.value());
}

int ReportDocument::completedPageCount() const
{
    return isFinished() ? pageCount() : std::max(0, pageCount() - 1);
}

QVariant ReportDocument::value(int row, const QString& field) const
{
    if (row < 0)
        return m_fixed.value(field.toLower());
    if (row >= m_rows.size())
        return {};
    const int index = m_fieldIndex.value(field.toLower(), -1);
    const QVariantList& values = m_rows.at(row);
    return index >= 0 && index < values.size() ? values.at(index) : QVariant();
}

QVariant ReportDocument::formulaValue(int row, const QString& name) const
{
    const auto it = m_formulas.constFind(name);
    return it == m_formulas.cend() ? QVariant() : it->evaluate(RowContext(*this, row));
}

QList<std::pair<QString, int>> ReportDocument::countLines(int footerItem) const
{
    QList<std::pair<QString, int>> lines;
    if (footerItem < 0 || footerItem >= m_counts.size())
        return lines;
    const Count& count = m_counts.at(footerItem);
    for (const QString& key : count.order)
        lines.append({key, count.counts.value(key)});
    return lines;
}

const ReportBand& ReportDocument::bandOf(const PlacedBand& band) const
{
    switch (band.kind) {
    case BandKind::PageHeader: return m_def.pageHeader;
    case BandKind::ColumnHeadings: return m_def.columnHeadings;
    case BandKind::Detail: return m_def.detail;
    case BandKind::NoRows: return m_def.noRows;
    case BandKind::PageFooter: return m_def.pageFooter;
    case BandKind::FooterBand: return m_def.reportFooter.at(band.item).band;
    case BandKind::CountLine: return m_def.reportFooter.at(band.item).count.line;
    }
    Q_UNREACHABLE();
}

const RowHighlight* ReportDocument::highlightOf(const PlacedBand& band) const
{
    if (band.kind != BandKind::Detail)
        return nullptr;
    for (int i = 0; i < m_highlights.size(); ++i)
        if (m_highlights.at(i).matches(RowContext(*this, band.row)))
            return &m_def.detail.highlights.at(i);
    return nullptr;
}

QString ReportDocument::elementText(const ReportElement& e, const PlacedBand& band, int page) const
{
    switch (e.kind) {
    case ElementKind::Text: return e.text;
    case ElementKind::Field: return displayText(value(band.row, e.text));
    case ElementKind::Formula: return displayText(formulaValue(band.row, e.text));
    case ElementKind::PrintDate: return QLocale(QLocale::Spanish, QLocale::Spain).toString(m_printDate, e.text);
    case ElementKind::PageNumber:
        // Until the last page is laid out the number of pages is not known yet.
        return QString(e.text).replace(QLatin1String("%1"), QString::number(page + 1))
            .replace(QLatin1String("%2"), isFinished() ? QString::number(pageCount()) : QStringLiteral("…"));
    case ElementKind::RecordCount: return QString::number(rowCount());
    case ElementKind::GroupValue:
    case ElementKind::GroupCount: {
        const auto lines = countLines(band.item);
        if (band.line < 0 || band.line >= lines.size())
            return {};
        const auto& [key, count] = lines.at(band.line);
        return e.kind == ElementKind::GroupValue ? key : QString::number(count);
    }
    case ElementKind::Line:
    case ElementKind::Rect:
        return {};
    }
    return {};
}

void ReportDocument::paintPage(int page, QPainter& painter) const
{
    if (page < 0 || page >= pageCount())
        return;
    const QPaintDevice* device = painter.device();
    const double unit = (device ? device->logicalDpiX() : 96) / 25.4;  // device units per millimetre
    const auto toDevice = [unit](const QRectF& mm) {
        return QRectF(mm.x() * unit, mm.y() * unit, mm.width() * unit, mm.height() * unit);
    };
    const double left = m_def.margins.left();
    const double width = m_def.contentWidth();

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    for (const PlacedBand& placed : m_paginator.pages().at(page).bands) {
        const ReportBand& band = bandOf(placed);
        const RowHighlight* highlight = highlightOf(placed);
        const QRectF bandRect = toDevice(QRectF(left, placed.top, width, placed.height));
        if (highlight && highlight->fill.isValid())
            painter.fillRect(bandRect, highlight->fill);
        else if (placed.kind == BandKind::Detail && band.alternateFill.isValid() && placed.row % 2 == 1)
            painter.fillRect(bandRect, band.alternateFill);
        for (const ReportElement& e : band.elements) {
            const QRectF mm = e.rect.translated(left, placed.top);
            if (e.kind == ElementKind::Line) {
                if (e.penWidth <= 0)
                    continue;
                painter.setPen(QPen(e.color, e.penWidth * unit, Qt::SolidLine, Qt::FlatCap));
                painter.drawLine(QPointF(mm.left() * unit, mm.top() * unit), QPointF(mm.right() * unit, mm.bottom() * unit));
                continue;
            }
            if (e.kind == ElementKind::Rect) {
                painter.setPen(e.penWidth > 0 ? QPen(e.color, e.penWidth * unit) : QPen(Qt::NoPen));
                painter.setBrush(e.fill.isValid() ? QBrush(e.fill) : QBrush(Qt::NoBrush));
                painter.drawRect(toDevice(mm));
                continue;
            }
            const QString text = elementText(e, placed, page);
            if (text.isEmpty())
                continue;
            QFont font(e.fontFamily);
            font.setPointSizeF(e.fontSize);
            font.setBold(e.bold || (highlight && highlight->bold));
            font.setItalic(e.italic);
            painter.setFont(font);
            painter.setPen(highlight && highlight->color.isValid() ? highlight->color : e.color);
            const QRectF target = toDevice(mm);
            // Texts longer than their box are cut with an ellipsis rather than overlapping the next column.
            const QString shown = QFontMetricsF(painter.font(), painter.device())
                                      .elidedText(text, Qt::ElideRight, target.width());
            painter.drawText(target, static_cast<int>(e.alignment) | Qt::TextSingleLine, shown);
        }
    }
    painter.restore();
}

QString ReportDocument::pageText(int page) const
{
    QStringList lines;
    if (page < 0 || page >= pageCount())
        return {};
    for (const PlacedBand& placed : m_paginator.pages().at(page).bands)
        for (const ReportElement& e : bandOf(placed).elements) {
            const QString text = elementText(e, placed, page);
            if (!text.isEmpty())
                lines.append(text);
        }
    return lines.join(u'\n');
}

}  // namespace reporting
