#include "reporting/report_preparation.h"

#include "common/failure.h"
#include "reporting/mod_rutinas.h"

namespace reporting {
namespace {

// The sort lookup counts tables and fields in unsigned 8-bit numbers.
int toByte(int value)
{
    if (value < 0 || value > 255)
        throw RuntimeError::failure(RuntimeError::Overflow);
    return value;
}

int stepByte(int counter) { return toByte(counter + 1); }

// The field definition a sort key names. When no table or no field matches, the indexes end one
// past the last item and the engine refuses the lookup with its own failure.
ReportField& sortField(Report& report, const SortKey& key)
{
    const int tableCount = toByte(report.tableCount());
    const QString wantedTable = key.table.toUpper();
    const QString wantedField = key.field.toUpper();
    int tableIndex = 1;
    int fieldIndex = 1;
    for (; tableIndex <= tableCount; tableIndex = stepByte(tableIndex)) {
        ReportTable& table = report.table(tableIndex);
        if (table.name().toUpper() != wantedTable)
            continue;
        const int fieldCount = toByte(table.fieldCount());
        for (fieldIndex = 1; fieldIndex <= fieldCount; fieldIndex = stepByte(fieldIndex)) {
            if (table.field(fieldIndex).name().toUpper() == wantedField)
                break;
        }
        break;
    }
    return report.table(tableIndex).field(fieldIndex);
}

void addSortField(Report& report, const QString& keyText)
{
    if (keyText.isEmpty())
        return;
    const SortKey key = SortKey::parse(keyText);
    if (key.table.isEmpty())
        return;
    ReportField& field = sortField(report, key);
    report.addRecordSortField(field, key.direction == QLatin1String("+") ? SortDirection::Ascending
                                                                          : SortDirection::Descending);
}

// A formula takes the value of the first key found in its name, so "F10" and "XF1" take value 1
// and "G12" value 10. A name with only "G7" or later keys has no value and keeps its text.
void fillFormulas(Report& report, const std::array<QString, 15>& values)
{
    static const std::array<QLatin1String, 15> keys{
        QLatin1String("F1"), QLatin1String("F2"), QLatin1String("F3"), QLatin1String("F4"), QLatin1String("F5"),
        QLatin1String("F6"), QLatin1String("F7"), QLatin1String("F8"), QLatin1String("F9"), QLatin1String("G1"),
        QLatin1String("G2"), QLatin1String("G3"), QLatin1String("G4"), QLatin1String("G5"), QLatin1String("G6")};
    const int count = report.formulaFieldCount();
    for (int i = 1; i <= count; ++i) {
        FormulaField& formula = report.formulaField(i);
        const QString name = formula.name();
        for (std::size_t k = 0; k < keys.size(); ++k) {
            if (name.contains(keys[k])) {
                // The value goes in as it is, quotes inside it included.
                formula.setText(QLatin1Char('\'') + values[k] + QLatin1Char('\''));
                break;
            }
        }
    }
}

}  // namespace

SortKey SortKey::parse(const QString& key)
{
    const qsizetype dot = key.indexOf(QLatin1Char('.')) + 1;  // 1-based, 0 when there is none
    const qsizetype tableLength = dot - 3;
    if (tableLength < 0)
        throw RuntimeError::failure(RuntimeError::InvalidArgument);
    return {key.left(1), key.mid(2, tableLength), key.mid(1)};
}

ReportPreparation::ReportPreparation(ReportApplicationFactory factory) : m_factory(std::move(factory)) {}

ReportPreparation::~ReportPreparation() = default;

std::unique_ptr<Report> ReportPreparation::prepare(const ReportRequest& request, const Yield& yield)
{
    m_application = m_factory();
    // No separator: the folder ends with its own.
    std::unique_ptr<Report> report = m_application->openReport(request.source.folder + request.reportFileName, 1);

    report->prepare();
    if (yield)
        yield();

    const ReportSource& source = request.source;
    const int tableCount = report->tableCount();
    for (int i = 1; i <= tableCount; ++i)
        report->table(i).setLogOnInfo(source.dataSource, QString(), source.user, source.password);

    fillFormulas(*report, request.formulaValues);
    addSortField(*report, request.sort1);
    addSortField(*report, request.sort2);

    report->setRecordSelectionFormula(request.condition);
    ModRutinas::MergeConditionIntoSql(*report, request.condition);
    return report;
}

}  // namespace reporting
