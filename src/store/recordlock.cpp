#include "recordlock.h"

#include "error.h"

#include <QFile>
#include <QHash>
#include <QMap>
#include <algorithm>
#include <vector>
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
    struct Run
    {
        const RecordLocks *owner;
        qint64 first;
        qint64 end;
    };
    std::vector<Run> runs; // the runs the users of the file in this process hold

    bool covered(qint64 key, const RecordLocks *except = nullptr) const
    {
        for (const Run &run : runs)
            if (run.owner != except && key >= run.first && key < run.end)
                return true;
        return false;
    }

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

bool setLock(int fd, short type, qint64 key, qint64 length = 1)
{
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(key);
    fl.l_len = static_cast<off_t>(length);
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

RecordLocks::~RecordLocks()
{
    releaseRun();
}

void RecordLocks::lock(qint64 key)
{
    if (key < 0)
        return;
    int &count = m_shared->held[key];
    if (count == 0 && !m_shared->covered(key) && !setLock(m_shared->fd, F_WRLCK, key)) {
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
        if (!m_shared->covered(key))
            setLock(m_shared->fd, F_UNLCK, key);
    }
}

bool RecordLocks::lockRun(qint64 first, int count)
{
    releaseRun();
    if (first < 0 || count < 1)
        return false;
    if (!setLock(m_shared->fd, F_WRLCK, first, count))
        return false;
    m_shared->runs.push_back({this, first, first + count});
    return true;
}

bool RecordLocks::inRun(qint64 key) const
{
    for (const Shared::Run &run : m_shared->runs)
        if (run.owner == this && key >= run.first && key < run.end)
            return true;
    return false;
}

void RecordLocks::releaseRun()
{
    auto &runs = m_shared->runs;
    const auto it = std::find_if(runs.begin(), runs.end(), [this](const Shared::Run &run) { return run.owner == this; });
    if (it == runs.end())
        return;
    const Shared::Run run = *it;
    runs.erase(it);
    // The records of the run that are still held, alone or by another run,
    // stay locked; the rest are let go a stretch at a time.
    qint64 start = run.first;
    for (qint64 key = run.first; key <= run.end; ++key) {
        const bool keep = key < run.end && (m_shared->held.contains(key) || m_shared->covered(key));
        if (key == run.end || keep) {
            if (key > start)
                setLock(m_shared->fd, F_UNLCK, start, key - start);
            start = key + 1;
        }
    }
}

} // namespace store
