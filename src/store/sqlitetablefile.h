#pragma once

#include "recordlock.h"
#include "tablefile.h"

#include <QSqlDatabase>
#include <QSet>
#include <QSqlQuery>
#include <map>
#include <memory>
#include <optional>
#include <vector>

struct sqlite3;

namespace store {

// A table kept in an SQLite file of its own, reached through Qt's QSQLITE
// driver: WAL journal, synchronous commits, a busy timeout, and every value
// bound as a parameter.
class SqliteTableFile : public TableFile
{
public:
    // create: the file does not exist yet and is made with the table's
    // definition (only ever in an alias's default folder).
    SqliteTableFile(const TableDef &def, const QString &path, bool create);
    ~SqliteTableFile() override;

    QString path() const override { return m_path; }

    std::optional<Record> read(qint64 key) override;
    void readMany(const QVector<qint64> &keys, const std::function<void(Record &&)> &sink) override;
    void scanKeys(const ScanSpec &scan,
                  const std::function<void(qint64 key, const double *order)> &sink) override;
    void scanRecords(const ScanSpec &scan, const std::function<void(Record &&)> &sink) override;
    FileStamp stamp() override;

    void insert(Record &record) override;
    void update(const Record &record) override;
    void updateChanged(const Record &record, const Record &onDisk) override;
    void remove(qint64 key) override;

    void beginBulk() override;
    void endBulk() override;
    bool inBulk() const override { return m_bulkDepth > 0; }

    void beginTransaction() override;
    void commitTransaction() override;
    void rollbackTransaction() noexcept override;

    void lockRecord(qint64 key) override;
    void unlockRecord(qint64 key) override;

    void setTestPragma(const QString &name, qint64 value) override;
    void setBulkCommitInterval(int writes) override;

private:
    // A write of the current bulk transaction, kept so that it can be written
    // again when SQLite rolls the whole transaction back (a full disk does).
    struct Write
    {
        enum Kind { Insert, Update, Remove } kind;
        Record record;
        qint64 key;
        quint64 fields = 0; // an update's fields to write, one bit each; 0: all
    };

    void openConnection(bool create);
    void closeConnection();
    void checkAccess();
    void createTable();
    void checkContents();
    void checkStructure();
    void findUnreadableValues(const QStringList &columns);
    void checkReferences(const Record &record);
    void removeReferenced(qint64 key);
    QSqlQuery prepare(const QString &sql);
    QString scanSql(const ScanSpec &scan, const QStringList &columns, QVariantList &binds) const;
    sqlite3 *handle() const;
    void exec(QSqlQuery &query, const QString &what);
    void execSql(const QString &sql, const QString &what);
    QString sqlState(const QString &sql);
    [[noreturn]] void fail(const QSqlError &error, const QString &what);

    void apply(const Write &write);
    void write(Write &&write);
    void begin();
    void commit();
    enum class BulkFailure { Write, Commit };
    void rescueBulk(BulkFailure failure);
    void rewrite(const std::vector<Write> &writes);
    static int commitHook(void *file);
    Record fetch(QSqlQuery &query) const;

    // Binds the parameters of one prepared statement, skipping values that
    // are bound already.
    class Binder
    {
    public:
        void bind(QSqlQuery &query, int index, const QVariant &value);

    private:
        std::vector<std::optional<QVariant>> m_bound;
    };

    // A table that records of this one name, attached read-only to this
    // connection so that the named record is looked up inside the write
    // transaction; the keys found are kept until the transaction ends.
    struct Reference
    {
        ReferenceDef def;
        const TableDef *table = nullptr;
        QString schema;
        std::unique_ptr<QSqlQuery> exists;
        QSet<qint64> found;
    };
    std::vector<Reference> m_references;

    QString m_path;
    QString m_connection;
    QSqlDatabase m_db;
    std::unique_ptr<RecordLocks> m_locks;

    std::unique_ptr<QSqlQuery> m_insert, m_update, m_remove, m_read, m_readMany, m_versionQuery;
    std::unique_ptr<QSqlQuery> m_begin, m_commit, m_rollback;
    Binder m_insertBinder, m_updateBinder;
    // Updates of some fields only, by the fields they write (prepared on first use).
    struct PartialUpdate
    {
        std::unique_ptr<QSqlQuery> query;
        Binder binder;
    };
    std::map<quint64, PartialUpdate> m_partialUpdates;
    PartialUpdate &partialUpdate(quint64 fields);

    int m_bulkDepth = 0;
    // Inside an all-or-nothing transaction: no part-way commits, no rescue.
    bool m_atomic = false;
    bool m_inTransaction = false;
    bool m_versionKnownInTransaction = false;
    qint64 m_dataVersion = 0;
    quint64 m_ownWrites = 0;
    qint64 m_lastInsertKey = 0;
    int m_bulkCommitEvery;
    std::vector<Write> m_bulkWrites;
    int m_failCommits = 0;
};

} // namespace store
