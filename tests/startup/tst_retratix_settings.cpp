// The program's own section [Retratix] of Polidex.ini and the options that stand in for its keys:
// what each value turns on, and that a bad value is refused with its key named.
#include "photos/photo_preparation.h"
#include "startup/retratix_settings.h"
#include "startup_fixture.h"

#include <QtTest>

class TestRetratixSettings final : public QObject {
    Q_OBJECT
private slots:
    void init() { m_fixture = std::make_unique<StartupFixture>(); }
    void cleanup() { m_fixture.reset(); }
    void valuesAndRefusals_data();
    void valuesAndRefusals();

private:
    std::unique_ptr<StartupFixture> m_fixture;
};

namespace {

// HEIF's names are refused where the program was built without libheif (Windows).
QString heifOr(const char* accepted, const QString& refusalStart)
{
    return Photos::readsHeif() ? QLatin1String(accepted)
                               : refusalStart + QStringLiteral(" no es válido; esta versión del programa no sabe leer fotos HEIF");
}

}  // namespace

void TestRetratixSettings::valuesAndRefusals_data()
{
    QTest::addColumn<QByteArray>("section");    // lines of [Retratix]
    QTest::addColumn<QStringList>("options");   // name=value pairs from the command line
    QTest::addColumn<QString>("expected");      // fit,upright,formats or the refusal's start
    QTest::newRow("no section: nothing changes") << QByteArray() << QStringList() << "0,0,";
    QTest::newRow("fitting on") << QByteArray("AjustarFotos=1\r\n") << QStringList() << "1,0,";
    QTest::newRow("formats, any case and dots")
        << QByteArray("Formatos= .PNG, heic ,jpg,png\r\nEnderezarFotos=1\r\n") << QStringList()
        << heifOr("0,1,png heic jpg", QStringLiteral("Formatos en [Retratix] de Polidex.ini: «.PNG, heic ,jpg,png»"));
    // A JPEG name makes ".JPG" a photo too: "jpg" joins the list.
    QTest::newRow("JPEG named") << QByteArray("Formatos=jpeg\r\n") << QStringList() << "0,0,jpeg jpg";
    QTest::newRow("an option wins") << QByteArray("AjustarFotos=0\r\nFormatos=png\r\n")
                                    << QStringList{QStringLiteral("fit=1"), QStringLiteral("formats=heif")}
                                    << heifOr("1,0,heif", QStringLiteral("--formats: «heif»"));
    QTest::newRow("HEIF named") << QByteArray("Formatos=png,HEIC\r\n") << QStringList()
                                << heifOr("0,0,png heic", QStringLiteral("Formatos en [Retratix] de Polidex.ini: «png,HEIC»"));
    QTest::newRow("bad switch named") << QByteArray("AjustarFotos=si\r\n") << QStringList()
                                      << "AjustarFotos en [Retratix] de Polidex.ini: «si» no es válido";
    QTest::newRow("unknown format named") << QByteArray("Formatos=png,webp\r\n") << QStringList()
                                          << "Formatos en [Retratix] de Polidex.ini: «png,webp» no es válido";
    QTest::newRow("bad option named") << QByteArray() << QStringList{QStringLiteral("upright=2")}
                                      << "--upright: «2» no es válido";
    QTest::newRow("originals folder under a file") << QByteArray("CarpetaOriginales=Polidex.ini/originales\r\n")
                                                   << QStringList()
                                                   << "CarpetaOriginales en [Retratix] de Polidex.ini: «Polidex.ini/originales»";
}

void TestRetratixSettings::valuesAndRefusals()
{
    QFETCH(QByteArray, section);
    QFETCH(QStringList, options);
    QFETCH(QString, expected);
    m_fixture->writeIni(completeIni("sqlite:retratix.db") + "[Retratix]\r\n" + section);
    ModGlob::LoadConfiguration();
    QHash<QString, QString> given;
    for (const QString& option : options)
        given.insert(option.section(QLatin1Char('='), 0, 0), option.section(QLatin1Char('='), 1));
    try {
        const RetratixSettings settings = ModGlob::LoadRetratixSettings(given);
        QCOMPARE(QStringLiteral("%1,%2,%3")
                     .arg(int(settings.fitPhotos))
                     .arg(int(settings.uprightPhotos))
                     .arg(settings.formats.join(QLatin1Char(' '))),
                 expected);
    } catch (const Failure& failure) {
        QVERIFY2(failure.description.startsWith(expected), qPrintable(failure.description));
    }
}

QTEST_MAIN(TestRetratixSettings)
#include "tst_retratix_settings.moc"
