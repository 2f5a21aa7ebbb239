#pragma once

#include "alias.h"
#include "schema.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QVariant>
#include <memory>
#include <optional>
#include <vector>

typedef struct pg_conn PGconn;
typedef struct pg_result PGresult;
typedef unsigned int Oid;

namespace store {

class StoreError;

// A result of the server client library, freed with its owner.
class PgResult
{
public:
    PgResult() = default;
    explicit PgResult(PGresult *result) : m_result(result) {}
    ~PgResult();
    PgResult(PgResult &&other) noexcept : m_result(other.m_result) { other.m_result = nullptr; }
    PgResult &operator=(PgResult &&other) noexcept;
    PgResult(const PgResult &) = delete;
    PgResult &operator=(const PgResult &) = delete;

    PGresult *get() const { return m_result; }
    int rows() const;
    bool isNull(int row, int column) const;
    // Values of a result in binary form, checked against the expected size.
    double float8(int row, int column) const;
    qint64 integer(int row, int column) const; // int2, int4 or int8
    QString text(int row, int column) const;
    QByteArrayView bytes(int row, int column) const; // valid while the result lives
    bool boolean(int row, int column) const;
    // The value of a field of the table, or a blank value.
    QVariant value(int row, int column, FieldType type) const;

private:
    PGresult *m_result = nullptr;
};

// The parameters of one statement, every one bound in binary form (text
// for arrays of keys), never spliced into the statement's text.
class PgParams
{
public:
    void addNull(Oid type);
    void addFloat(double value);
    void addSmallInt(qint64 value);
    void addInt(qint64 value);
    void addBigInt(qint64 value);
    void addText(const QString &text);
    // A parameter in the server's text form: an array of keys ("{1,2,3}").
    void addTextForm(const QByteArray &text, Oid type);
    // A value of a field of the table, blank as NULL.
    void addValue(const FieldDef &field, const QVariant &value);

    int count() const { return int(m_data.size()); }
    const Oid *types() const { return m_types.data(); }
    const char *const *values() const;
    const int *lengths() const { return m_lengths.data(); }
    const int *formats() const { return m_formats.data(); }

private:
    void add(QByteArray data, bool null, Oid type, int format);
    std::vector<QByteArray> m_data;
    std::vector<bool> m_null;
    std::vector<Oid> m_types;
    std::vector<int> m_lengths;
    std::vector<int> m_formats;
    mutable std::vector<const char *> m_values;
};

// One write to a table of the server.
struct PgWrite
{
    enum Kind { Insert, Update, Remove } kind;
    int table = 0; // the session's number of the table
    Record record;
    qint64 key = 0;
    quint64 fields = 0; // an update's fields to write, one bit each; 0: all
};

// The connection of this process to the server of one alias, shared by its
// open tables: one transaction spans both tables (a Section is deleted with
// its Supports at once), and record locks are the session's advisory locks,
// which the server drops when the process or its connection dies. The
// session connects again on the first use after its connection was lost.
//
// Writes outside a bulk scope run one statement each and are committed when
// they return. Inside a bulk scope they are queued and sent in batches
// through the client library's pipeline, one round trip per batch; a write
// the server refuses is met at the next batch, which then commits what came
// before it (written once more when the server rolled it back) and reports
// the refusal.
class PgSession
{
public:
    // The session of an alias in this process, connected on first use.
    static std::shared_ptr<PgSession> of(const QString &alias, const ServerSettings &settings);
    ~PgSession();
    PgSession(const PgSession &) = delete;
    PgSession &operator=(const PgSession &) = delete;

    const ServerSettings &settings() const { return m_settings; }
    const QString &alias() const { return m_alias; }
    // How messages name the session's server.
    QString serverName() const;

    // A table the session works on: its number, listened to for changes.
    int addTable(const TableDef &def, Oid oid, const QString &sequence);
    const TableDef &table(int number) const { return *m_tables[size_t(number)].def; }

    // Runs a statement and returns its rows (binary form); throws the
    // store's error naming the table ("" for none) and what was being done.
    // Queued writes are sent first, so that the statement sees them.
    PgResult run(const QByteArray &sql, const PgParams &params, const QString &table, const QString &what);
    // The same for a statement prepared once per connection under its name.
    PgResult runPrepared(const QByteArray &name, const QByteArray &sql, const PgParams &params,
                         const QString &table, const QString &what);

    // Changes to a table made by others (other connections, and other
    // tables files of this process), as a counter that only grows; outside
    // a transaction it counts every commit that ended before the call.
    qint64 changesBy(int table, quint64 ownWrites);

    // Writes a record; gives its key (assigned to a new record).
    qint64 write(PgWrite &&write);
    // Counts this session's writes to a table (including those a refused
    // batch took back), for the stamps of its files.
    quint64 writesTo(int table) const { return m_tables[size_t(table)].writes; }

    void beginBulk();
    void endBulk();
    bool inBulk() const { return m_depth > 0; }
    void beginTransaction();
    void commitTransaction();
    void rollbackTransaction() noexcept;
    static void setBulkCommitInterval(int writes);

    void lock(int table, qint64 key);
    void unlock(int table, qint64 key);
    // Inside a bulk scope: the records first, first + 1, ... (count of them)
    // locked with one statement, all or none; lock and unlock of a record of
    // the run then cost no round trip. The run is let go when the next one is
    // taken or the outermost scope ends.
    bool lockRun(int table, qint64 first, int count);
    bool inRun(int table, qint64 key) const;

    // Runs a plain statement of the program's own (no values); for settings.
    void runPlain(const QByteArray &sql, const QString &what);

private:
    PgSession(const QString &alias, const ServerSettings &settings);

    struct Table
    {
        const TableDef *def = nullptr;
        Oid oid = 0;
        QString sequence;
        QByteArray channel;
        qint64 foreignChanges = 0;
        quint64 writes = 0;
        QHash<quint64, QByteArray> updates; // prepared updates by the fields they write
        std::vector<qint64> freeKeys;        // keys taken from the sequence, not used yet
        int keyBlock = 16;
        qint64 ownKeysUpTo = 0;  // the largest key written as given
        qint64 sequencePast = 0; // the sequence is known to be past this key
    };

    PGconn *connection();
    void connect();
    void dropConnection() noexcept;
    QString readOnlyRole(const QString &table) const;
    [[noreturn]] void fail(PGresult *result, const QString &table, const QString &what);
    [[noreturn]] void failConnection(const QString &what, PGresult *result = nullptr);
    StoreError refusal(PGresult *result, const QString &table, const QString &what, const PgWrite *write);
    void ensurePrepared(const QByteArray &name, const QByteArray &sql, const PgParams &params);
    void statementOf(const PgWrite &write, QByteArray &name, QByteArray &sql, PgParams &params);
    PgResult runWrite(const PgWrite &write);
    void consumeNotifications();
    qint64 nextKey(int table);
    qint64 insertOnce(PgWrite &&write);
    void advanceSequences();
    void relockIfLost(int table, qint64 key);
    void releaseRun() noexcept;

    void begin();
    void commit(const QString &table);
    void rollback() noexcept;
    QString lastTable() const;
    void flush();
    // Sends writes through the pipeline; the number of the first refused
    // one (-1: none) and the error.
    int sendBatch(const std::vector<PgWrite> &writes, std::optional<StoreError> &error);
    [[noreturn]] void rescue(std::vector<PgWrite> earlier, const StoreError &error);
    void rewrite(const std::vector<PgWrite> &writes);
    void tookBack();

    QString m_alias;
    ServerSettings m_settings;
    PGconn *m_conn = nullptr;
    std::optional<QString> m_password;
    quint64 m_generation = 0; // counts connections, so that statements are prepared once per connection
    QSet<QByteArray> m_prepared;
    std::vector<Table> m_tables;

    int m_depth = 0;
    bool m_atomic = false;
    bool m_inTransaction = false;
    bool m_aborted = false; // an all-or-nothing transaction the server refused part of
    std::vector<PgWrite> m_queued; // written by the callers, not yet sent
    std::vector<PgWrite> m_sent;   // sent and done, not yet committed

    // Record locks: keys per table, held how many times in this process; and
    // those held when the connection was lost, taken again before they are written.
    QHash<QPair<int, qint64>, int> m_locks;
    QSet<QPair<int, qint64>> m_lost;
    struct Run
    {
        int table = -1;
        qint64 first = 0;
        int count = 0;
        QSet<qint64> kept; // locked on their own while in the run, with no statement of their own
    };
    Run m_run;

    // A new record whose own write was sent but never confirmed (the
    // connection was lost before the answer): whether the server saved it is
    // not known. Posted again with the same values, it is looked up by its
    // key instead of being written a second time.
    struct Unconfirmed
    {
        int table = -1;
        qint64 key = 0;
        Record record;
    };
    std::optional<Unconfirmed> m_unconfirmed;
};

} // namespace store
