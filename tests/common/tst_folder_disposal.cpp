// The promises of the file code that hold on every platform, through the module's own calls only
// (tst_folder_files holds Linux's own): a file goes only while it is exactly the file that was read
// and no other program has it open; a read-only one is refused; a move takes NAME.N beside a
// namesake; the steps of a removal or move come in their order.
#include "common/failure.h"
#include "common/folder_files.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

using FolderFiles::Folder;
using FolderFiles::RemoveOutcome;
using FolderFiles::Step;

class TestFolderDisposal final : public QObject {
    Q_OBJECT

private slots:
    void disposalKeepsItsPromises_data()
    {
        QTest::addColumn<QString>("change");       // what happens between the read and the disposal
        QTest::addColumn<bool>("move");            // into the subfolder guardadas, else removed
        QTest::addColumn<int>("failure");          // the failure number, 0 for none
        QTest::addColumn<bool>("stays");           // the file is still in the folder
        QTest::addColumn<QString>("movedAs");      // its name in guardadas
        QTest::addColumn<QList<Step>>("steps");
        const QList<Step> none;
        QTest::newRow("unchanged, removed") << "none" << false << 0 << false << QString() << QList<Step>{Step::LastLook};
        QTest::newRow("unchanged, moved") << "none" << true << 0 << false << "7.jpg"
                                          << QList<Step>{Step::LastLook, Step::DestinationSynced};
        QTest::newRow("moved beside its namesake") << "namesake" << true << 0 << false << "7.jpg.1"
                                                   << QList<Step>{Step::LastLook, Step::DestinationSynced};
        QTest::newRow("appended to") << "append" << false << 0 << true << QString() << none;
        QTest::newRow("replaced under its name") << "replace" << true << 0 << true << QString() << none;
        QTest::newRow("open in another program") << "open" << false << 0 << true << QString() << none;
        QTest::newRow("open in another program, moved") << "open" << true << 0 << true << QString() << none;
        QTest::newRow("read-only") << "read-only" << false << int(RuntimeError::PermissionDenied) << true << QString()
                                   << none;
    }

    void disposalKeepsItsPromises()
    {
        QFETCH(QString, change);
        QFETCH(bool, move);
        QFETCH(int, failure);
        QFETCH(bool, stays);
        QFETCH(QString, movedAs);
        QFETCH(QList<Step>, steps);
        if (change == QLatin1String("open") && !FolderFiles::guarantees().openElsewhere)
            QSKIP("this platform's file code does not see other programs' opens");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QDir photos(dir.path());
        QVERIFY(photos.mkdir(QStringLiteral("guardadas")));
        const QString path = photos.filePath(QStringLiteral("7.jpg"));
        write(path, "photo bytes");
        if (change == QLatin1String("namesake"))
            write(photos.filePath(QStringLiteral("guardadas/7.jpg")), "earlier photo");

        Folder folder(dir.path());
        Folder destination = folder.subfolder(QStringLiteral("guardadas"));
        const FolderFiles::FileBytes file = folder.readRegularFile(QStringLiteral("7.jpg"), 1000);
        QCOMPARE(file.bytes, QByteArrayLiteral("photo bytes"));
        QFile other(path);
        if (change == QLatin1String("append")) {
            QVERIFY(other.open(QIODevice::Append));
            other.write(" and more");
            other.close();
        } else if (change == QLatin1String("replace")) {
            QVERIFY(QFile::remove(path));
            write(path, "a new photo");
        } else if (change == QLatin1String("open")) {
            QVERIFY(other.open(QIODevice::ReadOnly));
        } else if (change == QLatin1String("read-only")) {
            QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadUser));
        }
        const auto restore = qScopeGuard([&] {
            other.close();
            QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        });

        QList<Step> taken;
        FolderFiles::setStepObserver([&taken](Step step, int) { taken.append(step); });
        const auto forget = qScopeGuard([] { FolderFiles::setStepObserver({}); });
        int failed = 0;
        RemoveOutcome outcome = RemoveOutcome::Changed;
        try {
            outcome = move ? folder.moveIfUnchanged(QStringLiteral("7.jpg"), file.snapshot, destination)
                           : folder.removeIfUnchanged(QStringLiteral("7.jpg"), file.snapshot);
        } catch (const Failure& refusal) {
            failed = refusal.number;
        }
        other.close();
        QCOMPARE(failed, failure);
        if (!failure)
            QCOMPARE(outcome, stays ? RemoveOutcome::Changed : RemoveOutcome::Removed);
        QCOMPARE(QFile::exists(path), stays);
        if (!movedAs.isEmpty())
            QCOMPARE(read(photos.filePath(QStringLiteral("guardadas/") + movedAs)), QByteArrayLiteral("photo bytes"));
        QCOMPARE(taken, steps);
    }

private:
    static void write(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), bytes.size());
    }

    static QByteArray read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

QTEST_GUILESS_MAIN(TestFolderDisposal)
#include "tst_folder_disposal.moc"
