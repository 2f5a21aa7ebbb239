#include "xsession.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QStandardPaths>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>

namespace {

const char kChildVariable[] = "KOROZIA_XSESSION_CHILD";
const char kErrorVariable[] = "KOROZIA_XSESSION_ERROR";

// Stopped by the kernel when the process that started it dies.
void tieToParent(QProcess &process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

void end(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

} // namespace

XSession::XSession(const QSize &screen)
{
    if (!start(screen))
        stop();
}

XSession::~XSession()
{
    stop();
}

bool XSession::start(const QSize &screen)
{
    QStringList missing;
    for (const char *tool : {"Xvfb", "openbox", "xdotool", "xprop"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            missing << QString::fromLatin1(tool);
    if (!missing.isEmpty()) {
        m_error = QStringLiteral("%1 not installed (scripts/korozia.sh installs them)").arg(missing.join(u", "));
        return false;
    }

    // -displayfd 1: the server writes the number of the display it took to its output.
    tieToParent(m_server);
    m_server.start(QStringLiteral("Xvfb"),
                   {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                    QStringLiteral("%1x%2x24").arg(screen.width()).arg(screen.height()), QStringLiteral("-nolisten"),
                    QStringLiteral("tcp")});
    QDeadlineTimer deadline(20000);
    while (!m_server.canReadLine() && m_server.state() != QProcess::NotRunning && !deadline.hasExpired())
        m_server.waitForReadyRead(200);
    if (!m_server.canReadLine()) {
        m_error = QStringLiteral("Xvfb did not start: ") + QString::fromLocal8Bit(m_server.readAllStandardError());
        return false;
    }
    m_display = QStringLiteral(":") + QString::fromLatin1(m_server.readLine()).trimmed();

    tieToParent(m_manager);
    m_manager.setProcessEnvironment(environment());
    m_manager.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_manager.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    // The window manager is ready once it names itself on the root window.
    QProcess check;
    check.setProcessEnvironment(environment());
    while (!deadline.hasExpired() && m_manager.state() != QProcess::NotRunning) {
        check.start(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
        check.waitForFinished(5000);
        if (check.readAllStandardOutput().contains("window id"))
            return true;
        QThread::msleep(100);
    }
    m_error = QStringLiteral("openbox did not start on ") + m_display;
    return false;
}

void XSession::stop()
{
    end(m_manager);
    end(m_server);
}

QProcessEnvironment XSession::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    return env;
}

QString xdotool(const QStringList &arguments, const QProcessEnvironment &environment)
{
    QProcess p;
    p.setProcessEnvironment(environment);
    p.start(QStringLiteral("xdotool"), arguments);
    if (!p.waitForFinished(15000))
        p.kill();
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

int runOnXSession(int argc, char **argv, const std::function<int(int, char **)> &runTest)
{
    if (qEnvironmentVariableIsSet(kChildVariable))
        return runTest(argc, argv);

    int code = 1;
    {
        QCoreApplication app(argc, argv);
        XSession session;
        QProcessEnvironment env = session.isRunning() ? session.environment() : QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kChildVariable), QStringLiteral("1"));
        if (!session.isRunning()) {
            env.insert(QString::fromLatin1(kErrorVariable), session.error());
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        }
        QProcess child;
        tieToParent(child);
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), app.arguments().mid(1));
        child.waitForFinished(-1); // the test's own timeout stops everything
        code = child.exitStatus() == QProcess::NormalExit ? child.exitCode() : 1;
    }
    return code;
}

QString xSessionError()
{
    return qEnvironmentVariable(kErrorVariable);
}
