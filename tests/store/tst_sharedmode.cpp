// Two processes on one alias: the record lock taken by Edit, a busy database
// that is waited for, locks and transactions that die with their process,
// and Edit re-reading the record another user changed.
#include "data/kortables.h"
#include "store/error.h"
#include "support/failure.h"
#include "support/tempalias.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <memory>
#include <sys/types.h>
#include <unistd.h>

namespace {

// The other user: the peer program, driven line by line.
class Peer
{
public:
    explicit Peer(const QString &userId = QString())
    {
        m_process.setProgram(QStringLiteral(PEERCHILD_PATH));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (!userId.isEmpty())
            environment.insert(QStringLiteral("KOROZIA_TEST_USER_ID"), userId);
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        m_process.waitForStarted(10000);
    }
    ~Peer()
    {
        if (m_process.state() == QProcess::Running) {
            m_process.write("quit\n");
            if (!m_process.waitForFinished(5000))
                m_process.kill();
        }
        m_process.waitForFinished(5000);
    }

    bool started() { return m_process.waitForStarted(10000) && line() == QLatin1String("ready"); }

    // The next answer line, or "<none>" when none comes in time.
    QString line(int timeoutMs = 15000)
    {
        QElapsedTimer clock;
        clock.start();
        while (!m_process.canReadLine()) {
            if (clock.elapsed() > timeoutMs || m_process.state() != QProcess::Running)
                return QStringLiteral("<none>");
            m_process.waitForReadyRead(100);
        }
        return QString::fromUtf8(m_process.readLine()).trimmed();
    }

    QString ask(const QString &command)
    {
        send(command);
        return line();
    }
    void send(const QString &command)
    {
        m_process.write(command.toUtf8() + '\n');
        m_process.waitForBytesWritten(5000);
    }

    void killHard()
    {
        ::kill(pid_t(m_process.processId()), SIGKILL);
        m_process.waitForFinished(10000);
    }

private:
    QProcess m_process;
};

struct Fixture
{
    TempAlias home;
    std::unique_ptr<KorTables> db;

    // A Section with three Supports; U_ras is 10, 20, 30.
    Fixture()
    {
        db = std::make_unique<KorTables>();
        db->open();
        db->Table2.Append();
        db->Table2Line->SetAsString(QStringLiteral("Участок"));
        db->Table2.Post();
        for (int i = 1; i <= 3; ++i) {
            db->Table1.Append();
            db->Table1Kilometr->SetAsFloat(i);
            db->Table1Nomeropory->SetAsInteger(i);
            db->Table1U_ras->SetAsFloat(10.0 * i);
            db->Table1.Post();
        }
    }

    void reopen()
    {
        db.reset();
        db = std::make_unique<KorTables>();
        db->open();
    }

    QStringList values() const
    {
        QStringList v;
        for (const auto &field : db->Table1.Fields())
            v << field->AsString();
        return v;
    }
};

} // namespace

class TestSharedMode : public QObject
{
    Q_OBJECT

private slots:
    void lockedRecord();
    void lockedRecordStopsBulkWalk_data();
    void lockedRecordStopsBulkWalk();
    void busyDatabase_data();
    void busyDatabase();
    void deathReleases_data();
    void deathReleases();
    void editRereads();
    void startWhileAnotherWrites();
    void readOnlyFiles_data();
    void readOnlyFiles();
};

void TestSharedMode::lockedRecord()
{
    Fixture f;
    Peer peer;
    QVERIFY(peer.started());
    QCOMPARE(peer.ask("edit 2"), QString("ok"));

    Table &t = f.db->Table1;
    t.SetRecNo(2);
    const QStringList before = f.values();
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(failure([&] { t.Edit(); }), QString("Record locked by another user"));
    QVERIFY2(clock.elapsed() < 1000, "a locked record is reported at once, not waited for");
    QCOMPARE(t.State(), DataSetState::Browse);
    QCOMPARE(t.RecNo(), 2);
    QCOMPARE(f.values(), before);
    // Deleting it is refused the same way, and it stays.
    QCOMPARE(failure([&] { t.Delete(); }), QString("Record locked by another user"));
    QCOMPARE(t.RecordCount(), 3);
    QCOMPARE(t.RecNo(), 2);

    // Another record can be edited meanwhile.
    t.SetRecNo(3);
    t.Edit();
    f.db->Table1U_ras->SetAsFloat(33);
    t.Post();

    // The peer's Cancel releases its lock.
    QCOMPARE(peer.ask("cancel"), QString("ok"));
    t.SetRecNo(2);
    t.Edit();
    QCOMPARE(t.State(), DataSetState::Edit);
    // Now the peer meets our lock.
    QCOMPARE(peer.ask("edit 2"), QString("error Record locked by another user"));
    t.Cancel();
    QCOMPARE(peer.ask("edit 2"), QString("ok"));
    QCOMPARE(peer.ask("post"), QString("ok"));
    t.Edit();
    t.Cancel();
}

void TestSharedMode::lockedRecordStopsBulkWalk_data()
{
    QTest::addColumn<int>("locked"); // the RecNo the other user edits
    QTest::newRow("first") << 1;
    QTest::newRow("in the middle") << 150;
    QTest::newRow("after a long run of free ones") << 280;
    QTest::newRow("last") << 300;
}

// A command that edits Support after Support inside a bulk scope (as the
// calculation does) meets the other user's lock at that very Support, with
// the usual message; every Support the walk locked on its way is free again
// once the scope has ended.
void TestSharedMode::lockedRecordStopsBulkWalk()
{
    QFETCH(int, locked);
    Fixture f;
    Table &t = f.db->Table1;
    {
        Table::BulkScope bulk(t);
        for (int i = 4; i <= 300; ++i) {
            t.Append();
            f.db->Table1Kilometr->SetAsFloat(i);
            f.db->Table1Nomeropory->SetAsInteger(i);
            t.Post();
        }
    }
    Peer peer;
    QVERIFY(peer.started());
    QCOMPARE(peer.ask(QString("edit %1").arg(locked)), QString("ok"));

    int reached = 0;
    const QString message = failure([&] {
        Table::BulkScope bulk(t);
        for (t.First(); !t.Eof(); t.Next()) {
            reached = t.RecNo();
            t.Edit();
            f.db->Table1U_ras->SetAsFloat(reached);
            t.Post();
        }
    });
    QCOMPARE(message, QString("Record locked by another user"));
    QCOMPARE(reached, locked);
    if (t.State() != DataSetState::Browse)
        t.Cancel();

    QCOMPARE(peer.ask("cancel"), QString("ok"));
    for (int recNo : {1, 2, 100, 255, 256, 257, locked - 1, locked + 1, 299, 300}) {
        if (recNo < 1 || recNo > 300)
            continue;
        QCOMPARE(peer.ask(QString("edit %1").arg(recNo)), QString("ok"));
        QCOMPARE(peer.ask("cancel"), QString("ok"));
    }
}

void TestSharedMode::busyDatabase_data()
{
    QTest::addColumn<int>("holdMs");
    QTest::addColumn<QString>("message");
    QTest::newRow("waited for") << 1000 << "<no error>";
    QTest::newRow("longer than the busy timeout")
        << 7000 << "The table 'base_kor.db' is busy: another program is writing to it. Try again later";
}

// While another user writes, a Post waits for it (the busy timeout) instead
// of failing at once; past the timeout it fails with the store's message and
// the cursor keeps the record in editing, to be posted later.
void TestSharedMode::busyDatabase()
{
    QFETCH(int, holdMs);
    QFETCH(QString, message);
    // A server holds up only the writers of the same record: there the Post goes through at once.
    if (TempAlias::onServer() && message != "<no error>")
        QSKIP("a server makes no one wait for writes to other records");
    Fixture f;
    Peer peer;
    QVERIFY(peer.started());
    peer.send(QString("hold %1").arg(holdMs));
    QCOMPARE(peer.line(), QString("holding"));

    Table &t = f.db->Table1;
    t.SetRecNo(1);
    t.Edit();
    f.db->Table1U_ras->SetAsFloat(11);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(failure([&] { t.Post(); }), message);
    const qint64 waited = clock.elapsed();
    if (TempAlias::onServer())
        QVERIFY2(waited < holdMs / 2, qPrintable(QString("waited %1 ms for another record's writer").arg(waited)));
    else
        QVERIFY2(waited >= std::min(holdMs / 2, 4000), qPrintable(QString("gave up after %1 ms").arg(waited)));
    if (message != "<no error>") {
        QCOMPARE(t.State(), DataSetState::Edit);
        QCOMPARE(f.db->Table1U_ras->AsFloat(), 11.0);
        QCOMPARE(peer.line(), QString("released"));
        t.Post();
    } else {
        QCOMPARE(peer.line(), QString("released"));
    }
    QCOMPARE(t.State(), DataSetState::Browse);
    // Both writes are there: the peer's new Support and our edit.
    QCOMPARE(t.RecordCount(), 4);
    f.reopen();
    QCOMPARE(f.db->Table1U_ras->AsFloat(), 11.0);
    f.db->Table1.Last();
    QCOMPARE(f.db->Table1Nomeropory->AsInteger(), qint64(999));
}

void TestSharedMode::deathReleases_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("answer");
    QTest::newRow("record lock") << "edit 2" << "ok";
    QTest::newRow("write transaction") << "hold 60000" << "holding";
}

// A process killed while it holds a record lock or the write transaction
// leaves neither behind: the other user goes on at once, and what the dead
// one had not committed is not there.
void TestSharedMode::deathReleases()
{
    QFETCH(QString, command);
    QFETCH(QString, answer);
    Fixture f;
    {
        Peer peer;
        QVERIFY(peer.started());
        peer.send(command);
        QCOMPARE(peer.line(), answer);
        peer.killHard();
    }
    Table &t = f.db->Table1;
    t.SetRecNo(2);
    QElapsedTimer clock;
    clock.start();
    t.Edit();
    QCOMPARE(t.State(), DataSetState::Edit);
    f.db->Table1U_ras->SetAsFloat(22);
    t.Post();
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString("%1 ms").arg(clock.elapsed())));
    QCOMPARE(t.RecordCount(), 3);
    f.reopen();
    f.db->Table1.SetRecNo(2);
    QCOMPARE(f.db->Table1U_ras->AsFloat(), 22.0);
}

void TestSharedMode::editRereads()
{
    Fixture f;
    Table &t = f.db->Table1;
    t.SetRecNo(2);
    QCOMPARE(f.db->Table1U_ras->AsFloat(), 20.0);
    {
        Peer peer;
        QVERIFY(peer.started());
        QCOMPARE(peer.ask("edit 2"), QString("ok"));
        QCOMPARE(peer.ask("set U_ras 123.25"), QString("ok"));
        QCOMPARE(peer.ask("set I_opory 7.5"), QString("ok"));
        QCOMPARE(peer.ask("post"), QString("ok"));
    }
    t.Edit();
    QCOMPARE(f.db->Table1U_ras->AsFloat(), 123.25);
    QCOMPARE(f.db->Table1I_opory->AsFloat(), 7.5);
    // Our own change is made to the latest values and keeps the peer's.
    f.db->Table1Tipopory->SetAsString(QStringLiteral("ЖБК"));
    t.Post();
    f.reopen();
    f.db->Table1.SetRecNo(2);
    QCOMPARE(f.db->Table1U_ras->AsFloat(), 123.25);
    QCOMPARE(f.db->Table1I_opory->AsFloat(), 7.5);
    QCOMPARE(f.db->Table1Tipopory->AsString(), QStringLiteral("ЖБК"));
}

// Opening takes no write lock: another copy's long write, past the busy
// timeout, does not hold up a start.
void TestSharedMode::startWhileAnotherWrites()
{
    Fixture f;
    Peer peer;
    QVERIFY(peer.started());
    peer.send("hold 7000");
    QCOMPARE(peer.line(), QString("holding"));
    QCOMPARE(failure([&] { f.reopen(); }), QString("<no error>"));
    QCOMPARE(f.db->Table1.RecordCount(), 3);
    QCOMPARE(peer.line(), QString("released"));
}

void TestSharedMode::readOnlyFiles_data()
{
    QTest::addColumn<QString>("file"); // made read-only, or left behind read-only
    QTest::addColumn<QString>("message");
    QTest::newRow("table file") << "base_kor.db"
                                << "The table 'base_kor.db' cannot be written (it is read-only); nothing was changed";
    QTest::newRow("leftover journal file")
        << "base_kor.db-shm"
        << "The table 'base_kor.db' cannot be written: its journal file '%1/base_kor.db-shm' is read-only (left "
           "behind by another user or an earlier run); nothing was changed";
}

// A table or journal file that this user cannot write is named at start-up,
// before anything is typed, and the refused start leaves nothing behind that
// would stop the next one once the file may be written again. Root writes any
// file, so under root the other copy runs as an ordinary user.
void TestSharedMode::readOnlyFiles()
{
    SKIP_ON_SERVER();
    QFETCH(QString, file);
    QFETCH(QString, message);
    Fixture f;
    f.db.reset();
    const QString folder = f.home.defaultFolder();
    const bool root = ::getuid() == 0;
    if (root) {
        // Everything the other user needs to reach and write, short of the file under test.
        for (QString dir = folder; dir.startsWith(f.home.root()); dir = QFileInfo(dir).path())
            QFile::setPermissions(dir, QFileDevice::Permissions(0x7777));
        QFile::setPermissions(f.home.root(), QFileDevice::Permissions(0x7777));
        for (const QString &name : QDir(folder).entryList(QDir::Files))
            QFile::setPermissions(folder + "/" + name, QFileDevice::Permissions(0x6666));
    }
    const QString path = folder + "/" + file;
    if (!QFile::exists(path)) {
        QFile made(path);
        QVERIFY(made.open(QIODevice::WriteOnly));
    }
    QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadUser | QFileDevice::ReadGroup
                                            | QFileDevice::ReadOther));
    const QString user = root ? QStringLiteral("65534") : QString();
    const QStringList before = QDir(folder).entryList(QDir::Files);
    {
        Peer peer(user);
        QCOMPARE(peer.line(), "error " + (message.contains("%1") ? message.arg(folder) : message));
    }
    QCOMPARE(QDir(folder).entryList(QDir::Files), before);

    if (file.endsWith("-shm"))
        QVERIFY(QFile::remove(path));
    else
        QFile::setPermissions(path, QFileDevice::Permissions(0x6666));
    Peer again(user);
    QVERIFY(again.started());
}

QTEST_GUILESS_MAIN(TestSharedMode)
#include "tst_sharedmode.moc"
