#pragma once

#include <QProcess>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>

// A private X display with a window manager, for the tests that need what
// only a real desktop does: the keyboard focus handed between windows, and
// the frames the window manager draws around them. Xvfb picks a free display
// itself (-displayfd) and openbox runs on it with its stock settings. Both
// are stopped when the session goes; should the test process be killed, the
// kernel sends them SIGTERM (their parent-death signal), so nothing outlives
// the test.
class XSession
{
public:
    explicit XSession(const QSize &screen = QSize(1280, 1024));
    ~XSession();
    XSession(const XSession &) = delete;
    XSession &operator=(const XSession &) = delete;

    bool isRunning() const { return m_error.isEmpty(); }
    // Why the session does not run (a tool missing, a server that did not start).
    QString error() const { return m_error; }
    // ":N"
    QString display() const { return m_display; }
    // The environment of a program on this display.
    QProcessEnvironment environment() const;

private:
    bool start(const QSize &screen);
    void stop();

    QProcess m_server;
    QProcess m_manager;
    QString m_display;
    QString m_error;
};

// Runs xdotool (keys and clicks through the X server, as a user's) with the
// given environment and returns what it wrote, trimmed.
QString xdotool(const QStringList &arguments,
                const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());

// The main function of an in-process GUI test that needs the desktop: starts
// an XSession and runs this same program again as its child on that display
// (the display has to be chosen before the application object exists), and
// returns the child's exit code. In the child, runTest runs with DISPLAY and
// QT_QPA_PLATFORM=xcb set; when the session could not start it runs offscreen
// with xSessionError() telling why, so that the test can skip.
int runOnXSession(int argc, char **argv, const std::function<int(int, char **)> &runTest);
QString xSessionError();
