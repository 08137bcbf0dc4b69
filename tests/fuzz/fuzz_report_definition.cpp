// The report definition reader, and what the engine then makes of a definition it accepted: the
// formulas parsed, rows laid out on pages and the pages' texts, without a database.
// Input: the .rpt file's bytes.

#include "common/failure.h"
#include "fuzz_support.h"
#include "reporting/report_definition.h"
#include "reporting/report_document.h"
#include "reporting/report_engine.h"

#include <QDateTime>

#include <cmath>
#include <optional>

namespace {

bool isLength(double value) { return std::isfinite(value) && value >= 0; }

void checkBand(const reporting::ReportBand& band, const QString& name)
{
    fuzz::check(isLength(band.height), name + QStringLiteral(" height"));
    for (const reporting::ReportElement& e : band.elements) {
        const QRectF& r = e.rect;  // a line's box may run backwards
        fuzz::check(std::isfinite(r.x()) && std::isfinite(r.y()) && std::isfinite(r.width()) && std::isfinite(r.height()),
                    name + QStringLiteral(" element box"));
        fuzz::check(isLength(e.fontSize) && isLength(e.penWidth), name + QStringLiteral(" font size or pen width"));
    }
}

// What the reader promises of a definition it accepts: lengths are lengths, the page has room for
// the content and one detail row fits between the page header and headings and the page footer.
void checkDefinition(const reporting::ReportDefinition& def)
{
    const QMarginsF& m = def.margins;
    fuzz::check(isLength(m.left()) && isLength(m.top()) && isLength(m.right()) && isLength(m.bottom()),
                QStringLiteral("margins"));
    fuzz::check(def.contentWidth() > 0, QStringLiteral("room across the page"));
    checkBand(def.pageHeader, QStringLiteral("pageHeader"));
    checkBand(def.columnHeadings, QStringLiteral("columnHeadings"));
    checkBand(def.detail, QStringLiteral("detail"));
    checkBand(def.noRows, QStringLiteral("noRows"));
    checkBand(def.pageFooter, QStringLiteral("pageFooter"));
    for (const reporting::FooterItem& item : def.reportFooter) {
        checkBand(item.band, QStringLiteral("reportFooter band"));
        checkBand(item.count.line, QStringLiteral("countPerValue"));
    }
    const double room = def.paperSize.height() - m.top() - m.bottom() - def.pageHeader.height
                        - def.columnHeadings.height - def.pageFooter.height;
    fuzz::check(def.detail.height > 0 && room >= def.detail.height, QStringLiteral("room for one detail row"));
}

// Three rows (a padded text, a number, no values) laid out, every page's text taken.
void layOut(const reporting::ReportDefinition& def)
{
    QStringList fields;
    for (const reporting::TableDefinition& table : def.tables)
        for (const QString& field : table.fields)
            fields.append(QStringLiteral("{%1.%2}").arg(table.name, field));
    std::optional<reporting::ReportDocument> document;
    try {
        document.emplace(def, fields, def.formulas, QDateTime(QDate(2017, 5, 29), QTime(10, 30)));
    } catch (const Failure& failure) {
        fuzz::check(failure.number == reporting::ReportFormulaError, QStringLiteral("formula raised %1").arg(failure.number));
        return;
    }
    document->appendRow(QVariantList(fields.size(), QStringLiteral("Foto Insertada  ")));
    document->appendRow(QVariantList(fields.size(), 7));
    document->appendRow(QVariantList(fields.size()));
    document->finish();

    fuzz::check(document->pageCount() >= 1, QStringLiteral("at least one page"));
    const double bodyBottom = def.paperSize.height() - def.margins.bottom() - def.pageFooter.height;
    for (int page = 0; page < document->pageCount(); ++page) {
        for (const reporting::PlacedBand& band : document->pages().at(page).bands)
            if (band.kind == reporting::BandKind::Detail)
                fuzz::check(band.bottom() <= bodyBottom + 1e-6, QStringLiteral("detail row above the page footer"));
        document->pageText(page);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray xml = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    reporting::ReportDefinition def;
    try {
        def = reporting::parseReportDefinition(xml, QStringLiteral("fuzz.rpt"));
    } catch (const Failure& failure) {
        fuzz::check(failure.number == reporting::ReportFileNotFound && failure.description.contains(QStringLiteral("fuzz.rpt")),
                    QStringLiteral("refusal names the file"));
        return 0;
    }
    checkDefinition(def);
    layOut(def);
    return 0;
}
