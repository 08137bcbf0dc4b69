#include "startup_fixture.h"

#include <QTest>

using namespace ModGlob;

class TestConfiguration final : public QObject {
    Q_OBJECT

private slots:
    void init() { m_fixture = std::make_unique<StartupFixture>(); }
    void cleanup() { m_fixture.reset(); }

    void readIniValue_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");

        const QString conexion = QStringLiteral("Conexion");
        const QString sid = QStringLiteral("SID");
        const QString fallback = QStringLiteral("<default>");
        QTest::newRow("plain value") << QByteArray("[Conexion]\r\nSID=orcl\r\n") << conexion << sid << QStringLiteral("orcl");
        QTest::newRow("names without regard to case")
            << QByteArray("[CONEXION]\r\nsid=orcl\r\n") << QStringLiteral("conexion") << QStringLiteral("Sid")
            << QStringLiteral("orcl");
        QTest::newRow("missing section") << QByteArray("[Otra]\r\nSID=orcl\r\n") << conexion << sid << fallback;
        QTest::newRow("missing key") << QByteArray("[Conexion]\r\nBD=x\r\n") << conexion << sid << fallback;
        QTest::newRow("empty value gives the default") << QByteArray("[Conexion]\r\nSID=\r\n") << conexion << sid << fallback;
        QTest::newRow("empty file") << QByteArray() << conexion << sid << fallback;
        QTest::newRow("blanks around names and value")
            << QByteArray("  [ Conexion ]  \r\n\t SID \t=  orcl  \r\n") << conexion << sid << QStringLiteral("orcl");
        QTest::newRow("blanks inside the value stay")
            << QByteArray("[Conexion]\r\nSID=mi  base\r\n") << conexion << sid << QStringLiteral("mi  base");
        QTest::newRow("equals sign inside the value")
            << QByteArray("[Conexion]\r\nSID=a=b\r\n") << conexion << sid << QStringLiteral("a=b");
        QTest::newRow("comment line skipped")
            << QByteArray("[Conexion]\r\n;SID=viejo\r\nSID=nuevo\r\n") << conexion << sid << QStringLiteral("nuevo");
        QTest::newRow("semicolon inside a value is no comment")
            << QByteArray("[Conexion]\r\nSID=a;b\r\n") << conexion << sid << QStringLiteral("a;b");
        QTest::newRow("commented key is missing") << QByteArray("[Conexion]\r\n; SID=viejo\r\n") << conexion << sid << fallback;
        QTest::newRow("double quotes removed")
            << QByteArray("[Conexion]\r\nSID=\" orcl \"\r\n") << conexion << sid << QStringLiteral(" orcl ");
        QTest::newRow("single quotes removed")
            << QByteArray("[Conexion]\r\nSID='orcl'\r\n") << conexion << sid << QStringLiteral("orcl");
        QTest::newRow("unmatched quotes stay")
            << QByteArray("[Conexion]\r\nSID=\"orcl'\r\n") << conexion << sid << QStringLiteral("\"orcl'");
        QTest::newRow("a lone quote stays") << QByteArray("[Conexion]\r\nSID=\"\r\n") << conexion << sid << QStringLiteral("\"");
        QTest::newRow("empty quotes give the default") << QByteArray("[Conexion]\r\nSID=\"\"\r\n") << conexion << sid << fallback;
        QTest::newRow("first key of a name wins")
            << QByteArray("[Conexion]\r\nSID=uno\r\nSID=dos\r\n") << conexion << sid << QStringLiteral("uno");
        QTest::newRow("first section of a name wins")
            << QByteArray("[Conexion]\r\nBD=x\r\n[Conexion]\r\nSID=dos\r\n") << conexion << sid << fallback;
        QTest::newRow("key of the next section not taken")
            << QByteArray("[Conexion]\r\n[Form]\r\nSID=x\r\n") << conexion << sid << fallback;
        QTest::newRow("key before any section") << QByteArray("SID=x\r\n[Conexion]\r\n") << conexion << sid << fallback;
        QTest::newRow("key in a section of its own name")
            << QByteArray("[Impresoras]\r\nPuertoCajon=COM1\r\n[Instalacion]\r\nInstalacion=7\r\n")
            << QStringLiteral("Impresoras") << QStringLiteral("Instalacion") << fallback;
        QTest::newRow("unix line ends") << QByteArray("[Conexion]\nSID=orcl\n") << conexion << sid << QStringLiteral("orcl");
        QTest::newRow("old mac line ends") << QByteArray("[Conexion]\rSID=orcl\r") << conexion << sid << QStringLiteral("orcl");
        QTest::newRow("no final line end") << QByteArray("[Conexion]\r\nSID=orcl") << conexion << sid << QStringLiteral("orcl");
        QTest::newRow("windows-1252 letters")
            << QByteArray("[Fotos]\r\nFotoPath=C:\\Fotos\\Espa\xf1" "a \x80\x93\r\n") << QStringLiteral("Fotos")
            << QStringLiteral("FotoPath") << QStringLiteral("C:\\Fotos\\España €\u201C");
        QTest::newRow("value cut at 254 characters")
            << QByteArray("[Listados]\r\nRptPath=" + QByteArray(300, 'x') + "\r\n") << QStringLiteral("Listados")
            << QStringLiteral("RptPath") << QString(254, QLatin1Char('x'));
    }

    void readIniValue()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        m_fixture->writeIni(content);
        QCOMPARE(ReadIniValue(m_fixture->iniPath(), section, key, QStringLiteral("<default>")), expected);
    }

    void readIniValueOfMissingFile()
    {
        QCOMPARE(ReadIniValue(m_fixture->folder.filePath(QStringLiteral("nada.ini")), QStringLiteral("Conexion"),
                              QStringLiteral("SID"), QStringLiteral("d")),
                 QStringLiteral("d"));
    }

    void loadFillsEveryGlobal()
    {
        m_fixture->writeIni(completeIni("  orcl  "));
        m_fixture->platform.printers = {QStringLiteral("PDF"), QStringLiteral("Ticket")};
        LoadConfiguration();

        QCOMPARE(IniFilePath, m_fixture->platform.folder + Application::pathSeparator() + QStringLiteral("Polidex.ini"));
        QCOMPARE(DatabaseType, QStringLiteral("ORACLE"));
        QCOMPARE(DbProvider.value(), padded(QStringLiteral("OraOLEDB"), 30));
        QCOMPARE(DatabaseSid, QStringLiteral("orcl"));
        QCOMPARE(ServerName.value(), padded(QStringLiteral("SERVIDOR"), 15));
        QCOMPARE(DatabaseName.trimmed(), QStringLiteral("POLIDEX"));
        QCOMPARE(ComputerName.value(), padded(QStringLiteral("PUESTO1"), 35));
        QCOMPARE(UserName.value(), padded(QStringLiteral("recepcion"), 15));
        QCOMPARE(DatabasePassword.value(), QString(15, QLatin1Char(' ')));
        QCOMPARE(FormLeft, int16_t(120));
        QCOMPARE(FormTop, int16_t(-45));
        QCOMPARE(FormWidth, int16_t(9000));
        QCOMPARE(FormHeight, int16_t(6000));
        QCOMPARE(ReportFolder, QStringLiteral("C:\\Polidex\\Listados\\"));
        QCOMPARE(AsciiFolder.trimmed(), QStringLiteral("C:\\Polidex\\Ascii"));
        QCOMPARE(TicketPrinter.value(), padded(QStringLiteral("Ticket"), 50));
        QCOMPARE(CashDrawerPort.value(), QStringLiteral("COM1 "));
        QCOMPARE(InstallationCode, int16_t(7));
        QCOMPARE(PhotoFolder.trimmed(), QStringLiteral("C:\\Fotos"));
        QCOMPARE(DefaultPhotoFolder.trimmed(), QStringLiteral("C:\\Fotos\\Defecto"));
        QCOMPARE(TicketPrinterIndex, 1);
    }

    void valuesKeepTheirCapacity()
    {
        const QByteArray longPath = "C:\\" + QByteArray(120, 'r') + "\\";
        QByteArray ini = completeIni("orcl");
        ini.replace("RptPath=C:\\Polidex\\Listados\\", "RptPath=" + longPath);
        ini.replace("FotoPath=C:\\Fotos", "FotoPath=" + longPath);
        ini.replace("PuertoCajon=COM1", "PuertoCajon=COM12:9600");
        ini.replace("BASEDATOS=ORACLE", "BASEDATOS=" + QByteArray(120, 'b'));
        m_fixture->writeIni(ini);
        LoadConfiguration();
        QCOMPARE(ReportFolder, QString::fromLatin1(longPath));  // whole: the report file name follows it
        QCOMPARE(PhotoFolder.value(), QString::fromLatin1(longPath.left(75)));
        QCOMPARE(CashDrawerPort.value(), QStringLiteral("COM12"));
        QCOMPARE(DatabaseType, QString(120, QLatin1Char('b')));
    }

    void dataSourceIsReadWhole_data()
    {
        QTest::addColumn<QString>("sid");
        QTest::newRow("URL of 105 characters")
            << QStringLiteral("postgresql://servidor-fotos.example.org:5432/polidex?sslmode=verify-full&sslrootcert=/etc/"
                              "retratix/ca.pem");
        QTest::newRow("the README's URL of 138 characters")
            << QStringLiteral("postgresql://db.example:5432/suite?sslmode=verify-full&sslrootcert=/etc/retratix/ca.pem"
                              "&connect_timeout=10&application_name=retratix-norte");
        QTest::newRow("beyond the reader's 254 characters")
            << QStringLiteral("sqlite:/srv/") + QString(280, QLatin1Char('f')) + QStringLiteral(".db");
    }

    void dataSourceIsReadWhole()
    {
        QFETCH(QString, sid);
        m_fixture->writeIni(completeIni(sid.toUtf8()));
        LoadConfiguration();
        QCOMPARE(DatabaseSid.trimmed(), sid);
    }

    void deepProgramFolderStillFindsTheFile()
    {
        QString deep = m_fixture->folder.path();
        while (deep.size() < 120)
            deep += QStringLiteral("/carpeta-de-programas");
        QVERIFY(QDir().mkpath(deep));
        m_fixture->platform.folder = QDir::toNativeSeparators(deep);
        writeFile(deep + QStringLiteral("/Polidex.ini"), completeIni("orcl"));
        LoadConfiguration();
        QCOMPARE(DatabaseSid.trimmed(), QStringLiteral("orcl"));
        QCOMPARE(InstallationCode, int16_t(7));
    }

    void ticketPrinterLookup_data()
    {
        QTest::addColumn<QByteArray>("configured");
        QTest::addColumn<QStringList>("printers");
        QTest::addColumn<int>("index");
        const QStringList three = {QStringLiteral("PDF"), QStringLiteral("Ticket 80mm"), QStringLiteral("Laser")};
        QTest::newRow("exact name") << QByteArray("Ticket 80mm") << three << 1;
        QTest::newRow("quoted blanks around the name") << QByteArray("\"  Ticket 80mm  \"") << three << 1;
        QTest::newRow("case differs") << QByteArray("ticket 80MM") << three << 3;
        QTest::newRow("no such printer") << QByteArray("Matricial") << three << 3;
        QTest::newRow("no printer installed") << QByteArray("Ticket 80mm") << QStringList() << 0;
        QTest::newRow("first of two matches")
            << QByteArray("Laser") << QStringList{QStringLiteral("Laser"), QStringLiteral("Laser")} << 0;
        QTest::newRow("nothing configured, none empty") << QByteArray() << three << 3;
    }

    void ticketPrinterLookup()
    {
        QFETCH(QByteArray, configured);
        QFETCH(QStringList, printers);
        QFETCH(int, index);
        QByteArray ini = completeIni("orcl");
        ini.replace("ImpresoraTickets=Ticket", "ImpresoraTickets=" + configured);
        m_fixture->writeIni(ini);
        m_fixture->platform.printers = printers;
        LoadConfiguration();
        QCOMPARE(TicketPrinterIndex, index);
    }

    void systemNames_data()
    {
        QTest::addColumn<QString>("computer");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("storedComputer");
        QTest::addColumn<QString>("storedUser");
        const QString u14(14, QLatin1Char('u'));
        const QString c34(34, QLatin1Char('c'));
        QTest::newRow("names that fit") << c34 << u14 << c34 << u14;
        QTest::newRow("user name of 15 does not fit")
            << QStringLiteral("PC") << QString(15, QLatin1Char('u')) << QStringLiteral("PC") << QString();
        QTest::newRow("user name of 40 does not fit")
            << QStringLiteral("PC") << QString(40, QLatin1Char('u')) << QStringLiteral("PC") << QString();
        QTest::newRow("computer name of 35 does not fit")
            << QString(35, QLatin1Char('c')) << QStringLiteral("ana") << QString() << QStringLiteral("ana");
    }

    void systemNames()
    {
        QFETCH(QString, computer);
        QFETCH(QString, user);
        QFETCH(QString, storedComputer);
        QFETCH(QString, storedUser);
        m_fixture->writeIni(completeIni("orcl"));
        m_fixture->platform.computer = computer;
        m_fixture->platform.user = user;
        LoadConfiguration();  // a name that does not fit is no failure
        QCOMPARE(ComputerName.trimmed(), storedComputer);
        QCOMPARE(UserName.trimmed(), storedUser);
        QCOMPARE(InstallationCode, int16_t(7));
    }

    void failedConversionStopsTheLoad_data()
    {
        QTest::addColumn<bool>("writeIni");
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("to");
        QTest::addColumn<int>("failure");
        QTest::newRow("missing file") << false << QByteArray() << QByteArray() << int(RuntimeError::TypeMismatch);
        QTest::newRow("installation in a section of its own")
            << true << QByteArray("Instalacion=7\r\n") << QByteArray("[Instalacion]\r\nInstalacion=7\r\n")
            << int(RuntimeError::TypeMismatch);
        QTest::newRow("left overflows") << true << QByteArray("Left=120") << QByteArray("Left=40000")
                                        << int(RuntimeError::Overflow);
        QTest::newRow("height not a number") << true << QByteArray("Height=6000") << QByteArray("Height=alto")
                                             << int(RuntimeError::TypeMismatch);
    }

    void failedConversionStopsTheLoad()
    {
        QFETCH(bool, writeIni);
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        QFETCH(int, failure);
        if (writeIni)
            m_fixture->writeIni(completeIni("orcl").replace(from, to));
        try {
            LoadConfiguration();
            QFAIL("the load went through");
        } catch (const Failure& raised) {
            QCOMPARE(raised.number, failure);
        }
    }

    void fractionRoundsToEven()
    {
        m_fixture->writeIni(completeIni("orcl").replace("Left=120", "Left=2.5").replace("Top=-45", "Top=1.5"));
        LoadConfiguration();
        QCOMPARE(FormLeft, int16_t(2));
        QCOMPARE(FormTop, int16_t(2));
    }

private:
    static QString padded(const QString& text, int width) { return text.leftJustified(width, QLatin1Char(' ')); }

    std::unique_ptr<StartupFixture> m_fixture;
};

QTEST_GUILESS_MAIN(TestConfiguration)
#include "tst_configuration.moc"
