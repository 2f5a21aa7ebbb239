#include "recordlock.h"

#include "error.h"

#include <QFile>
#include <QHash>
#include <QMap>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace store {

struct RecordLocks::Shared
{
    QString path;
    int fd = -1;
    QHash<qint64, int> held; // key -> number of holders in this process

    ~Shared()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

namespace {

// One descriptor per side file for the whole process.
QMap<QString, std::weak_ptr<RecordLocks::Shared>> &registry()
{
    static QMap<QString, std::weak_ptr<RecordLocks::Shared>> map;
    return map;
}

bool setLock(int fd, short type, qint64 key)
{
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(key);
    fl.l_len = 1;
    return ::fcntl(fd, F_SETLK, &fl) == 0;
}

} // namespace

RecordLocks::RecordLocks(const QString &sideFile)
{
    auto &map = registry();
    m_shared = map.value(sideFile).lock();
    if (m_shared)
        return;
    m_shared = std::make_shared<Shared>();
    m_shared->path = sideFile;
    // As SQLite opens its own files: never through a symbolic link, never
    // inherited by a child process, and not writable by everyone.
    m_shared->fd = ::open(QFile::encodeName(sideFile).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (m_shared->fd < 0)
        throw StoreError(QStringLiteral("The lock file '%1' cannot be opened: %2")
                             .arg(sideFile, QString::fromLocal8Bit(std::strerror(errno))));
    map.insert(sideFile, m_shared);
}

RecordLocks::~RecordLocks() = default;

void RecordLocks::lock(qint64 key)
{
    if (key < 0)
        return;
    int &count = m_shared->held[key];
    if (count == 0 && !setLock(m_shared->fd, F_WRLCK, key)) {
        m_shared->held.remove(key);
        if (errno == EACCES || errno == EAGAIN)
            throw StoreError(QStringLiteral("Record locked by another user"));
        throw StoreError(QStringLiteral("The record cannot be locked: %1")
                             .arg(QString::fromLocal8Bit(std::strerror(errno))));
    }
    ++count;
}

void RecordLocks::unlock(qint64 key)
{
    auto it = m_shared->held.find(key);
    if (it == m_shared->held.end())
        return;
    if (--it.value() == 0) {
        m_shared->held.erase(it);
        setLock(m_shared->fd, F_UNLCK, key);
    }
}

} // namespace store
