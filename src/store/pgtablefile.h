#pragma once

#include "pgsession.h"
#include "tablefile.h"

#include <memory>

namespace store {

// A table of the program on a database server (PostgreSQL), reached through
// the server's own client library: records read and written in binary form
// with bound parameters, in index order, record locks as the session's
// advisory locks, other users' changes announced by the table's trigger.
class PgTableFile : public TableFile
{
public:
    PgTableFile(const TableDef &def, const QString &alias, const ServerSettings &settings);
    ~PgTableFile() override;

    QString path() const override;

    std::optional<Record> read(qint64 key) override;
    void readMany(const QVector<qint64> &keys, const std::function<void(Record &&)> &sink) override;
    void scanKeys(const ScanSpec &scan,
                  const std::function<void(qint64 key, const OrderValue *order)> &sink) override;
    void scanRecords(const ScanSpec &scan, const std::function<void(Record &&)> &sink) override;
    FileStamp stamp() override;

    void insert(Record &record) override;
    void update(const Record &record) override;
    void updateChanged(const Record &record, const Record &onDisk) override;
    void remove(qint64 key) override;

    void beginBulk() override;
    void endBulk() override;
    bool inBulk() const override;

    void beginTransaction() override;
    void commitTransaction() override;
    void rollbackTransaction() noexcept override;

    void lockRecord(qint64 key) override;
    void unlockRecord(qint64 key) override;
    // Inside a bulk scope a run of records is locked with one statement.
    bool lockRecordRun(qint64 first, int count) override;
    bool inLockedRun(qint64 key) const override;

    // A bulk transaction commits by itself after this many writes, in every
    // session of the process (0: the store's own interval).
    static void setBulkCommitInterval(int writes);

private:
    QByteArray scanSql(const ScanSpec &scan, const QByteArray &columns, PgParams &params) const;
    Record record(const PgResult &result, int row) const;
    void findUnreadableValues();
    void write(PgWrite &&write);

    std::shared_ptr<PgSession> m_session;
    int m_table = 0;
    quint64 m_ownWrites = 0;
    int m_bulkDepth = 0;
    bool m_atomic = false;
};

} // namespace store
