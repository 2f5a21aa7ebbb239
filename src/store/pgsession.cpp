#include "pgsession.h"

#include "error.h"
#include "password.h"
#include "pgschema.h"

#include <QMap>
#include <QThread>
#include <QtEndian>
#include <bit>
#include <cmath>
#include <cerrno>
#include <cstring>
#include <libpq-fe.h>
#include <poll.h>

namespace store {

namespace {

// Writes sent in one round trip inside a bulk scope.
constexpr size_t kBatch = 512;
// As for the table files: a bulk transaction commits by itself after this
// many writes, which bounds what is kept for writing them again.
constexpr int kCommitEvery = 100000;
int g_commitEvery = kCommitEvery;
// Keys taken from a table's sequence at once inside a bulk scope, at most.
constexpr int kLargestKeyBlock = 4096;

QByteArray bigEndian(quint64 value, int bytes)
{
    QByteArray data(bytes, Qt::Uninitialized);
    for (int i = bytes - 1; i >= 0; --i, value >>= 8)
        data[i] = char(value & 0xff);
    return data;
}

// The server's or the client library's text on one line (libpq gives
// several, one per thing that went wrong), for a message box.
QString serverText(const char *text)
{
    return QString::fromUtf8(text ? text : "").simplified();
}

QString field(PGresult *result, int code)
{
    return serverText(result ? PQresultErrorField(result, code) : nullptr);
}

void ignoreNotice(void *, const PGresult *) {}

// One process's sessions, by alias and settings: every table of an alias
// shares its connection.
QMap<QString, std::weak_ptr<PgSession>> &sessions()
{
    static QMap<QString, std::weak_ptr<PgSession>> map;
    return map;
}

} // namespace

PgResult::~PgResult()
{
    if (m_result)
        PQclear(m_result);
}

PgResult &PgResult::operator=(PgResult &&other) noexcept
{
    if (this != &other) {
        if (m_result)
            PQclear(m_result);
        m_result = other.m_result;
        other.m_result = nullptr;
    }
    return *this;
}

int PgResult::rows() const
{
    return m_result ? PQntuples(m_result) : 0;
}

bool PgResult::isNull(int row, int column) const
{
    return PQgetisnull(m_result, row, column) != 0;
}

double PgResult::float8(int row, int column) const
{
    if (PQgetlength(m_result, row, column) != 8)
        throw StoreError(QStringLiteral("The database server sent a number the program cannot read"));
    return std::bit_cast<double>(qFromBigEndian<quint64>(PQgetvalue(m_result, row, column)));
}

qint64 PgResult::integer(int row, int column) const
{
    const char *data = PQgetvalue(m_result, row, column);
    switch (PQgetlength(m_result, row, column)) {
    case 2:
        return qFromBigEndian<qint16>(data);
    case 4:
        return qFromBigEndian<qint32>(data);
    case 8:
        return qFromBigEndian<qint64>(data);
    default:
        throw StoreError(QStringLiteral("The database server sent a number the program cannot read"));
    }
}

QString PgResult::text(int row, int column) const
{
    return QString::fromUtf8(PQgetvalue(m_result, row, column), PQgetlength(m_result, row, column));
}

QByteArrayView PgResult::bytes(int row, int column) const
{
    return QByteArrayView(PQgetvalue(m_result, row, column), PQgetlength(m_result, row, column));
}

bool PgResult::boolean(int row, int column) const
{
    return PQgetlength(m_result, row, column) == 1 && *PQgetvalue(m_result, row, column) != 0;
}

QVariant PgResult::value(int row, int column, FieldType type) const
{
    if (isNull(row, column))
        return {};
    switch (type) {
    case FieldType::Float: {
        const double d = float8(row, column);
        // Another tool may have written NaN, which no field of ours holds:
        // it reads as blank, like any value the program cannot read.
        return std::isnan(d) ? QVariant() : QVariant(d);
    }
    case FieldType::Text:
        return text(row, column);
    case FieldType::AutoInc:
    case FieldType::SmallInt:
        return integer(row, column);
    }
    return {};
}

void PgParams::add(QByteArray data, bool null, Oid type, int format)
{
    m_lengths.push_back(int(data.size()));
    m_data.push_back(std::move(data));
    m_null.push_back(null);
    m_types.push_back(type);
    m_formats.push_back(format);
}

void PgParams::addNull(Oid type)
{
    add(QByteArray(), true, type, 1);
}

void PgParams::addFloat(double value)
{
    add(bigEndian(std::bit_cast<quint64>(value), 8), false, pg::kFloat8, 1);
}

void PgParams::addSmallInt(qint64 value)
{
    add(bigEndian(quint64(value), 2), false, pg::kInt2, 1);
}

void PgParams::addInt(qint64 value)
{
    add(bigEndian(quint64(value), 4), false, pg::kInt4, 1);
}

void PgParams::addBigInt(qint64 value)
{
    add(bigEndian(quint64(value), 8), false, pg::kInt8, 1);
}

void PgParams::addText(const QString &text)
{
    add(validText(text).toUtf8(), false, pg::kText, 1);
}

void PgParams::addTextForm(const QByteArray &text, Oid type)
{
    add(text, false, type, 0);
}

void PgParams::addValue(const FieldDef &field, const QVariant &value)
{
    const Oid type = pg::typeOf(field.type);
    if (!value.isValid() || value.isNull()) {
        addNull(type);
        return;
    }
    switch (field.type) {
    case FieldType::Float:
        addFloat(value.toDouble());
        break;
    case FieldType::SmallInt:
        addSmallInt(value.toLongLong());
        break;
    case FieldType::AutoInc:
        addInt(value.toLongLong());
        break;
    case FieldType::Text:
        addText(value.toString());
        break;
    }
}

const char *const *PgParams::values() const
{
    m_values.clear();
    for (size_t i = 0; i < m_data.size(); ++i)
        m_values.push_back(m_null[i] ? nullptr : m_data[i].constData());
    return m_values.data();
}

std::shared_ptr<PgSession> PgSession::of(const QString &alias, const ServerSettings &settings)
{
    const QString name = alias + QLatin1Char('\n') + settings.host + QLatin1Char('\n') + settings.port
                         + QLatin1Char('\n') + settings.database + QLatin1Char('\n') + settings.user;
    std::shared_ptr<PgSession> session = sessions().value(name).lock();
    if (session && session->m_settings == settings)
        return session;
    session.reset(new PgSession(alias, settings));
    sessions().insert(name, session);
    return session;
}

PgSession::PgSession(const QString &alias, const ServerSettings &settings)
    : m_alias(alias), m_settings(settings)
{
}

PgSession::~PgSession()
{
    if (m_atomic)
        rollbackTransaction();
    if (m_inTransaction && m_conn) {
        try {
            flush();
            commit(lastTable());
        } catch (const SystemError &e) {
            qWarning("%s", e.what());
        }
    }
    dropConnection();
}

QString PgSession::serverName() const
{
    return m_settings.description();
}

int PgSession::addTable(const TableDef &def, Oid oid, const QString &sequence)
{
    for (size_t i = 0; i < m_tables.size(); ++i) {
        if (m_tables[i].def == &def) {
            m_tables[i].oid = oid;
            m_tables[i].sequence = sequence;
            return int(i);
        }
    }
    Table t;
    t.def = &def;
    t.oid = oid;
    t.sequence = sequence;
    t.channel = pg::channel(def);
    m_tables.push_back(std::move(t));
    runPlain("LISTEN " + m_tables.back().channel, QStringLiteral("opening"));
    return int(m_tables.size() - 1);
}

PGconn *PgSession::connection()
{
    if (!m_conn || PQstatus(m_conn) != CONNECTION_OK) {
        // A transaction is never carried over to a new connection silently.
        if (m_inTransaction)
            failConnection(QStringLiteral("writing"));
        dropConnection();
        connect();
    }
    return m_conn;
}

void PgSession::dropConnection() noexcept
{
    if (m_conn)
        PQfinish(m_conn);
    m_conn = nullptr;
}

// Every connection setting comes from the alias's known settings or is the
// program's own; the database name is never read as a connection string.
void PgSession::connect()
{
    for (int attempt = 0;; ++attempt) {
        std::vector<QByteArray> keys, values;
        auto add = [&](const char *key, const QString &value) {
            if (value.isEmpty())
                return;
            keys.emplace_back(key);
            values.push_back(value.toUtf8());
        };
        const ServerSettings &s = m_settings;
        add("host", s.host);
        add("port", s.port);
        add("dbname", s.database);
        add("user", s.user);
        add("sslmode", s.sslmode);
        add("sslrootcert", s.sslrootcert);
        add("sslcert", s.sslcert);
        add("sslkey", s.sslkey);
        add("connect_timeout", s.connectTimeout.isEmpty() ? QStringLiteral("10") : s.connectTimeout);
        add("application_name", QStringLiteral("korozia"));
        add("client_encoding", QStringLiteral("UTF8"));
        // A write that meets another user's uncommitted change to the same
        // record waits for it a few seconds, as a table file waits for a
        // busy one; a network that goes away is noticed within a minute.
        add("options", QStringLiteral("-c lock_timeout=5000"));
        add("keepalives_idle", QStringLiteral("15"));
        add("keepalives_interval", QStringLiteral("5"));
        add("keepalives_count", QStringLiteral("3"));
        add("tcp_user_timeout", QStringLiteral("30000"));
        if (m_password)
            add("password", *m_password);
        std::vector<const char *> k, v;
        for (size_t i = 0; i < keys.size(); ++i) {
            k.push_back(keys[i].constData());
            v.push_back(values[i].constData());
        }
        k.push_back(nullptr);
        v.push_back(nullptr);
        PGconn *conn = PQconnectdbParams(k.data(), v.data(), 0);
        if (conn && PQstatus(conn) == CONNECTION_OK) {
            m_conn = conn;
            break;
        }
        const QString why = conn ? serverText(PQerrorMessage(conn)) : QStringLiteral("out of memory");
        const bool needsPassword = conn && PQconnectionNeedsPassword(conn);
        const bool refused = conn && PQconnectionUsedPassword(conn) && m_password.has_value();
        PasswordRequest request{m_alias, serverName(), m_settings.user, refused, {}, {}, {}};
        if (conn) {
            request.host = QString::fromUtf8(PQhost(conn));
            request.port = QString::fromUtf8(PQport(conn));
            request.database = QString::fromUtf8(PQdb(conn));
            if (request.user.isEmpty())
                request.user = QString::fromUtf8(PQuser(conn));
            PQfinish(conn);
        }
        if ((needsPassword || refused) && attempt < 3) {
            if (const std::optional<QString> password = askPassword(request)) {
                m_password = *password;
                continue;
            }
            throw StoreError(QStringLiteral("The database server %1 of alias '%2' asks for a password, and none "
                                            "was given (put it in ~/.pgpass to be asked no more)")
                                 .arg(serverName(), m_alias));
        }
        throw StoreError(QStringLiteral("The database server %1 of alias '%2' cannot be reached: %3")
                             .arg(serverName(), m_alias, why));
    }
    PQsetNoticeReceiver(m_conn, &ignoreNotice, nullptr);
    if (PQserverVersion(m_conn) < 100000) {
        dropConnection();
        throw StoreError(QStringLiteral("The database server %1 is too old: the program needs PostgreSQL 10 or later")
                             .arg(serverName()));
    }
    ++m_generation;
    m_prepared.clear();
    for (Table &t : m_tables) {
        runPlain("LISTEN " + t.channel, QStringLiteral("opening"));
        t.freeKeys.clear();
    }
    if (m_generation > 1) {
        // The views read the tables again, and the record locks held before
        // are taken again before their records are written.
        for (Table &t : m_tables)
            ++t.foreignChanges;
        for (auto it = m_locks.cbegin(); it != m_locks.cend(); ++it)
            m_lost.insert(it.key());
        m_run = Run();
    }
}

void PgSession::runPlain(const QByteArray &sql, const QString &what)
{
    PGconn *conn = connection();
    PgResult result(PQexec(conn, sql.constData()));
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        fail(result.get(), QString(), what);
}

// The store's own text for a refusal of the server; the connection's loss
// is told apart by the caller.
StoreError PgSession::refusal(PGresult *result, const QString &table, const QString &what, const PgWrite *write)
{
    const QString state = field(result, PG_DIAG_SQLSTATE);
    QString detail = field(result, PG_DIAG_MESSAGE_PRIMARY);
    if (detail.isEmpty())
        detail = m_conn ? serverText(PQerrorMessage(m_conn)) : QString();
    const QString name = table.isEmpty() ? QStringLiteral("the database") : QStringLiteral("the table '%1'").arg(table);
    if (state == QLatin1String("23503") && write) {
        const TableDef &def = this->table(write->table);
        if (write->kind == PgWrite::Remove) {
            for (const TableDef *other : referringTables(def))
                for (const ReferenceDef &r : other->references)
                    if (r.table.compare(def.fileName, Qt::CaseInsensitive) == 0)
                        return StillReferencedError(r.stillNamedMessage);
        } else if (!def.references.isEmpty()) {
            return MissingReferenceError(def.references.first().missingMessage);
        }
    }
    if (state.startsWith(QLatin1String("23")))
        return StoreError(QStringLiteral("The table '%1' refused the record (%2)").arg(table, detail));
    if (state == QLatin1String("25006"))
        return StoreError(QStringLiteral("%1 cannot be written (the database is read-only); nothing was changed")
                              .arg(name.left(1).toUpper() + name.mid(1)));
    if (state == QLatin1String("42501"))
        return StoreError(readOnlyRole(table.isEmpty() ? QStringLiteral("?") : table));
    if (state == QLatin1String("40001") || state == QLatin1String("40P01"))
        return StoreError(QStringLiteral("The change to '%1' met another user's change of the same records at the "
                                         "same moment and was not saved; try again")
                              .arg(table));
    if (state == QLatin1String("55P03"))
        return StoreError(
            QStringLiteral("The table '%1' is busy: another user is writing the same records. Try again later").arg(table));
    if (state == QLatin1String("53100"))
        return StoreError(QStringLiteral("The database server's disk is full: the change to '%1' could not be saved")
                              .arg(table));
    return StoreError(QStringLiteral("Error while %1 %2: %3").arg(what, name, detail));
}

QString PgSession::readOnlyRole(const QString &table) const
{
    return QStringLiteral("The table '%1' cannot be written (it is read-only for the user '%2'); nothing was changed")
        .arg(table, m_settings.user.isEmpty() ? QString::fromLocal8Bit(qgetenv("USER")) : m_settings.user);
}

void PgSession::fail(PGresult *result, const QString &table, const QString &what)
{
    if (!m_conn || PQstatus(m_conn) != CONNECTION_OK)
        failConnection(what, result);
    throw refusal(result, table, what, nullptr);
}

// The connection is gone, and with it the transaction and the record locks
// of this session; the next command connects again.
void PgSession::failConnection(const QString &what, PGresult *result)
{
    const QString why = m_conn ? serverText(PQerrorMessage(m_conn)) : QString();
    const bool shuttingDown = field(result, PG_DIAG_SQLSTATE).startsWith(QLatin1String("57P"));
    dropConnection();
    const bool lostWrites = m_inTransaction;
    m_inTransaction = false;
    m_aborted = m_atomic;
    m_queued.clear();
    m_sent.clear();
    tookBack();
    QString text = shuttingDown ? QStringLiteral("The database server %1 is shutting down").arg(serverName())
                                : QStringLiteral("The connection to the database server %1 was lost while %2 (%3)")
                                      .arg(serverName(), what, why.isEmpty() ? QStringLiteral("no answer") : why);
    text += lostWrites ? QStringLiteral("; the changes of the running command were not saved")
                       : QStringLiteral("; the change was not confirmed by the server");
    text += QStringLiteral(". The next command connects again");
    throw StoreError(text);
}

void PgSession::tookBack()
{
    for (Table &t : m_tables)
        ++t.foreignChanges;
}

void PgSession::ensurePrepared(const QByteArray &name, const QByteArray &sql, const PgParams &params)
{
    if (m_prepared.contains(name))
        return;
    PgResult result(PQprepare(connection(), name.constData(), sql.constData(), params.count(), params.types()));
    if (PQresultStatus(result.get()) != PGRES_COMMAND_OK)
        fail(result.get(), QString(), QStringLiteral("preparing a statement for"));
    m_prepared.insert(name);
}

PgResult PgSession::run(const QByteArray &sql, const PgParams &params, const QString &table, const QString &what)
{
    flush();
    PGconn *conn = connection();
    PgResult result(PQexecParams(conn, sql.constData(), params.count(), params.types(), params.values(),
                                 params.lengths(), params.formats(), 1));
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        fail(result.get(), table, what);
    return result;
}

PgResult PgSession::runPrepared(const QByteArray &name, const QByteArray &sql, const PgParams &params,
                                const QString &table, const QString &what)
{
    flush();
    PGconn *conn = connection();
    ensurePrepared(name, sql, params);
    PgResult result(PQexecPrepared(conn, name.constData(), params.count(), params.values(), params.lengths(),
                                   params.formats(), 1));
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        fail(result.get(), table, what);
    return result;
}

void PgSession::consumeNotifications()
{
    if (!m_conn || PQstatus(m_conn) != CONNECTION_OK || PQpipelineStatus(m_conn) != PQ_PIPELINE_OFF)
        return;
    if (!PQconsumeInput(m_conn)) {
        // The next statement meets the trouble; until then the views read again.
        tookBack();
        return;
    }
    const int self = PQbackendPID(m_conn);
    while (PGnotify *notice = PQnotifies(m_conn)) {
        if (notice->be_pid != self)
            for (Table &t : m_tables)
                if (t.channel == notice->relname)
                    ++t.foreignChanges;
        PQfreemem(notice);
    }
}

qint64 PgSession::changesBy(int table, quint64 ownWrites)
{
    // Outside a transaction, an empty statement's round trip brings every
    // notice of a commit that ended before it: the server sends them ahead
    // of its answer, so what another user committed is counted at once.
    if (!m_inTransaction && m_conn && PQstatus(m_conn) == CONNECTION_OK
        && PQpipelineStatus(m_conn) == PQ_PIPELINE_OFF) {
        PgResult answer(PQexec(m_conn, ""));
        if (PQresultStatus(answer.get()) != PGRES_EMPTY_QUERY)
            tookBack();
    }
    consumeNotifications();
    const Table &t = m_tables[size_t(table)];
    return t.foreignChanges + qint64(t.writes - ownWrites);
}

// The statement of a write, its name (prepared once per connection) and
// its parameters.
void PgSession::statementOf(const PgWrite &w, QByteArray &name, QByteArray &sql, PgParams &params)
{
    const TableDef &t = table(w.table);
    const QByteArray prefix = 'w' + QByteArray::number(w.table) + '_';
    const QByteArray tableName = pg::tableName(t);
    const QByteArray key = pg::column(t, t.keyField);
    switch (w.kind) {
    case PgWrite::Insert: {
        // Every new record has its key by now (from the table's sequence).
        name = prefix + "insert";
        QByteArray marks;
        for (int i = 0; i < t.fields.size(); ++i) {
            params.addValue(t.fields[i], w.record.value(i));
            marks += (marks.isEmpty() ? "$" : ",$") + QByteArray::number(params.count());
        }
        sql = "INSERT INTO " + tableName + " (" + pg::columnList(t) + ") VALUES (" + marks + ")";
        break;
    }
    case PgWrite::Update: {
        name = prefix + "update" + QByteArray::number(w.fields, 16);
        QByteArray sets;
        for (int i = 0; i < t.fields.size(); ++i) {
            if (i == t.keyField || (w.fields != 0 && !(w.fields >> i & 1)))
                continue;
            params.addValue(t.fields[i], w.record.value(i));
            sets += (sets.isEmpty() ? "" : ",") + pg::column(t, i) + "=$" + QByteArray::number(params.count());
        }
        params.addInt(w.key);
        sql = "UPDATE " + tableName + " SET " + sets + " WHERE " + key + "=$" + QByteArray::number(params.count());
        break;
    }
    case PgWrite::Remove:
        name = prefix + "remove";
        params.addInt(w.key);
        sql = "DELETE FROM " + tableName + " WHERE " + key + "=$1";
        break;
    }
}

PgResult PgSession::runWrite(const PgWrite &w)
{
    QByteArray name, sql;
    PgParams params;
    statementOf(w, name, sql, params);
    PGconn *conn = connection();
    ensurePrepared(name, sql, params);
    PgResult result(PQexecPrepared(conn, name.constData(), params.count(), params.values(), params.lengths(),
                                   params.formats(), 1));
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        if (PQstatus(conn) != CONNECTION_OK)
            failConnection(QStringLiteral("writing"), result.get());
        throw refusal(result.get(), table(w.table).sqlName, QStringLiteral("writing"), &w);
    }
    if (w.kind == PgWrite::Update && qstrcmp(PQcmdTuples(result.get()), "0") == 0)
        throw StoreError(QStringLiteral("The record was deleted by another user"));
    return result;
}

// A record written with a key of its own (a copy keeps the numbers of its
// records) moves the table's sequence past that key, so that no new record
// of any user is ever given it.
void PgSession::advanceSequences()
{
    for (Table &t : m_tables) {
        if (t.ownKeysUpTo <= t.sequencePast)
            continue;
        PgParams params;
        params.addText(t.sequence);
        params.addBigInt(t.ownKeysUpTo);
        PGconn *conn = connection();
        ensurePrepared("advancekeys",
                       "SELECT setval($1::text::regclass, GREATEST($2, "
                       "COALESCE(pg_sequence_last_value($1::text::regclass), 0)))",
                       params);
        PgResult result(PQexecPrepared(conn, "advancekeys", params.count(), params.values(), params.lengths(),
                                       params.formats(), 1));
        if (PQresultStatus(result.get()) != PGRES_TUPLES_OK)
            fail(result.get(), t.def->sqlName, QStringLiteral("writing"));
        t.sequencePast = t.ownKeysUpTo;
        std::erase_if(t.freeKeys, [&](qint64 key) { return key <= t.ownKeysUpTo; });
    }
}

qint64 PgSession::nextKey(int number)
{
    advanceSequences();
    Table &t = m_tables[size_t(number)];
    if (t.freeKeys.empty()) {
        PgParams params;
        params.addText(t.sequence);
        params.addInt(t.keyBlock);
        // Taken outside the batch: the sequence gives keys whatever the transaction.
        PGconn *conn = connection();
        ensurePrepared("nextkeys", "SELECT nextval($1::text::regclass) FROM generate_series(1, $2)", params);
        PgResult result(PQexecPrepared(conn, "nextkeys", params.count(), params.values(), params.lengths(),
                                       params.formats(), 1));
        if (PQresultStatus(result.get()) != PGRES_TUPLES_OK)
            fail(result.get(), t.def->sqlName, QStringLiteral("writing"));
        for (int row = result.rows() - 1; row >= 0; --row)
            t.freeKeys.push_back(result.integer(row, 0));
        t.keyBlock = std::min(t.keyBlock * 4, kLargestKeyBlock);
    }
    const qint64 key = t.freeKeys.back();
    t.freeKeys.pop_back();
    return key;
}

qint64 PgSession::write(PgWrite &&w)
{
    const TableDef &t = table(w.table);
    if (w.kind != PgWrite::Insert)
        relockIfLost(w.table, w.key);
    Table &target = m_tables[size_t(w.table)];
    if (w.kind == PgWrite::Insert && w.record.value(t.keyField).isValid())
        target.ownKeysUpTo = std::max(target.ownKeysUpTo, w.record.value(t.keyField).toLongLong());
    if (m_depth == 0) {
        if (w.kind == PgWrite::Insert && !w.record.value(t.keyField).isValid())
            return insertOnce(std::move(w));
        runWrite(w);
        ++target.writes;
        advanceSequences();
        return w.record.value(t.keyField).toLongLong();
    }

    if (m_aborted)
        throw StoreError(QStringLiteral("The transaction was refused by the database server; nothing of it was saved"));
    if (!m_inTransaction)
        begin();
    if (w.kind == PgWrite::Insert && !w.record.value(t.keyField).isValid())
        w.record[t.keyField] = nextKey(w.table);
    const qint64 key = w.kind == PgWrite::Insert ? w.record.value(t.keyField).toLongLong() : w.key;
    m_queued.push_back(std::move(w));
    ++target.writes;
    if (m_queued.size() >= kBatch)
        flush();
    if (!m_atomic && m_sent.size() + m_queued.size() >= size_t(g_commitEvery)) {
        flush();
        try {
            commit(lastTable());
        } catch (const StoreError &e) {
            if (!m_conn)
                throw;
            // The write that came to the interval fails like any refused
            // write; the ones before it are written once more.
            std::vector<PgWrite> earlier = std::move(m_sent);
            m_sent.clear();
            if (!earlier.empty())
                earlier.pop_back();
            rescue(std::move(earlier), e);
        }
    }
    return key;
}

// A new record written on its own is given its key first, so that a write
// whose answer was lost with the connection can be told apart afterwards:
// saved (its key is there) or not. The same values posted again then give
// the saved record, never a second one.
qint64 PgSession::insertOnce(PgWrite &&w)
{
    const TableDef &t = table(w.table);
    Table &target = m_tables[size_t(w.table)];
    const std::optional<Unconfirmed> before = std::exchange(m_unconfirmed, std::nullopt);
    qint64 key = 0;
    if (before && before->table == w.table) {
        Record earlier = before->record;
        earlier[t.keyField] = QVariant();
        if (earlier == w.record) {
            key = before->key;
            PgParams params;
            params.addInt(key);
            const PgResult found = runPrepared(
                'x' + QByteArray::number(w.table) + "_exists",
                "SELECT 1 FROM " + pg::tableName(t) + " WHERE " + pg::column(t, t.keyField) + "=$1", params,
                t.sqlName, QStringLiteral("reading"));
            if (found.rows() > 0) {
                ++target.writes;
                return key;
            }
        }
    }
    if (key == 0) {
        PgParams params;
        params.addText(target.sequence);
        key = runPrepared("nextkey", "SELECT nextval($1::text::regclass)", params, t.sqlName,
                          QStringLiteral("writing"))
                  .integer(0, 0);
    }
    w.record[t.keyField] = key;
    try {
        runWrite(w);
    } catch (const StoreError &) {
        if (!m_conn)
            m_unconfirmed = Unconfirmed{w.table, key, w.record};
        throw;
    }
    ++target.writes;
    return key;
}

void PgSession::begin()
{
    runPlain("BEGIN", QStringLiteral("writing"));
    m_inTransaction = true;
    m_aborted = false;
}

QString PgSession::lastTable() const
{
    if (!m_sent.empty())
        return table(m_sent.back().table).sqlName;
    return m_queued.empty() ? QString() : table(m_queued.back().table).sqlName;
}

void PgSession::commit(const QString &table)
{
    PGconn *conn = m_conn;
    if (!conn || PQstatus(conn) != CONNECTION_OK)
        failConnection(QStringLiteral("saving"));
    advanceSequences();
    PgResult result(PQexec(conn, "COMMIT"));
    m_inTransaction = false;
    if (PQresultStatus(result.get()) != PGRES_COMMAND_OK)
        fail(result.get(), table, QStringLiteral("saving"));
    // A transaction the server had already refused ends as a rollback.
    if (qstrcmp(PQcmdStatus(result.get()), "COMMIT") != 0)
        throw StoreError(QStringLiteral("The database server rolled the transaction back; nothing of it was saved"));
    m_sent.clear();
}

void PgSession::rollback() noexcept
{
    m_inTransaction = false;
    m_aborted = false;
    if (m_conn && PQstatus(m_conn) == CONNECTION_OK)
        PQclear(PQexec(m_conn, "ROLLBACK"));
}

namespace {

// Sends what the client library holds for the server, reading the server's
// answers meanwhile so that neither side waits for the other.
bool pump(PGconn *conn)
{
    for (;;) {
        const int left = PQflush(conn);
        if (left <= 0)
            return left == 0;
        pollfd p{PQsocket(conn), POLLIN | POLLOUT, 0};
        if (::poll(&p, 1, -1) < 0 && errno != EINTR)
            return false;
        if ((p.revents & POLLIN) && !PQconsumeInput(conn))
            return false;
    }
}

} // namespace

// The writes in one round trip. The server runs them in order and stops at
// the first it refuses, which rolls back its transaction.
int PgSession::sendBatch(const std::vector<PgWrite> &writes, std::optional<StoreError> &error)
{
    if (!m_conn || PQstatus(m_conn) != CONNECTION_OK)
        failConnection(QStringLiteral("writing"));
    PGconn *conn = m_conn;
    for (const PgWrite &w : writes) {
        QByteArray name, sql;
        PgParams params;
        statementOf(w, name, sql, params);
        ensurePrepared(name, sql, params);
    }
    if (!PQenterPipelineMode(conn))
        failConnection(QStringLiteral("writing"));
    PQsetnonblocking(conn, 1);
    bool sent = true;
    for (size_t i = 0; i < writes.size() && sent; ++i) {
        QByteArray name, sql;
        PgParams params;
        statementOf(writes[i], name, sql, params);
        sent = PQsendQueryPrepared(conn, name.constData(), params.count(), params.values(), params.lengths(),
                                   params.formats(), 1)
               == 1;
        if (sent && i % 64 == 63)
            sent = pump(conn);
    }
    sent = sent && PQpipelineSync(conn) == 1 && pump(conn);
    PQsetnonblocking(conn, 0);
    if (!sent)
        failConnection(QStringLiteral("writing"));

    int failed = -1;
    PgResult refused;
    for (size_t i = 0; i < writes.size(); ++i) {
        PgResult result(PQgetResult(conn));
        if (!result.get())
            failConnection(QStringLiteral("writing"));
        const ExecStatusType status = PQresultStatus(result.get());
        if (status == PGRES_FATAL_ERROR && failed < 0) {
            failed = int(i);
            refused = std::move(result);
        } else if (status == PGRES_COMMAND_OK && writes[i].kind == PgWrite::Update
                   && qstrcmp(PQcmdTuples(result.get()), "0") == 0 && !error) {
            error = StoreError(QStringLiteral("The record was deleted by another user"));
        }
        while (PGresult *rest = PQgetResult(conn))
            PQclear(rest);
    }
    PgResult sync(PQgetResult(conn));
    const bool synced = PQresultStatus(sync.get()) == PGRES_PIPELINE_SYNC && PQexitPipelineMode(conn) == 1;
    if (!synced || PQstatus(conn) != CONNECTION_OK)
        failConnection(QStringLiteral("writing"), refused.get());
    if (failed >= 0)
        error = refusal(refused.get(), table(writes[size_t(failed)].table).sqlName, QStringLiteral("writing"),
                        &writes[size_t(failed)]);
    return failed;
}

// Sends the queued writes. When the server refuses one, what came before it
// is kept (inside an all-or-nothing transaction nothing is), the refused
// write and those queued after it are dropped, and the refusal is thrown.
void PgSession::flush()
{
    if (m_queued.empty())
        return;
    std::vector<PgWrite> batch = std::move(m_queued);
    m_queued.clear();
    std::optional<StoreError> error;
    const int failed = sendBatch(batch, error);
    if (failed < 0) {
        for (PgWrite &w : batch)
            m_sent.push_back(std::move(w));
        if (error) {
            // A record another user deleted: the rest of the batch is written.
            tookBack();
            throw *error;
        }
        return;
    }
    if (m_atomic) {
        m_aborted = true;
        m_sent.clear();
        tookBack();
        throw *error;
    }
    std::vector<PgWrite> earlier = std::move(m_sent);
    m_sent.clear();
    for (int i = 0; i < failed; ++i)
        earlier.push_back(std::move(batch[size_t(i)]));
    rescue(std::move(earlier), *error);
}

// The server rolled the bulk transaction back: the earlier writes are
// written once more and committed (the scope's next write begins a new
// transaction). If they cannot be, the table keeps what it had before them.
void PgSession::rescue(std::vector<PgWrite> earlier, const StoreError &error)
{
    rollback();
    tookBack();
    try {
        rewrite(earlier);
    } catch (const SystemError &again) {
        qWarning("%s", again.what());
    }
    throw error;
}

void PgSession::rewrite(const std::vector<PgWrite> &writes)
{
    if (m_inTransaction)
        rollback();
    tookBack();
    if (writes.empty())
        return;
    begin();
    try {
        std::optional<StoreError> error;
        const int failed = sendBatch(writes, error);
        if (failed >= 0 || error)
            throw *error;
        commit(table(writes.back().table).sqlName);
    } catch (const SystemError &) {
        rollback();
        throw;
    }
}

void PgSession::beginBulk()
{
    ++m_depth;
}

void PgSession::endBulk()
{
    if (m_depth == 0 || --m_depth > 0)
        return;
    struct RunRelease
    {
        PgSession *session;
        ~RunRelease() { session->releaseRun(); }
    } release{this};
    for (Table &t : m_tables)
        t.freeKeys.clear();
    if (!m_inTransaction) {
        m_queued.clear();
        return;
    }
    flush();
    try {
        commit(lastTable());
    } catch (const StoreError &) {
        if (!m_conn)
            throw;
        std::vector<PgWrite> writes = std::move(m_sent);
        m_sent.clear();
        rewrite(writes);
    }
}

void PgSession::beginTransaction()
{
    if (m_depth > 0)
        throw StoreError(QStringLiteral("The database of alias '%1' is already inside a transaction").arg(m_alias));
    begin();
    m_atomic = true;
    m_depth = 1;
}

void PgSession::commitTransaction()
{
    if (!m_atomic)
        return;
    try {
        if (m_aborted)
            throw StoreError(QStringLiteral("The transaction was refused by the database server; nothing of it was saved"));
        flush();
        commit(lastTable());
    } catch (const SystemError &) {
        rollbackTransaction();
        throw;
    }
    m_atomic = false;
    m_depth = 0;
}

void PgSession::rollbackTransaction() noexcept
{
    if (!m_atomic)
        return;
    m_atomic = false;
    m_depth = 0;
    m_queued.clear();
    m_sent.clear();
    rollback();
    tookBack();
}

void PgSession::setBulkCommitInterval(int writes)
{
    g_commitEvery = writes > 0 ? writes : kCommitEvery;
}

namespace {

// One number per record of the database: the table's object number and the key.
qint64 lockKey(Oid table, qint64 key)
{
    return qint64((quint64(table) << 32) | quint32(key));
}

} // namespace

namespace {
constexpr int kLockAttempts = 5;
constexpr unsigned long kLockRetryMs = 40;
} // namespace

void PgSession::lock(int table, qint64 key)
{
    const QPair<int, qint64> id(table, key);
    auto held = m_locks.find(id);
    if (held != m_locks.end() && !m_lost.contains(id)) {
        ++held.value();
        return;
    }
    if (held == m_locks.end() && inRun(table, key)) {
        m_run.kept.insert(key);
        m_locks[id] = 1;
        return;
    }
    const Table &t = m_tables[size_t(table)];
    PgParams params;
    params.addBigInt(lockKey(t.oid, key));
    params.addTextForm(QByteArray::number(t.oid), pg::kOid);
    PGconn *conn = connection();
    ensurePrepared("lock", "SELECT pg_try_advisory_lock($1), has_table_privilege($2, 'UPDATE')", params);
    PgResult result;
    // A copy that has just died holds its locks until its server process
    // has noticed, a few milliseconds later: a refusal is asked once more
    // over a short while (far below what a user would call waiting).
    for (int attempt = 0;; ++attempt) {
        result = PgResult(PQexecPrepared(conn, "lock", params.count(), params.values(), params.lengths(),
                                         params.formats(), 1));
        if (PQresultStatus(result.get()) != PGRES_TUPLES_OK)
            fail(result.get(), t.def->sqlName, QStringLiteral("locking a record of"));
        if (result.boolean(0, 0))
            break;
        if (attempt == kLockAttempts)
            throw StoreError(QStringLiteral("Record locked by another user"));
        QThread::msleep(kLockRetryMs);
    }
    if (!result.boolean(0, 1)) {
        PgParams unlock;
        unlock.addBigInt(lockKey(t.oid, key));
        PQclear(PQexecParams(conn, "SELECT pg_advisory_unlock($1)", 1, unlock.types(), unlock.values(), unlock.lengths(),
                             unlock.formats(), 1));
        throw StoreError(readOnlyRole(t.def->sqlName));
    }
    m_lost.remove(id);
    m_locks[id] += 1;
}

void PgSession::unlock(int table, qint64 key)
{
    const QPair<int, qint64> id(table, key);
    auto held = m_locks.find(id);
    if (held == m_locks.end())
        return;
    if (--held.value() > 0)
        return;
    m_locks.erase(held);
    // A lock lost with a connection is not the server's to free; one of a
    // run is freed with the run.
    if (m_lost.remove(id) || (inRun(table, key) && m_run.kept.remove(key)) || !m_conn || PQstatus(m_conn) != CONNECTION_OK || PQpipelineStatus(m_conn) != PQ_PIPELINE_OFF)
        return;
    PgParams params;
    params.addBigInt(lockKey(m_tables[size_t(table)].oid, key));
    PQclear(PQexecParams(m_conn, "SELECT pg_advisory_unlock($1)", 1, params.types(), params.values(), params.lengths(),
                         params.formats(), 1));
}

namespace {

// The lock numbers of a run of records, as an array in the server's text form.
QByteArray lockKeys(Oid table, qint64 first, int count, const std::function<bool(qint64)> &skip = {})
{
    QByteArray keys = "{";
    for (qint64 key = first; key < first + count; ++key) {
        if (skip && skip(key))
            continue;
        if (keys.size() > 1)
            keys += ',';
        keys += QByteArray::number(lockKey(table, key));
    }
    return keys + '}';
}

} // namespace

bool PgSession::lockRun(int table, qint64 first, int count)
{
    if (m_depth == 0 || count <= 0 || !m_conn || PQstatus(m_conn) != CONNECTION_OK
        || PQpipelineStatus(m_conn) != PQ_PIPELINE_OFF)
        return false;
    releaseRun();
    const Table &t = m_tables[size_t(table)];
    // Records this process holds already count as taken by the run too: the
    // server counts a lock taken twice by one session, and the run lets go of
    // its own.
    PgParams params;
    params.addTextForm(lockKeys(t.oid, first, count), pg::kInt8Array);
    params.addTextForm(QByteArray::number(t.oid), pg::kOid);
    ensurePrepared("lockrun",
                   "WITH k AS (SELECT n, pg_try_advisory_lock(n) AS got FROM unnest($1::int8[]) AS n) "
                   "SELECT count(*) FILTER (WHERE NOT got), has_table_privilege($2, 'UPDATE') FROM k",
                   params);
    const PgResult result(PQexecPrepared(connection(), "lockrun", params.count(), params.values(), params.lengths(),
                                         params.formats(), 1));
    m_run = Run{table, first, count, {}};
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK || PQntuples(result.get()) != 1) {
        // What the statement may have taken is let go, but never a lock this
        // process held before: one held too long is better than one lost.
        for (qint64 key = first; key < first + count; ++key)
            if (m_locks.contains(QPair<int, qint64>(table, key)))
                m_run.kept.insert(key);
        releaseRun();
        return false;
    }
    if (result.integer(0, 0) == 0 && result.boolean(0, 1))
        return true;
    // Another user holds some of them, or the role may not write: none is
    // kept, and each record meets its own lock when the walk gets there.
    releaseRun();
    return false;
}

bool PgSession::inRun(int table, qint64 key) const
{
    return m_run.table == table && key >= m_run.first && key < m_run.first + m_run.count;
}

void PgSession::releaseRun() noexcept
{
    const Run run = std::exchange(m_run, Run());
    if (run.table < 0 || !m_conn || PQstatus(m_conn) != CONNECTION_OK || PQpipelineStatus(m_conn) != PQ_PIPELINE_OFF)
        return;
    // A record locked on its own while in the run stays locked (the run's
    // lock is the only one the server counted for it); its unlock frees it.
    // pg_advisory_unlock of a lock not held only warns, which is the case of
    // the records another user held when the run was refused.
    try {
        PgParams params;
        params.addTextForm(lockKeys(m_tables[size_t(run.table)].oid, run.first, run.count,
                                    [&](qint64 key) {
                                        return run.kept.contains(key) && m_locks.contains(QPair<int, qint64>(run.table, key));
                                    }),
                           pg::kInt8Array);
        PQclear(PQexecParams(m_conn, "SELECT pg_advisory_unlock(n) FROM unnest($1::int8[]) AS n", 1, params.types(),
                             params.values(), params.lengths(), params.formats(), 1));
    } catch (...) {
    }
}

// A record locked before the connection was lost is locked again before it
// is written: another user may have taken it meanwhile.
void PgSession::relockIfLost(int table, qint64 key)
{
    const QPair<int, qint64> id(table, key);
    if (!m_lost.contains(id))
        return;
    const int count = m_locks.value(id);
    m_locks.remove(id);
    lock(table, key);
    m_locks[id] = count;
}

} // namespace store
