// One table of folder entries, each run through the upload, the check and the watch: what one
// decides for an entry, the others decide too.
#include "test_database.h"
#include "upload/check_run.h"
#include "upload/upload_run.h"
#include "upload/watch_folder.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

namespace {

const QByteArray Jpeg = QByteArrayLiteral("\xFF\xD8\xFF\xE0 a photo");
// What the upload makes of an entry: its log row ("S Foto Insertada"), "-" for none, "stop" when
// the upload ends at it with no row, or a row then ", stop" when it ends right after the row.
QString uploadOutcome(const QList<QVariantList>& log, bool failed)
{
    QString outcome = log.isEmpty() ? (failed ? QStringLiteral("stop") : QStringLiteral("-"))
                                    : log.first().value(0).toString() + QLatin1Char(' ') + log.first().value(1).toString();
    if (failed && !log.isEmpty())
        outcome += QStringLiteral(", stop");
    return outcome;
}

}  // namespace

class TestPhotoDecisions final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QString whyNot;
        m_database = TestDatabase::create(TestDatabase::Engine::Sqlite, &whyNot);
        QVERIFY2(m_database, qPrintable(whyNot));
    }

    // Members 7 and 8, and a photo of 8's: the same before each way.
    void init()
    {
        m_database->clear();
        for (int member : {7, 8})
            m_database->execute(QStringLiteral("INSERT INTO ABONADOS (CODINSTALACION, CODIGO) VALUES (1, %1)").arg(member));
        m_database->execute(QStringLiteral("INSERT INTO ABONADOSFOTOS (CODIGO, CODINSTALACION, FILENAME, FILESIZE) "
                                           "VALUES (8, 1, '8.jpg', 0)"));
    }

    void everyWayDecidesAlike_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("entry");  // photo, large, no image, link, fifo, read-only
        QTest::addColumn<QString>("formats");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("new photo") << "7.jpg" << "photo" << "" << "S Foto Insertada";
        QTest::newRow("photo stored before") << "8.jpg" << "photo" << "" << "S Foto Actualizada";
        QTest::newRow("no such member") << "9.jpg" << "photo" << "" << "N Abonado no existente";
        QTest::newRow("150000 bytes") << "7.jpg" << "large" << "" << "N Tamaño no permitido";
        QTest::newRow("upper-case extension") << "7.JPG" << "photo" << "" << "-";
        QTest::newRow("upper-case extension, JPEG named") << "7.JPG" << "photo" << "jpeg" << "S Foto Insertada";
        QTest::newRow("other format, no image") << "7.png" << "no image" << "png" << "N Foto no válida";
        QTest::newRow("no .jpg") << "7.txt" << "photo" << "" << "-";
        QTest::newRow("no member code") << "foto.jpg" << "photo" << "" << "-";
        QTest::newRow("link to a photo elsewhere") << "7.jpg" << "link" << "" << "-";
        QTest::newRow("named pipe") << "7.jpg" << "fifo" << "" << "-";
        QTest::newRow("code beyond 32 bits") << "99999999999.jpg" << "photo" << "" << "stop";
        QTest::newRow("read-only file") << "7.jpg" << "read-only" << "" << "S Foto Insertada, stop";
    }

    void everyWayDecidesAlike()
    {
        QFETCH(QString, name);
        QFETCH(QString, entry);
        QFETCH(QString, formats);
        QFETCH(QString, outcome);
        RetratixSettings photos;
        if (!formats.isEmpty())
            photos.formats = {formats, QStringLiteral("jpg")};

        // The upload.
        {
            QTemporaryDir folder;
            makeEntry(folder, name, entry);
            UploadRun::Settings settings = runSettings(folder.path(), photos);
            const UploadSummary summary = UploadRun(std::move(settings)).run();
            QCOMPARE(uploadOutcome(logOf(summary.runUser), summary.end == UploadSummary::End::Failed), outcome);
        }
        // The check.
        init();
        {
            QTemporaryDir folder;
            makeEntry(folder, name, entry);
            CheckRun::Settings settings;
            settings.connection = &m_database->connection();
            settings.folder = folder.path();
            settings.installationText = [] { return QStringLiteral("1"); };
            settings.photos = photos;
            settings.reportError = [](const Failure&) {};
            const CheckSummary summary = CheckRun(std::move(settings)).run();
            QCOMPARE(summary.rows.size(), 1);
            const CheckRow& row = summary.rows.first();
            QString said = row.kind == CheckRow::Kind::NoPhoto ? QStringLiteral("-")
                           : row.kind == CheckRow::Kind::Stop  ? QStringLiteral("stop")
                                                               : row.stored + QLatin1Char(' ') + row.outcome;
            if (row.detail.contains(QStringLiteral("terminaría tras esta foto")))
                said += QStringLiteral(", stop");
            QCOMPARE(said, outcome);
        }
        // The watch: it waits only for what the upload takes as a photo, and its run decides alike.
        init();
        {
            QTemporaryDir folder;
            makeEntry(folder, name, entry);
            WatchFolder::Settings settings;
            settings.folder = folder.path();
            settings.settleMs = 0;
            settings.rescanMs = 100;
            settings.run = runSettings(folder.path(), photos);
            QString output;
            QTextStream out(&output);
            QTextStream err(&output);
            WatchFolder watch(std::move(settings), out, err, true);
            int ticks = 0;
            QTimer driver;
            QObject::connect(&driver, &QTimer::timeout, [&] {
                if (++ticks > 12 || !watch.runs().isEmpty())
                    watch.stop();
            });
            driver.start(50);
            QCOMPARE(watch.exec(), 0);
            const QList<QVariantList> log = m_database->rows(
                QStringLiteral("SELECT SUBIO, MOTIVO FROM LOG_ABONADOSFOTOS WHERE NOMBRE_FOTO = '%1'").arg(name));
            const bool failed = !watch.runs().isEmpty() && watch.runs().first().end == UploadSummary::End::Failed;
            QCOMPARE(uploadOutcome(log, failed), outcome);
            QCOMPARE(watch.runs().isEmpty(), outcome == QLatin1String("-"));
        }
    }

private:
    static void makeEntry(QTemporaryDir& folder, const QString& name, const QString& entry)
    {
        const QString path = folder.filePath(name);
        const QByteArray native = QFile::encodeName(path);
        if (entry == QLatin1String("fifo")) {
            QCOMPARE(::mkfifo(native.constData(), 0644), 0);
            return;
        }
        if (entry == QLatin1String("link")) {
            static QTemporaryDir elsewhere;
            QFile target(elsewhere.filePath(QStringLiteral("secreto.jpg")));
            QVERIFY(target.open(QIODevice::WriteOnly) && target.write(Jpeg) == Jpeg.size());
            QVERIFY(QFile::link(target.fileName(), path));
            return;
        }
        QFile file(path);
        const QByteArray bytes = entry == QLatin1String("large")      ? QByteArray(150000, 'x')
                                 : entry == QLatin1String("no image") ? QByteArrayLiteral("no image")
                                                                      : Jpeg;
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();
        if (entry == QLatin1String("read-only"))
            QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    }

    UploadRun::Settings runSettings(const QString& folder, const RetratixSettings& photos)
    {
        UploadRun::Settings settings;
        settings.connection = &m_database->connection();
        settings.folder = folder;
        settings.installationText = [] { return QStringLiteral("1"); };
        settings.drawRunNumber = [this] { return ++m_runNumber; };
        settings.photos = photos;
        settings.reportError = [](const Failure&) {};
        return settings;
    }

    QList<QVariantList> logOf(const QString& runUser)
    {
        return m_database->rows(
            QStringLiteral("SELECT SUBIO, MOTIVO FROM LOG_ABONADOSFOTOS WHERE USUARIO = %1").arg(runUser));
    }

    std::unique_ptr<TestDatabase> m_database;
    int m_runNumber = 100;
};

QTEST_GUILESS_MAIN(TestPhotoDecisions)
#include "tst_photo_decisions.moc"
