// Creates the demo of ./run.sh: a SQLite database with two installations and their members (some
// with a photo already), a folder of photos that meets every outcome and every skip rule of an
// upload, the report folder and Polidex.ini beside the program. Idempotent and quiet when nothing
// changes: the demo is kept once made, and made again (database and photo folder) when an upload
// has taken its photos to store, so that every run of the demo meets every outcome.
#include <QCommandLineParser>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QTextStream>

#include <sqlite3.h>

namespace {

QTextStream out(stdout);

[[noreturn]] void fail(const QString& message)
{
    QTextStream(stderr) << "make_demo_data: " << message << '\n';
    std::exit(1);
}

// A portrait-like picture with the member's number; noise makes a large file when asked.
QByteArray photo(int member, bool large)
{
    QImage image(large ? QSize(900, 1200) : QSize(240, 320), QImage::Format_RGB32);
    const QColor background = QColor::fromHsv((member * 47) % 360, 90, 220);
    image.fill(background);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(background.darker(160));
    painter.setPen(Qt::NoPen);
    const int w = image.width();
    const int h = image.height();
    painter.drawEllipse(QRect(w / 3, h / 6, w / 3, h / 3));
    painter.drawRoundedRect(QRect(w / 5, h / 2, 3 * w / 5, h / 2 + 20), 40, 40);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setPixelSize(h / 12);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRect(0, h - h / 6, w, h / 6), Qt::AlignCenter, QString::number(member));
    painter.end();
    if (large) {
        QRandomGenerator random(static_cast<quint32>(member));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (random.bounded(3) == 0)
                    image.setPixel(x, y, random.generate());
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", large ? 100 : 80);
    return bytes;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        fail(QStringLiteral("cannot write ") + path);
}

// Writes the file unless it already holds these bytes; true when it wrote.
bool updateFile(const QString& path, const QByteArray& bytes)
{
    QFile current(path);
    if (current.open(QIODevice::ReadOnly) && current.readAll() == bytes)
        return false;
    current.close();
    writeFile(path, bytes);
    return true;
}

class Database {
public:
    explicit Database(const QString& path)
    {
        if (sqlite3_open(path.toUtf8().constData(), &m_handle) != SQLITE_OK)
            fail(QStringLiteral("cannot open ") + path);
    }
    ~Database() { sqlite3_close(m_handle); }
    void exec(const QByteArray& sql)
    {
        char* message = nullptr;
        if (sqlite3_exec(m_handle, sql.constData(), nullptr, nullptr, &message) != SQLITE_OK)
            fail(QString::fromUtf8(message));
    }
    void insertPhoto(int installation, int member, const QByteArray& bytes)
    {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(m_handle,
                           "INSERT INTO ABONADOSFOTOS (CODINSTALACION, CODIGO, FILENAME, FILESIZE, FOTO) "
                           "VALUES (?, ?, ?, ?, ?)",
                           -1, &statement, nullptr);
        const QByteArray name = QByteArray::number(member) + ".jpg";
        sqlite3_bind_int(statement, 1, installation);
        sqlite3_bind_int(statement, 2, member);
        sqlite3_bind_text(statement, 3, name.constData(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int(statement, 4, static_cast<int>(bytes.size()));
        sqlite3_bind_blob(statement, 5, bytes.constData(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
        if (sqlite3_step(statement) != SQLITE_DONE)
            fail(QString::fromUtf8(sqlite3_errmsg(m_handle)));
        sqlite3_finalize(statement);
    }

private:
    sqlite3* m_handle = nullptr;
};

void createDatabase(const QString& path, const QString& schemaPath)
{
    QFile schema(schemaPath);
    if (!schema.open(QIODevice::ReadOnly))
        fail(QStringLiteral("cannot read ") + schemaPath);
    const QString temporary = path + QStringLiteral(".new");
    for (const QString& stale : {temporary, temporary + QStringLiteral("-journal")})
        QFile::remove(stale);
    {
        Database db(temporary);
        db.exec(schema.readAll());
        db.exec("BEGIN");
        db.exec("INSERT INTO INSTALACIONES (CODINSTALACION, NOMBRE) VALUES "
                "(1, 'Polideportivo Municipal Norte'), (2, 'Piscina Cubierta Sur')");
        const char* names[] = {"Lucía", "Hugo", "Martina", "Mateo", "Sofía", "Leo", "Julia", "Daniel", "Paula", "Pablo"};
        const char* surnames[] = {"García", "Fernández", "López", "Martínez", "Sánchez", "Pérez", "Gómez", "Ruiz"};
        QRandomGenerator random(2024);
        for (const auto& [installation, members] : {std::pair{1, 300}, std::pair{2, 120}}) {
            for (int code = 1; code <= members; ++code) {
                const QString name = QString::fromUtf8(names[random.bounded(10)]) + QLatin1Char(' ') +
                                     QString::fromUtf8(surnames[random.bounded(8)]) + QLatin1Char(' ') +
                                     QString::fromUtf8(surnames[random.bounded(8)]);
                db.exec(QStringLiteral("INSERT INTO ABONADOS (CODINSTALACION, CODIGO, NOMBRE, FECHA) "
                                       "VALUES (%1, %2, '%3', '20%4-%5-%6')")
                            .arg(installation)
                            .arg(code)
                            .arg(name)
                            .arg(10 + random.bounded(15))
                            .arg(1 + random.bounded(12), 2, 10, QLatin1Char('0'))
                            .arg(1 + random.bounded(28), 2, 10, QLatin1Char('0'))
                            .toUtf8());
            }
        }
        // Members 1 to 10 of installation 1 have a photo already: their new ones replace it.
        for (int member = 1; member <= 10; ++member)
            db.insertPhoto(1, member, photo(member, false));
        db.exec("COMMIT");
    }
    // A log of the old database's writes must not meet the new one.
    for (const QString& old : {path, path + QStringLiteral("-wal"), path + QStringLiteral("-shm")})
        QFile::remove(old);
    if (!QFile::rename(temporary, path))
        fail(QStringLiteral("cannot create ") + path);
    out << "Demo database created: " << path << " (2 installations, 420 members, 10 photos)\n";
}

// The photos to store: when none is left, the folder is made again.
QStringList storablePhotos()
{
    QStringList names;
    for (int member = 1; member <= 5; ++member)
        names << QStringLiteral("%1.jpg").arg(member);
    for (int member = 11; member <= 40; ++member)
        if (member != 12)
            names << QStringLiteral("%1.jpg").arg(member);
    names << QStringLiteral("12.5.jpg") << QStringLiteral("007.jpg") << QStringLiteral("45.jpg.bak");
    return names;
}

void createPhotoFolder(const QString& folder)
{
    QDir().mkpath(folder);
    for (const QString& name : storablePhotos())
        writeFile(folder + QLatin1Char('/') + name, photo(name.section(QLatin1Char('.'), 0, 0).toInt(), false));
    // Members that do not exist at installation 1.
    writeFile(folder + QStringLiteral("/9001.jpg"), photo(9001, false));
    writeFile(folder + QStringLiteral("/9002.jpg"), photo(9002, false));
    // Too large: refused and left in the folder.
    QByteArray large = photo(250, true);
    if (large.size() < 150000)
        large.append(QByteArray(150000 - large.size(), '\0'));
    writeFile(folder + QStringLiteral("/250.jpg"), large);
    // Skipped without a log row: upper-case extension, no number, no photo, empty code.
    writeFile(folder + QStringLiteral("/123.JPG"), photo(123, false));
    writeFile(folder + QStringLiteral("/foto.jpg"), photo(0, false));
    writeFile(folder + QStringLiteral("/.jpg"), photo(0, false));
    writeFile(folder + QStringLiteral("/notes.txt"),
              QByteArrayLiteral("Fotos de abonados para subir: NNN.jpg es el abonado NNN.\n"));
}

}  // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Creates the demo data of ./run.sh."));
    const QCommandLineOption programOption(QStringLiteral("program-folder"),
                                           QStringLiteral("Folder of the retratix executable."), QStringLiteral("DIR"));
    const QCommandLineOption demoOption(QStringLiteral("demo"), QStringLiteral("Folder of the demo data."),
                                        QStringLiteral("DIR"));
    const QCommandLineOption sourceOption(QStringLiteral("source"), QStringLiteral("The source tree."),
                                          QStringLiteral("DIR"));
    parser.addOptions({programOption, demoOption, sourceOption});
    parser.addHelpOption();
    parser.process(application);
    if (!parser.isSet(programOption) || !parser.isSet(demoOption) || !parser.isSet(sourceOption))
        parser.showHelp(2);
    const QDir program(parser.value(programOption));
    const QDir demo(QDir(parser.value(demoOption)).absolutePath());
    const QDir source(parser.value(sourceOption));
    QDir().mkpath(demo.path());

    const QString database = demo.filePath(QStringLiteral("retratix.db"));
    const QString photos = demo.filePath(QStringLiteral("fotos"));
    const QStringList storable = storablePhotos();
    const bool photosLeft = std::any_of(storable.begin(), storable.end(), [&photos](const QString& name) {
        return QFile::exists(photos + QLatin1Char('/') + name);
    });
    // Once an upload has stored the demo photos, the photos and the database start again
    // together: with the photos stored, new copies would all be updates.
    if (!photosLeft && QFileInfo::exists(photos))
        out << "The demo photos were uploaded: making the demo data again.\n";
    if (!photosLeft || !QFile::exists(database))
        createDatabase(database, source.filePath(QStringLiteral("db/sqlite/schema.sql")));
    if (!photosLeft) {
        createPhotoFolder(photos);
        out << "Demo photo folder: " << photos << '\n';
    }

    const QString reports = demo.filePath(QStringLiteral("reports"));
    QDir().mkpath(reports);
    for (const QString& name : QDir(source.filePath(QStringLiteral("reports"))).entryList({QStringLiteral("*.rpt")})) {
        QFile report(source.filePath(QStringLiteral("reports/") + name));
        if (!report.open(QIODevice::ReadOnly))
            fail(QStringLiteral("cannot read ") + report.fileName());
        updateFile(reports + QLatin1Char('/') + name, report.readAll());
    }

    // The configuration beside the program; the report folder ends with its separator.
    QByteArray ini;
    ini += "[Conexion]\r\nBASEDATOS=SQL\r\nPRVBD=\r\nSID=sqlite:" + database.toLocal8Bit() + "\r\nSVR=\r\nBD=\r\n";
    ini += "[Form]\r\nLeft=5085\r\nTop=2670\r\nWidth=7500\r\nHeight=5145\r\n";
    ini += "[Listados]\r\nRptPath=" + reports.toLocal8Bit() + "/\r\n";
    ini += "[FicherosASCII]\r\nPathASCII=\r\n";
    ini += "[Impresoras]\r\nImpresoraTickets=\r\nPuertoCajon=\r\nInstalacion=1\r\n";
    ini += "[Fotos]\r\nFotoPath=" + photos.toLocal8Bit() + "\r\nDefPath=" + photos.toLocal8Bit() + "\r\n";
    const QString iniPath = program.filePath(QStringLiteral("Polidex.ini"));
    if (updateFile(iniPath, ini))
        out << "Configuration: " << iniPath << '\n';
    return 0;
}
