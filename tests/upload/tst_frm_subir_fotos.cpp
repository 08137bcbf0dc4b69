// The upload window offscreen: its stored layout, what it shows on load, the drive and folder
// lists, and its two buttons.
#include "recorders.h"
#include "reporting/prueba_form.h"
#include "reporting/report_viewer.h"
#include "startup/mod_glob.h"
#include "test_database.h"
#include "upload/folder_list.h"
#include "upload/frm_subir_fotos.h"

#include "ui_frm_subir_fotos.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

class TestFrmSubirFotos final : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void layout_data();
    void layout();
    void tabOrder();
    void installationShownOnLoad_data();
    void installationShownOnLoad();
    void folderListStartsAtTheWorkingFolderAndOpensOnOneClick();
    void driveChangeMovesTheFolderList();
    void subirUploadsTheShownFolderForTheCodeBox();
    void eachRunOpensItsOwnReportWindow();
    void reportWindowExportsItsOwnRows_data();
    void reportWindowExportsItsOwnRows();
    void cancelarClosesTheWindow();

private:
    std::unique_ptr<TestDatabase> m_database;
    std::unique_ptr<QTemporaryDir> m_folder;
    QString m_startFolder;
    QPointer<frmSubirFotos> m_window;
};

void TestFrmSubirFotos::initTestCase()
{
    QString whyNot;
    m_database = TestDatabase::create(TestDatabase::Engine::Sqlite, &whyNot);
    QVERIFY2(m_database, qPrintable(whyNot));
    ModGlob::DbConnection = m_database->openConnection();
    m_startFolder = QDir::currentPath();
}

void TestFrmSubirFotos::init()
{
    m_database->clear();
    m_database->execute(QStringLiteral("INSERT INTO INSTALACIONES (CODINSTALACION, NOMBRE) VALUES (1, 'Norte')"));
    m_database->execute(QStringLiteral("INSERT INTO ABONADOS (CODINSTALACION, CODIGO) VALUES (2, 123)"));
    ModGlob::InstallationCode = 1;
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir(m_folder->path()).mkpath(QStringLiteral("sub/inner")));
    QVERIFY(QDir::setCurrent(m_folder->path()));
    m_window = new frmSubirFotos;
}

void TestFrmSubirFotos::cleanup()
{
    delete m_window;
    QDir::setCurrent(m_startFolder);
}

void TestFrmSubirFotos::cleanupTestCase() { ModGlob::DbConnection.reset(); }

void TestFrmSubirFotos::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("twips");
    QTest::addColumn<QString>("caption");
    QTest::newRow("ProgressBar1") << "ProgressBar1" << QRect(480, 240, 6072, 312) << QString();
    QTest::newRow("Drive1") << "Drive1" << QRect(510, 780, 2400, 315) << QString();
    QTest::newRow("Label2(0)") << "Label2_0" << QRect(3120, 855, 1290, 300) << "Codigo";
    QTest::newRow("Text1") << "Text1" << QRect(4320, 840, 2775, 285) << QString();
    QTest::newRow("Dir1") << "Dir1" << QRect(480, 1320, 2370, 2340) << QString();
    QTest::newRow("Label2(1)") << "Label2_1" << QRect(3120, 1320, 825, 300) << "Instalacion:";
    QTest::newRow("Text2") << "Text2" << QRect(4320, 1320, 2775, 285) << QString();
    QTest::newRow("cmdCancelar") << "cmdCancelar" << QRect(2760, 3840, 1065, 375) << "Cancelar";
    QTest::newRow("cmdSubir") << "cmdSubir" << QRect(4080, 3840, 1065, 375) << "Subir";
}

void TestFrmSubirFotos::layout()
{
    QFETCH(QString, name);
    QFETCH(QRect, twips);
    QFETCH(QString, caption);
    const double pixelsPerTwip = m_window->logicalDpiX() / 1440.0;
    const auto px = [pixelsPerTwip](int t) { return qRound(t * pixelsPerTwip); };
    auto* control = m_window->findChild<QWidget*>(name);
    QVERIFY(control);
    QCOMPARE(control->parentWidget(), m_window.data());
    const QRect expected(px(twips.left()), px(twips.top()), px(twips.width()), px(twips.height()));
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        QCOMPARE(button->text(), caption);
    if (auto* label = qobject_cast<QLabel*>(control)) {
        QCOMPARE(label->text(), caption);
        // A label may grow to show its caption whole, but never over the text boxes.
        QCOMPARE(label->geometry().topLeft(), expected.topLeft());
        QCOMPARE(label->height(), expected.height());
        QVERIFY(label->width() >= expected.width());
        QVERIFY(label->width() >= std::min(label->sizeHint().width(), px(4320 - twips.left()) - 4));
        QVERIFY(label->width() == expected.width() || label->geometry().right() < px(4320));
    } else {
        QCOMPARE(control->geometry(), expected);
    }
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Retratix Abonados"));
    QCOMPARE(m_window->size(), QSize(px(7380), px(4740)));
    QCOMPARE(m_window->Label2(0)->text(), QStringLiteral("Codigo"));
}

void TestFrmSubirFotos::tabOrder()
{
    const QStringList expected = {QStringLiteral("cmdSubir"), QStringLiteral("ProgressBar1"),
                                  QStringLiteral("cmdCancelar"), QStringLiteral("Drive1"),
                                  QStringLiteral("Dir1"), QStringLiteral("Text2"), QStringLiteral("Text1")};
    QStringList order;
    QWidget* widget = m_window->controls().cmdSubir;
    do {
        if (expected.contains(widget->objectName()))
            order.append(widget->objectName());
        widget = widget->nextInFocusChain();
    } while (widget != m_window->controls().cmdSubir && order.size() < 20);
    QCOMPARE(order, expected);
}

void TestFrmSubirFotos::installationShownOnLoad_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("name");  // empty: no row
    QTest::addColumn<QString>("text1");
    QTest::addColumn<QString>("text2");
    const QString blanks(40, QLatin1Char(' '));
    const QString longName = QStringLiteral("Polideportivo Municipal de la Ribera Alta del Sur");
    QTest::newRow("name blank-filled") << 7 << "Sur" << "7" << QStringLiteral("Sur") + blanks.left(37);
    QTest::newRow("long name cut at 40") << 7 << longName << "7" << longName.left(40);
    QTest::newRow("no installation 0") << 0 << QString() << "0" << blanks;
    QTest::newRow("negative code") << -3 << QString() << "-3" << blanks;
}

void TestFrmSubirFotos::installationShownOnLoad()
{
    QFETCH(int, code);
    QFETCH(QString, name);
    QFETCH(QString, text1);
    QFETCH(QString, text2);
    if (!name.isEmpty())
        m_database->execute(
            QStringLiteral("INSERT INTO INSTALACIONES (CODINSTALACION, NOMBRE) VALUES (%1, '%2')").arg(code).arg(name));
    ModGlob::InstallationCode = static_cast<int16_t>(code);
    frmSubirFotos window;
    QCOMPARE(window.controls().Text1->text(), text1);
    QCOMPARE(window.controls().Text2->text(), text2);
    QCOMPARE(ModGlob::InstallationName.value(), text2);
    QCOMPARE(window.controls().Text2->cursorPosition(), 0);  // the name shows from its start
}

void TestFrmSubirFotos::folderListStartsAtTheWorkingFolderAndOpensOnOneClick()
{
    FolderList& dir1 = *m_window->controls().Dir1;
    const QString start = QDir(m_folder->path()).canonicalPath();
    QCOMPARE(QDir(dir1.path()).canonicalPath(), start);

    const auto entryFor = [&dir1](const QString& path) -> QListWidgetItem* {
        for (int i = 0; i < dir1.count(); ++i)
            if (QDir(FolderList::entryPath(*dir1.item(i))).canonicalPath() == QDir(path).canonicalPath())
                return dir1.item(i);
        return nullptr;
    };
    QListWidgetItem* sub = entryFor(start + QStringLiteral("/sub"));
    QVERIFY(sub);
    QVERIFY(!entryFor(start + QStringLiteral("/sub/inner")));  // only the open folder's subfolders
    QTest::mouseClick(dir1.viewport(), Qt::LeftButton, {}, dir1.visualItemRect(sub).center());
    QCOMPARE(QDir(dir1.path()).canonicalPath(), start + QStringLiteral("/sub"));
    QVERIFY(entryFor(start + QStringLiteral("/sub/inner")));

    // The chain above stays listed: one click on the parent goes back up.
    QListWidgetItem* parent = entryFor(start);
    QVERIFY(parent);
    QTest::mouseClick(dir1.viewport(), Qt::LeftButton, {}, dir1.visualItemRect(parent).center());
    QCOMPARE(QDir(dir1.path()).canonicalPath(), start);
}

void TestFrmSubirFotos::driveChangeMovesTheFolderList()
{
    QComboBox& drive1 = *m_window->controls().Drive1;
    QCOMPARE(drive1.currentText(), QStorageInfo(m_folder->path()).rootPath());
    if (drive1.count() < 2)
        QSKIP("one drive only");
    const int other = drive1.currentIndex() == 0 ? 1 : 0;
    drive1.setCurrentIndex(other);
    QCOMPARE(m_window->controls().Dir1->path(), QDir::cleanPath(drive1.itemText(other)));
}

void TestFrmSubirFotos::subirUploadsTheShownFolderForTheCodeBox()
{
    const QString sub = m_folder->filePath(QStringLiteral("sub"));
    QFile photo(sub + QStringLiteral("/123.jpg"));
    QVERIFY(photo.open(QIODevice::WriteOnly));
    photo.write("jpeg");
    photo.close();
    m_window->controls().Dir1->setPath(sub);
    m_window->controls().Text1->setText(QStringLiteral("2"));
    RecordingRunReport report;
    m_window->setRunReport(&report);
    m_window->setRunNumberSource([] { return 4321; });

    QTest::mouseClick(m_window->controls().cmdSubir, Qt::LeftButton);
    QCOMPARE(m_window->lastRun().end, UploadSummary::End::Completed);
    QCOMPARE(m_window->lastRun().inserted, 1);
    QVERIFY(!photo.exists());
    QCOMPARE(m_database->rows(QStringLiteral("SELECT CODIGO, CODINSTALACION FROM ABONADOSFOTOS")),
             (QList<QVariantList>{{123, 2}}));
    QCOMPARE(report.opened.size(), 1);
    QCOMPARE(report.opened[0].at(1), QStringLiteral("{LOG_ABONADOSFOTOS.USUARIO}= '4321'"));
}

void TestFrmSubirFotos::eachRunOpensItsOwnReportWindow()
{
    // With blanks around them, as a configuration file may hold them.
    ModGlob::ReportFolder = QStringLiteral("  ") + TestDatabase::sourceDir() + QStringLiteral("/reports/ ");
    ModGlob::DatabaseSid = QStringLiteral(" ") + m_database->dataSource();
    m_window->controls().Dir1->setPath(m_folder->filePath(QStringLiteral("sub")));
    int number = 600;
    m_window->setRunNumberSource([&number] { return ++number; });
    const auto reportWindows = [] {
        QList<PruebaForm*> forms;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* form = qobject_cast<PruebaForm*>(widget); form && form->isVisible())
                forms.append(form);
        return forms;
    };

    QTest::mouseClick(m_window->controls().cmdSubir, Qt::LeftButton);
    QTest::mouseClick(m_window->controls().cmdSubir, Qt::LeftButton);
    const QList<PruebaForm*> forms = reportWindows();
    QCOMPARE(forms.size(), 2);
    for (PruebaForm* form : forms) {
        QCOMPARE(form->windowTitle(), QStringLiteral("Informe Fotos"));
        QVERIFY(form->reportReady());
        QVERIFY(!form->parentWidget());
    }
    // Closing the upload window leaves the report windows open.
    m_window->close();
    QTRY_VERIFY(m_window.isNull());
    QCOMPARE(reportWindows().size(), 2);
    for (PruebaForm* form : forms)
        form->close();
    QTRY_COMPARE(reportWindows().size(), 0);
}

void TestFrmSubirFotos::reportWindowExportsItsOwnRows_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QList<QStringList>>("records");  // the CSV file's, its header first
    const auto record = [](const char* fields) { return QString::fromUtf8(fields).split(u'|'); };
    QTest::newRow("upload: the log's rows") << QStringLiteral("cmdSubir")
                                            << QList<QStringList>{record("Archivo|Subida|Motivo"),
                                                                  record("45.jpg|N|Abonado no existente"),
                                                                  record("1000.jpg|N|Abonado no existente"),
                                                                  record("123.jpg|S|Foto Insertada")};
    QTest::newRow("check: the check's rows")
        << QStringLiteral("cmdComprobar")
        // In the report's order, as the upload's: the files not stored first, then by number.
        << QList<QStringList>{record("Archivo|Subiría|Resultado|Observaciones"),
                              record("notes.txt||No es una foto|el nombre no contiene «.jpg»"),
                              record("45.jpg|N|Abonado no existente|"), record("1000.jpg|N|Abonado no existente|"),
                              record("123.jpg|S|Foto Insertada|")};
}

void TestFrmSubirFotos::reportWindowExportsItsOwnRows()
{
    QFETCH(QString, button);
    QFETCH(QList<QStringList>, records);
    ModGlob::ReportFolder = TestDatabase::sourceDir() + QStringLiteral("/reports/");
    ModGlob::DatabaseSid = m_database->dataSource();
    const QString sub = m_folder->filePath(QStringLiteral("sub"));
    // Two members that do not exist, whose names sort apart in text and in natural order.
    const QByteArray jpeg("\xFF\xD8\xFF\xE0 jpeg");
    for (const auto& [name, bytes] : {std::pair{"123.jpg", jpeg}, std::pair{"1000.jpg", jpeg}, std::pair{"45.jpg", jpeg},
                                      std::pair{"notes.txt", QByteArray("x")}}) {
        QFile file(sub + QLatin1Char('/') + QLatin1String(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    m_window->controls().Dir1->setPath(sub);
    m_window->controls().Text1->setText(QStringLiteral("2"));
    m_window->setRunNumberSource([] { return 777; });

    QTest::mouseClick(m_window->findChild<QPushButton*>(button), Qt::LeftButton);
    PruebaForm* form = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* found = qobject_cast<PruebaForm*>(widget); found && found->isVisible())
            form = found;
    QVERIFY(form && form->reportReady());
    const QList<QAction*> actions = form->reportViewer()->findChild<QToolBar*>()->actions();
    const auto csv = std::find_if(actions.cbegin(), actions.cend(),
                                  [](QAction* action) { return action->text() == QStringLiteral("Exportar a CSV…"); });
    QVERIFY(csv != actions.cend() && (*csv)->isEnabled());
    // The user names the file in the save dialog.
    const QString path = m_folder->filePath(QStringLiteral("filas.csv"));
    QTimer answer;
    connect(&answer, &QTimer::timeout, this, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            answer.stop();
            if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                name->setText(path);
            static_cast<QDialog*>(dialog)->accept();
            if (dialog->isVisible())
                dialog->reject();
        }
    });
    answer.start(20);
    (*csv)->trigger();
    form->close();

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray expected("\xEF\xBB\xBF");
    for (const QStringList& fields : std::as_const(records))
        expected += fields.join(QLatin1Char(';')).toUtf8() + "\r\n";
    QCOMPARE(file.readAll(), expected);
}

void TestFrmSubirFotos::cancelarClosesTheWindow()
{
    m_window->show();
    QTest::mouseClick(m_window->controls().cmdCancelar, Qt::LeftButton);
    QTRY_VERIFY(m_window.isNull());
}

QTEST_MAIN(TestFrmSubirFotos)
#include "tst_frm_subir_fotos.moc"
