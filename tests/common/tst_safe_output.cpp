// Files the program writes where other accounts may write too: whatever they put at the name is
// replaced or refused, never followed, and nothing is left behind.
#include "common/failure.h"
#include "common/safe_output.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

class TestSafeOutput final : public QObject {
    Q_OBJECT

private slots:
    void plantedEntriesAreNeverFollowed_data()
    {
        QTest::addColumn<QString>("planted");  // what is at the name before the write
        QTest::addColumn<int>("failure");      // 0: written
        QTest::addColumn<int>("mode");         // of the written file; -1: a new file's (0666 less the umask)
        QTest::newRow("free name") << QStringLiteral("nothing") << 0 << -1;
        QTest::newRow("own file, its permissions kept") << QStringLiteral("file 0640") << 0 << 0640;
        QTest::newRow("link to a file") << QStringLiteral("link to secret") << 0 << -1;
        QTest::newRow("dangling link") << QStringLiteral("link to nowhere") << 0 << -1;
        QTest::newRow("FIFO") << QStringLiteral("fifo") << int(RuntimeError::PathFileAccessError) << -1;
        QTest::newRow("link to a FIFO, as /dev/stdout") << QStringLiteral("link to fifo")
                                                        << int(RuntimeError::PathFileAccessError) << -1;
        QTest::newRow("folder") << QStringLiteral("folder") << int(RuntimeError::PathFileAccessError) << -1;
        QTest::newRow("folder missing") << QStringLiteral("no folder") << int(RuntimeError::PathNotFound) << -1;
        QTest::newRow("another account's link in a sticky folder")
            << QStringLiteral("foreign link, sticky") << int(RuntimeError::PermissionDenied) << -1;
    }

    void plantedEntriesAreNeverFollowed()
    {
        QFETCH(QString, planted);
        QFETCH(int, failure);
        QFETCH(int, mode);
        QTemporaryDir work;
        QVERIFY(work.isValid());
        QVERIFY(QDir(work.path()).mkdir(QStringLiteral("out")));
        QString folder = work.filePath(QStringLiteral("out"));
        const QString secret = work.filePath(QStringLiteral("secret"));
        const QByteArray secretBytes = "root:only\n";
        QFile secretFile(secret);
        QVERIFY(secretFile.open(QIODevice::WriteOnly) && secretFile.write(secretBytes) == secretBytes.size());
        secretFile.close();
        const QString nowhere = work.filePath(QStringLiteral("nologin"));
        const QByteArray name = "informe.pdf";
        const QString path = folder + QStringLiteral("/informe.pdf");
        const QByteArray native = QFile::encodeName(path);

        bool asOtherAccount = false;
        if (planted == QLatin1String("file 0640")) {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
            QVERIFY(::chmod(native.constData(), 0640) == 0);
        } else if (planted == QLatin1String("link to secret")) {
            QVERIFY(QFile::link(secret, path));
        } else if (planted == QLatin1String("link to nowhere")) {
            QVERIFY(QFile::link(nowhere, path));
        } else if (planted == QLatin1String("fifo")) {
            QVERIFY(::mkfifo(native.constData(), 0666) == 0);
        } else if (planted == QLatin1String("link to fifo")) {
            QVERIFY(::mkfifo(QFile::encodeName(work.filePath(QStringLiteral("fifo"))).constData(), 0666) == 0);
            QVERIFY(QFile::link(work.filePath(QStringLiteral("fifo")), path));
        } else if (planted == QLatin1String("folder")) {
            QVERIFY(QDir(folder).mkdir(QString::fromLatin1(name)));
        } else if (planted == QLatin1String("no folder")) {
            QVERIFY(QDir(folder).removeRecursively());
        } else if (planted == QLatin1String("foreign link, sticky")) {
            // As /tmp: a folder everyone writes in, with the sticky bit; the link is another
            // account's, the writer a third one, which may not replace it.
            if (::geteuid() != 0)
                QSKIP("needs root to play two other accounts");
            QVERIFY(::chmod(QFile::encodeName(work.path()).constData(), 0755) == 0);
            QVERIFY(::chmod(QFile::encodeName(folder).constData(), 01777) == 0);
            QVERIFY(QFile::link(secret, path));
            QVERIFY(::lchown(native.constData(), 65533, 65533) == 0);
            asOtherAccount = true;
        }
        const QStringList before = QDir(work.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System);
        const QStringList inFolderBefore = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System);

        const QByteArray report = "%PDF-1.4 informe";
        int raised = 0;
        QString description;
        if (asOtherAccount)
            QVERIFY(::seteuid(65534) == 0);
        try {
            SafeOutput::writeFile(path, report);
        } catch (const Failure& thrown) {
            raised = thrown.number;
            description = thrown.description;
        }
        if (asOtherAccount)
            QVERIFY(::seteuid(0) == 0);

        QVERIFY2(raised == failure, qPrintable(description));
        QVERIFY2(failure == 0 || description.contains(QDir::toNativeSeparators(path)), qPrintable(description));
        // Nothing outside the folder is touched or created; no private file is left in it.
        QCOMPARE(QDir(work.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System), before);
        QVERIFY(secretFile.open(QIODevice::ReadOnly));
        QCOMPARE(secretFile.readAll(), secretBytes);
        QVERIFY(!QFile::exists(nowhere));
        if (failure != 0) {
            QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System), inFolderBefore);
            return;
        }
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System),
                 QStringList({QStringLiteral("."), QStringLiteral(".."), QString::fromLatin1(name)}));
        struct stat written;
        QVERIFY(::lstat(native.constData(), &written) == 0);
        QVERIFY(S_ISREG(written.st_mode));
        const mode_t umask = ::umask(0);
        ::umask(umask);
        QCOMPARE(int(written.st_mode & 07777), mode >= 0 ? mode : int(0666 & ~umask));
        QFile result(path);
        QVERIFY(result.open(QIODevice::ReadOnly));
        QCOMPARE(result.readAll(), report);
    }
};

QTEST_GUILESS_MAIN(TestSafeOutput)
#include "tst_safe_output.moc"
