#pragma once

#include "condition.h"
#include "keytree.h"
#include "schema.h"

#include <QString>
#include <QVariant>
#include <functional>
#include <memory>
#include <optional>

namespace store {

// Which records of a table a scan offers and in which order: an index's
// fields (after the range field) and then the key; the records whose range
// field equals a value (a blank value selects the blank ones); the records
// that pass a condition.
struct ScanSpec
{
    QVector<int> orderFields;        // empty: the key alone
    int rangeField = -1;             // -1: no range
    QVariant rangeValue;             // invalid: blank
    std::optional<Condition> filter;
};

// Identifies the state of a table's file as one process sees it: changes
// committed by others and writes of our own each change it.
struct FileStamp
{
    qint64 otherChanges = 0;
    quint64 ownWrites = 0;
    bool operator==(const FileStamp &) const = default;
};

// One table of the store, open for reading and writing. A write that has
// returned is on disk, except inside a bulk scope, where the writes are
// committed together when the outermost scope ends. This is the interface a
// second backend would implement; the SQLite one is the only one today.
class TableFile
{
public:
    virtual ~TableFile();

    // Opens a table of an alias ("kor", "base_kor.db"); throws StoreError.
    static std::unique_ptr<TableFile> open(const QString &alias, const QString &tableName);

    const TableDef &def() const { return *m_def; }
    virtual QString path() const = 0;

    // Reading.
    virtual std::optional<Record> read(qint64 key) = 0;
    // Reads the records of the given keys (any order; missing keys are skipped).
    virtual void readMany(const QVector<qint64> &keys, const std::function<void(Record &&)> &sink) = 0;
    // Calls the sink with the key and the values of the order fields of
    // every record the scan selects, in scan order: blanks first, texts in
    // the order of their characters' code points.
    virtual void scanKeys(const ScanSpec &scan,
                          const std::function<void(qint64 key, const OrderValue *order)> &sink) = 0;
    // Calls the sink with every record the scan selects, whole, in scan order.
    virtual void scanRecords(const ScanSpec &scan, const std::function<void(Record &&)> &sink) = 0;
    virtual FileStamp stamp() = 0;

    // Writing. insert() assigns the key of a new record (its key field blank).
    // A record that names a missing record of another table (see ReferenceDef)
    // is refused with MissingReferenceError, checked in the same transaction
    // as the write; a record that others still name is not removed
    // (StillReferencedError).
    virtual void insert(Record &record) = 0;
    virtual void update(const Record &record) = 0;
    // The same, told the record as the file holds it now (read under the
    // record's lock), so that a backend may write only the fields that differ.
    virtual void updateChanged(const Record &record, const Record & /*onDisk*/) { update(record); }
    virtual void remove(qint64 key) = 0;

    // Bulk scopes nest; the outermost one holds one write transaction.
    virtual void beginBulk() = 0;
    virtual void endBulk() = 0;
    virtual bool inBulk() const = 0;

    // An all-or-nothing transaction (see TransactionScope): it never commits
    // part-way, a failed write leaves it open for the rollback, and bulk
    // scopes inside it commit nothing of their own.
    virtual void beginTransaction() = 0;
    virtual void commitTransaction() = 0;
    virtual void rollbackTransaction() noexcept = 0;

    // Record locks for editing (see RecordLocks).
    virtual void lockRecord(qint64 key) = 0;
    virtual void unlockRecord(qint64 key) = 0;
    // Inside a bulk scope, for a walk that edits one record after another:
    // the records first, first + 1, ... (count of them) are locked at once,
    // so that locking and unlocking each of them in turn costs nothing more.
    // The run is let go when the next one is taken or the scope ends. False,
    // and nothing locked, outside a bulk scope or when another user holds
    // any of them (the walk then meets that record's lock when it gets there).
    virtual bool lockRecordRun(qint64 first, int count) = 0;
    virtual bool inLockedRun(qint64 key) const = 0;

    // The store's refusal of a record that leaves a required field blank or
    // breaks the stored structure; checked before anything is written.
    void checkRecord(const Record &record) const;

    // Values of the file that the program cannot read (another tool wrote
    // them), found when it was opened: they read as blank. A text for the
    // user that names the file, the records and the fields; empty when all
    // is readable.
    const QString &unreadableValues() const { return m_unreadableValues; }

protected:
    explicit TableFile(const TableDef &def) : m_def(&def) {}
    void setUnreadableValues(const QString &text) { m_unreadableValues = text; }

private:
    const TableDef *m_def;
    QString m_unreadableValues;
};

// Runs its block inside one write transaction of a table: the writes of the
// block are committed once, when the outermost scope ends, whether the block
// ends normally or by an error (what was written before the error stays).
class BulkScope
{
public:
    explicit BulkScope(TableFile &file);
    ~BulkScope() noexcept(false);
    BulkScope(const BulkScope &) = delete;
    BulkScope &operator=(const BulkScope &) = delete;

private:
    TableFile &m_file;
    int m_uncaught;
};

// Runs its block as one write transaction of a table that is saved whole or
// not at all: the writes are committed by commit(); when the scope ends
// without it (an error, a cancelled command) every one of them is rolled
// back, and a process killed in the middle leaves the file as it was.
class TransactionScope
{
public:
    explicit TransactionScope(TableFile &file);
    ~TransactionScope();
    TransactionScope(const TransactionScope &) = delete;
    TransactionScope &operator=(const TransactionScope &) = delete;

    void commit();

private:
    TableFile &m_file;
    bool m_open = true;
};

} // namespace store
