// The check's report database: written whole, or not at all and with nothing left open.
#include "upload/check_run.h"

#include <QDir>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {

// Links to files, folders, pipes, sockets and devices alike.
int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
}

// Files of this process may grow to limit bytes while it lives: a disk that fills up.
class FileSizeLimit final {
public:
    explicit FileSizeLimit(rlim_t limit)
    {
        getrlimit(RLIMIT_FSIZE, &m_before);
        // A write beyond the limit fails (EFBIG) instead of ending the process.
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit lower{limit, m_before.rlim_max};
        setrlimit(RLIMIT_FSIZE, &lower);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_before);
        std::signal(SIGXFSZ, m_handler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_before{};
    void (*m_handler)(int) = nullptr;
};

}  // namespace

class TestCheckReport final : public QObject {
    Q_OBJECT
private slots:
    void failedWriteLeavesNothingOpen_data();
    void failedWriteLeavesNothingOpen();
};

void TestCheckReport::failedWriteLeavesNothingOpen_data()
{
    QTest::addColumn<QString>("name");   // of the database in a folder of the test's own
    QTest::addColumn<qint64>("limit");   // bytes a file may hold; 0: no limit
    QTest::newRow("folder missing") << QStringLiteral("no-such-folder/comprobacion.db") << qint64(0);
    QTest::newRow("disk full while the rows are written") << QStringLiteral("comprobacion.db") << qint64(256 * 1024);
}

void TestCheckReport::failedWriteLeavesNothingOpen()
{
    QFETCH(QString, name);
    QFETCH(qint64, limit);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    CheckSummary summary;
    // Long details: more than SQLite keeps in memory, so that rows reach the disk before the commit.
    for (int i = 0; i < 100; ++i)
        summary.rows.append({QStringLiteral("%1.jpg").arg(i), QStringLiteral("S"), QStringLiteral("Foto Insertada"),
                             QString(64 * 1024, QLatin1Char('d'))});
    const int descriptors = openDescriptors();
    {
        std::optional<FileSizeLimit> full;
        if (limit > 0)
            full.emplace(rlim_t(limit));
        QVERIFY_THROWS_EXCEPTION(Failure, CheckRun::writeReportDatabase(folder.filePath(name), folder.path(), summary));
    }
    QCOMPARE(openDescriptors(), descriptors);
    QCOMPARE(QSqlDatabase::connectionNames(), QStringList());
}

QTEST_GUILESS_MAIN(TestCheckReport)
#include "tst_check_report.moc"
