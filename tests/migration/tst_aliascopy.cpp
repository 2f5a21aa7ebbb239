// korozia-admin copy and check, run as a process of their own, between the
// table files of this home and a schema of the private database server.
#include "store/error.h"
#include "store/schema.h"
#include "store/tablefile.h"
#include "support/privatepostgres.h"
#include "support/tempalias.h"

#include <QProcess>
#include <QSettings>
#include <QSqlQuery>
#include <QTest>

#include <QElapsedTimer>

#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <poll.h>
#include <pty.h>
#include <random>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

using store::Record;
using store::TableFile;

namespace {

struct Run
{
    int code = -1;
    QString out;
    QString err;
};

// ownSession: without a controlling terminal (as a scheduled job runs).
Run admin(const QStringList &arguments, bool ownSession = false)
{
    QProcess p;
    if (ownSession)
        p.setChildProcessModifier([] { ::setsid(); });
    p.start(QStringLiteral(KOROZIA_ADMIN), arguments);
    if (!p.waitForFinished(120000))
        return {-1, {}, QStringLiteral("timed out")};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

// In the terminal's session, as a shell runs a job: the program in a
// process group of its own in the foreground; when it stops (Ctrl+Z) the
// terminal shows "[stopped, echo on]" or "[stopped, echo off]" and the
// program is continued in the foreground (as by "fg"). Ends as the program ends.
[[noreturn]] void runAsAJob(char *const argv[])
{
    ::signal(SIGTTOU, SIG_IGN);
    const pid_t job = ::fork();
    if (job == 0) {
        ::setpgid(0, 0);
        ::tcsetpgrp(STDIN_FILENO, ::getpid());
        ::signal(SIGTTOU, SIG_DFL);
        ::execv(argv[0], argv);
        ::_exit(127);
    }
    ::setpgid(job, job);
    for (int status = 0; ::waitpid(job, &status, WUNTRACED) == job;) {
        if (!WIFSTOPPED(status))
            ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
        termios shown{};
        ::tcsetpgrp(STDIN_FILENO, ::getpgrp());
        ::tcgetattr(STDIN_FILENO, &shown);
        const char *state = (shown.c_lflag & ECHO) ? "[stopped, echo on]\n" : "[stopped, echo off]\n";
        [[maybe_unused]] const ssize_t written = ::write(STDOUT_FILENO, state, std::strlen(state));
        ::tcsetpgrp(STDIN_FILENO, job);
        ::kill(-job, SIGCONT);
    }
    ::_exit(126);
}

// korozia-admin on a terminal of its own: each time it asks for a password
// the next line is typed ("^C", "^D" and "^Z" are those keys; with "^Z" the
// program runs as a shell's job). code: the exit code or minus the ending
// signal; out: what the terminal showed; echoAfter: the terminal echoes
// again once the program ended.
Run adminOnTerminal(const QStringList &arguments, const QStringList &typed, bool &echoAfter)
{
    QList<QByteArray> args{QByteArray(KOROZIA_ADMIN)};
    for (const QString &a : arguments)
        args << a.toUtf8();
    std::vector<char *> argv;
    for (QByteArray &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int master = -1, status = 0, prompts = 0;
    const pid_t child = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (child == 0) {
        if (typed.contains(QStringLiteral("^Z")))
            runAsAJob(argv.data());
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    // Held open, so that the terminal keeps its settings when the program ends.
    const int slave = child > 0 ? ::open(::ptsname(master), O_RDWR | O_NOCTTY) : -1;
    Run run;
    QByteArray shown;
    QElapsedTimer clock;
    clock.start();
    while (child > 0 && run.code == -1 && clock.elapsed() < 60000) {
        pollfd fd{master, POLLIN, 0};
        char buffer[4096];
        const ssize_t n = ::poll(&fd, 1, 50) > 0 ? ::read(master, buffer, sizeof buffer) : 0;
        shown.append(buffer, std::max<ssize_t>(n, 0));
        if (shown.count("Пароль для") > prompts && prompts < typed.size()) {
            const QString line = typed[prompts++];
            const QByteArray keys = line == "^C" ? "\x03" : line == "^D" ? "\x04" : line == "^Z" ? "\x1a" : line.toUtf8() + '\n';
            [[maybe_unused]] const ssize_t written = ::write(master, keys.constData(), size_t(keys.size()));
        }
        if (::waitpid(child, &status, WNOHANG) == child)
            run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }
    // What the program wrote just before it ended may still wait in the
    // terminal: read it all (the slave end is held open here, so no end of
    // file comes; a quiet moment ends the reading).
    for (pollfd fd{master, POLLIN, 0}; run.code != -1 && ::poll(&fd, 1, 200) > 0;) {
        char buffer[4096];
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0)
            break;
        shown.append(buffer, n);
    }
    termios after{};
    echoAfter = ::tcgetattr(slave, &after) == 0 && (after.c_lflag & ECHO);
    ::close(slave);
    ::close(master);
    if (run.code == -1 && child > 0 && ::kill(child, SIGKILL) == 0)
        ::waitpid(child, &status, 0);
    run.out = QString::fromUtf8(shown);
    return run;
}

// An alias on the private server, in an empty schema of a role of its own.
void serverAlias(const TempAlias &home, const QString &alias)
{
    PrivatePostgres *server = PrivatePostgres::instance();
    QVERIFY2(server, qPrintable(PrivatePostgres::unavailable()));
    static int roles = 0;
    const QString role = QStringLiteral("copy%1").arg(++roles);
    QCOMPARE(server->exec({QStringLiteral("CREATE ROLE %1 LOGIN").arg(role),
                           QStringLiteral("CREATE SCHEMA %1 AUTHORIZATION %1").arg(role)}),
             QString());
    home.configureServer(alias, {{QStringLiteral("host"), server->socketFolder()},
                                 {QStringLiteral("port"), QString::number(server->port())},
                                 {QStringLiteral("database"), PrivatePostgres::database()},
                                 {QStringLiteral("user"), role},
                                 {QStringLiteral("create"), QStringLiteral("yes")}});
}

// Every record of a table in key order, each value as its exact bits or text.
QStringList contents(const QString &alias, const QString &table)
{
    QStringList rows;
    const std::unique_ptr<TableFile> file = TableFile::open(alias, table);
    file->scanRecords(store::ScanSpec{}, [&](Record &&r) {
        QStringList values;
        for (const QVariant &v : r) {
            if (!v.isValid()) {
                values << QStringLiteral("<blank>");
            } else if (v.typeId() == QMetaType::Double) {
                const double d = v.toDouble();
                quint64 bits = 0;
                std::memcpy(&bits, &d, sizeof bits);
                values << QStringLiteral("d%1").arg(bits, 16, 16, QLatin1Char('0'));
            } else {
                values << v.toString();
            }
        }
        rows << values.join(QLatin1Char('|'));
    });
    return rows;
}

QVariant randomDouble(std::mt19937_64 &rng)
{
    static const double edges[] = {0.0, -0.0, 1e-310, -std::numeric_limits<double>::denorm_min(),
                                   std::numeric_limits<double>::max(), std::numeric_limits<double>::infinity(),
                                   0.1 + 0.2, 40.0, std::nextafter(40.0, 41.0)};
    switch (rng() % 4) {
    case 0:
        return QVariant();
    case 1:
        return edges[rng() % std::size(edges)];
    default: {
        double d = 0;
        do {
            const quint64 bits = rng();
            std::memcpy(&d, &bits, sizeof d);
        } while (std::isnan(d));
        return d;
    }
    }
}

QVariant randomText(std::mt19937_64 &rng, int most)
{
    static const QStringList letters{"a", "Я", "ё", " ", "'", "\"", "\\", "😀", "%", "_"};
    if (rng() % 5 == 0)
        return QVariant();
    QString text;
    for (int n = int(rng() % (most + 1)); n > 0; --n)
        text += letters[int(rng() % letters.size())];
    return text;
}

// Random Sections and Supports with gaps in their numbers.
void seed(const QString &alias, quint64 seedValue)
{
    std::mt19937_64 rng(seedValue);
    const std::unique_ptr<TableFile> sections = TableFile::open(alias, QStringLiteral("line.db"));
    const std::unique_ptr<TableFile> supports = TableFile::open(alias, QStringLiteral("base_kor.db"));
    QList<qint64> numbers;
    for (int i = 0; i < 12; ++i) {
        Record r{qint64(3 * i + 2 + int(rng() % 3)), randomText(rng, 20)};
        sections->insert(r);
        numbers << r[0].toLongLong();
    }
    store::BulkScope bulk(*supports);
    qint64 key = 0;
    for (int i = 0; i < 2500; ++i) {
        key += 1 + qint64(rng() % 4);
        const QVariant line = rng() % 50 == 0 ? QVariant() : QVariant(numbers[int(rng() % numbers.size())]);
        QVariant kilometr = randomDouble(rng);
        if (!kilometr.isValid())
            kilometr = -0.0;
        Record r{key,
                 kilometr,
                 qint64(rng() % 65536) - 32768,
                 randomText(rng, 1),
                 randomText(rng, 6),
                 randomDouble(rng),
                 randomDouble(rng),
                 randomDouble(rng),
                 randomDouble(rng),
                 line};
        supports->insert(r);
    }
}

} // namespace

class TestAliasCopy : public QObject
{
    Q_OBJECT

private slots:
    void roundTripThroughTheServer();
    void refusals_data();
    void refusals();
    void passwordOfTheServer_data();
    void passwordOfTheServer();
};

// Files to the server and back again give the same records, to the bit; the
// copy on the server goes on numbering after the copied records, and checks clean.
void TestAliasCopy::roundTripThroughTheServer()
{
    TempAlias home;
    serverAlias(home, QStringLiteral("team"));
    const quint64 seedValue = std::random_device()();
    qInfo("seed %llu", static_cast<unsigned long long>(seedValue));
    seed(QStringLiteral("kor"), seedValue);

    const Run there = admin({QStringLiteral("copy"), QStringLiteral("kor"), QStringLiteral("team")});
    QVERIFY2(there.code == 0, qPrintable(there.err));
    QVERIFY2(there.out.contains(QStringLiteral("base_kor.db: 2500 из 2500")), qPrintable(there.out));
    QVERIFY2(there.out.contains(QStringLiteral("участков 12, опор 2500")), qPrintable(there.out));
    const Run back = admin({QStringLiteral("copy"), QStringLiteral("team"), QStringLiteral("back")});
    QVERIFY2(back.code == 0, qPrintable(back.err));

    for (const QString &table : {QStringLiteral("line.db"), QStringLiteral("base_kor.db")}) {
        const QStringList original = contents(QStringLiteral("kor"), table);
        QCOMPARE(original.size(), table == QLatin1String("line.db") ? 12 : 2500);
        QCOMPARE(contents(QStringLiteral("team"), table), original);
        QCOMPARE(contents(QStringLiteral("back"), table), original);
    }

    const Run check = admin({QStringLiteral("check"), QStringLiteral("team")});
    QVERIFY2(check.code == 0, qPrintable(check.err));
    QVERIFY2(check.out.contains(QStringLiteral("участков 12, опор 2500")), qPrintable(check.out));

    // New records on either copy are numbered after the copied ones.
    for (const QString &alias : {QStringLiteral("team"), QStringLiteral("back")}) {
        const std::unique_ptr<TableFile> sections = TableFile::open(alias, QStringLiteral("line.db"));
        qint64 largest = 0;
        sections->scanKeys(store::ScanSpec{}, [&](qint64 key, const store::OrderValue *) { largest = std::max(largest, key); });
        Record r{QVariant(), QStringLiteral("Новый")};
        sections->insert(r);
        QVERIFY2(r[0].toLongLong() > largest, qPrintable(alias));
    }
}

void TestAliasCopy::refusals_data()
{
    QTest::addColumn<QString>("setUp"); // what the home holds besides a few Supports on "kor"
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::newRow("one alias") << "" << QStringList{"copy", "kor"} << 2 << "укажите два псевдонима";
    QTest::newRow("into itself") << "" << QStringList{"copy", "kor", "kor"} << 1 << "в себя нельзя";
    QTest::newRow("into a filled server") << "filled team" << QStringList{"copy", "kor", "team"} << 1
                                          << "В псевдониме «team» уже есть участки или опоры";
    QTest::newRow("a Support without its Section") << "orphan" << QStringList{"copy", "kor", "team"} << 1
                                                   << "есть опоры без участка (1)";
    QTest::newRow("check finds it") << "orphan" << QStringList{"check", "kor"} << 1
                                    << "base_kor.db, запись 99: опора участка 77, которого нет";
    QTest::newRow("a server that refuses the role") << "" << QStringList{"copy", "kor", "nobody"} << 1
                                                    << "korozia-admin copy: ";
}

// A copy that cannot be made says why and changes neither alias.
void TestAliasCopy::refusals()
{
    QFETCH(QString, setUp);
    QFETCH(QStringList, arguments);
    QFETCH(int, code);
    QFETCH(QString, message);
    TempAlias home;
    serverAlias(home, QStringLiteral("team"));
    PrivatePostgres *server = PrivatePostgres::instance();
    home.configureServer(QStringLiteral("nobody"), {{QStringLiteral("host"), server->socketFolder()},
                                                    {QStringLiteral("port"), QString::number(server->port())},
                                                    {QStringLiteral("database"), PrivatePostgres::database()},
                                                    {QStringLiteral("user"), QStringLiteral("nosuchrole")}});
    seed(QStringLiteral("kor"), 7);
    if (setUp == QLatin1String("filled team"))
        seed(QStringLiteral("team"), 8);
    if (setUp == QLatin1String("orphan")) {
        QSqlDatabase db = home.openRaw(QStringLiteral("raw"), QStringLiteral("base_kor.db"));
        QVERIFY(QSqlQuery(db).exec(QStringLiteral("INSERT INTO base_kor (I, Kilometr, Nomeropory, Line) "
                                                  "VALUES (99, 1.5, 1, 77)")));
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("raw"));
    }
    const QStringList before = contents(QStringLiteral("kor"), QStringLiteral("base_kor.db"));
    const QStringList teamBefore = contents(QStringLiteral("team"), QStringLiteral("base_kor.db"));

    const Run run = admin(arguments);
    QCOMPARE(run.code, code);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QCOMPARE(contents(QStringLiteral("kor"), QStringLiteral("base_kor.db")), before);
    QCOMPARE(contents(QStringLiteral("team"), QStringLiteral("base_kor.db")), teamBefore);
    QCOMPARE(contents(QStringLiteral("team"), QStringLiteral("line.db")).isEmpty(), setUp != QLatin1String("filled team"));
}

void TestAliasCopy::passwordOfTheServer_data()
{
    QTest::addColumn<QString>("environment"); // PGPASSWORD, or none
    QTest::addColumn<QStringList>("typed");   // on a terminal, one line per prompt; none: no terminal
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    const QString ask = QStringLiteral("Пароль для %1@%2:%3: ");
    QTest::newRow("PGPASSWORD") << "пароль 1" << QStringList() << 0 << "Ошибок не найдено";
    QTest::newRow("no terminal") << "" << QStringList() << 1
        << "а терминала, чтобы его спросить, нет: запишите пароль в ~/.pgpass или в переменную окружения PGPASSWORD";
    QTest::newRow("typed") << "" << QStringList{"пароль 1"} << 0 << ask + "\r\nПсевдоним «team»";
    QTest::newRow("wrong, then right") << "" << QStringList{"wrong", "пароль 1"} << 0
                                       << ask + "\r\nПароль не подошёл.\r\n" + ask + "\r\nПсевдоним";
    QTest::newRow("Ctrl+D") << "" << QStringList{"^D"} << 1 << "а пароль не введён";
    QTest::newRow("Ctrl+C") << "" << QStringList{"^C"} << -SIGINT << ask;
    QTest::newRow("Ctrl+Z, then fg") << "" << QStringList{"^Z", "пароль 1"} << 0
                                     << ask + "\r\n[stopped, echo on]\r\n" + ask + "\r\nПсевдоним «team»";
}

// A role whose server asks for a password: korozia-admin takes it from
// PGPASSWORD, asks on the terminal with the typing hidden (and the terminal
// as it was however the prompt ends), and without a terminal says where the
// password belongs.
void TestAliasCopy::passwordOfTheServer()
{
    QFETCH(QString, environment);
    QFETCH(QStringList, typed);
    QFETCH(int, code);
    QFETCH(QString, message);
    TempAlias home;
    serverAlias(home, QStringLiteral("team"));
    PrivatePostgres *server = PrivatePostgres::instance();
    const QString role = QSettings(home.configHome() + "/tablestore/aliases.ini", QSettings::IniFormat)
                             .value("team/user").toString();
    QCOMPARE(contents(QStringLiteral("team"), QStringLiteral("line.db")), QStringList()); // the tables, made
    QCOMPARE(server->exec({QStringLiteral("ALTER ROLE %1 PASSWORD 'пароль 1'").arg(role),
                           QStringLiteral("GRANT needpassword TO %1").arg(role)}),
             QString());
    if (message.contains(QLatin1String("%1")))
        message = message.arg(role, server->socketFolder()).arg(server->port());
    qputenv("PGPASSFILE", QFile::encodeName(home.root() + "/no-pgpass"));
    if (environment.isEmpty())
        qunsetenv("PGPASSWORD");
    else
        qputenv("PGPASSWORD", environment.toUtf8());
    const QStringList arguments{QStringLiteral("check"), QStringLiteral("team")};
    bool echoAfter = false;
    const Run run = typed.isEmpty() ? admin(arguments, true) : adminOnTerminal(arguments, typed, echoAfter);
    qunsetenv("PGPASSWORD");
    QCOMPARE(run.code, code);
    QVERIFY2((run.out + run.err).contains(message), qPrintable(run.out + run.err));
    if (!typed.isEmpty()) {
        QVERIFY(echoAfter);
        QVERIFY2(!run.out.contains("пароль 1") && !run.out.contains("wrong"), qPrintable(run.out));
    }
}

QTEST_GUILESS_MAIN(TestAliasCopy)
#include "tst_aliascopy.moc"
