// Photos per second and peak memory of the whole program with fitting on, for a folder of camera
// photos (4000 x 3000 JPEGs of several megabytes, each fitted under the limit) beside the same
// number of photos that are already small (stored as they are), and the time one camera photo
// takes to fit in this process. The program is `retratix --upload FOLDER` beside a Polidex.ini
// with AjustarFotos=1, started with fork/exec; its peak memory is its own ru_maxrss (wait4).
// The two folders run interleaved, round by round; the table prints medians. Judges nothing.
//
// Run:  build/bin/photos_bench [--photos N] [--rounds N] [--program PATH]
#include "photos/photo_preparation.h"

#include <QBuffer>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

[[noreturn]] void fail(const QString& message)
{
    std::fprintf(stderr, "photos_bench: %s\n", qPrintable(message));
    std::exit(1);
}

// A camera-like photo: a scene of gradients and shapes with sensor noise, so that it compresses
// as a real photo does (several megabytes at a camera's quality).
QByteArray cameraPhoto(int seed)
{
    QImage image(4000, 3000, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, 3000);
    sky.setColorAt(0, QColor::fromHsv((seed * 53) % 360, 120, 230));
    sky.setColorAt(1, QColor::fromHsv((seed * 53 + 90) % 360, 160, 90));
    painter.fillRect(image.rect(), sky);
    QRandomGenerator generator{quint32(seed)};
    for (int i = 0; i < 60; ++i) {
        painter.setBrush(QColor::fromHsv(int(generator.bounded(360)), 150, 200));
        painter.drawEllipse(QPoint(int(generator.bounded(4000)), int(generator.bounded(3000))), 200, 300);
    }
    painter.end();
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<quint32*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grain = int(generator.bounded(24)) - 12;
            const QRgb pixel = line[x];
            line[x] = qRgb(qBound(0, qRed(pixel) + grain, 255), qBound(0, qGreen(pixel) + grain, 255),
                           qBound(0, qBlue(pixel) + grain, 255));
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(92);
    writer.write(image);
    return bytes;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        fail(QStringLiteral("cannot write ") + path);
}

struct Run {
    double seconds = 0;
    long peakKiB = 0;
};

Run runProgram(const QString& program, const QString& folder)
{
    const QByteArray executable = QFile::encodeName(program);
    const QByteArray upload = "--upload";
    const QByteArray target = QFile::encodeName(folder);
    char* arguments[] = {const_cast<char*>(executable.constData()), const_cast<char*>(upload.constData()),
                         const_cast<char*>(target.constData()), nullptr};
    QElapsedTimer clock;
    clock.start();
    const pid_t pid = ::fork();
    if (pid < 0)
        fail(QStringLiteral("fork failed"));
    if (pid == 0) {
        if (!std::freopen("/dev/null", "w", stdout))
            ::_exit(127);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::execv(executable.constData(), arguments);
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    while (::wait4(pid, &status, 0, &usage) < 0)
        if (errno != EINTR)
            fail(QStringLiteral("wait4 failed"));
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail(QStringLiteral("the program failed on ") + folder);
    return {clock.nsecsElapsed() / 1e9, usage.ru_maxrss};
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption photosOption(QStringLiteral("photos"), QStringLiteral("Photos per folder."),
                                          QStringLiteral("N"), QStringLiteral("200"));
    const QCommandLineOption roundsOption(QStringLiteral("rounds"), QStringLiteral("Rounds."), QStringLiteral("N"),
                                          QStringLiteral("3"));
    const QCommandLineOption programOption(QStringLiteral("program"), QStringLiteral("The retratix executable."),
                                           QStringLiteral("PATH"),
                                           QCoreApplication::applicationDirPath() + QStringLiteral("/retratix"));
    parser.addOptions({photosOption, roundsOption, programOption});
    parser.process(application);
    const int photos = parser.value(photosOption).toInt();
    const int rounds = parser.value(roundsOption).toInt();

    QTemporaryDir work;
    const QString programFolder = work.filePath(QStringLiteral("program"));
    QDir().mkpath(programFolder);
    const QString program = programFolder + QStringLiteral("/retratix");
    if (!QFile::copy(parser.value(programOption), program))
        fail(QStringLiteral("no program at ") + parser.value(programOption));
    QFile::setPermissions(program, QFile::permissions(program) | QFileDevice::ExeOwner);
    const QString database = work.filePath(QStringLiteral("bench.db"));
    writeFile(programFolder + QStringLiteral("/Polidex.ini"),
              "[Conexion]\r\nSID=sqlite:" + QFile::encodeName(database) +
                  "\r\n[Form]\r\nLeft=0\r\nTop=0\r\nWidth=7500\r\nHeight=5200\r\n[Listados]\r\nRptPath=" +
                  QFile::encodeName(QStringLiteral(RETRATIX_SOURCE_DIR "/reports/")) +
                  "\r\n[Impresoras]\r\nInstalacion=1\r\n[Retratix]\r\nAjustarFotos=1\r\n");
    QFile schema(QStringLiteral(RETRATIX_SOURCE_DIR "/db/sqlite/schema.sql"));
    if (!schema.open(QIODevice::ReadOnly))
        fail(QStringLiteral("no schema"));
    QByteArray script = schema.readAll() + "\nBEGIN;\n";
    for (int code = 1; code <= photos; ++code)
        script += "INSERT INTO ABONADOS (CODINSTALACION, CODIGO) VALUES (1, " + QByteArray::number(code) + ");\n";
    script += "COMMIT;\n";

    std::printf("photos_bench: making %d camera photos...\n", 4);
    std::fflush(stdout);
    QList<QByteArray> camera;
    for (int seed = 1; seed <= 4; ++seed)
        camera.append(cameraPhoto(seed));
    QByteArray small(50000, Qt::Uninitialized);
    for (char& byte : small)
        byte = char(QRandomGenerator::global()->bounded(256));
    const QString sources = work.filePath(QStringLiteral("sources"));
    QDir().mkpath(sources);
    for (int i = 0; i < camera.size(); ++i)
        writeFile(QStringLiteral("%1/camera%2.jpg").arg(sources).arg(i), camera.at(i));
    writeFile(sources + QStringLiteral("/small.jpg"), small);
    // Written an hour ago, as photos copied into a folder earlier are.
    const QDateTime hourAgo = QDateTime::currentDateTime().addSecs(-3600);
    for (const QString& name : QDir(sources).entryList(QDir::Files)) {
        QFile file(sources + QLatin1Char('/') + name);
        if (!file.open(QIODevice::ReadWrite) || !file.setFileTime(hourAgo, QFileDevice::FileModificationTime))
            fail(QStringLiteral("cannot date ") + name);
    }

    // One camera photo fitted in this process.
    std::vector<double> fitSeconds;
    int quality = 0;
    qsizetype fittedBytes = 0;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer clock;
        clock.start();
        const Photos::Prepared prepared = Photos::prepare(camera.at(i % camera.size()), QStringLiteral("1.jpg"), {true, false},
                                                          150000);
        fitSeconds.push_back(clock.nsecsElapsed() / 1e9);
        quality = prepared.quality;
        fittedBytes = prepared.bytes.size();
    }

    struct Case {
        const char* name;
        bool large;
        std::vector<double> rates;
        long peakKiB = 0;
    };
    QList<Case> cases = {{"camera photos (fitted)", true, {}, 0}, {"small photos (as they are)", false, {}, 0}};
    for (int round = 0; round < rounds; ++round) {
        for (Case& c : cases) {
            QFile::remove(database);
            sqlite3* handle = nullptr;
            sqlite3_open(QFile::encodeName(database).constData(), &handle);
            if (sqlite3_exec(handle, script.constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
                fail(QStringLiteral("schema"));
            sqlite3_close(handle);
            const QString folder = work.filePath(QStringLiteral("fotos"));
            QDir(folder).removeRecursively();
            QDir().mkpath(folder);
            for (int code = 1; code <= photos; ++code) {
                const QString source = c.large ? QStringLiteral("%1/camera%2.jpg").arg(sources).arg(code % camera.size())
                                               : sources + QStringLiteral("/small.jpg");
                // Hard links: the same bytes under each name, without the disk space.
                if (::link(QFile::encodeName(source).constData(),
                           QFile::encodeName(QStringLiteral("%1/%2.jpg").arg(folder).arg(code)).constData()) != 0)
                    fail(QStringLiteral("cannot link photos"));
            }
            ::sync();
            const Run run = runProgram(program, folder);
            c.rates.push_back(photos / run.seconds);
            c.peakKiB = std::max(c.peakKiB, run.peakKiB);
        }
    }

    std::printf("\n%d photos per folder, SQLite, fitting on, median of %d rounds\n", photos, rounds);
    std::printf("  %-28s %12s %12s\n", "folder", "photos/s", "peak MiB");
    for (const Case& c : cases)
        std::printf("  %-28s %12.1f %12.1f\n", c.name, median(c.rates), c.peakKiB / 1024.0);
    qsizetype cameraBytes = 0;
    for (const QByteArray& photo : camera)
        cameraBytes += photo.size();
    std::printf("\nOne camera photo (4000 x 3000, %.1f MB on average) fitted in this process: %.0f ms (median of 5),\n"
                "%lld bytes at quality %d.\n",
                cameraBytes / double(camera.size()) / 1e6, median(fitSeconds) * 1e3, (long long)fittedBytes, quality);
    return 0;
}
