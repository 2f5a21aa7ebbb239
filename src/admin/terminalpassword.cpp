#include "terminalpassword.h"

#include "store/error.h"

#include <QByteArray>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace admin {

namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// What the signal handlers need, set before they are installed: they may
// only make async-signal-safe calls.
int g_terminal = -1;
termios g_saved;
termios g_quiet;
const char *g_prompt = nullptr;
size_t g_promptSize = 0;
volatile sig_atomic_t g_resumed = 0;
struct sigaction g_stopAction;

extern "C" void restoreAndEnd(int signal)
{
    if (g_terminal >= 0) {
        ::tcsetattr(g_terminal, TCSAFLUSH, &g_saved);
        [[maybe_unused]] const ssize_t written = ::write(g_terminal, "\n", 1);
    }
    // The handler was reset to the default on entry; the signal, raised
    // again, ends the process as it would have without the prompt.
    ::raise(signal);
}

// Ctrl+Z: the terminal as it was while the program is stopped, and on
// "fg" the typing hidden again and the prompt shown anew.
extern "C" void stopAndResume(int signal)
{
    const int savedErrno = errno;
    if (g_terminal >= 0) {
        ::tcsetattr(g_terminal, TCSAFLUSH, &g_saved);
        [[maybe_unused]] const ssize_t written = ::write(g_terminal, "\n", 1);
    }
    struct sigaction stop = {};
    stop.sa_handler = SIG_DFL;
    sigemptyset(&stop.sa_mask);
    ::sigaction(signal, &stop, nullptr);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, signal);
    ::sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
    ::raise(signal); // stopped here until continued
    ::sigaction(signal, &g_stopAction, nullptr);
    if (g_terminal >= 0) {
        ::tcsetattr(g_terminal, TCSAFLUSH, &g_quiet);
        [[maybe_unused]] const ssize_t written = ::write(g_terminal, g_prompt, g_promptSize);
    }
    g_resumed = 1;
    errno = savedErrno;
}

// "host:port", or the folder of a local socket and the port.
QString serverOf(const store::PasswordRequest &request)
{
    QString where = request.host.isEmpty() ? QStringLiteral("localhost") : request.host;
    if (!request.port.isEmpty())
        where += QLatin1Char(':') + request.port;
    return where;
}

[[noreturn]] void noPassword(const store::PasswordRequest &request, const QString &why)
{
    throw store::StoreError(QStringLiteral("сервер базы данных %1 просит пароль пользователя %2 для базы «%3» "
                                           "(псевдоним «%4»), а %5: запишите пароль в ~/.pgpass или в переменную "
                                           "окружения PGPASSWORD")
                                .arg(serverOf(request), request.user, request.database, request.alias, why));
}

// Echo off on the terminal for as long as it lives, and back on however
// the prompt ends.
class EchoOff
{
public:
    // The prompt is shown again after Ctrl+Z and "fg"; it must outlive this.
    EchoOff(int terminal, const QByteArray &prompt) : m_terminal(terminal)
    {
        if (::tcgetattr(terminal, &g_saved) != 0)
            return;
        g_quiet = g_saved;
        g_quiet.c_lflag &= ~tcflag_t(ECHO | ECHOE | ECHOK | ECHONL);
        g_prompt = prompt.constData();
        g_promptSize = size_t(prompt.size());
        g_terminal = terminal;
        struct sigaction action = {};
        action.sa_handler = &restoreAndEnd;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        for (size_t i = 0; i < std::size(kEndingSignals); ++i)
            ::sigaction(kEndingSignals[i], &action, &m_before[i]);
        g_stopAction = {};
        g_stopAction.sa_handler = &stopAndResume;
        sigemptyset(&g_stopAction.sa_mask);
        ::sigaction(SIGTSTP, &g_stopAction, &m_beforeStop);
        ::tcsetattr(terminal, TCSAFLUSH, &g_quiet);
    }
    ~EchoOff()
    {
        if (g_terminal < 0)
            return;
        ::sigaction(SIGTSTP, &m_beforeStop, nullptr);
        ::tcsetattr(m_terminal, TCSAFLUSH, &g_saved);
        for (size_t i = 0; i < std::size(kEndingSignals); ++i)
            ::sigaction(kEndingSignals[i], &m_before[i], nullptr);
        g_terminal = -1;
    }
    EchoOff(const EchoOff &) = delete;
    EchoOff &operator=(const EchoOff &) = delete;

private:
    int m_terminal;
    struct sigaction m_before[std::size(kEndingSignals)];
    struct sigaction m_beforeStop;
};

void writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += n;
    }
}

// One line from the terminal, without its line end; false at its end
// (Ctrl+D) or on an error. After Ctrl+Z and "fg" the line starts anew, as
// the prompt does.
bool readLine(int fd, QByteArray &line)
{
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        if (g_resumed) {
            g_resumed = 0;
            ::explicit_bzero(line.data(), size_t(line.size()));
            line.clear();
            if (n < 0 && errno == EINTR)
                continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        if (c == '\n')
            return true;
        line.append(c);
    }
}

} // namespace

std::optional<QString> askOnTerminal(const store::PasswordRequest &request)
{
    const int terminal = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal < 0 || !::isatty(terminal)) {
        if (terminal >= 0)
            ::close(terminal);
        noPassword(request, QStringLiteral("терминала, чтобы его спросить, нет"));
    }
    QByteArray prompt;
    if (request.refused)
        prompt += QStringLiteral("Пароль не подошёл.\n").toLocal8Bit();
    prompt += QStringLiteral("Пароль для %1@%2: ").arg(request.user, serverOf(request)).toLocal8Bit();
    QByteArray line;
    bool read = false;
    {
        g_resumed = 0;
        const EchoOff quiet(terminal, prompt);
        writeAll(terminal, prompt);
        read = readLine(terminal, line);
        writeAll(terminal, "\n"); // the line end the user typed was not echoed
    }
    ::close(terminal);
    const QString password = QString::fromLocal8Bit(line);
    ::explicit_bzero(line.data(), size_t(line.size()));
    if (!read || password.isEmpty())
        noPassword(request, QStringLiteral("пароль не введён"));
    return password;
}

} // namespace admin
