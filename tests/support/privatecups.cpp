#include "privatecups.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>

namespace {

const QString kBackend = QStringLiteral("korozia-capture");

// The backend: run with no arguments it names its device; run for a job it
// copies the document and writes what the printer was told (title, copies,
// options) and the queue it came through, renaming both into place only
// when they are whole.
const char kBackendScript[] = R"(#!/bin/sh
if [ $# -eq 0 ]; then echo 'direct korozia-capture "Unknown" "Korozia test printer"'; exit 0; fi
out='@OUT@'
part="$out/.job-$1"
if [ -n "$6" ]; then cp "$6" "$part.pdf" || exit 1; else cat > "$part.pdf" || exit 1; fi
printf '%s\n%s\n%s\n%s\n' "$3" "$4" "$5" "$PRINTER" > "$part.info" || exit 1
mv "$part.pdf" "$out/job-$1.pdf" && mv "$part.info" "$out/job-$1.info"
)";

bool writeFile(const QString &path, const QByteArray &bytes, QFile::Permissions permissions = {})
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return false;
    return permissions == QFile::Permissions() || file.setPermissions(permissions);
}

struct ToolRun
{
    bool ok = false;
    QString out;
    QString complaint;
};

ToolRun runTool(const QString &program, const QStringList &args, int timeoutMs = 20000)
{
    QProcess p;
    p.start(program, args);
    ToolRun run;
    if (!p.waitForStarted(timeoutMs)) {
        run.complaint = program + QStringLiteral(" did not start: ") + p.errorString();
        return run;
    }
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(2000);
        run.complaint = program + QStringLiteral(" did not finish in time");
        return run;
    }
    run.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    run.ok = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!run.ok)
        run.complaint = program + u' ' + args.join(u' ') + QStringLiteral(": ")
                        + QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
    return run;
}

// Where the system keeps the scheduler's helpers (cups-exec above all).
QString systemServerBin()
{
    for (const char *candidate : {"/usr/lib/cups", "/usr/libexec/cups"})
        if (QFileInfo::exists(QString::fromLatin1(candidate) + QStringLiteral("/daemon")))
            return QString::fromLatin1(candidate);
    return {};
}

} // namespace

PrivateCups::PrivateCups()
{
    // The folder is read by the scheduler's helpers, which may run as another user.
    QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                            | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    qputenv("CUPS_SERVER", socketPath().toLocal8Bit());
    // The default queue is the scheduler's, not one the environment names.
    qunsetenv("PRINTER");
    qunsetenv("LPDEST");
}

PrivateCups::~PrivateCups()
{
    stop();
}

QString PrivateCups::start()
{
    if (m_cupsd.state() != QProcess::NotRunning)
        return {};
    if (!m_dir.isValid())
        return QStringLiteral("no temporary folder: ") + m_dir.errorString();
    if (socketPath().toLocal8Bit().size() >= 100)
        return QStringLiteral("the socket path is too long for a Unix-domain socket: ") + socketPath();
    const QString cupsd = QStandardPaths::findExecutable(QStringLiteral("cupsd"), {QStringLiteral("/usr/sbin"),
                                                                                   QStringLiteral("/sbin")});
    const QString serverBin = systemServerBin();
    if (cupsd.isEmpty() || serverBin.isEmpty())
        return QStringLiteral("the CUPS scheduler is not installed (Debian packages cups-daemon and cups-client)");

    QDir dir(m_dir.path());
    for (const char *sub : {"conf", "bin/backend", "spool/tmp", "cache", "state", "log", "out"})
        if (!dir.mkpath(QString::fromLatin1(sub)))
            return QStringLiteral("cannot make the folder ") + QString::fromLatin1(sub);
    for (const char *helper : {"cgi-bin", "daemon", "driver", "filter", "monitor", "notifier"}) {
        const QString link = path(QStringLiteral("bin/") + QString::fromLatin1(helper));
        if (!QFileInfo(link).isSymLink())
            QFile::link(serverBin + u'/' + QString::fromLatin1(helper), link);
    }
    QByteArray script(kBackendScript);
    script.replace("@OUT@", path(QStringLiteral("out")).toLocal8Bit());
    // Owner-only: as root the scheduler then runs the backend as root, so it
    // can write into this folder.
    const QString backend = path(QStringLiteral("bin/backend/")) + kBackend;
    if (!writeFile(backend, script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return QStringLiteral("cannot write the backend");
    if (!runTool(backend, {}, 5000).ok)
        return QStringLiteral("programs cannot be run from ") + m_dir.path()
               + QStringLiteral(" (mounted noexec?); point TMPDIR at a folder that allows it");
    // The scheduler runs from a copy: a security profile for the system's
    // cupsd (AppArmor) would keep it from reading a configuration outside
    // /etc/cups and from running a backend from this folder.
    const QString scheduler = path(QStringLiteral("cupsd"));
    if (!QFileInfo::exists(scheduler) && !QFile::copy(cupsd, scheduler))
        return QStringLiteral("cannot copy ") + cupsd;

    const QByteArray conf = "Listen " + socketPath().toLocal8Bit() + "\n"
                            "LogLevel warn\n"
                            "Browsing Off\n"
                            "BrowseLocalProtocols none\n"
                            "DefaultAuthType None\n"
                            "WebInterface No\n"
                            "PreserveJobHistory Yes\n"
                            "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                            "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n";
    const QByteArray root = m_dir.path().toLocal8Bit();
    const QByteArray files = "ServerRoot " + root + "/conf\n"
                             "ServerBin " + root + "/bin\n"
                             "RequestRoot " + root + "/spool\n"
                             "TempDir " + root + "/spool/tmp\n"
                             "CacheDir " + root + "/cache\n"
                             "StateDir " + root + "/state\n"
                             "AccessLog " + root + "/log/access_log\n"
                             "ErrorLog " + root + "/log/error_log\n"
                             "PageLog " + root + "/log/page_log\n"
                             "FileDevice No\n";
    if (!writeFile(path(QStringLiteral("conf/cupsd.conf")), conf)
        || !writeFile(path(QStringLiteral("conf/cups-files.conf")), files))
        return QStringLiteral("cannot write the scheduler's configuration");

    // The scheduler goes with the test process, however that ends.
    m_cupsd.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_cupsd.setStandardOutputFile(path(QStringLiteral("log/cupsd.out")));
    m_cupsd.setStandardErrorFile(path(QStringLiteral("log/cupsd.out")), QIODevice::Append);
    m_cupsd.start(scheduler, {QStringLiteral("-f"), QStringLiteral("-c"), path(QStringLiteral("conf/cupsd.conf")),
                          QStringLiteral("-s"), path(QStringLiteral("conf/cups-files.conf"))});
    if (!m_cupsd.waitForStarted(10000))
        return QStringLiteral("cupsd did not start: ") + m_cupsd.errorString();

    const QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired()) {
        if (m_cupsd.state() == QProcess::NotRunning)
            return QStringLiteral("cupsd ended at once:\n") + logTail();
        if (QFileInfo::exists(socketPath()) && runTool(QStringLiteral("lpstat"), {QStringLiteral("-r")}, 5000).ok)
            return {};
        QThread::msleep(50);
    }
    stop();
    return QStringLiteral("cupsd did not answer in time:\n") + logTail();
}

void PrivateCups::stop()
{
    if (m_cupsd.state() == QProcess::NotRunning)
        return;
    m_cupsd.terminate();
    if (!m_cupsd.waitForFinished(10000)) {
        m_cupsd.kill();
        m_cupsd.waitForFinished(5000);
    }
}

QString PrivateCups::lpadmin(const QStringList &args) const
{
    return runTool(QStringLiteral("lpadmin"), args).complaint;
}

QString PrivateCups::addQueue(const QString &name, bool makeDefault)
{
    QString complaint = lpadmin({QStringLiteral("-p"), name, QStringLiteral("-E"), QStringLiteral("-v"),
                                 kBackend + QStringLiteral(":/") + name});
    if (complaint.isEmpty() && makeDefault)
        complaint = lpadmin({QStringLiteral("-d"), name});
    return complaint;
}

QString PrivateCups::removeQueue(const QString &name)
{
    return lpadmin({QStringLiteral("-x"), name});
}

QList<PrivateCups::Job> PrivateCups::printedJobs() const
{
    QList<Job> jobs;
    const QDir out(path(QStringLiteral("out")));
    for (const QFileInfo &info : out.entryInfoList({QStringLiteral("job-*.info")}, QDir::Files)) {
        QFile file(info.filePath());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QStringList lines = QString::fromLocal8Bit(file.readAll()).split(u'\n');
        Job job;
        job.id = info.completeBaseName().mid(4).toInt();
        job.title = lines.value(0);
        job.copies = lines.value(1).toInt();
        job.options = lines.value(2);
        job.queue = lines.value(3);
        job.document = out.filePath(info.completeBaseName() + QStringLiteral(".pdf"));
        jobs.push_back(job);
    }
    std::sort(jobs.begin(), jobs.end(), [](const Job &a, const Job &b) { return a.id < b.id; });
    return jobs;
}

QList<PrivateCups::Job> PrivateCups::waitForJobs(int count, int timeoutMs) const
{
    const QDeadlineTimer deadline(timeoutMs);
    QList<Job> jobs = printedJobs();
    while (jobs.size() < count && !deadline.hasExpired()) {
        QThread::msleep(50);
        jobs = printedJobs();
    }
    return jobs;
}

QStringList PrivateCups::allJobs() const
{
    return runTool(QStringLiteral("lpstat"), {QStringLiteral("-W"), QStringLiteral("all"), QStringLiteral("-o")})
        .out.split(u'\n', Qt::SkipEmptyParts);
}

QString PrivateCups::logTail() const
{
    QString tail;
    for (const char *name : {"log/cupsd.out", "log/error_log"}) {
        QFile file(path(QString::fromLatin1(name)));
        if (file.open(QIODevice::ReadOnly))
            tail += QString::fromLocal8Bit(file.readAll().right(4000));
    }
    return tail;
}
