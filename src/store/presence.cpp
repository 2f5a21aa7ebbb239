#include "presence.h"

#include "alias.h"
#include "error.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace store {

namespace {

// A restore of the tables takes about a second; a copy starting meanwhile
// waits for it rather than opening tables that are being replaced.
constexpr int kWaitForRestoreMs = 10000;
constexpr int kRetryMs = 50;

bool setLock(int fd, short type)
{
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 1;
    return ::fcntl(fd, F_SETLK, &fl) == 0;
}

} // namespace

struct AliasPresence::Shared
{
    int fd = -1;
    int holders = 0;
    int exclusive = 0;
    int openError = 0;

    ~Shared()
    {
        if (fd >= 0)
            ::close(fd);
    }

    // The lock this process holds follows its holders and exclusive scopes.
    void settle() const
    {
        if (fd >= 0)
            setLock(fd, exclusive > 0 ? F_WRLCK : holders > 0 ? F_RDLCK : F_UNLCK);
    }

    // One descriptor per side file for the whole process.
    static std::shared_ptr<Shared> of(const QString &alias)
    {
        static QMap<QString, std::weak_ptr<Shared>> registry;
        const AliasLocation resolved = resolveAlias(alias);
        // The copies using a server are the server's to count: no side file
        // is made anywhere for such an alias.
        const QString path = resolved.server ? QStringLiteral("server:") + alias
                                             : QDir(resolved.folder).filePath(QStringLiteral("open.lck"));
        std::shared_ptr<Shared> shared = registry.value(path).lock();
        if (shared)
            return shared;
        shared = std::make_shared<Shared>();
        if (resolved.server) {
            shared->openError = EOPNOTSUPP;
            registry.insert(path, shared);
            return shared;
        }
        const QByteArray name = QFile::encodeName(path);
        // As the record locks' side files: never through a symbolic link,
        // never inherited by a child process. A file this user may only read
        // still takes the shared lock.
        shared->fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (shared->fd < 0 && (errno == EACCES || errno == EROFS))
            shared->fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (shared->fd < 0)
            shared->openError = errno;
        registry.insert(path, shared);
        return shared;
    }
};

AliasPresence::AliasPresence(const QString &alias) : m_shared(Shared::of(alias))
{
    if (m_shared->fd >= 0 && m_shared->holders == 0 && m_shared->exclusive == 0) {
        QElapsedTimer waited;
        waited.start();
        while (!setLock(m_shared->fd, F_RDLCK)) {
            if (errno != EACCES && errno != EAGAIN)
                break; // locks unsupported here: nothing to register
            if (waited.elapsed() > kWaitForRestoreMs)
                throw StoreError(QStringLiteral("The tables of alias '%1' are being restored from a backup by another "
                                                "copy of the program; try again in a moment")
                                     .arg(alias));
            std::this_thread::sleep_for(std::chrono::milliseconds(kRetryMs));
        }
    }
    ++m_shared->holders;
}

AliasPresence::~AliasPresence()
{
    --m_shared->holders;
    m_shared->settle();
}

ExclusiveAliasUse::ExclusiveAliasUse(const QString &alias) : m_shared(AliasPresence::Shared::of(alias))
{
    auto unusable = [&](int error) {
        return StoreError(QStringLiteral("The lock file of alias '%1' cannot be used: %2")
                              .arg(alias, QString::fromLocal8Bit(std::strerror(error))));
    };
    if (m_shared->fd < 0)
        throw unusable(m_shared->openError);
    if (m_shared->exclusive == 0 && !setLock(m_shared->fd, F_WRLCK)) {
        if (errno != EACCES && errno != EAGAIN)
            throw unusable(errno);
        return;
    }
    ++m_shared->exclusive;
    m_acquired = true;
}

ExclusiveAliasUse::~ExclusiveAliasUse()
{
    if (!m_acquired)
        return;
    --m_shared->exclusive;
    m_shared->settle();
}

} // namespace store
