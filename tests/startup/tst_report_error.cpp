#include "common/messages.h"
#include "startup/mod_glob.h"

#include <QTest>

class TestReportError final : public QObject {
    Q_OBJECT

private slots:
    void message_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("text");

        const QString locked = QStringLiteral(" Registro Bloqueado por otro Usuario. Inténtelo en unos segundos... ");
        const QString anySource = QStringLiteral("Microsoft OLE DB Provider");
        const QString anyDescription = QStringLiteral("ORA-00054: resource busy");
        QTest::newRow("unspecified reads as a locked record")
            << int(ProviderError::Unspecified) << anySource << anyDescription << locked;
        QTest::newRow("lock time-out") << int(ProviderError::AbortLimitReached) << anySource << anyDescription << locked;
        QTest::newRow("permission denied")
            << int(ProviderError::PermissionDenied) << anySource << anyDescription << QStringLiteral(" Permiso Denegado ");
        QTest::newRow("existing code") << int(ProviderError::IntegrityViolation) << anySource << anyDescription
                                       << QStringLiteral(" Ha Introducido un Codigo Existente ");
        QTest::newRow("existing table") << int(ProviderError::DuplicateTable) << anySource << anyDescription
                                        << QStringLiteral(" Error al Crear una Tabla ya Existente ");

        QTest::newRow("no failure") << 0 << QString() << QString()
                                    << QStringLiteral("\r\n     VB Error #  0\r\n        Origen : \r\n  Descripción : ");
        QTest::newRow("runtime failure 91")
            << 91 << QStringLiteral("Retratix") << QStringLiteral("Variable de objeto no establecida")
            << QStringLiteral("\r\n     VB Error #  91\r\n        Origen : Retratix\r\n"
                              "  Descripción : Variable de objeto no establecida");
        QTest::newRow("statement error keeps its minus sign")
            << int(ProviderError::StatementError) << QStringLiteral("QPSQL")
            << QStringLiteral("syntax error at or near \"FORM\"")
            << QStringLiteral("\r\n     VB Error # -2147217900\r\n        Origen : QPSQL\r\n"
                              "  Descripción : syntax error at or near \"FORM\"");
        // Only lock conflicts read as a locked record; a full disk says what it is.
        QTest::newRow("other engine failure")
            << int(ProviderError::ErrorsOccurred) << QStringLiteral("QSQLITE") << QStringLiteral("database or disk is full")
            << QStringLiteral("\r\n     VB Error # -2147217887\r\n        Origen : QSQLITE\r\n"
                              "  Descripción : database or disk is full");
        QTest::newRow("description with line breaks shown unchanged")
            << int(-2147467260) << QString() << QStringLiteral("uno\r\ndos")
            << QStringLiteral("\r\n     VB Error # -2147467260\r\n        Origen : \r\n  Descripción : uno\r\ndos");
    }

    void message()
    {
        QFETCH(int, number);
        QFETCH(QString, source);
        QFETCH(QString, description);
        QFETCH(QString, text);
        RecordingMessages recorded;
        const ScopedMessages scope(recorded);
        ModGlob::ReportError(Failure(number, source, description));
        QCOMPARE(recorded.shown.size(), 1);
        QCOMPARE(recorded.shown.first().text, text);
        QCOMPARE(recorded.shown.first().icon, MessageIcon::Critical);
        QCOMPARE(recorded.shown.first().title, QStringLiteral("Error"));
    }
};

QTEST_GUILESS_MAIN(TestReportError)
#include "tst_report_error.moc"
