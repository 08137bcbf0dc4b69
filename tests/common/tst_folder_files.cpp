#include "common/failure.h"
#include "common/folder_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QScopeGuard>
#include <QTest>

#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using FolderFiles::Folder;
Q_DECLARE_METATYPE(FolderFiles::Step)

namespace {

void writeFile(const QString& path, const QByteArray& bytes = "photo bytes", QFile::Permissions permissions = {})
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
    file.close();
    if (permissions)
        QVERIFY(file.setPermissions(permissions));
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A process number that no process holds any more.
pid_t endedProcess()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

int failureNumber(const std::function<void()>& call)
{
    try {
        call();
    } catch (const Failure& failure) {
        return failure.number;
    }
    return 0;
}

}  // namespace

class TestFolderFiles final : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_dir.emplace();
        QVERIFY(m_dir->isValid());
        QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("fotos/guardadas")));
        m_photos = m_dir->filePath(QStringLiteral("fotos"));
    }

    void disposalKeepsNamesOfAnyLength_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("move");
        QTest::addColumn<bool>("nameTaken");  // in the destination
        const QString longest = QStringLiteral("5.jpg") + QString(NAME_MAX - 5, QLatin1Char('x'));
        // Two bytes a character: a cut must not split one.
        const QString longestAccented = QStringLiteral("6.jpg") + QString((NAME_MAX - 5) / 2, QChar(0xF1));
        QTest::newRow("short name, removed") << QStringLiteral("7.jpg") << false << false;
        QTest::newRow("255-byte name, removed") << longest << false << false;
        QTest::newRow("255-byte name, moved") << longest << true << false;
        QTest::newRow("255-byte name, moved beside its namesake") << longest << true << true;
        QTest::newRow("accented long name, moved beside its namesake") << longestAccented << true << true;
    }

    // A name of any length the file system takes goes as any other; none is ever refused as a
    // permission failure.
    void disposalKeepsNamesOfAnyLength()
    {
        QFETCH(QString, name);
        QFETCH(bool, move);
        QFETCH(bool, nameTaken);
        const QString destinationPath = QDir(m_photos).filePath(QStringLiteral("guardadas"));
        writeFile(QDir(m_photos).filePath(name));
        if (nameTaken)
            writeFile(QDir(destinationPath).filePath(name), "earlier original");
        Folder folder(m_photos);
        Folder destination(destinationPath);
        const FolderFiles::FileBytes file = folder.readRegularFile(name, 1000);
        folder.prepareRemovals();
        const FolderFiles::RemoveOutcome outcome = move ? folder.moveIfUnchanged(name, file.snapshot, destination)
                                                        : folder.removeIfUnchanged(name, file.snapshot);
        QCOMPARE(outcome, FolderFiles::RemoveOutcome::Removed);
        QVERIFY(!QFile::exists(QDir(m_photos).filePath(name)));
        if (!move)
            return;
        QStringList moved = destination.fileNames();
        QCOMPARE(moved.size(), nameTaken ? 2 : 1);
        moved.removeOne(name);
        const QString movedName = nameTaken ? moved.value(0) : name;
        QVERIFY2(QFile::encodeName(movedName).size() <= NAME_MAX, qPrintable(movedName));
        QVERIFY2(!nameTaken || movedName.endsWith(QStringLiteral(".1")), qPrintable(movedName));
        QCOMPARE(readFile(QDir(destinationPath).filePath(movedName)), QByteArrayLiteral("photo bytes"));
    }

    void recoveryTakesBackOnlyWhatNoRunHolds_data()
    {
        QTest::addColumn<QString>("holder");
        QTest::addColumn<bool>("recovered");
        QTest::newRow("a process that ended") << "ended" << true;
        QTest::newRow("a process that ended, as earlier versions named it") << "ended, old name" << true;
        QTest::newRow("an earlier process of this number") << "this number" << true;
        QTest::newRow("a process at work") << "running" << false;
        QTest::newRow("this process, at work") << "this process" << false;
    }

    // A run killed while a file was in its private folder loses nothing: the next run puts the file
    // back under its name, long as it may be, but never takes one that a run at work holds.
    void recoveryTakesBackOnlyWhatNoRunHolds()
    {
        QFETCH(QString, holder);
        QFETCH(bool, recovered);
        const QString name = QStringLiteral("5.jpg") + QString(NAME_MAX - 5, QLatin1Char('y'));
        Folder working(m_photos);
        QString held;
        if (holder == QLatin1String("ended, old name")) {
            held = QStringLiteral(".retratix-%1-0-7.jpg").arg(endedProcess());
            writeFile(QDir(m_photos).filePath(held));
        } else {
            if (holder == QLatin1String("this process")) {
                // The private folder of a run at work in this process.
                working.prepareRemovals();
                const QStringList hidden =
                    QDir(m_photos).entryList({QStringLiteral(".retratix-*")}, QDir::Dirs | QDir::Hidden);
                QCOMPARE(hidden.size(), 1);
                held = hidden.first();
            } else {
                const pid_t owner = holder == QLatin1String("ended")         ? endedProcess()
                                    : holder == QLatin1String("this number") ? ::getpid()
                                                                             : ::getppid();
                held = QStringLiteral(".retratix-%1-0").arg(owner);
                QVERIFY(QDir(m_photos).mkdir(held));
            }
            writeFile(QDir(m_photos).filePath(held + QLatin1Char('/') + name));
        }
        Folder(m_photos).recoverInterrupted();
        const QString photo = holder == QLatin1String("ended, old name") ? QStringLiteral("7.jpg") : name;
        QCOMPARE(QFile::exists(QDir(m_photos).filePath(photo)), recovered);
        QCOMPARE(QFileInfo::exists(QDir(m_photos).filePath(held)), !recovered);
    }

    // The folders the program makes in the photo folder are its own, and never reached through a
    // link that the folder's writers could point anywhere.
    void subfoldersAreMadePrivateAndNeverThroughLinks()
    {
        Folder folder(m_photos);
        const Folder made = folder.subfolder(QStringLiteral("originales/20260101-000000-1"));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(made.path()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0700u);
        QTemporaryDir elsewhere;
        QVERIFY(QFile::link(elsewhere.path(), QDir(m_photos).filePath(QStringLiteral("enlace"))));
        QCOMPARE(failureNumber([&] { folder.subfolder(QStringLiteral("enlace/nueva")); }),
                 RuntimeError::PathFileAccessError);
        QCOMPARE(failureNumber([&] { Folder::openOrCreate(QDir(m_photos).filePath(QStringLiteral("enlace")), &folder); }),
                 RuntimeError::PathFileAccessError);
        // Also where the path reaches the photo folder through a link of the administrator's.
        const QString byLink = m_dir->filePath(QStringLiteral("por-enlace"));
        QVERIFY(QFile::link(m_photos, byLink));
        QCOMPARE(failureNumber([&] { Folder::openOrCreate(byLink + QStringLiteral("/enlace/nueva"), &folder); }),
                 RuntimeError::PathFileAccessError);
        QVERIFY(QDir(elsewhere.path()).isEmpty());
        QCOMPARE(failureNumber([&] { Folder::openOrCreate(byLink + QStringLiteral("/originales"), &folder); }), 0);
    }

    // Across file systems an original is copied: the copy is no more readable than the original.
    void copyAcrossFileSystemsKeepsPermissions()
    {
        QTemporaryDir other(QStringLiteral("/dev/shm/retratix-test-XXXXXX"));
        struct stat here {};
        struct stat there {};
        if (!other.isValid() || ::stat(QFile::encodeName(m_photos).constData(), &here) != 0 ||
            ::stat(QFile::encodeName(other.path()).constData(), &there) != 0 || here.st_dev == there.st_dev)
            QSKIP("no second file system at /dev/shm");
        writeFile(QDir(m_photos).filePath(QStringLiteral("7.jpg")), "photo bytes",
                  QFile::ReadOwner | QFile::WriteOwner);
        Folder folder(m_photos);
        Folder destination(other.path());
        const FolderFiles::FileBytes file = folder.readRegularFile(QStringLiteral("7.jpg"), 1000);
        QCOMPARE(folder.moveIfUnchanged(QStringLiteral("7.jpg"), file.snapshot, destination),
                 FolderFiles::RemoveOutcome::Removed);
        struct stat copy {};
        QCOMPARE(::stat(QFile::encodeName(other.filePath(QStringLiteral("7.jpg"))).constData(), &copy), 0);
        QCOMPARE(copy.st_mode & 0777, 0600u);
        QCOMPARE(destination.fileNames(), QStringList{QStringLiteral("7.jpg")});
    }

    void stepsComeInTheirOrder_data()
    {
        using FolderFiles::Step;
        QTest::addColumn<QString>("destination");  // none, same file system, other file system
        QTest::addColumn<QList<Step>>("steps");
        QTest::newRow("removed") << "none" << QList<Step>{Step::LastLook};
        QTest::newRow("moved within the file system") << "same" << QList<Step>{Step::LastLook, Step::DestinationSynced};
        QTest::newRow("moved across file systems: the copy whole and named on disk before the original goes")
            << "other"
            << QList<Step>{Step::LastLook, Step::CopySynced, Step::CopyNamed, Step::DestinationSynced,
                           Step::SourceRemoved};
    }

    // A power cut at any moment leaves the photo somewhere whole.
    void stepsComeInTheirOrder()
    {
        QFETCH(QString, destination);
        QFETCH(QList<FolderFiles::Step>, steps);
        QTemporaryDir other(QStringLiteral("/dev/shm/retratix-test-XXXXXX"));
        if (destination == QLatin1String("other") && (!other.isValid() || sameFileSystem(m_photos, other.path())))
            QSKIP("no second file system at /dev/shm");
        writeFile(QDir(m_photos).filePath(QStringLiteral("7.jpg")));
        Folder folder(m_photos);
        const FolderFiles::FileBytes file = folder.readRegularFile(QStringLiteral("7.jpg"), 1000);
        QList<FolderFiles::Step> taken;
        FolderFiles::setStepObserver([&taken](FolderFiles::Step step, int) { taken.append(step); });
        const auto forget = qScopeGuard([] { FolderFiles::setStepObserver({}); });
        if (destination == QLatin1String("none")) {
            QCOMPARE(folder.removeIfUnchanged(QStringLiteral("7.jpg"), file.snapshot), FolderFiles::RemoveOutcome::Removed);
        } else {
            Folder target(destination == QLatin1String("same") ? QDir(m_photos).filePath(QStringLiteral("guardadas"))
                                                               : other.path());
            QCOMPARE(folder.moveIfUnchanged(QStringLiteral("7.jpg"), file.snapshot, target),
                     FolderFiles::RemoveOutcome::Removed);
        }
        QCOMPARE(taken, steps);
    }

    // A program that opens the file between the last comparison and the removal breaks the lease:
    // it must find the file, so the file stays.
    void aFileOpenedAtTheLastMomentStays()
    {
        const QString name = QStringLiteral("7.jpg");
        writeFile(QDir(m_photos).filePath(name));
        {
            QFile probe(QDir(m_photos).filePath(name));
            QVERIFY(probe.open(QIODevice::ReadOnly));
            if (::fcntl(probe.handle(), F_SETLEASE, F_RDLCK) != 0)
                QSKIP("the file system grants no leases here");
            ::fcntl(probe.handle(), F_SETLEASE, F_UNLCK);
        }
        Folder folder(m_photos);
        const FolderFiles::FileBytes file = folder.readRegularFile(name, 1000);
        int opened = -2;
        FolderFiles::setStepObserver([&opened](FolderFiles::Step step, int fd) {
            if (step == FolderFiles::Step::LastLook)
                opened = ::open(QByteArray("/proc/self/fd/" + QByteArray::number(fd)).constData(), O_RDONLY | O_NONBLOCK);
        });
        const auto forget = qScopeGuard([&opened] {
            FolderFiles::setStepObserver({});
            if (opened >= 0)
                ::close(opened);
        });
        QCOMPARE(folder.removeIfUnchanged(name, file.snapshot), FolderFiles::RemoveOutcome::Changed);
        QVERIFY(opened != -2);
        QCOMPARE(readFile(QDir(m_photos).filePath(name)), QByteArrayLiteral("photo bytes"));
    }

private:
    static bool sameFileSystem(const QString& a, const QString& b)
    {
        struct stat first {};
        struct stat second {};
        return ::stat(QFile::encodeName(a).constData(), &first) == 0 &&
               ::stat(QFile::encodeName(b).constData(), &second) == 0 && first.st_dev == second.st_dev;
    }

    std::optional<QTemporaryDir> m_dir;
    QString m_photos;
};

QTEST_GUILESS_MAIN(TestFolderFiles)
#include "tst_folder_files.moc"
