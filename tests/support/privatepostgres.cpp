#include "privatepostgres.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QVersionNumber>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <libpq-fe.h>
#include <memory>
#include <netinet/in.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

const char *const kFolderPrefix = "korozia-pg-";

std::unique_ptr<PrivatePostgres> &theServer()
{
    static std::unique_ptr<PrivatePostgres> server;
    return server;
}

QString &problemText()
{
    static QString text;
    return text;
}

// The newest installed server programs, or KOROZIA_PG_BINDIR.
QString serverPrograms()
{
    const QString chosen = qEnvironmentVariable("KOROZIA_PG_BINDIR");
    if (!chosen.isEmpty())
        return chosen;
    QString best;
    QVersionNumber newest;
    for (const QString &version : QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString bin = QStringLiteral("/usr/lib/postgresql/%1/bin").arg(version);
        const QVersionNumber number = QVersionNumber::fromString(version);
        if (QFile::exists(bin + QStringLiteral("/initdb")) && QFile::exists(bin + QStringLiteral("/pg_ctl"))
            && number > newest) {
            newest = number;
            best = bin;
        }
    }
    return best;
}

bool alive(const QString &pidFile)
{
    QFile f(pidFile);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const qint64 pid = QString::fromLatin1(f.readLine()).trimmed().toLongLong();
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

// A port nobody listens on now (the server is told to use it at once, and
// another is tried when it was taken meanwhile).
int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

} // namespace

PrivatePostgres *PrivatePostgres::instance()
{
    static bool tried = false;
    if (!tried) {
        tried = true;
        std::unique_ptr<PrivatePostgres> server(new PrivatePostgres);
        QString problem;
        if (server->setUp(problem))
            theServer() = std::move(server);
        else
            problemText() = problem;
    }
    return theServer().get();
}

QString PrivatePostgres::unavailable()
{
    return problemText();
}

bool PrivatePostgres::run(const QStringList &command, QString *output, int timeoutMs) const
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (m_asPostgres) {
        process.setProgram(QStringLiteral("runuser"));
        process.setArguments(QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--")} + command);
    } else {
        process.setProgram(command.first());
        process.setArguments(command.mid(1));
    }
    process.start();
    const bool done = process.waitForFinished(timeoutMs);
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    return done && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool PrivatePostgres::setUp(QString &problem)
{
    m_bin = serverPrograms();
    if (m_bin.isEmpty()) {
        problem = QStringLiteral("PostgreSQL's server programs are not installed (Debian package postgresql-15)");
        return false;
    }
    m_asPostgres = ::geteuid() == 0;
    const passwd *owner = m_asPostgres ? ::getpwnam("postgres") : nullptr;
    if (m_asPostgres && !owner) {
        problem = QStringLiteral("the tests run as root and there is no user 'postgres' to run the server");
        return false;
    }

    // Folders of earlier runs whose watchdog and server are both gone.
    const QDir temp(QDir::tempPath());
    for (const QString &name : temp.entryList({QString::fromLatin1(kFolderPrefix) + QLatin1Char('*')}, QDir::Dirs)) {
        const QString folder = temp.filePath(name);
        if (!alive(folder + QStringLiteral("/watchdog.pid")) && !alive(folder + QStringLiteral("/data/postmaster.pid")))
            QDir(folder).removeRecursively();
    }

    QByteArray pattern = QFile::encodeName(temp.filePath(QString::fromLatin1(kFolderPrefix) + QStringLiteral("XXXXXX")));
    if (!::mkdtemp(pattern.data())) {
        problem = QStringLiteral("no temporary folder for the server");
        return false;
    }
    m_folder = QFile::decodeName(pattern);
    if (owner && ::chown(pattern.constData(), owner->pw_uid, owner->pw_gid) != 0) {
        problem = QStringLiteral("the server's folder cannot be given to the user 'postgres'");
        QDir(m_folder).removeRecursively();
        return false;
    }

    // The watchdog: it waits for the end of this process (the pipe's other
    // end closes), then stops the server and removes the folder. It has a
    // process group of its own, so that a signal to the test's group does
    // not end it first.
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        problem = QStringLiteral("no pipe for the server's watchdog");
        return false;
    }
    static const char script[] =
        "read -r _\n"
        "if [ -f \"$1/data/postmaster.pid\" ]; then\n"
        "  if [ -n \"$3\" ]; then runuser -u \"$3\" -- \"$2/pg_ctl\" -D \"$1/data\" -m immediate -w -t 30 stop\n"
        "  else \"$2/pg_ctl\" -D \"$1/data\" -m immediate -w -t 30 stop; fi >/dev/null 2>&1\n"
        "fi\n"
        "rm -rf \"$1\"\n";
    const QByteArray folder = QFile::encodeName(m_folder);
    const QByteArray bin = QFile::encodeName(m_bin);
    const QByteArray user = m_asPostgres ? QByteArray("postgres") : QByteArray();
    const char *argv[] = {"sh", "-c", script, "sh", folder.constData(), bin.constData(), user.constData(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t watchdog = 0;
    const int spawned = ::posix_spawn(&watchdog, "/bin/sh", &actions, &attributes, const_cast<char **>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(pipeEnds[0]);
    if (spawned != 0) {
        ::close(pipeEnds[1]);
        problem = QStringLiteral("the server's watchdog cannot be started");
        QDir(m_folder).removeRecursively();
        return false;
    }
    m_watchdogPipe = pipeEnds[1];
    m_watchdog = watchdog;
    QFile pidFile(m_folder + QStringLiteral("/watchdog.pid"));
    if (pidFile.open(QIODevice::WriteOnly))
        pidFile.write(QByteArray::number(qint64(watchdog)) + '\n');
    pidFile.close();

    const QString data = m_folder + QStringLiteral("/data");
    QString output;
    if (!run({m_bin + QStringLiteral("/initdb"), QStringLiteral("-D"), data, QStringLiteral("-A"), QStringLiteral("trust"),
              QStringLiteral("-U"), QStringLiteral("postgres"), QStringLiteral("-E"), QStringLiteral("UTF8"),
              QStringLiteral("--locale=C.UTF-8"), QStringLiteral("--no-sync")},
             &output)) {
        problem = QStringLiteral("initdb failed: ") + output;
        return false;
    }
    // Local connections are trusted, except those of the roles that the
    // password tests make; connections over TCP always need a password.
    QFile hba(data + QStringLiteral("/pg_hba.conf"));
    if (!hba.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        problem = QStringLiteral("pg_hba.conf cannot be written");
        return false;
    }
    hba.write("local all +needpassword scram-sha-256\n"
              "local all all trust\n"
              "host all all 127.0.0.1/32 scram-sha-256\n");
    hba.close();

    for (int attempt = 0; attempt < 5; ++attempt) {
        m_port = freePort();
        QFile conf(data + QStringLiteral("/postgresql.auto.conf"));
        if (!conf.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            problem = QStringLiteral("postgresql.auto.conf cannot be written");
            return false;
        }
        // fsync is off: the cluster is thrown away; a server stopped or
        // killed still keeps every commit (synchronous_commit stays on).
        conf.write(QStringLiteral("listen_addresses = '127.0.0.1'\nport = %1\nunix_socket_directories = '%2'\n"
                                  "fsync = off\nmax_connections = 60\nshared_buffers = 32MB\n"
                                  "log_min_messages = warning\n")
                       .arg(m_port)
                       .arg(m_folder)
                       .toUtf8());
        conf.close();
        if (start())
            break;
        m_port = 0;
    }
    if (m_port == 0) {
        QFile log(m_folder + QStringLiteral("/server.log"));
        log.open(QIODevice::ReadOnly);
        problem = QStringLiteral("the server did not start: ") + QString::fromLocal8Bit(log.readAll().right(2000));
        return false;
    }
    const QString made = exec({QStringLiteral("CREATE DATABASE ") + database(),
                               QStringLiteral("CREATE ROLE needpassword NOLOGIN")},
                              QStringLiteral("postgres"));
    if (!made.isEmpty()) {
        problem = made;
        return false;
    }
    return true;
}

bool PrivatePostgres::start()
{
    return run({m_bin + QStringLiteral("/pg_ctl"), QStringLiteral("-D"), m_folder + QStringLiteral("/data"),
                QStringLiteral("-l"), m_folder + QStringLiteral("/server.log"), QStringLiteral("-w"),
                QStringLiteral("-t"), QStringLiteral("60"), QStringLiteral("start")});
}

bool PrivatePostgres::stop()
{
    return run({m_bin + QStringLiteral("/pg_ctl"), QStringLiteral("-D"), m_folder + QStringLiteral("/data"),
                QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("-w"), QStringLiteral("-t"),
                QStringLiteral("60"), QStringLiteral("stop")});
}

PrivatePostgres::~PrivatePostgres()
{
    if (m_watchdogPipe >= 0) {
        ::close(m_watchdogPipe);
        int status = 0;
        ::waitpid(pid_t(m_watchdog), &status, 0);
    }
}

namespace {

// A connection as the server's superuser, closed with the object.
struct Superuser
{
    PGconn *conn = nullptr;
    Superuser(const QString &folder, int port, const QString &database)
    {
        const QByteArray host = QFile::encodeName(folder);
        const QByteArray number = QByteArray::number(port);
        const QByteArray name = database.toUtf8();
        const char *keys[] = {"host", "port", "dbname", "user", nullptr};
        const char *values[] = {host.constData(), number.constData(), name.constData(), "postgres", nullptr};
        conn = PQconnectdbParams(keys, values, 0);
        PQsetNoticeReceiver(conn, [](void *, const PGresult *) {}, nullptr);
    }
    ~Superuser() { PQfinish(conn); }
    bool ok() const { return PQstatus(conn) == CONNECTION_OK; }
};

} // namespace

QString PrivatePostgres::exec(const QStringList &statements, const QString &database) const
{
    Superuser c(m_folder, m_port, database.isEmpty() ? PrivatePostgres::database() : database);
    if (!c.ok())
        return QString::fromUtf8(PQerrorMessage(c.conn));
    for (const QString &sql : statements) {
        PGresult *result = PQexec(c.conn, sql.toUtf8().constData());
        const ExecStatusType status = PQresultStatus(result);
        const QString error = QString::fromUtf8(PQresultErrorMessage(result));
        PQclear(result);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            return sql + QStringLiteral(": ") + error;
    }
    return QString();
}

QVariant PrivatePostgres::value(const QString &query, const QString &database) const
{
    Superuser c(m_folder, m_port, database.isEmpty() ? PrivatePostgres::database() : database);
    if (!c.ok())
        return {};
    PGresult *result = PQexec(c.conn, query.toUtf8().constData());
    QVariant value;
    if (PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) > 0 && !PQgetisnull(result, 0, 0))
        value = QString::fromUtf8(PQgetvalue(result, 0, 0));
    PQclear(result);
    return value;
}
