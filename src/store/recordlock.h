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

    // A run of records locked with one call, for a walk that edits them in
    // turn: lock() and unlock() of a record inside it cost no system call.
    // One run at a time: taking the next lets the last one go. False, and
    // nothing locked, when another process holds any of them.
    bool lockRun(qint64 first, int count);
    bool inRun(qint64 key) const;
    void releaseRun();

    struct Shared; // the descriptor and the keys this process holds

private:
    std::shared_ptr<Shared> m_shared;
};

} // namespace store
