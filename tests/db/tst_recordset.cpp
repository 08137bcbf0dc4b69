// Recordsets, commands and streams on SQLite, PostgreSQL and PostgreSQL through ODBC, with the
// program's own tables and statements.

#include "engines.h"

#include "db/recordset.h"
#include "db/statement.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QScopeGuard>
#include <QTest>

#include <QUrl>
#include <QtEndian>

#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <sys/stat.h>

using db::Recordset;

namespace {

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(20170529);
    for (char& byte : bytes)
        byte = static_cast<char>(generator.bounded(256));
    bytes[0] = '\0';  // a photo may hold any byte, NUL included
    return bytes;
}

// The program's photo insert, as the member photo store writes it.
void insertPhoto(db::Connection& connection, const QString& code, const QString& installation, const QString& fileName,
                 const QByteArray& photo)
{
    Recordset rs;
    rs.open(QStringLiteral("SELECT * FROM ABONADOSFOTOS WHERE CODINSTALACION = -1"), connection);
    rs.addNew();
    rs.setCollect(QStringLiteral("Codigo"), code);
    rs.setCollect(QStringLiteral("Codinstalacion"), installation);
    rs.setCollect(QStringLiteral("filename"), fileName);
    rs.setCollect(QStringLiteral("filesize"), static_cast<int32_t>(photo.size()));
    rs.setCollect(QStringLiteral("foto"), photo);
    rs.update();
    rs.close();
}

// The program's log row.
void writeLogRow(db::Connection& connection, const QString& runUser, const QString& fileName, const QString& subio,
                 const QString& motivo)
{
    Recordset rs;
    rs.open(QStringLiteral("SELECT * FROM LOG_ABONADOSFOTOS WHERE CODINSTALACION=-1"), connection);
    rs.addNew();
    rs.setCollect(QStringLiteral("nombre_foto"), fileName);
    rs.setCollect(QStringLiteral("subio"), subio);
    rs.setCollect(QStringLiteral("usuario"), runUser);
    rs.setCollect(QStringLiteral("motivo"), motivo);
    rs.update();
}

int countRows(db::Connection& connection, const QString& sql)
{
    Recordset rs;
    rs.open(sql, connection);
    return rs.recordCount();
}

void addEngineRows()
{
    QTest::addColumn<QString>("engine");
    for (const QString& engine : TestEngines::names())
        QTest::newRow(qPrintable(engine)) << engine;
}

}  // namespace

// Relays one PostgreSQL session until the server has said for the first time that it is ready for
// a command, then passes nothing more on from the server: a server that stops answering right
// after the login, while the driver still runs its own first commands.
class MuteAfterLoginProxy final {
public:
    MuteAfterLoginProxy(const QString& host, int serverPort)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(m_listener, 1) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        address.sin_port = htons(quint16(serverPort));
        ::inet_pton(AF_INET, host == QLatin1String("localhost") ? "127.0.0.1" : qPrintable(host), &address.sin_addr);
        m_thread = std::thread([this, address] { relay(address); });
    }
    ~MuteAfterLoginProxy()
    {
        m_stopping = true;
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_listener);
    }
    int port() const { return m_port; }

private:
    void relay(sockaddr_in server)
    {
        pollfd listening{m_listener, POLLIN, 0};
        while (!m_stopping && ::poll(&listening, 1, 50) <= 0) {
        }
        if (m_stopping)
            return;
        const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        const int upstream = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (client >= 0 && ::connect(upstream, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0)
            pass(client, upstream);
        ::close(client);
        ::close(upstream);
    }
    void pass(int client, int upstream)
    {
        QByteArray fromServer;  // what the server said that is not yet passed on whole
        bool muted = false;
        pollfd both[2] = {{client, POLLIN, 0}, {upstream, POLLIN, 0}};
        char buffer[65536];
        while (!m_stopping) {
            if (::poll(both, 2, 50) <= 0)
                continue;
            if (both[0].revents) {
                const ssize_t n = ::read(client, buffer, sizeof buffer);
                if (n <= 0)
                    return;
                ::send(upstream, buffer, size_t(n), MSG_NOSIGNAL);
            }
            if (both[1].revents) {
                const ssize_t n = ::read(upstream, buffer, sizeof buffer);
                if (n <= 0)
                    return;
                if (muted)
                    continue;
                fromServer.append(buffer, n);
                // Messages pass on whole: a type byte, then a length that counts itself.
                while (!muted && fromServer.size() >= 5) {
                    const quint32 length = qFromBigEndian<quint32>(fromServer.constData() + 1);
                    if (fromServer.size() < qsizetype(length) + 1)
                        break;
                    muted = fromServer.at(0) == 'Z';
                    ::send(client, fromServer.constData(), length + 1, MSG_NOSIGNAL);
                    fromServer.remove(0, length + 1);
                }
            }
        }
    }

    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

class RecordsetTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_engines.setUp();
        QVERIFY2(m_engines.m_failed.isEmpty(), qPrintable(m_engines.m_failed.join(QLatin1Char('\n'))));
    }
    void init() { m_engines.clearTables(); }

    void everyColumnRoundTrips_data() { addEngineRows(); }
    void everyColumnRoundTrips()
    {
        ENGINE_CONNECTION(connection);
        const QByteArray photo = randomBytes(2048);
        insertPhoto(*connection, QStringLiteral("123"), QStringLiteral("2"), QStringLiteral("123.jpg"), photo);
        writeLogRow(*connection, QStringLiteral("4711"), QStringLiteral("123.jpg"), QStringLiteral("S"),
                    QStringLiteral("Foto Insertada"));
        connection->execute(QStringLiteral("INSERT INTO INSTALACIONES (CODINSTALACION, NOMBRE) VALUES (2, 'Piscina')"));

        Recordset rs;
        rs.open(QStringLiteral("SELECT * FROM ABONADOSFOTOS WHERE CODINSTALACION = 2 AND CODIGO = 123"), *connection);
        QVERIFY(!rs.bof() && !rs.eof());
        QCOMPARE(rs.fields(QStringLiteral("CODIGO")).toInt(), 123);
        QCOMPARE(rs.fields(QStringLiteral("codinstalacion")).toInt(), 2);
        QCOMPARE(rs.fields(QStringLiteral("FileName")).toString(), QStringLiteral("123.jpg"));
        QCOMPARE(rs.fields(QStringLiteral("FILESIZE")).toInt(), 2048);
        QCOMPARE(rs.fields(QStringLiteral("FOTO")).toByteArray(), photo);

        rs.open(QStringLiteral("SELECT * FROM LOG_ABONADOSFOTOS WHERE USUARIO = '4711'"), *connection);
        QCOMPARE(rs.recordCount(), 1);
        QCOMPARE(rs.fields(QStringLiteral("CODINSTALACION")).toInt(), 0);  // the column's default
        QCOMPARE(rs.fields(QStringLiteral("USUARIO")).toString(), QStringLiteral("4711"));
        QCOMPARE(rs.fields(QStringLiteral("NOMBRE_FOTO")).toString(), QStringLiteral("123.jpg"));
        QCOMPARE(rs.fields(QStringLiteral("SUBIO")).toString(), QStringLiteral("S"));
        QCOMPARE(rs.fields(QStringLiteral("MOTIVO")).toString(), QStringLiteral("Foto Insertada"));

        rs.open(QStringLiteral("SELECT NOMBRE FROM INSTALACIONES WHERE CODINSTALACION=2"), *connection);
        QCOMPARE(rs.fields(QStringLiteral("NOMBRE")).toString(), QStringLiteral("Piscina"));
    }

    // The store changes "the first row that the pair selects": never the others.
    void updateChangesOnlyTheCurrentRow_data() { addEngineRows(); }
    void updateChangesOnlyTheCurrentRow()
    {
        ENGINE_CONNECTION(connection);
        for (int i = 0; i < 2; ++i)
            connection->execute(QStringLiteral("INSERT INTO DUPLICADOS (CODIGO, NOMBRE) VALUES (1, 'igual')"));
        Recordset rs;
        rs.open(QStringLiteral("SELECT * FROM DUPLICADOS WHERE CODIGO = 1"), *connection);
        QCOMPARE(rs.recordCount(), 2);
        rs.setCollect(QStringLiteral("nombre"), QStringLiteral("primera"));
        rs.update();
        QCOMPARE(countRows(*connection, QStringLiteral("SELECT * FROM DUPLICADOS WHERE NOMBRE = 'primera'")), 1);
        QCOMPARE(countRows(*connection, QStringLiteral("SELECT * FROM DUPLICADOS WHERE NOMBRE = 'igual'")), 1);

        // The same row again (PostgreSQL moves a row on every update).
        rs.setCollect(QStringLiteral("nombre"), QStringLiteral("otra vez"));
        rs.update();
        QCOMPARE(countRows(*connection, QStringLiteral("SELECT * FROM DUPLICADOS WHERE NOMBRE = 'otra vez'")), 1);
        QCOMPARE(countRows(*connection, QStringLiteral("SELECT * FROM DUPLICADOS WHERE NOMBRE = 'igual'")), 1);

        // The second row, after moving to it.
        rs.moveNext();
        rs.setCollect(QStringLiteral("nombre"), QStringLiteral("segunda"));
        rs.update();
        QCOMPARE(countRows(*connection, QStringLiteral("SELECT * FROM DUPLICADOS WHERE NOMBRE = 'igual'")), 0);
    }

    void addedRowCanBeChangedAfterItsInsert_data() { addEngineRows(); }
    void addedRowCanBeChangedAfterItsInsert()
    {
        ENGINE_CONNECTION(connection);
        connection->execute(QStringLiteral("INSERT INTO DUPLICADOS (CODIGO, NOMBRE) VALUES (3, 'nueva')"));
        Recordset rs;
        rs.open(QStringLiteral("SELECT * FROM DUPLICADOS WHERE CODIGO = -1"), *connection);
        rs.addNew();
        rs.setCollect(QStringLiteral("codigo"), 3);
        rs.setCollect(QStringLiteral("nombre"), QStringLiteral("nueva"));
        rs.update();
        QCOMPARE(rs.fields(QStringLiteral("nombre")).toString(), QStringLiteral("nueva"));
        rs.setCollect(QStringLiteral("nombre"), QStringLiteral("cambiada"));
        rs.update();
        QCOMPARE(countRows(*connection, QStringLiteral("SELECT * FROM DUPLICADOS WHERE NOMBRE = 'cambiada'")), 1);
        QCOMPARE(countRows(*connection, QStringLiteral("SELECT * FROM DUPLICADOS WHERE NOMBRE = 'nueva'")), 1);
    }

    void updateOfPhotoKeepsItsCode_data() { addEngineRows(); }
    void updateOfPhotoKeepsItsCode()
    {
        ENGINE_CONNECTION(connection);
        insertPhoto(*connection, QStringLiteral("7"), QStringLiteral("2"), QStringLiteral("7.jpg"), randomBytes(10));
        insertPhoto(*connection, QStringLiteral("8"), QStringLiteral("2"), QStringLiteral("8.jpg"), randomBytes(10));
        const QByteArray photo = randomBytes(500);
        Recordset rs;
        rs.open(QStringLiteral("SELECT * FROM ABONADOSFOTOS WHERE CODINSTALACION = 2 AND CODIGO = 7"), *connection);
        rs.setCollect(QStringLiteral("Codinstalacion"), QStringLiteral("2"));
        rs.setCollect(QStringLiteral("filename"), QStringLiteral("7.JPG"));
        rs.setCollect(QStringLiteral("filesize"), static_cast<int32_t>(photo.size()));
        rs.setCollect(QStringLiteral("foto"), photo);
        rs.update();
        rs.close();

        rs.open(QStringLiteral("SELECT * FROM ABONADOSFOTOS WHERE CODINSTALACION = 2 ORDER BY CODIGO"), *connection);
        QCOMPARE(rs.fields(QStringLiteral("codigo")).toInt(), 7);
        QCOMPARE(rs.fields(QStringLiteral("filename")).toString(), QStringLiteral("7.JPG"));
        QCOMPARE(rs.fields(QStringLiteral("foto")).toByteArray(), photo);
        rs.moveNext();
        QCOMPARE(rs.fields(QStringLiteral("filename")).toString(), QStringLiteral("8.jpg"));
    }

    // Another workstation changes a table under a statement this connection keeps prepared.
    void preparedQuerySurvivesTableChange_data() { addEngineRows(); }
    void preparedQuerySurvivesTableChange()
    {
        ENGINE_CONNECTION(connection);
        connection->execute(QStringLiteral("INSERT INTO DUPLICADOS (CODIGO, NOMBRE) VALUES (1, 'uno')"));
        const QString sql = QStringLiteral("SELECT * FROM DUPLICADOS WHERE CODIGO = 1");
        QCOMPARE(countRows(*connection, sql), 1);
        QCOMPARE(countRows(*connection, sql), 1);  // now prepared and kept
        db::Connection other;
        other.open(programConnectionString(m_engines.dataSource(engine)));
        other.execute(QStringLiteral("ALTER TABLE DUPLICADOS ADD COLUMN EXTRA INTEGER"));
        Recordset rs;
        rs.open(sql, *connection);
        QCOMPARE(rs.recordCount(), 1);
        QVERIFY(rs.fields(QStringLiteral("extra")).isNull());
        other.execute(QStringLiteral("ALTER TABLE DUPLICADOS DROP COLUMN EXTRA"));
    }

    void assignmentWithoutCurrentRowFails_data() { addEngineRows(); }
    void assignmentWithoutCurrentRowFails()
    {
        ENGINE_CONNECTION(connection);
        Recordset rs;
        rs.open(QStringLiteral("SELECT * FROM ABONADOSFOTOS WHERE CODINSTALACION = 2 AND CODIGO = 99"), *connection);
        QVERIFY(rs.bof() && rs.eof());  // how the program tells that no row exists
        try {
            rs.setCollect(QStringLiteral("filename"), QStringLiteral("99.jpg"));
            QFAIL("an assignment without a current row was taken");
        } catch (const Failure& failure) {
            QCOMPARE(failure.number, db::LayerError::NoCurrentRecord);
        }
        QVERIFY_THROWS_EXCEPTION(Failure, rs.fields(QStringLiteral("filename")));
        QVERIFY_THROWS_EXCEPTION(Failure, rs.setCollect(QStringLiteral("no_such_column"), 1));
        rs.update();  // nothing assigned: nothing written
        QCOMPARE(countRows(*connection, QStringLiteral("SELECT * FROM ABONADOSFOTOS")), 0);
    }

    // Values reach number columns converted; what does not convert is refused, never stored altered.
    void valuesConvertToTheColumnType_data()
    {
        QTest::addColumn<QString>("engine");
        QTest::addColumn<QVariant>("code");
        QTest::addColumn<int>("stored");      // -1: refused
        QTest::addColumn<int>("failureNumber");
        for (const QString& engine : TestEngines::names()) {
            auto row = [&](const char* name) -> QTestData& { return QTest::addRow("%s: %s", qPrintable(engine), name) << engine; };
            row("text with leading zeros") << QVariant(QStringLiteral("007")) << 7 << 0;
            row("text with blanks") << QVariant(QStringLiteral(" 2 ")) << 2 << 0;
            row("integer") << QVariant(42) << 42 << 0;
            row("whole double") << QVariant(5.0) << 5 << 0;
            row("letters") << QVariant(QStringLiteral("12a")) << -1 << int(RuntimeError::TypeMismatch);
            row("empty text") << QVariant(QString()) << -1 << int(RuntimeError::TypeMismatch);
            row("fraction") << QVariant(2.5) << -1 << int(RuntimeError::TypeMismatch);
            row("bytes") << QVariant(QByteArray("7")) << -1 << int(RuntimeError::TypeMismatch);
            row("too many digits") << QVariant(QStringLiteral("99999999999999999999")) << -1
                                   << int(RuntimeError::Overflow);
        }
    }
    void valuesConvertToTheColumnType()
    {
        ENGINE_CONNECTION(connection);
        QFETCH(QVariant, code);
        QFETCH(int, stored);
        QFETCH(int, failureNumber);
        Recordset rs;
        rs.open(QStringLiteral("SELECT * FROM ABONADOS WHERE CODINSTALACION=-1"), *connection);
        rs.addNew();
        rs.setCollect(QStringLiteral("Codinstalacion"), QStringLiteral("2"));
        try {
            rs.setCollect(QStringLiteral("Codigo"), code);
            rs.update();
            QVERIFY2(stored >= 0, "a value that does not convert was taken");
        } catch (const Failure& failure) {
            QCOMPARE(failure.number, failureNumber);
            QCOMPARE(countRows(*connection, QStringLiteral("SELECT * FROM ABONADOS")), 0);
            return;
        }
        // The member check compares with the bare number.
        QCOMPARE(countRows(*connection, QStringLiteral("SELECT CODIGO FROM ABONADOS WHERE CODINSTALACION=2 AND CODIGO = ") +
                                           QString::number(stored)),
                 1);
    }

    void photoFileIsStoredWhole_data()
    {
        QTest::addColumn<QString>("engine");
        QTest::addColumn<int>("size");
        for (const QString& engine : TestEngines::names()) {
            QTest::addRow("%s: 149999 bytes", qPrintable(engine)) << engine << 149999;
            QTest::addRow("%s: empty file", qPrintable(engine)) << engine << 0;
        }
    }
    void photoFileIsStoredWhole()
    {
        ENGINE_CONNECTION(connection);
        QFETCH(int, size);
        const QByteArray photo = randomBytes(qMax(size, 1)).left(size);
        const QString path = m_engines.folder() + QStringLiteral("/007.jpg");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(photo);
        file.close();

        db::Stream stream;
        stream.setType(db::StreamType::Binary);
        stream.open(0, -1);
        stream.loadFromFile(path);
        QCOMPARE(stream.size(), size);
        insertPhoto(*connection, QStringLiteral("007"), QStringLiteral("2"), QStringLiteral("007.jpg"), stream.read(-1));
        stream.close();

        Recordset rs;
        rs.open(QStringLiteral("SELECT * FROM ABONADOSFOTOS WHERE CODINSTALACION = 2 AND CODIGO = 7"), *connection);
        QCOMPARE(rs.fields(QStringLiteral("filesize")).toInt(), size);
        const QByteArray stored = rs.fields(QStringLiteral("foto")).toByteArray();
        QCOMPARE(stored.size(), photo.size());
        QVERIFY(stored == photo);
    }

    // The table refuses a photo whose size column does not match its bytes.
    void photoWithWrongSizeIsRefused_data() { addEngineRows(); }
    void photoWithWrongSizeIsRefused()
    {
        ENGINE_CONNECTION(connection);
        Recordset rs;
        rs.open(QStringLiteral("SELECT * FROM ABONADOSFOTOS WHERE CODINSTALACION = -1"), *connection);
        rs.addNew();
        rs.setCollect(QStringLiteral("Codigo"), QStringLiteral("1"));
        rs.setCollect(QStringLiteral("Codinstalacion"), QStringLiteral("2"));
        rs.setCollect(QStringLiteral("filesize"), 10);
        rs.setCollect(QStringLiteral("foto"), QByteArray(9, 'x'));
        try {
            rs.update();
            QFAIL("a photo shorter than its size was stored");
        } catch (const Failure& failure) {
            QCOMPARE(failure.number, ProviderError::IntegrityViolation);
        }
    }

    void textKeepsQuotesAndAccents_data()
    {
        QTest::addColumn<QString>("engine");
        QTest::addColumn<QString>("fileName");
        for (const QString& engine : TestEngines::names()) {
            QTest::addRow("%s: quote and accents", qPrintable(engine)) << engine << QStringLiteral("O'Brien Muñoz Ñandú.jpg");
            QTest::addRow("%s: backslash and percent", qPrintable(engine)) << engine << QStringLiteral("a\\b%_c?.jpg");
        }
    }
    void textKeepsQuotesAndAccents()
    {
        ENGINE_CONNECTION(connection);
        QFETCH(QString, fileName);
        writeLogRow(*connection, QStringLiteral("5"), fileName, QStringLiteral("N"), QStringLiteral("Tamaño no permitido"));
        QString literal = fileName;
        literal.replace(QLatin1Char('\''), QStringLiteral("''"));
        Recordset rs;
        rs.open(QStringLiteral("SELECT * FROM LOG_ABONADOSFOTOS WHERE NOMBRE_FOTO = '") + literal + QLatin1Char('\''),
                *connection);
        QCOMPARE(rs.recordCount(), 1);
        QCOMPARE(rs.fields(QStringLiteral("nombre_foto")).toString(), fileName);
        QCOMPARE(rs.fields(QStringLiteral("motivo")).toString(), QStringLiteral("Tamaño no permitido"));
    }

    // The run's identifier is written as text, deleted with a bare number, selected with a quoted one.
    void logRowsOfOneRun_data() { addEngineRows(); }
    void logRowsOfOneRun()
    {
        ENGINE_CONNECTION(connection);
        writeLogRow(*connection, QStringLiteral("123"), QStringLiteral("1.jpg"), QStringLiteral("S"), QStringLiteral("Foto Insertada"));
        writeLogRow(*connection, QStringLiteral("123"), QStringLiteral("2.jpg"), QStringLiteral("N"), QStringLiteral("Abonado no existente"));
        writeLogRow(*connection, QStringLiteral("1234"), QStringLiteral("3.jpg"), QStringLiteral("S"), QStringLiteral("Foto Actualizada"));
        QCOMPARE(countRows(*connection, QStringLiteral("SELECT LOG_ABONADOSFOTOS.USUARIO FROM LOG_ABONADOSFOTOS "
                                                       "LOG_ABONADOSFOTOS WHERE (LOG_ABONADOSFOTOS.USUARIO= '123' )")),
                 2);
        db::Command command;
        command.setActiveConnection(*connection);
        command.setCommandType(db::CommandType::Text);
        command.setCommandText(QStringLiteral("DELETE FROM LOG_ABONADOSFOTOS WHERE USUARIO = 123"));
        command.execute(-1);
        QCOMPARE(countRows(*connection, QStringLiteral("SELECT * FROM LOG_ABONADOSFOTOS")), 1);
    }

    void valuesBeyondTheColumnAreRefused_data()
    {
        QTest::addColumn<QString>("engine");
        QTest::addColumn<QString>("column");
        QTest::addColumn<QString>("value");
        for (const QString& engine : TestEngines::names()) {
            QTest::addRow("%s: reason of 21 characters", qPrintable(engine))
                << engine << QStringLiteral("motivo") << QStringLiteral("Tamaño no permitido!!");
            QTest::addRow("%s: flag other than S or N", qPrintable(engine)) << engine << QStringLiteral("subio") << QStringLiteral("X");
        }
    }
    void valuesBeyondTheColumnAreRefused()
    {
        ENGINE_CONNECTION(connection);
        QFETCH(QString, column);
        QFETCH(QString, value);
        Recordset rs;
        rs.open(QStringLiteral("SELECT * FROM LOG_ABONADOSFOTOS WHERE CODINSTALACION=-1"), *connection);
        rs.addNew();
        rs.setCollect(QStringLiteral("usuario"), QStringLiteral("9"));
        rs.setCollect(column, value);
        QVERIFY_THROWS_EXCEPTION(Failure, rs.update());
        QCOMPARE(countRows(*connection, QStringLiteral("SELECT * FROM LOG_ABONADOSFOTOS")), 0);
    }

    // The numbers that the common error report tells apart.
    void engineErrorsCarryProviderNumbers_data()
    {
        QTest::addColumn<QString>("engine");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("number");
        for (const QString& engine : TestEngines::names()) {
            QTest::addRow("%s: unique key", qPrintable(engine))
                << engine << QStringLiteral("INSERT INTO INSTALACIONES (CODINSTALACION, NOMBRE) VALUES (1, 'otra')")
                << int(ProviderError::IntegrityViolation);
            QTest::addRow("%s: syntax", qPrintable(engine))
                << engine << QStringLiteral("SELEC * FROM INSTALACIONES") << int(ProviderError::StatementError);
            QTest::addRow("%s: lock time-out statement", qPrintable(engine))
                << engine << QStringLiteral("SET LOCK_TIMEOUT 0") << int(ProviderError::StatementError);
            QTest::addRow("%s: unknown table", qPrintable(engine))
                << engine << QStringLiteral("DELETE FROM NO_EXISTE") << int(ProviderError::StatementError);
            QTest::addRow("%s: existing table", qPrintable(engine))
                << engine << QStringLiteral("CREATE TABLE INSTALACIONES (X INTEGER)") << int(ProviderError::DuplicateTable);
        }
    }
    void engineErrorsCarryProviderNumbers()
    {
        ENGINE_CONNECTION(connection);
        QFETCH(QString, sql);
        QFETCH(int, number);
        connection->execute(QStringLiteral("INSERT INTO INSTALACIONES (CODINSTALACION, NOMBRE) VALUES (1, 'una')"));
        try {
            connection->execute(sql);
            QFAIL("the statement did not fail");
        } catch (const Failure& failure) {
            QCOMPARE(failure.number, number);
            QCOMPARE(failure.source, connection->driverName());
            QVERIFY(!failure.description.isEmpty());
        }
        // The connection works on after a failed statement.
        QCOMPARE(connection->state(), int(db::Connection::StateOpen));
        QCOMPARE(countRows(*connection, QStringLiteral("SELECT * FROM INSTALACIONES")), 1);
    }

    void duplicateInsertThroughRecordsetIsIntegrityViolation_data() { addEngineRows(); }
    void duplicateInsertThroughRecordsetIsIntegrityViolation()
    {
        ENGINE_CONNECTION(connection);
        insertPhoto(*connection, QStringLiteral("5"), QStringLiteral("2"), QStringLiteral("5.jpg"), randomBytes(3));
        try {
            insertPhoto(*connection, QStringLiteral("05"), QStringLiteral("2"), QStringLiteral("05.jpg"), randomBytes(3));
            QFAIL("a second photo of one member was stored");
        } catch (const Failure& failure) {
            QCOMPARE(failure.number, ProviderError::IntegrityViolation);
        }
    }

    // A date condition as the report's translation writes it runs on every engine.
    void translatedDateConditionRuns_data() { addEngineRows(); }
    void translatedDateConditionRuns()
    {
        ENGINE_CONNECTION(connection);
        connection->execute(QStringLiteral("INSERT INTO ABONADOS (CODINSTALACION, CODIGO, FECHA) VALUES (2, 11, '2017-05-29')"));
        connection->execute(QStringLiteral("INSERT INTO ABONADOS (CODINSTALACION, CODIGO, FECHA) VALUES (2, 12, '2017-05-30')"));
        connection->execute(QStringLiteral("INSERT INTO ABONADOS (CODINSTALACION, CODIGO, FECHA) VALUES (2, 13, '2018-01-01')"));
        QCOMPARE(countRows(*connection, QStringLiteral("SELECT A.CODIGO FROM ABONADOS A WHERE (A.FECHA =  "
                                                       "TO_DATE('2017/5/29', 'YYYY/MM/DD')   AND A.CODIGO > 10 )")),
                 1);
        QCOMPARE(countRows(*connection, QStringLiteral("SELECT A.CODIGO FROM ABONADOS A WHERE ( A.FECHA  BETWEEN  "
                                                       "TO_DATE('2017/1/1', 'YYYY/MM/DD')  AND  TO_DATE('2017/12/31', "
                                                       "'YYYY/MM/DD')   )ORDER BY A.CODIGO")),
                 2);
    }

    void toDateOnSqlite_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<QVariant>("expected");  // invalid: the call fails
        QTest::newRow("one-digit month and day") << QStringLiteral("TO_DATE('2017/5/9', 'YYYY/MM/DD')")
                                                 << QVariant(QStringLiteral("2017-05-09"));
        QTest::newRow("two digits") << QStringLiteral("TO_DATE('2017/12/31', 'YYYY/MM/DD')")
                                    << QVariant(QStringLiteral("2017-12-31"));
        QTest::newRow("format in lower case") << QStringLiteral("to_date('2020/2/29', 'yyyy/mm/dd')")
                                              << QVariant(QStringLiteral("2020-02-29"));
        QTest::newRow("day first") << QStringLiteral("TO_DATE('29-05-2017', 'DD-MM-YYYY')")
                                   << QVariant(QStringLiteral("2017-05-29"));
        QTest::newRow("no such day") << QStringLiteral("TO_DATE('2017/2/30', 'YYYY/MM/DD')") << QVariant();
        QTest::newRow("not a date") << QStringLiteral("TO_DATE('hoy', 'YYYY/MM/DD')") << QVariant();
        QTest::newRow("trailing text") << QStringLiteral("TO_DATE('2017/5/29x', 'YYYY/MM/DD')") << QVariant();
    }
    void toDateOnSqlite()
    {
        QString reason;
        db::Connection* connection = m_engines.connection(QStringLiteral("sqlite"), reason);
        QVERIFY(connection);
        QFETCH(QString, call);
        QFETCH(QVariant, expected);
        QSqlQuery query(connection->database());
        const bool ran = query.exec(QStringLiteral("SELECT ") + call) && query.next();
        QCOMPARE(ran, expected.isValid());
        if (ran)
            QCOMPARE(query.value(0), expected);
    }

    // The log's checkpoints are SQLite's own housekeeping: with recordsets left open, the log stays
    // bounded however much is written, without any checkpoint of the layer's.
    void writeAheadLogStaysSmall()
    {
        QString reason;
        db::Connection* connection = m_engines.connection(QStringLiteral("sqlite"), reason);
        QVERIFY(connection);
        const QString wal = connection->database().databaseName().section(QLatin1Char('?'), 0, 0) + QStringLiteral("-wal");
        const QString walPath = QUrl(wal).toLocalFile();
        const QByteArray photo = randomBytes(100000);
        qint64 largest = 0;
        Recordset kept;  // never closed during the loop
        kept.open(QStringLiteral("SELECT * FROM ABONADOSFOTOS"), *connection);
        for (int i = 1; i <= 150; ++i) {
            Recordset check;
            check.open(QStringLiteral("SELECT CODIGO FROM ABONADOSFOTOS WHERE CODINSTALACION=2 AND CODIGO = ") +
                           QString::number(i),
                       *connection);
            QVERIFY(check.eof());
            insertPhoto(*connection, QString::number(i), QStringLiteral("2"), QString::number(i) + QStringLiteral(".jpg"),
                        photo);
            writeLogRow(*connection, QStringLiteral("77"), QString::number(i) + QStringLiteral(".jpg"), QStringLiteral("S"),
                        QStringLiteral("Foto Insertada"));
            if (i % 10 == 0)
                connection->makeCommittedDurable();
            largest = qMax(largest, QFileInfo(walPath).size());
        }
        QVERIFY(QFileInfo::exists(walPath));
        // 15 MB written; the log is checkpointed and reused at about 4 MB.
        QVERIFY2(largest < 6 * 1024 * 1024, qPrintable(QString::number(largest)));
        QCOMPARE(countRows(*connection, QStringLiteral("SELECT CODIGO FROM ABONADOSFOTOS")), 150);
    }

    // Durability must not wait for a reader on a second connection that keeps its snapshot open
    // (a checkpoint would: the reader holds the log's pages back).
    void durabilityDoesNotWaitForReaders()
    {
        QString reason;
        db::Connection* connection = m_engines.connection(QStringLiteral("sqlite"), reason);
        QVERIFY(connection);
        const QString path = QUrl(connection->database().databaseName().section(QLatin1Char('?'), 0, 0)).toLocalFile();
        writeLogRow(*connection, QStringLiteral("1"), QStringLiteral("1.jpg"), QStringLiteral("S"), QStringLiteral("Foto Insertada"));
        {
            QSqlDatabase reader = db::openDataSource(QStringLiteral("reader"), QStringLiteral("sqlite:") + path, {}, {}, 15);
            QSqlQuery query(reader);
            QVERIFY(query.exec(QStringLiteral("BEGIN")));
            QVERIFY(query.exec(QStringLiteral("SELECT COUNT(*) FROM LOG_ABONADOSFOTOS")) && query.next());
            QElapsedTimer waited;
            waited.start();
            for (int i = 2; i < 200; ++i) {
                writeLogRow(*connection, QString::number(i), QStringLiteral("2.jpg"), QStringLiteral("S"),
                            QStringLiteral("Foto Insertada"));
                connection->makeCommittedDurable();
            }
            QVERIFY2(waited.elapsed() < 4000, qPrintable(QString::number(waited.elapsed())));
            query.exec(QStringLiteral("COMMIT"));
            query = QSqlQuery();
            reader.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("reader"));
    }

    void serverThatGoesAwayEndsTheCall_data()
    {
        QTest::addColumn<QString>("engine");
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("reason");  // what the failure's description says
        for (const char* engine : {"postgresql", "odbc"}) {
            QTest::addRow("%s: frozen", engine) << QString::fromLatin1(engine) << "frozen" << QStringLiteral("no respondió");
            // libpq tells the lost connection apart; through ODBC the driver's own words stand.
            QTest::addRow("%s: session ended", engine)
                << QString::fromLatin1(engine) << "ended"
                << (QByteArray(engine) == "postgresql" ? QStringLiteral("Se perdió la conexión") : QString());
        }
    }
    // The server's process for the connection stopped (as a frozen server's would), or the server
    // ended the session: the call ends (after the command time-out) with a description that says
    // why, never an empty one, and the connection stays lost.
    void serverThatGoesAwayEndsTheCall()
    {
        QFETCH(QString, engine);
        QFETCH(QString, how);
        QFETCH(QString, reason);
        QString skip;
        db::Connection* admin = m_engines.connection(engine, skip);
        if (!admin)
            QSKIP(qPrintable(skip));
        db::Connection connection;
        connection.open(programConnectionString(m_engines.dataSource(engine)));
        connection.setCommandTimeoutMs(1500);
        Recordset backend;
        backend.open(QStringLiteral("SELECT pg_backend_pid() AS PID"), connection);
        const pid_t pid = backend.fields(QStringLiteral("PID")).toInt();
        QVERIFY(pid > 0);
        if (how == QLatin1String("frozen"))
            QCOMPARE(::kill(pid, SIGSTOP), 0);
        else
            admin->execute(QStringLiteral("SELECT pg_terminate_backend(%1)").arg(pid));
        const auto resume = qScopeGuard([pid, how] {
            if (how == QLatin1String("frozen"))
                ::kill(pid, SIGCONT);
        });
        QElapsedTimer waited;
        waited.start();
        try {
            Recordset rs;
            rs.open(QStringLiteral("SELECT COUNT(*) FROM ABONADOS"), connection);
            QFAIL("a server that went away answered");
        } catch (const Failure& failure) {
            QCOMPARE(failure.number, ProviderError::ErrorsOccurred);
            QVERIFY2(failure.description.contains(reason) && !failure.description.trimmed().isEmpty(),
                     qPrintable(failure.description));
        }
        QVERIFY2(waited.elapsed() < 10000, qPrintable(QString::number(waited.elapsed())));
        QVERIFY_THROWS_EXCEPTION(Failure, connection.execute(QStringLiteral("SELECT 1")));
    }

    // A server that stops answering once the login is done, while the driver runs its own first
    // commands: the open ends too, after the time to connect and a command's time-out.
    void openThatGetsNoAnswerEnds()
    {
        QString skip;
        if (!m_engines.connection(QStringLiteral("postgresql"), skip))
            QSKIP(qPrintable(skip));
        QUrl url(m_engines.dataSource(QStringLiteral("postgresql")));
        MuteAfterLoginProxy proxy(url.host(), url.port(5432));
        QVERIFY(proxy.port() > 0);
        url.setPort(proxy.port());
        url.setQuery(QStringLiteral("sslmode=disable&gssencmode=disable"));
        db::Connection connection;
        connection.setConnectionTimeout(1);
        connection.setCommandTimeoutMs(1000);
        QElapsedTimer waited;
        waited.start();
        try {
            connection.open(programConnectionString(url.toString()));
            QFAIL("an open without answers succeeded");
        } catch (const Failure& failure) {
            QCOMPARE(failure.number, ProviderError::ErrorsOccurred);
            QVERIFY2(failure.description.contains(QStringLiteral("no respondió")), qPrintable(failure.description));
        }
        QVERIFY2(waited.elapsed() < 10000, qPrintable(QString::number(waited.elapsed())));
        QCOMPARE(connection.state(), db::Connection::StateClosed);
    }

    // A database file in the older journal mode, read by another program when the connection
    // opens, cannot be switched to the write-ahead log: the connection opens and works all the same.
    void opensWhileAnotherProgramReads()
    {
        const QString path = m_engines.folder() + QStringLiteral("/rollback.db");
        {
            QSqlDatabase setUp = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("setup"));
            setUp.setDatabaseName(path);
            QVERIFY(setUp.open());
            QSqlQuery(setUp).exec(QStringLiteral("CREATE TABLE T (A INTEGER)"));
            setUp.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("setup"));
        QSqlDatabase reader = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("rollback reader"));
        reader.setDatabaseName(path);
        QVERIFY(reader.open());
        {
            QSqlQuery read(reader);
            QVERIFY(read.exec(QStringLiteral("BEGIN")) && read.exec(QStringLiteral("SELECT COUNT(*) FROM T")) &&
                    read.next());
            db::Connection connection;
            connection.open(programConnectionString(QStringLiteral("sqlite:") + path));
            QCOMPARE(countRows(connection, QStringLiteral("SELECT A FROM T")), 0);
            read.exec(QStringLiteral("COMMIT"));
        }
        reader.close();
        reader = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("rollback reader"));
    }

    // A batch's statements commit together or not at all, whether the engine pipelines them
    // (PostgreSQL: answers read at the commit) or runs them at once; bytes arrive unchanged.
    void batchCommitsWholeOrNothing_data()
    {
        QTest::addColumn<QString>("engine");
        QTest::addColumn<QString>("failure");  // empty: the batch commits
        QTest::addColumn<int>("number");
        for (const QString& engine : TestEngines::names()) {
            QTest::addRow("%s: committed", qPrintable(engine)) << engine << QString() << 0;
            QTest::addRow("%s: a key taken", qPrintable(engine))
                << engine << QStringLiteral("duplicate") << int(ProviderError::IntegrityViolation);
            QTest::addRow("%s: no row to update", qPrintable(engine))
                << engine << QStringLiteral("no row") << int(db::LayerError::NoCurrentRecord);
        }
    }
    void batchCommitsWholeOrNothing()
    {
        ENGINE_CONNECTION(connection);
        QFETCH(QString, failure);
        QFETCH(int, number);
        QByteArray everyByte(256, '\0');
        for (int i = 0; i < 256; ++i)
            everyByte[i] = static_cast<char>(i);
        const QList<QByteArray> photos = {everyByte, randomBytes(140000), QByteArray()};
        db::Statement insert(*connection, QStringLiteral("INSERT INTO ABONADOSFOTOS (Codigo, Codinstalacion, filename, "
                                                         "filesize, foto) VALUES (?, ?, ?, ?, ?)"));
        insert.convertForColumns(QStringLiteral("ABONADOSFOTOS"),
                                 {QStringLiteral("Codigo"), QStringLiteral("Codinstalacion"), QStringLiteral("filename"),
                                  QStringLiteral("filesize"), QStringLiteral("foto")});
        db::Statement update(*connection, QStringLiteral("UPDATE ABONADOSFOTOS SET filename = ? WHERE ") +
                                              db::firstRowOnly(*connection, QStringLiteral("ABONADOSFOTOS"),
                                                               QStringLiteral("CODINSTALACION = ? AND CODIGO = ?")));
        update.setRowsMismatchFailure(Failure(db::LayerError::NoCurrentRecord, QStringLiteral("test"), QString()));
        connection->beginBatch();
        try {
            for (int i = 0; i < photos.size(); ++i)
                insert.queue({QStringLiteral("00%1").arg(i + 1), 2, QStringLiteral("%1.jpg").arg(i + 1),
                              int32_t(photos.at(i).size()), photos.at(i)},
                             1);
            if (failure == QLatin1String("duplicate"))
                insert.queue({QStringLiteral("1"), 2, QStringLiteral("1.jpg"), 0, QByteArray()}, 1);
            else if (failure == QLatin1String("no row"))
                update.queue({QStringLiteral("9.jpg"), 2, 9}, 1);
            connection->commitBatch();
            QVERIFY2(failure.isEmpty(), "the batch committed");
        } catch (const Failure& raised) {
            QVERIFY2(!failure.isEmpty(), qPrintable(raised.description));
            QCOMPARE(raised.number, number);
            connection->rollbackBatch();
        }
        QVERIFY(!connection->inBatch());
        db::Statement stored(*connection, QStringLiteral("SELECT CODIGO, FOTO FROM ABONADOSFOTOS ORDER BY CODIGO"));
        stored.execute({});
        QCOMPARE(stored.rows().size(), failure.isEmpty() ? 3 : 0);
        for (int i = 0; i < stored.rows().size(); ++i) {
            QCOMPARE(stored.rows().at(i).at(0).toInt(), i + 1);
            QCOMPARE(stored.rows().at(i).at(1).toByteArray(), photos.at(i));
        }
        // The connection works on after the batch.
        writeLogRow(*connection, QStringLiteral("5"), QStringLiteral("5.jpg"), QStringLiteral("S"),
                    QStringLiteral("Foto Insertada"));
        QCOMPARE(countRows(*connection, QStringLiteral("SELECT * FROM LOG_ABONADOSFOTOS")), 1);
    }

    void streamFailures_data()
    {
        QTest::addColumn<QString>("relativePath");
        QTest::addColumn<int>("number");
        QTest::newRow("missing file") << QStringLiteral("/no_such.jpg") << int(RuntimeError::FileNotFound);
        QTest::newRow("missing folder") << QStringLiteral("/no_such_folder/1.jpg") << int(RuntimeError::PathNotFound);
        QTest::newRow("a folder") << QString() << int(RuntimeError::PathFileAccessError);
        // A named pipe is never read: opening it for reading would wait for a writer for ever.
        QTest::newRow("a FIFO") << QStringLiteral("/pipe.jpg") << int(RuntimeError::PathFileAccessError);
    }
    void streamFailures()
    {
        QFETCH(QString, relativePath);
        QFETCH(int, number);
        const QByteArray fifo = QFile::encodeName(m_engines.folder() + QStringLiteral("/pipe.jpg"));
        if (!QFile::exists(QFile::decodeName(fifo)))
            QCOMPARE(::mkfifo(fifo.constData(), 0644), 0);
        db::Stream stream;
        stream.open();
        try {
            stream.loadFromFile(m_engines.folder() + relativePath);
            QFAIL("loaded");
        } catch (const Failure& failure) {
            QCOMPARE(failure.number, number);
        }
    }

private:
    TestEngines m_engines;
};

QTEST_GUILESS_MAIN(RecordsetTest)
#include "tst_recordset.moc"
