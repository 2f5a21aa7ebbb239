#pragma once

#include "recordlock.h"
#include "tablefile.h"

#include <QSqlDatabase>
#include <QSet>
#include <QSqlQuery>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace store {

// A table kept in an SQLite file of its own, opened through Qt's QSQLITE
// driver: WAL journal, synchronous commits, a busy timeout, and every value
// bound as a parameter. The statements of every record's path (reading,
// writing, the transactions, the change check) go straight to SQLite's own
// interface, which costs a fraction of QSqlQuery's per call.
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
                  const std::function<void(qint64 key, const OrderValue *order)> &sink) override;
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
    bool lockRecordRun(qint64 first, int count) override;
    bool inLockedRun(qint64 key) const override;

    // A bulk transaction commits by itself after this many writes, in every
    // table file of the process (0: the store's own interval).
    static void setBulkCommitInterval(int writes);

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

    // A statement prepared once, finalized with its owner.
    class Statement
    {
    public:
        Statement() = default;
        explicit Statement(sqlite3_stmt *statement) : m_statement(statement) {}
        ~Statement();
        Statement(Statement &&other) noexcept : m_statement(std::exchange(other.m_statement, nullptr)) {}
        Statement &operator=(Statement &&other) noexcept;
        sqlite3_stmt *get() const { return m_statement; }

    private:
        sqlite3_stmt *m_statement = nullptr;
    };
    Statement compile(const QString &sql);
    // One step: true for a row, false when done; a failure resets the
    // statement and throws.
    bool step(const Statement &statement, const QString &what);
    // Runs a statement that returns no rows and resets it.
    void run(const Statement &statement, const QString &what);
    void bind(const Statement &statement, int index, const QVariant &value);
    Record readRow(sqlite3_stmt *statement) const;
    [[noreturn]] void failLast(const QString &what);
    // Rolls the open transaction back, whatever state SQLite left it in.
    void rollbackQuietly() noexcept;
    // A commit that may fail: false, the transaction still open or rolled
    // back by SQLite, and the reason kept for failLast.
    bool tryCommit();

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
    [[noreturn]] void fail(int code, const QString &detail, const QString &what);

    void apply(const Write &write);
    void write(Write &&write);
    void begin();
    void commit();
    enum class BulkFailure { Write, Commit };
    void rescueBulk(BulkFailure failure);
    void rewrite(const std::vector<Write> &writes);

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

    Statement m_insert, m_update, m_remove, m_read, m_readMany, m_readStretch, m_versionQuery;
    Statement m_begin, m_commit, m_rollback;
    // Updates of some fields only, by the fields they write (prepared on first use).
    std::map<quint64, Statement> m_partialUpdates;
    const Statement &partialUpdate(quint64 fields);
    int m_lastCode = 0;     // the last failure's SQLite code and text, for failLast
    QString m_lastDetail;

    int m_bulkDepth = 0;
    // Inside an all-or-nothing transaction: no part-way commits, no rescue.
    bool m_atomic = false;
    bool m_inTransaction = false;
    bool m_versionKnownInTransaction = false;
    qint64 m_dataVersion = 0;
    quint64 m_ownWrites = 0;
    qint64 m_lastInsertKey = 0;
    std::vector<Write> m_bulkWrites;
};

} // namespace store
