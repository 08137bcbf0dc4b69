#include "reporting/engine_report.h"

#include "db/connection.h"
#include "db/row_reader.h"
#include "reporting/natural_order.h"
#include "reporting/query_conditions.h"

#include <QElapsedTimer>
#include <QSet>

#include <algorithm>

namespace reporting {

namespace {

const QString EngineSource = QStringLiteral("Motor de informes");
constexpr int LogOnTimeoutSeconds = 15;

Failure outOfRange(const QString& collection, int index)
{
    return Failure(ReportSubscriptOutOfRange, EngineSource,
                   QStringLiteral("Subíndice fuera del intervalo: %1 %2").arg(collection).arg(index));
}

// Field values of a row still being fetched, for the selection formula.
struct FetchedRow final : FormulaContext {
    FetchedRow(const QHash<QString, int>& index, const QVariantList& values) : index(index), values(values) {}
    QVariant field(const QString& reference) const override
    {
        const int i = index.value(reference.toLower(), -1);
        return i >= 0 ? values.at(i) : QVariant();
    }
    QVariant formula(const QString&) const override { return {}; }
    const QHash<QString, int>& index;
    const QVariantList& values;
};

bool isNumeric(const QVariant& v)
{
    const int id = v.metaType().id();
    return id == QMetaType::Int || id == QMetaType::UInt || id == QMetaType::LongLong || id == QMetaType::ULongLong
           || id == QMetaType::Double || id == QMetaType::Float || id == QMetaType::Short || id == QMetaType::UShort
           || id == QMetaType::Long || id == QMetaType::ULong;
}

// Nulls first, numbers by value, dates by time, anything else as text in the user's language.
int compareValues(const QVariant& a, const QVariant& b)
{
    if (a.isNull() || b.isNull())
        return (b.isNull() ? 0 : -1) + (a.isNull() ? 0 : 1);
    if (isNumeric(a) && isNumeric(b)) {
        const double x = a.toDouble(), y = b.toDouble();
        return x < y ? -1 : x > y ? 1 : 0;
    }
    const int ta = a.metaType().id(), tb = b.metaType().id();
    if ((ta == QMetaType::QDate || ta == QMetaType::QDateTime) && (tb == QMetaType::QDate || tb == QMetaType::QDateTime)) {
        const QDateTime x = a.toDateTime(), y = b.toDateTime();
        return x < y ? -1 : x > y ? 1 : 0;
    }
    return QString::localeAwareCompare(displayText(a), displayText(b));
}

// One field the rows are sorted by.
struct SortRule {
    int field = 0;  // index in the run's fields
    bool descending = false;
    bool natural = false;
};

// The values the query's WHERE part and the record selection formula hold every row to, by
// {TABLE.FIELD} of the report's fields. A field held to two different values (no row can meet
// both) has none.
QHash<QString, QVariant> fixedValues(const QString& sql, const SelectionFormula& selection, const QStringList& fields)
{
    QList<std::pair<QString, QVariant>> found = selection.equalities();
    for (const FixedColumn& column : fixedColumns(sql)) {
        if (!column.table.isEmpty()) {
            found.append({QStringLiteral("{%1.%2}").arg(column.table, column.column), column.value});
            continue;
        }
        // A bare column name stands for the report's one field of that name.
        const QString suffix = QStringLiteral(".%1}").arg(column.column);
        QStringList matching;
        for (const QString& field : fields)
            if (field.endsWith(suffix, Qt::CaseInsensitive))
                matching.append(field);
        if (matching.size() == 1)
            found.append({matching.first(), column.value});
    }
    QHash<QString, QVariant> values;
    QSet<QString> contradicted;
    for (const auto& [reference, value] : std::as_const(found)) {
        const QString key = reference.toLower();
        const bool known = std::any_of(fields.cbegin(), fields.cend(),
                                       [&](const QString& field) { return field.toLower() == key; });
        if (!known || contradicted.contains(key))
            continue;
        if (values.contains(key) && displayText(values.value(key)) != displayText(value)) {
            values.remove(key);
            contradicted.insert(key);
            continue;
        }
        values.insert(key, value);
    }
    return values;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

EngineTable::EngineTable(const TableDefinition& definition) : m_name(definition.name)
{
    for (const QString& column : definition.fields)
        m_fields.push_back(std::make_unique<EngineField>(definition.name, column));
}

void EngineTable::setLogOnInfo(const QString& server, const QString& database, const QString& user,
                               const QString& password)
{
    m_logOn = LogOnInfo{server, database, user, password};
}

ReportField& EngineTable::field(int index)
{
    if (index < 1 || index > fieldCount())
        throw outOfRange(QStringLiteral("(campos de %1)").arg(m_name), index);
    return *m_fields.at(static_cast<size_t>(index - 1));
}

// ---------------------------------------------------------------------------------------------

struct EngineReport::Run {
    enum class Stage { Start, Fetch, Layout, Done };
    Stage stage = Stage::Start;
    // The report's own logon, with the data layer's time-outs: a server that stops answering ends
    // the run with the layer's failure instead of holding it for ever.
    std::unique_ptr<db::Connection> connection;
    std::unique_ptr<db::RowReader> reader;
    QStringList fields;              // every {TABLE.FIELD} of the report
    QHash<QString, int> fieldIndex;  // lower-case name -> index in fields
    QList<int> columns;              // per field: column of the query's result, -1 when absent
    SelectionFormula selection;
    QList<SortRule> sort;  // the record sort fields, then the report's own
    NaturalOrder natural;
    std::unique_ptr<ReportDocument> document;
    QList<QVariantList> pending;  // rows waiting for the sort
    qsizetype laidOut = 0;
    std::optional<Failure> failure;

    ~Run() { releaseConnection(); }

    // The reader goes first: a connection is closed only once nothing reads through it.
    void releaseConnection()
    {
        reader.reset();
        connection.reset();
    }
};

EngineReport::EngineReport(ReportDefinition definition) : m_def(std::move(definition)), m_sql(m_def.sql)
{
    for (const TableDefinition& table : m_def.tables)
        m_tables.push_back(std::make_unique<EngineTable>(table));
    for (const FormulaDefinition& formula : m_def.formulas)
        m_formulas.push_back(std::make_unique<EngineFormula>(formula));
}

EngineReport::~EngineReport() = default;

void EngineReport::prepare()
{
    // The definition is read whole when the report is opened; nothing is left to prepare.
}

ReportTable& EngineReport::table(int index)
{
    if (index < 1 || index > tableCount())
        throw outOfRange(QStringLiteral("(tablas)"), index);
    return *m_tables.at(static_cast<size_t>(index - 1));
}

FormulaField& EngineReport::formulaField(int index)
{
    if (index < 1 || index > formulaFieldCount())
        throw outOfRange(QStringLiteral("(fórmulas)"), index);
    return *m_formulas.at(static_cast<size_t>(index - 1));
}

void EngineReport::addRecordSortField(ReportField& field, SortDirection direction)
{
    const bool ours = std::any_of(m_tables.cbegin(), m_tables.cend(), [&](const auto& table) {
        return std::any_of(table->fields().cbegin(), table->fields().cend(),
                           [&](const auto& f) { return f.get() == &field; });
    });
    if (!ours)
        throw Failure(RuntimeError::InvalidArgument, EngineSource,
                      QStringLiteral("El campo %1 no es de este informe").arg(field.name()));
    if (direction != SortDirection::Ascending && direction != SortDirection::Descending)
        throw RuntimeError::failure(RuntimeError::InvalidArgument);
    m_sortFields.append({field.name(), direction});
}

void EngineReport::startRun()
{
    m_run = std::make_unique<Run>();
    m_status = PrintingInProgress;
}

bool EngineReport::runEnded() const
{
    return m_run && m_run->stage == Run::Stage::Done;
}

const std::optional<Failure>& EngineReport::runFailure() const
{
    static const std::optional<Failure> none;
    return m_run ? m_run->failure : none;
}

const ReportDocument* EngineReport::document() const
{
    return m_run ? m_run->document.get() : nullptr;
}

void EngineReport::fail(const Failure& failure)
{
    m_run->releaseConnection();
    m_run->failure = failure;
    m_run->stage = Run::Stage::Done;
    m_status = PrintingFailed;
}

bool EngineReport::runStep(int milliseconds)
{
    if (!m_run)
        startRun();
    QElapsedTimer clock;
    clock.start();
    try {
        while (m_run->stage != Run::Stage::Done && step(clock, milliseconds)) {
        }
    } catch (const Failure& failure) {
        fail(failure);
    }
    return runEnded();
}

void EngineReport::runToEnd()
{
    startRun();
    while (!runStep(1000)) {
    }
    if (m_run->failure)
        throw *m_run->failure;
}

// One stage of the run, or a slice of one; false when the time is up.
bool EngineReport::step(const QElapsedTimer& clock, int milliseconds)
{
    Run& run = *m_run;
    const auto timeLeft = [&] { return clock.elapsed() < milliseconds; };
    switch (run.stage) {
    case Run::Stage::Start: {
        for (const auto& table : m_tables)
            for (const auto& field : table->fields()) {
                run.fieldIndex.insert(field->name().toLower(), static_cast<int>(run.fields.size()));
                run.fields.append(field->name());
            }
        QList<FormulaDefinition> formulas;
        for (const auto& formula : m_formulas)
            formulas.append({formula->name(), formula->text()});
        run.document = std::make_unique<ReportDocument>(m_def, run.fields, formulas, QDateTime::currentDateTime());
        run.selection = SelectionFormula::parse(m_selection);
        run.document->setFixedValues(fixedValues(m_sql, run.selection, run.fields));
        // The program's sort fields decide first; the report's own order breaks their ties.
        for (const auto& [name, direction] : std::as_const(m_sortFields))
            run.sort.append({run.fieldIndex.value(name.toLower()), direction == SortDirection::Descending, false});
        for (const SortFieldDefinition& field : std::as_const(m_def.sort))
            run.sort.append({run.fieldIndex.value(field.field.toLower()), field.descending, field.natural});

        // One query reads every table, so the tables must share one logon: refused when two differ
        // rather than reading a table through another table's account.
        const auto logged = std::find_if(m_tables.cbegin(), m_tables.cend(),
                                         [](const auto& table) { return table->logOnInfo().has_value(); });
        if (logged == m_tables.cend())
            throw Failure(ReportNoLogOnInfo, EngineSource,
                          QStringLiteral("No se ha indicado la conexión de las tablas del informe"));
        const LogOnInfo& logOn = *(*logged)->logOnInfo();
        for (const auto& table : m_tables) {
            const auto& other = table->logOnInfo();
            if (other && (other->server != logOn.server || other->user != logOn.user || other->password != logOn.password))
                throw Failure(ReportNoLogOnInfo, EngineSource,
                              QStringLiteral("Las tablas %1 y %2 tienen conexiones distintas")
                                  .arg((*logged)->name(), table->name()));
        }
        run.connection = std::make_unique<db::Connection>();
        run.connection->setConnectionTimeout(LogOnTimeoutSeconds);
        run.connection->openDataSource(logOn.server, logOn.user, logOn.password);
        run.reader = std::make_unique<db::RowReader>(*run.connection, m_sql);

        // Result columns by name: TABLE.FIELD or FIELD, without regard to case.
        for (const auto& table : m_tables)
            for (const auto& field : table->fields()) {
                int column = run.reader->column(QStringLiteral("%1.%2").arg(table->name(), field->column()));
                if (column < 0)
                    column = run.reader->column(field->column());
                run.columns.append(column);
            }
        for (const QString& field : run.selection.fieldReferences()) {
            const int index = run.fieldIndex.value(field.toLower(), -1);
            if (index < 0 || run.columns.at(index) < 0)
                throw Failure(ReportFieldNotInQuery, EngineSource,
                              QStringLiteral("La fórmula de selección usa %1, que la consulta no devuelve").arg(field));
        }
        run.stage = Run::Stage::Fetch;
        return timeLeft();
    }
    case Run::Stage::Fetch: {
        // At least one slice per step, however short the time given.
        do {
            for (int n = 0; n < 200; ++n) {
                if (!run.reader->next()) {
                    run.releaseConnection();
                    if (run.sort.isEmpty()) {
                        run.document->finish();
                        run.stage = Run::Stage::Done;
                        m_status = PrintingCompleted;
                    } else {
                        // Stable: rows equal in every sort field keep the query's order.
                        const auto compare = [&run](const SortRule& key, const QVariant& a, const QVariant& b) {
                            if (key.natural && !a.isNull() && !b.isNull() && !isNumeric(a) && !isNumeric(b))
                                return run.natural.compare(displayText(a), displayText(b));
                            return compareValues(a, b);
                        };
                        std::stable_sort(run.pending.begin(), run.pending.end(),
                                         [&](const QVariantList& a, const QVariantList& b) {
                                             for (const SortRule& key : std::as_const(run.sort)) {
                                                 const int c = compare(key, a.at(key.field), b.at(key.field));
                                                 if (c != 0)
                                                     return key.descending ? c > 0 : c < 0;
                                             }
                                             return false;
                                         });
                        run.stage = Run::Stage::Layout;
                    }
                    return timeLeft();
                }
                QVariantList values;
                values.reserve(run.columns.size());
                for (int column : std::as_const(run.columns))
                    values.append(column >= 0 ? withoutPadding(run.reader->value(column)) : QVariant());
                if (!run.selection.isEmpty() && !run.selection.matches(FetchedRow(run.fieldIndex, values)))
                    continue;
                // Without sort fields the rows are laid out as they come, so the first pages show early.
                if (run.sort.isEmpty())
                    run.document->appendRow(std::move(values));
                else
                    run.pending.append(std::move(values));
            }
        } while (timeLeft());
        return false;
    }
    case Run::Stage::Layout: {
        do {
            for (int n = 0; n < 200 && run.laidOut < run.pending.size(); ++n)
                run.document->appendRow(run.pending.at(run.laidOut++));
            if (run.laidOut == run.pending.size()) {
                run.pending.clear();
                run.document->finish();
                run.stage = Run::Stage::Done;
                m_status = PrintingCompleted;
                return false;
            }
        } while (timeLeft());
        return false;
    }
    case Run::Stage::Done:
        return false;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------

namespace {

class EngineApplication final : public ReportApplication {
public:
    std::unique_ptr<Report> openReport(const QString& path, int /*openMode: only one way to open*/) override
    {
        return std::make_unique<EngineReport>(readReportDefinition(path));
    }
};

}  // namespace

ReportApplicationFactory defaultReportApplicationFactory()
{
    return [] { return std::make_unique<EngineApplication>(); };
}

}  // namespace reporting
