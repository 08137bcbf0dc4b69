#include "reporting/report_definition.h"

#include "reporting/formula.h"
#include "reporting/report_engine.h"

#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <cmath>
#include <optional>

namespace reporting {

namespace {

// Thrown inside the reader; becomes a Failure with the file's name and the line.
struct ParseError {
    QString message;
};

class DefinitionReader {
public:
    explicit DefinitionReader(const QByteArray& xml) : m_xml(xml) {}

    ReportDefinition read()
    {
        if (!m_xml.readNextStartElement())
            fail(QStringLiteral("no es un documento XML"));
        if (m_xml.name() != QLatin1String("report"))
            fail(QStringLiteral("el elemento raíz debe ser <report>"));
        const QString version = attribute(QStringLiteral("version"), QStringLiteral("1"));
        if (version != QLatin1String("1"))
            fail(QStringLiteral("versión de formato %1 no admitida").arg(version));
        m_def.title = attribute(QStringLiteral("title"), QString());

        while (m_xml.readNextStartElement()) {
            const auto name = m_xml.name();
            if (name == QLatin1String("page"))
                readPage();
            else if (name == QLatin1String("database"))
                readDatabase();
            else if (name == QLatin1String("formulas"))
                readFormulas();
            else if (name == QLatin1String("sql"))
                m_def.sql = m_xml.readElementText().trimmed();
            else if (name == QLatin1String("sort"))
                readSort();
            else if (name == QLatin1String("pageHeader"))
                m_def.pageHeader = readBand();
            else if (name == QLatin1String("columnHeadings"))
                m_def.columnHeadings = readBand();
            else if (name == QLatin1String("detail"))
                m_def.detail = readBand(nullptr, true);
            else if (name == QLatin1String("noRows"))
                m_def.noRows = readBand();
            else if (name == QLatin1String("reportFooter"))
                readReportFooter();
            else if (name == QLatin1String("pageFooter"))
                m_def.pageFooter = readBand();
            else
                unexpected();
        }
        if (m_xml.hasError())
            fail(m_xml.errorString());
        if (m_def.detail.height <= 0)
            fail(QStringLiteral("falta la banda <detail> o su altura"));
        const double room = m_def.paperSize.height() - m_def.margins.top() - m_def.margins.bottom()
                            - m_def.pageHeader.height - m_def.columnHeadings.height - m_def.pageFooter.height;
        if (room < m_def.detail.height)
            fail(QStringLiteral("las cabeceras y el pie de página no dejan sitio para una línea de detalle"));
        return std::move(m_def);
    }

    qint64 lineNumber() const { return m_xml.lineNumber(); }

private:
    [[noreturn]] void fail(const QString& message) { throw ParseError{message}; }
    [[noreturn]] void unexpected() { fail(QStringLiteral("elemento <%1> inesperado").arg(m_xml.name())); }

    QString attribute(const QString& name, const QString& defaultValue) const
    {
        const auto attributes = m_xml.attributes();
        return attributes.hasAttribute(name) ? attributes.value(name).toString() : defaultValue;
    }

    double number(const QString& name, double defaultValue)
    {
        const auto attributes = m_xml.attributes();
        if (!attributes.hasAttribute(name))
            return defaultValue;
        bool ok = false;
        // Qt also reads "nan" and "inf", which no length is.
        const double value = attributes.value(name).toDouble(&ok);
        if (!ok || !std::isfinite(value) || value < 0)
            fail(QStringLiteral("el atributo %1 de <%2> debe ser un número no negativo").arg(name, m_xml.name()));
        return value;
    }

    bool boolean(const QString& name)
    {
        const QString value = attribute(name, QStringLiteral("false"));
        if (value != QLatin1String("true") && value != QLatin1String("false"))
            fail(QStringLiteral("el atributo %1 debe ser true o false").arg(name));
        return value == QLatin1String("true");
    }

    QColor colour(const QString& name, const QColor& defaultValue)
    {
        const QString value = attribute(name, QString());
        if (value.isEmpty())
            return defaultValue;
        const QColor c = QColor::fromString(value);
        if (!c.isValid())
            fail(QStringLiteral("color %1 no válido").arg(value));
        return c;
    }

    void readPage()
    {
        if (attribute(QStringLiteral("size"), QStringLiteral("A4")) != QLatin1String("A4")
            || attribute(QStringLiteral("orientation"), QStringLiteral("portrait")) != QLatin1String("portrait"))
            fail(QStringLiteral("solo se admite el papel A4 vertical"));
        m_def.margins = QMarginsF(number(QStringLiteral("left"), m_def.margins.left()),
                                  number(QStringLiteral("top"), m_def.margins.top()),
                                  number(QStringLiteral("right"), m_def.margins.right()),
                                  number(QStringLiteral("bottom"), m_def.margins.bottom()));
        if (m_def.contentWidth() <= 0)
            fail(QStringLiteral("los márgenes no dejan sitio en la página"));
        m_xml.skipCurrentElement();
    }

    void readDatabase()
    {
        while (m_xml.readNextStartElement()) {
            if (m_xml.name() != QLatin1String("table"))
                unexpected();
            TableDefinition table;
            table.name = attribute(QStringLiteral("name"), QString());
            if (table.name.isEmpty())
                fail(QStringLiteral("tabla sin nombre"));
            while (m_xml.readNextStartElement()) {
                if (m_xml.name() != QLatin1String("field"))
                    unexpected();
                const QString field = attribute(QStringLiteral("name"), QString());
                if (field.isEmpty())
                    fail(QStringLiteral("campo sin nombre en la tabla %1").arg(table.name));
                table.fields.append(field);
                m_xml.skipCurrentElement();
            }
            m_def.tables.append(table);
        }
    }

    void readFormulas()
    {
        while (m_xml.readNextStartElement()) {
            if (m_xml.name() != QLatin1String("formula"))
                unexpected();
            FormulaDefinition formula;
            formula.name = attribute(QStringLiteral("name"), QString());
            if (formula.name.isEmpty())
                fail(QStringLiteral("fórmula sin nombre"));
            formula.text = m_xml.readElementText();
            m_def.formulas.append(formula);
        }
    }

    // An element that may hold nothing: any child is an error, not silently skipped.
    void noChildren()
    {
        if (m_xml.readNextStartElement())
            unexpected();
    }

    void readSort()
    {
        while (m_xml.readNextStartElement()) {
            if (m_xml.name() != QLatin1String("sortField"))
                unexpected();
            SortFieldDefinition sort;
            sort.field = attribute(QStringLiteral("field"), QString());
            checkField(sort.field);
            const QString direction = attribute(QStringLiteral("direction"), QStringLiteral("ascending"));
            if (direction != QLatin1String("ascending") && direction != QLatin1String("descending"))
                fail(QStringLiteral("dirección %1 no válida").arg(direction));
            sort.descending = direction == QLatin1String("descending");
            sort.natural = boolean(QStringLiteral("natural"));
            m_def.sort.append(sort);
            noChildren();
        }
    }

    RowHighlight readHighlight()
    {
        RowHighlight highlight;
        highlight.when = attribute(QStringLiteral("when"), QString());
        try {
            const SelectionFormula condition = SelectionFormula::parse(highlight.when);
            if (condition.isEmpty())
                fail(QStringLiteral("<highlight> sin condición when"));
            for (const QString& field : condition.fieldReferences())
                checkField(field);
        } catch (const Failure& failure) {
            fail(failure.description);
        }
        highlight.fill = colour(QStringLiteral("fill"), QColor());
        highlight.color = colour(QStringLiteral("color"), QColor());
        highlight.bold = boolean(QStringLiteral("bold"));
        noChildren();
        return highlight;
    }

    void readReportFooter()
    {
        while (m_xml.readNextStartElement()) {
            FooterItem item;
            if (m_xml.name() == QLatin1String("band")) {
                item.band = readBand();
            } else if (m_xml.name() == QLatin1String("countPerValue")) {
                item.kind = FooterItem::Kind::CountPerValue;
                item.count.field = attribute(QStringLiteral("field"), QString());
                checkField(item.count.field);
                item.count.line = readBand(&item.count.values);
            } else {
                unexpected();
            }
            m_def.reportFooter.append(item);
        }
    }

    void checkField(const QString& reference)
    {
        for (const TableDefinition& table : std::as_const(m_def.tables))
            for (const QString& field : table.fields)
                if (reference.compare(QStringLiteral("{%1.%2}").arg(table.name, field), Qt::CaseInsensitive) == 0)
                    return;
        fail(QStringLiteral("el campo %1 no está en <database>").arg(reference));
    }

    // Band contents; values (count sections only) collects <value> children; only the detail band
    // holds <highlight>s.
    ReportBand readBand(QStringList* values = nullptr, bool detail = false)
    {
        ReportBand band;
        band.height = number(QStringLiteral("height"), 0);
        band.alternateFill = colour(QStringLiteral("alternateFill"), QColor());
        while (m_xml.readNextStartElement()) {
            if (values && m_xml.name() == QLatin1String("value")) {
                values->append(m_xml.readElementText());
                continue;
            }
            if (m_xml.name() == QLatin1String("highlight")) {
                if (!detail)
                    fail(QStringLiteral("<highlight> solo cabe en <detail>"));
                band.highlights.append(readHighlight());
                continue;
            }
            band.elements.append(readElement(values != nullptr));
        }
        return band;
    }

    ReportElement readElement(bool inCountSection)
    {
        static const QList<std::pair<QLatin1String, ElementKind>> kinds = {
            {QLatin1String("text"), ElementKind::Text},
            {QLatin1String("field"), ElementKind::Field},
            {QLatin1String("formula"), ElementKind::Formula},
            {QLatin1String("printDate"), ElementKind::PrintDate},
            {QLatin1String("pageNumber"), ElementKind::PageNumber},
            {QLatin1String("recordCount"), ElementKind::RecordCount},
            {QLatin1String("groupValue"), ElementKind::GroupValue},
            {QLatin1String("groupCount"), ElementKind::GroupCount},
            {QLatin1String("line"), ElementKind::Line},
            {QLatin1String("rect"), ElementKind::Rect},
        };
        std::optional<ElementKind> kind;
        for (const auto& [name, k] : kinds)
            if (m_xml.name() == name)
                kind = k;
        if (!kind)
            unexpected();

        ReportElement e;
        e.kind = *kind;
        if (e.kind == ElementKind::Line) {
            const double x1 = number(QStringLiteral("x1"), 0), y1 = number(QStringLiteral("y1"), 0);
            e.rect = QRectF(QPointF(x1, y1), QPointF(number(QStringLiteral("x2"), x1), number(QStringLiteral("y2"), y1)));
        } else {
            e.rect = QRectF(number(QStringLiteral("x"), 0), number(QStringLiteral("y"), 0),
                            number(QStringLiteral("width"), 0), number(QStringLiteral("height"), 0));
        }
        e.fontFamily = attribute(QStringLiteral("font"), e.fontFamily);
        e.fontSize = number(QStringLiteral("size"), e.fontSize);
        e.bold = boolean(QStringLiteral("bold"));
        e.italic = boolean(QStringLiteral("italic"));
        e.color = colour(QStringLiteral("color"), e.color);
        e.fill = colour(QStringLiteral("fill"), QColor());
        e.penWidth = number(QStringLiteral("penWidth"), e.penWidth);
        const QString align = attribute(QStringLiteral("align"), QStringLiteral("left"));
        const Qt::Alignment horizontal = align == QLatin1String("center") ? Qt::AlignHCenter
                                         : align == QLatin1String("right") ? Qt::AlignRight
                                                                           : Qt::AlignLeft;
        if (align != QLatin1String("left") && align != QLatin1String("center") && align != QLatin1String("right"))
            fail(QStringLiteral("alineación %1 no válida").arg(align));
        e.alignment = horizontal | Qt::AlignVCenter;

        switch (e.kind) {
        case ElementKind::Field:
            e.text = attribute(QStringLiteral("ref"), QString());
            checkField(e.text);
            break;
        case ElementKind::Formula: {
            e.text = attribute(QStringLiteral("name"), QString());
            const bool known = std::any_of(m_def.formulas.cbegin(), m_def.formulas.cend(),
                                           [&](const FormulaDefinition& f) { return f.name == e.text; });
            if (!known)
                fail(QStringLiteral("la fórmula %1 no está en <formulas>").arg(e.text));
            break;
        }
        case ElementKind::PrintDate:
            e.text = attribute(QStringLiteral("format"), QStringLiteral("dd/MM/yyyy"));
            break;
        case ElementKind::PageNumber:
            e.text = attribute(QStringLiteral("format"), QStringLiteral("Página %1 de %2"));
            break;
        case ElementKind::GroupValue:
        case ElementKind::GroupCount:
            if (!inCountSection)
                fail(QStringLiteral("<%1> solo cabe en <countPerValue>").arg(m_xml.name()));
            break;
        default:
            break;
        }
        if (e.kind == ElementKind::Text)
            e.text = m_xml.readElementText();
        else
            m_xml.skipCurrentElement();
        return e;
    }

    QXmlStreamReader m_xml;
    ReportDefinition m_def;
};

Failure notReadable(const QString& sourceName, const QString& why)
{
    return Failure(ReportFileNotFound, QStringLiteral("Motor de informes"),
                   QStringLiteral("No se puede abrir el informe %1: %2").arg(sourceName, why));
}

}  // namespace

ReportDefinition parseReportDefinition(const QByteArray& xml, const QString& sourceName)
{
    DefinitionReader reader(xml);
    try {
        return reader.read();
    } catch (const ParseError& e) {
        throw notReadable(sourceName, QStringLiteral("línea %1: %2").arg(reader.lineNumber()).arg(e.message));
    }
}

ReportDefinition readReportDefinition(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw notReadable(path, file.errorString());
    const QByteArray xml = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw notReadable(path, file.errorString());
    return parseReportDefinition(xml, QFileInfo(path).fileName());
}

}  // namespace reporting
