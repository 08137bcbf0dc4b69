#include "common/failure.h"
#include "common/messages.h"
#include "common/platform.h"
#include "reporting/engine_report.h"
#include "reporting/log_csv.h"
#include "reporting/prueba_form.h"
#include "reporting/report_preparation.h"
#include "reporting/report_viewer.h"
#include "reporting_test_support.h"

#include <QAction>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>

using reportingtest::failureNumber;
using reportingtest::s;

namespace {

// Records the messages and whether the busy pointer was up while each was shown.
class PointerCheckingMessages final : public Messages {
public:
    void show(const ShownMessage& message) override
    {
        shown.append(message);
        busyPointer.append(QGuiApplication::overrideCursor() != nullptr);
    }
    QList<ShownMessage> shown;
    QList<bool> busyPointer;
};

const QString FileNotFoundText = s("El archivo de reporte no se encuentra, restáurelo de los discos de instalación");
const QString OutOfRangeText = s("Índice fuera del intervalo");

// A report engine that writes down what is done to its reports, in order.
struct FakeEngine {
    QList<std::pair<QString, QStringList>> tables{
        {s("LOG_ABONADOSFOTOS"), {s("{LOG_ABONADOSFOTOS.USUARIO}"), s("{LOG_ABONADOSFOTOS.NOMBRE_FOTO}")}}};
    QStringList formulaNames;
    QString sql = s(R"(SELECT "LOG_ABONADOSFOTOS"."USUARIO" FROM "LOG_ABONADOSFOTOS" "LOG_ABONADOSFOTOS")");
    std::optional<Failure> openFailure;
    std::optional<Failure> prepareFailure;
    int status = reporting::PrintingCompleted;

    QStringList log;
    QHash<QString, QString> formulaTexts;
    QList<std::pair<QString, reporting::SortDirection>> sortFields;

    reporting::ReportApplicationFactory factory();
};

class FakeField final : public reporting::ReportField {
public:
    explicit FakeField(QString name) : m_name(std::move(name)) {}
    QString name() const override { return m_name; }

private:
    QString m_name;
};

class FakeTable final : public reporting::ReportTable {
public:
    FakeTable(FakeEngine& engine, QString name, const QStringList& fields) : m_engine(engine), m_name(std::move(name))
    {
        for (const QString& field : fields)
            m_fields.push_back(std::make_unique<FakeField>(field));
    }
    QString name() const override { return m_name; }
    void setLogOnInfo(const QString& server, const QString& database, const QString& user,
                      const QString& password) override
    {
        m_engine.log << s("logon %1 %2|%3|%4|%5").arg(m_name, server, database, user, password);
    }
    int fieldCount() const override { return static_cast<int>(m_fields.size()); }
    reporting::ReportField& field(int index) override
    {
        if (index < 1 || index > fieldCount())
            throw Failure(9, s("FakeEngine"), OutOfRangeText);
        return *m_fields[index - 1];
    }

private:
    FakeEngine& m_engine;
    QString m_name;
    std::vector<std::unique_ptr<FakeField>> m_fields;
};

class FakeFormula final : public reporting::FormulaField {
public:
    FakeFormula(FakeEngine& engine, QString name) : m_engine(engine), m_name(std::move(name)) {}
    QString name() const override { return m_name; }
    QString text() const override { return m_engine.formulaTexts.value(m_name); }
    void setText(const QString& text) override
    {
        m_engine.formulaTexts[m_name] = text;
        m_engine.log << s("formula %1 %2").arg(m_name, text);
    }

private:
    FakeEngine& m_engine;
    QString m_name;
};

class FakeReport final : public reporting::Report {
public:
    explicit FakeReport(FakeEngine& engine) : m_engine(engine)
    {
        for (const auto& [name, fields] : engine.tables)
            m_tables.push_back(std::make_unique<FakeTable>(engine, name, fields));
        for (const QString& name : engine.formulaNames)
            m_formulas.push_back(std::make_unique<FakeFormula>(engine, name));
    }
    void prepare() override
    {
        m_engine.log << s("prepare");
        if (m_engine.prepareFailure)
            throw *m_engine.prepareFailure;
    }
    int tableCount() const override { return static_cast<int>(m_tables.size()); }
    reporting::ReportTable& table(int index) override
    {
        if (index < 1 || index > tableCount())
            throw Failure(9, s("FakeEngine"), OutOfRangeText);
        return *m_tables[index - 1];
    }
    int formulaFieldCount() const override { return static_cast<int>(m_formulas.size()); }
    reporting::FormulaField& formulaField(int index) override { return *m_formulas.at(index - 1); }
    void addRecordSortField(reporting::ReportField& field, reporting::SortDirection direction) override
    {
        m_engine.sortFields.append({field.name(), direction});
        m_engine.log << s("sort %1 %2").arg(field.name()).arg(static_cast<int>(direction));
    }
    QString recordSelectionFormula() const override { return m_selection; }
    void setRecordSelectionFormula(const QString& formula) override
    {
        m_selection = formula;
        m_engine.log << s("selection ") + formula;
    }
    QString sqlQueryString() const override { return m_engine.sql; }
    void setSqlQueryString(const QString& sql) override
    {
        m_engine.sql = sql;
        m_engine.log << s("sql ") + sql;
    }
    int printingStatusProgress() const override { return m_engine.status; }

private:
    FakeEngine& m_engine;
    std::vector<std::unique_ptr<FakeTable>> m_tables;
    std::vector<std::unique_ptr<FakeFormula>> m_formulas;
    QString m_selection;
};

class FakeApplication final : public reporting::ReportApplication {
public:
    explicit FakeApplication(FakeEngine& engine) : m_engine(engine) {}
    std::unique_ptr<reporting::Report> openReport(const QString& path, int openMode) override
    {
        m_engine.log << s("open %1 %2").arg(path).arg(openMode);
        if (m_engine.openFailure)
            throw *m_engine.openFailure;
        return std::make_unique<FakeReport>(m_engine);
    }

private:
    FakeEngine& m_engine;
};

reporting::ReportApplicationFactory FakeEngine::factory()
{
    return [this] { return std::make_unique<FakeApplication>(*this); };
}

using SortFields = QList<std::pair<QString, reporting::SortDirection>>;

ShownMessage critical(const QString& text) { return {text, MessageIcon::Critical, Application::title()}; }

// Activates another window, then the form again, as a user coming back to it. (The form may
// already go at its first activation, from being shown.)
void activateAgain(const QPointer<PruebaForm>& form)
{
    QWidget other;
    other.show();
    other.activateWindow();
    QTRY_VERIFY(other.isActiveWindow());
    if (form)
        form->activateWindow();
    QTest::qWait(50);
}

}  // namespace

class TestPruebaForm : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void preparationRunsItsStepsInOrder();
    void formulasTakeTheValueOfTheirFirstKey_data();
    void formulasTakeTheValueOfTheirFirstKey();
    void sortKeysBecomeSortFields_data();
    void sortKeysBecomeSortFields();
    void invalidSortKeyRaisesInvalidArgument_data();
    void invalidSortKeyRaisesInvalidArgument();
    void emptySortKeyKeepsThePreviousOne();

    void failureIsShownAndWindowClosesOnActivation_data();
    void failureIsShownAndWindowClosesOnActivation();
    void modalShowReturnsOnceClosed();
    void preparedReportStaysOpenCoveringTheWindow();

    void reportListsOnlyItsRunsRows_data();
    void reportListsOnlyItsRunsRows();
    void failedRunOfTheEngineIsShown();
    void missingReportFileIsReported_data();
    void missingReportFileIsReported();

private:
    // The form, shown as the upload run shows it, with the fake engine.
    QPointer<PruebaForm> newForm();

    PointerCheckingMessages m_messages;
    ScopedMessages m_scope{m_messages};
    std::unique_ptr<FakeEngine> m_engine;
    QTemporaryDir m_dir;
    // As the upload window hands it over: the configured folder and data source, the built-in account.
    reporting::ReportSource m_source;
};

void TestPruebaForm::init()
{
    m_messages.shown.clear();
    m_messages.busyPointer.clear();
    m_engine = std::make_unique<FakeEngine>();
    m_source = {s("/informes/"), s("ORCL"), s("regusr1"), s("3k9tWqRm")};
}

void TestPruebaForm::cleanup()
{
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (const QPointer<QWidget>& window : QList<QPointer<QWidget>>(windows.begin(), windows.end()))
        delete window.data();
}

QPointer<PruebaForm> TestPruebaForm::newForm()
{
    auto* form = new PruebaForm(m_engine->factory());
    form->setSource(m_source);
    form->setWindowTitle(s("Informe Fotos"));
    form->show();
    return form;
}

void TestPruebaForm::preparationRunsItsStepsInOrder()
{
    m_engine->tables.append({s("ABONADOS"), {s("{ABONADOS.CODIGO}")}});
    m_engine->formulaNames = {s("F1")};
    reporting::ReportRequest request;
    request.reportFileName = s("ListadoFotos.rpt");
    request.condition = s("{LOG_ABONADOSFOTOS.USUARIO}= '42'");
    request.sort1 = s("+{abonados.codigo}");
    request.formulaValues[0] = s("x");
    request.source = m_source;

    reporting::ReportPreparation preparation(m_engine->factory());
    const auto report = preparation.prepare(request, [this] { m_engine->log << s("yield"); });

    QVERIFY(report);
    QCOMPARE(m_engine->log,
             QStringList({s("open /informes/ListadoFotos.rpt 1"), s("prepare"), s("yield"),
                          s("logon LOG_ABONADOSFOTOS ORCL||regusr1|3k9tWqRm"), s("logon ABONADOS ORCL||regusr1|3k9tWqRm"),
                          s("formula F1 'x'"), s("sort {ABONADOS.CODIGO} 0"),
                          s("selection {LOG_ABONADOSFOTOS.USUARIO}= '42'"), s("selection "),
                          s("sql SELECT LOG_ABONADOSFOTOS.USUARIO FROM LOG_ABONADOSFOTOS LOG_ABONADOSFOTOS WHERE "
                            "(LOG_ABONADOSFOTOS.USUARIO= '42' )")}));
}

void TestPruebaForm::formulasTakeTheValueOfTheirFirstKey_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");  // every formula value is this one, with its number after it
    QTest::addColumn<QString>("expected");

    QTest::newRow("F1, empty values") << s("F1") << QString() << s("''");
    QTest::newRow("quote inside the value") << s("{@F1}") << s("d'Or") << s("'d'Or1'");
    QTest::newRow("F10 takes value 1") << s("F10") << s("v") << s("'v1'");
    QTest::newRow("XF1 takes value 1") << s("XF1") << s("v") << s("'v1'");
    QTest::newRow("first key of the list wins") << s("G2F3") << s("v") << s("'v3'");
    QTest::newRow("G12 takes value 10") << s("G12") << s("v") << s("'v10'");
    QTest::newRow("G6 takes value 15") << s("G6") << s("v") << s("'v15'");
    QTest::newRow("G7 has no value") << s("G7") << s("v") << s("kept");
    QTest::newRow("lower case is no key") << s("f1") << s("v") << s("kept");
}

void TestPruebaForm::formulasTakeTheValueOfTheirFirstKey()
{
    QFETCH(QString, name);
    QFETCH(QString, value);
    QFETCH(QString, expected);
    m_engine->formulaNames = {name};
    m_engine->formulaTexts[name] = s("kept");
    reporting::ReportRequest request;
    for (int k = 0; k < 15; ++k)
        request.formulaValues[k] = value.isEmpty() ? QString() : value + QString::number(k + 1);

    reporting::ReportPreparation(m_engine->factory()).prepare(request);

    QCOMPARE(m_engine->formulaTexts.value(name), expected);
}

void TestPruebaForm::sortKeysBecomeSortFields_data()
{
    QTest::addColumn<int>("tableCount");  // LOG_ABONADOSFOTOS, then dummy tables up to this count
    QTest::addColumn<QString>("sort1");
    QTest::addColumn<QString>("sort2");
    QTest::addColumn<SortFields>("expected");
    QTest::addColumn<int>("failure");

    const QString usuario = s("{LOG_ABONADOSFOTOS.USUARIO}");
    const QString nombre = s("{LOG_ABONADOSFOTOS.NOMBRE_FOTO}");
    using D = reporting::SortDirection;
    QTest::newRow("+ ascending") << 1 << s("+") + usuario << QString() << SortFields{{usuario, D::Ascending}} << 0;
    QTest::newRow("- descending") << 1 << s("-") + usuario << QString() << SortFields{{usuario, D::Descending}} << 0;
    QTest::newRow("any other character descending")
        << 1 << s(" ") + usuario << QString() << SortFields{{usuario, D::Descending}} << 0;
    QTest::newRow("names compare without case")
        << 1 << s("+{log_abonadosfotos.Nombre_Foto}") << QString() << SortFields{{nombre, D::Ascending}} << 0;
    QTest::newRow("second key after the first") << 1 << s("-") + nombre << s("+") + usuario
                                                << SortFields{{nombre, D::Descending}, {usuario, D::Ascending}} << 0;
    QTest::newRow("only a second key") << 1 << QString() << s("-") + usuario
                                       << SortFields{{usuario, D::Descending}} << 0;
    QTest::newRow("empty table part sorts nothing") << 1 << s("+{.X}") << QString() << SortFields{} << 0;
    QTest::newRow("unknown table: the engine's failure")
        << 1 << s("+{ABONADOS.CODIGO}") << QString() << SortFields{} << 9;
    QTest::newRow("unknown field: the engine's failure")
        << 1 << s("+{LOG_ABONADOSFOTOS.MOTIVO}") << QString() << SortFields{} << 9;
    QTest::newRow("256 tables overflow") << 256 << s("+") + usuario << QString() << SortFields{}
                                         << RuntimeError::Overflow;
    QTest::newRow("255 tables, none matching: the counter overflows")
        << 255 << s("+{ABONADOS.CODIGO}") << QString() << SortFields{} << RuntimeError::Overflow;
    QTest::newRow("256 tables without a sort key") << 256 << QString() << QString() << SortFields{} << 0;
}

void TestPruebaForm::sortKeysBecomeSortFields()
{
    QFETCH(int, tableCount);
    QFETCH(QString, sort1);
    QFETCH(QString, sort2);
    QFETCH(SortFields, expected);
    QFETCH(int, failure);
    for (int i = 2; i <= tableCount; ++i)
        m_engine->tables.append({s("T%1").arg(i), {}});
    reporting::ReportRequest request;
    request.sort1 = sort1;
    request.sort2 = sort2;

    reporting::ReportPreparation preparation(m_engine->factory());
    QCOMPARE(failureNumber([&] { preparation.prepare(request); }), failure);
    QCOMPARE(m_engine->sortFields, expected);
}

void TestPruebaForm::invalidSortKeyRaisesInvalidArgument_data()
{
    QTest::addColumn<QString>("sort1");
    QTest::addColumn<QString>("sort2");

    QTest::newRow("no dot") << s("+{ABONADOS}") << QString();
    QTest::newRow("direction only") << s("+") << QString();
    QTest::newRow("dot first") << s(".AB") << QString();
    QTest::newRow("dot second") << s("+.AB") << QString();
    QTest::newRow("second key") << s("+{A.B}") << s("-{AB}");
}

void TestPruebaForm::invalidSortKeyRaisesInvalidArgument()
{
    QFETCH(QString, sort1);
    QFETCH(QString, sort2);
    const QPointer<PruebaForm> form = newForm();
    form->PasarParametros(s("ListadoFotos.rpt"), QString(), s("-{LOG_ABONADOSFOTOS.USUARIO}"), QString());

    QCOMPARE(failureNumber([&] { form->PasarParametros(s("Otro.rpt"), QString(), sort1, sort2); }),
             RuntimeError::InvalidArgument);

    // Nothing of the refused call was kept.
    form->MostrarTodo(QString(), false);
    QCOMPARE(m_engine->log.first(), s("open /informes/ListadoFotos.rpt 1"));
    QCOMPARE(m_engine->sortFields, SortFields({{s("{LOG_ABONADOSFOTOS.USUARIO}"), reporting::SortDirection::Descending}}));
}

void TestPruebaForm::emptySortKeyKeepsThePreviousOne()
{
    const QPointer<PruebaForm> form = newForm();
    form->PasarParametros(s("A.rpt"), QString(), s("-{LOG_ABONADOSFOTOS.USUARIO}"), s("+{LOG_ABONADOSFOTOS.NOMBRE_FOTO}"));
    form->PasarParametros(s("ListadoFotos.rpt"), QString(), QString(), QString());

    form->MostrarTodo(QString(), false);

    QCOMPARE(m_engine->log.first(), s("open /informes/ListadoFotos.rpt 1"));
    QCOMPARE(m_engine->sortFields,
             SortFields({{s("{LOG_ABONADOSFOTOS.USUARIO}"), reporting::SortDirection::Descending},
                         {s("{LOG_ABONADOSFOTOS.NOMBRE_FOTO}"), reporting::SortDirection::Ascending}}));
}

void TestPruebaForm::failureIsShownAndWindowClosesOnActivation_data()
{
    QTest::addColumn<int>("tableCount");
    QTest::addColumn<QString>("sort1");
    QTest::addColumn<bool>("openFails");
    QTest::addColumn<bool>("prepareFails");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");

    QTest::newRow("report file not found") << 1 << QString() << true << false << 3 << FileNotFoundText;
    QTest::newRow("engine failure: its description") << 1 << QString() << false << true << 3 << s("Motor caído");
    QTest::newRow("more than 255 tables with a sort key")
        << 256 << s("+{LOG_ABONADOSFOTOS.USUARIO}") << false << false << 3 << s("Desbordamiento");
    QTest::newRow("sort key naming no table") << 1 << s("+{ABONADOS.CODIGO}") << false << false << 3 << OutOfRangeText;
    QTest::newRow("run failed") << 1 << QString() << false << false << 4
                                << RuntimeError::description(95);
}

void TestPruebaForm::failureIsShownAndWindowClosesOnActivation()
{
    QFETCH(int, tableCount);
    QFETCH(QString, sort1);
    QFETCH(bool, openFails);
    QFETCH(bool, prepareFails);
    QFETCH(int, status);
    QFETCH(QString, message);
    for (int i = 2; i <= tableCount; ++i)
        m_engine->tables.append({s("T%1").arg(i), {}});
    if (openFails)
        m_engine->openFailure = Failure(reporting::ReportFileNotFound, s("FakeEngine"), s("no file"));
    if (prepareFails)
        m_engine->prepareFailure = Failure(-2147206400, s("FakeEngine"), s("Motor caído"));
    m_engine->status = status;
    const QPointer<PruebaForm> form = newForm();
    form->PasarParametros(s("ListadoFotos.rpt"), QString(), sort1, QString());

    form->MostrarTodo(QString(), false);

    QCOMPARE(m_messages.shown, QList<ShownMessage>{critical(message)});
    QCOMPARE(m_messages.busyPointer, QList<bool>{false});
    QVERIFY(!form->reportReady());
    QVERIFY(form);
    activateAgain(form);
    QTRY_VERIFY(form.isNull());
}

void TestPruebaForm::modalShowReturnsOnceClosed()
{
    auto* form = new PruebaForm(m_engine->factory());
    const QPointer<PruebaForm> guard(form);
    form->PasarParametros(s("ListadoFotos.rpt"), QString(), QString(), QString());
    bool wasModal = false;
    QTimer::singleShot(100, form, [&] {
        wasModal = QApplication::activeModalWidget() == form && QGuiApplication::overrideCursor() == nullptr;
        form->close();
    });

    form->MostrarTodo(QString(), true);

    QVERIFY(wasModal);
    QVERIFY(guard);  // the close takes effect once the call has returned
    QTRY_VERIFY(guard.isNull());
}

void TestPruebaForm::preparedReportStaysOpenCoveringTheWindow()
{
    const QPointer<PruebaForm> form = newForm();
    form->PasarParametros(s("ListadoFotos.rpt"), s("{LOG_ABONADOSFOTOS.USUARIO}= '7'"), QString(), QString());
    form->MostrarTodo(QString(), false);
    QCOMPARE(m_messages.shown, QList<ShownMessage>());
    QVERIFY(form->reportReady());
    QVERIFY(QTest::qWaitForWindowExposed(form));
    QCOMPARE(form->reportViewer()->geometry(), form->rect());

    form->resize(900, 300);
    QTRY_COMPARE(form->reportViewer()->geometry(), QRect(0, 0, 900, 300));
    form->showMaximized();
    QTRY_VERIFY(form->width() != 900);
    QCOMPARE(form->reportViewer()->geometry(), form->rect());
    activateAgain(form);
    QVERIFY(form && form->isVisible());
}

void TestPruebaForm::reportListsOnlyItsRunsRows_data()
{
    QTest::addColumn<QString>("sort1");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("report's own order: not stored first, natural names")
        << QString() << s("3.jpg 12.jpg 2.jpg 007.jpg 7.jpg 10.jpg").split(u' ');
    QTest::newRow("descending sort key")
        << s("-{log_abonadosfotos.nombre_foto}") << s("7.jpg 3.jpg 2.jpg 12.jpg 10.jpg 007.jpg").split(u' ');
}

void TestPruebaForm::reportListsOnlyItsRunsRows()
{
    QFETCH(QString, sort1);
    QFETCH(QStringList, expected);
    QVERIFY(m_dir.isValid());
    const QString databasePath = m_dir.filePath(s("retratix.db"));
    const QString error = reportingtest::createLogDatabase(
        databasePath, {{s("111"), s("10.jpg"), s("S"), s("Foto Insertada")},
                       {s("222"), s("1.jpg"), s("S"), s("Foto Insertada")},
                       {s("111"), s("2.jpg"), s("S"), s("Foto Insertada")},
                       {s("111"), s("007.jpg"), s("S"), s("Foto Insertada")},
                       {s("111"), s("7.jpg"), s("S"), s("Foto Actualizada")},
                       {s("111"), s("3.jpg"), s("N"), s("Abonado no existente")},
                       {s("111"), s("12.jpg"), s("N"), s("Tamaño no permitido")},
                       {s("1111"), s("4.jpg"), s("S"), s("Foto Actualizada")}});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    auto* form = new PruebaForm;
    const QPointer<PruebaForm> guard(form);
    form->setSource({reportingtest::shippedReportFolder(), s("sqlite:") + databasePath, m_source.user, m_source.password});
    // As the upload's report window offers it.
    form->reportViewer()->addExport(reporting::logCsvExport());
    form->PasarParametros(s("ListadoFotos.rpt"), s("{LOG_ABONADOSFOTOS.USUARIO}= '111'"), sort1, QString());
    form->show();
    form->MostrarTodo(QString(), false);

    QCOMPARE(m_messages.shown, QList<ShownMessage>());
    QVERIFY(guard && form->reportReady());
    const auto* report = dynamic_cast<const reporting::EngineReport*>(form->report());
    QVERIFY(report && report->document());
    QCOMPARE(report->printingStatusProgress(), int(reporting::PrintingCompleted));
    QStringList names;
    for (int row = 0; row < report->document()->rowCount(); ++row)
        names << report->document()->value(row, s("{LOG_ABONADOSFOTOS.NOMBRE_FOTO}")).toString();
    QCOMPARE(names, expected);
    // The formula keyed F1 got the first (empty) value.
    reporting::Report& shown = *form->report();
    for (int i = 1; i <= shown.formulaFieldCount(); ++i) {
        if (shown.formulaField(i).name().contains(s("F1")))
            QCOMPARE(shown.formulaField(i).text(), s("''"));
    }

    // "Exportar a CSV…", after the PDF export, saves the rows in the order shown.
    const QList<QAction*> actions = form->reportViewer()->findChild<QToolBar*>()->actions();
    const auto named = [&](const QString& text) {
        return std::find_if(actions.cbegin(), actions.cend(), [&](QAction* a) { return a->text() == text; });
    };
    const auto csv = named(s("Exportar a CSV…"));
    QVERIFY(csv != actions.cend() && csv == named(s("Exportar a PDF…")) + 1);
    QVERIFY((*csv)->isVisible() && (*csv)->isEnabled());
    const QString path = m_dir.filePath(s("informe.csv"));
    QFile::remove(path);
    QString dialogTitle;
    QTimer answer;
    connect(&answer, &QTimer::timeout, this, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            answer.stop();
            dialogTitle = dialog->windowTitle();
            // As a user: the whole path typed in the name box (selectFile leaves a focused box as it is).
            auto* name = dialog->findChild<QLineEdit*>(s("fileNameEdit"));
            if (name)
                name->setText(path);
            static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept checks the name as a click would
            if (dialog->isVisible())
                dialog->reject();  // a name it refused: the test fails, it does not hang
        }
    });
    answer.start(20);
    (*csv)->trigger();
    QCOMPARE(dialogTitle, s("Exportar a CSV"));
    QCOMPARE(m_messages.shown, QList<ShownMessage>());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const auto records = reportingtest::parseCsv(file.readAll());
    QVERIFY(records);
    QCOMPARE(records->size(), expected.size() + 1);
    QCOMPARE(records->first(), (QStringList{s("Archivo"), s("Subida"), s("Motivo")}));
    QStringList files;
    for (qsizetype i = 1; i < records->size(); ++i) {
        files.append(records->at(i).value(0));
        const int row = static_cast<int>(i - 1);
        QCOMPARE(records->at(i).mid(1), (QStringList{report->document()->value(row, s("{LOG_ABONADOSFOTOS.SUBIO}")).toString(),
                                                     report->document()->value(row, s("{LOG_ABONADOSFOTOS.MOTIVO}")).toString()}));
    }
    QCOMPARE(files, expected);
}

void TestPruebaForm::failedRunOfTheEngineIsShown()
{
    auto* form = new PruebaForm;
    const QPointer<PruebaForm> guard(form);
    form->setSource({reportingtest::shippedReportFolder(), s("sqlite:") + m_dir.filePath(s("no-such.db")),
                     m_source.user, m_source.password});
    form->PasarParametros(s("ListadoFotos.rpt"), s("{LOG_ABONADOSFOTOS.USUARIO}= '1'"), QString(), QString());
    form->show();

    form->MostrarTodo(QString(), false);

    QCOMPARE(m_messages.shown.size(), 1);
    QCOMPARE(m_messages.shown.first().icon, MessageIcon::Critical);
    QVERIFY(!m_messages.shown.first().text.isEmpty());
    QVERIFY(guard.isNull() || !form->reportReady());
}

void TestPruebaForm::missingReportFileIsReported_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("file");

    const QString reports = reportingtest::shippedReportFolder();
    QTest::newRow("file missing from the folder") << reports << s("NoExiste.rpt");
    QTest::newRow("folder without its trailing separator") << reports.chopped(1) << s("ListadoFotos.rpt");
}

void TestPruebaForm::missingReportFileIsReported()
{
    QFETCH(QString, folder);
    QFETCH(QString, file);
    auto* form = new PruebaForm;
    const QPointer<PruebaForm> guard(form);
    m_source.folder = folder;
    form->setSource(m_source);
    form->PasarParametros(file, s("{LOG_ABONADOSFOTOS.USUARIO}= '1'"), QString(), QString());
    form->show();

    form->MostrarTodo(QString(), false);

    QCOMPARE(m_messages.shown, QList<ShownMessage>{critical(FileNotFoundText)});
    activateAgain(guard);
    QTRY_VERIFY(guard.isNull());
}

QTEST_MAIN(TestPruebaForm)
#include "test_prueba_form.moc"
