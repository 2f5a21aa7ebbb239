#pragma once

#include <QString>
#include <memory>

namespace store {

// Record locks of one table, kept as POSIX byte-range locks on a side file
// next to it (one byte per record key). The operating system drops a lock
// when its process ends, however it ends. POSIX locks belong to the process,
// and closing any descriptor of the file drops them all, so every user of one
// side file in this process shares a single descriptor.
class RecordLocks
{
public:
    explicit RecordLocks(const QString &sideFile);
    ~RecordLocks();
    RecordLocks(const RecordLocks &) = delete;
    RecordLocks &operator=(const RecordLocks &) = delete;

    // Locks a record for writing; throws StoreError "Record locked by another
    // user" when another process holds it.
    void lock(qint64 key);
    void unlock(qint64 key);

    struct Shared; // the descriptor and the keys this process holds

private:
    std::shared_ptr<Shared> m_shared;
};

} // namespace store
