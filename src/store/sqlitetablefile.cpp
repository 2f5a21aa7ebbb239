#include "sqlitetablefile.h"

#include "error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>
#include <QStringList>
#include <QVarLengthArray>
#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace store {

namespace {

constexpr int kReadManyBatch = 64;
// A bulk transaction commits on its own after this many writes, which bounds
// the memory kept for writing them again after a rollback. Every commit
// costs a checkpoint of the journal into the table file, so the interval is
// large: "Расчитать" on a Section of 100,000 Supports commits once or twice.
constexpr int kBulkCommitEvery = 100000;
int g_bulkCommitEvery = kBulkCommitEvery;

enum SqliteCode {
    kBusy = 5,
    kLocked = 6,
    kReadOnly = 8,
    kIoErr = 10,
    kCorrupt = 11,
    kFull = 13,
    kCantOpen = 14,
    kConstraint = 19,
    kNotADb = 26,
};

QString fileName(const QString &path)
{
    return QFileInfo(path).fileName();
}

QString sqlType(FieldType type)
{
    switch (type) {
    case FieldType::Float:
        return QStringLiteral("REAL");
    case FieldType::Text:
        return QStringLiteral("TEXT");
    case FieldType::AutoInc:
    case FieldType::SmallInt:
        return QStringLiteral("INTEGER");
    }
    return {};
}

// Whether binding b in place of a would bind the same SQL value: blanks
// are alike whatever their type, doubles must agree to the bit.
bool sameBinding(const QVariant &a, const QVariant &b)
{
    const bool blankA = !a.isValid() || a.isNull();
    const bool blankB = !b.isValid() || b.isNull();
    if (blankA || blankB)
        return blankA == blankB;
    if (a.typeId() != b.typeId())
        return false;
    switch (a.typeId()) {
    case QMetaType::Double:
        return std::bit_cast<quint64>(a.toDouble()) == std::bit_cast<quint64>(b.toDouble());
    case QMetaType::LongLong:
        return a.toLongLong() == b.toLongLong();
    case QMetaType::QString:
        return a.toString() == b.toString();
    default:
        return false;
    }
}

// Text as SQLite must receive it: a lone surrogate would become bytes that
// are not UTF-8 in the file.
QVariant bindable(const FieldDef &field, const QVariant &value)
{
    if (field.type != FieldType::Text || !value.isValid() || value.isNull())
        return value;
    return validText(value.toString());
}

} // namespace

SqliteTableFile::SqliteTableFile(const TableDef &def, const QString &path, bool create)
    : TableFile(def), m_path(path)
{
    try {
        openConnection(create);
    } catch (...) {
        closeConnection();
        throw;
    }
}

SqliteTableFile::~SqliteTableFile()
{
    if (m_atomic)
        rollbackTransaction();
    if (m_inTransaction) {
        try {
            commit();
        } catch (const SystemError &e) {
            qWarning("%s", e.what());
        }
    }
    closeConnection();
}

// Every statement of the connection goes before the connection itself.
void SqliteTableFile::closeConnection()
{
    m_partialUpdates.clear();
    m_references.clear();
    for (Statement *statement : {&m_insert, &m_update, &m_remove, &m_read, &m_readMany, &m_readStretch,
                                 &m_versionQuery, &m_begin, &m_commit, &m_rollback})
        *statement = Statement();
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connection);
}

void SqliteTableFile::openConnection(bool create)
{
    // Nothing is read, created or changed before the file is known to be
    // writable by this user: a refused start leaves no journal files behind.
    if (!create)
        checkAccess();

    static int counter = 0;
    m_connection = QStringLiteral("tablestore-%1").arg(++counter);
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    if (!m_db.isValid())
        throw StoreError(QStringLiteral("The table store cannot open '%1': Qt's SQLite driver (QSQLITE) "
                                        "is not installed")
                             .arg(fileName(m_path)));
    m_db.setDatabaseName(m_path);
    // URIs let the tables named by this one be attached read-only.
    m_db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI"));
    if (!m_db.open())
        fail(m_db.lastError(), QStringLiteral("opening"));

    // Settings of this connection only; the file is not touched.
    execSql(QStringLiteral("PRAGMA busy_timeout = 5000"), QStringLiteral("opening"));
    execSql(QStringLiteral("PRAGMA trusted_schema = OFF"), QStringLiteral("opening"));
    execSql(QStringLiteral("PRAGMA cell_size_check = ON"), QStringLiteral("opening"));
    execSql(QStringLiteral("PRAGMA synchronous = FULL"), QStringLiteral("opening"));

    if (create) {
        if (sqlState(QStringLiteral("PRAGMA journal_mode = WAL")).compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
            throw StoreError(QStringLiteral("The table '%1' cannot be created with a write-ahead log").arg(fileName(m_path)));
        createTable();
    }

    // What the file is, checked by reading only: a file that is not a table
    // of ours is refused and left byte for byte as it was.
    const QVariant handle = m_db.driver()->handle();
    if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0
        && sqlite3_db_readonly(*static_cast<sqlite3 *const *>(handle.constData()), "main") == 1)
        throw StoreError(QStringLiteral("The table '%1' cannot be written (it is read-only); nothing was changed")
                             .arg(fileName(m_path)));
    execSql(QStringLiteral("SELECT count(*) FROM sqlite_master"), QStringLiteral("opening"));
    checkStructure();
    checkContents();

    for (const ReferenceDef &reference : def().references) {
        Reference r;
        r.def = reference;
        r.table = findTable(reference.table);
        r.schema = QStringLiteral("named%1").arg(m_references.size());
        if (r.table)
            m_references.push_back(std::move(r));
    }

    m_locks = std::make_unique<RecordLocks>(m_path + QStringLiteral(".lck"));

    const TableDef &t = def();
    QStringList names, marks, sets;
    for (int i = 0; i < t.fields.size(); ++i) {
        names << t.quotedField(i);
        marks << QStringLiteral("?");
        if (i != t.keyField)
            sets << t.quotedField(i) + QStringLiteral(" = ?");
    }
    const QString key = t.quotedField(t.keyField);
    m_insert = compile(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                           .arg(t.sqlName, names.join(QLatin1Char(',')), marks.join(QLatin1Char(','))));
    m_update = compile(QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?").arg(t.sqlName, sets.join(QLatin1Char(',')), key));
    m_remove = compile(QStringLiteral("DELETE FROM %1 WHERE %2 = ?").arg(t.sqlName, key));
    m_read = compile(QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ?").arg(names.join(QLatin1Char(',')), t.sqlName, key));
    QStringList many;
    for (int i = 0; i < kReadManyBatch; ++i)
        many << QStringLiteral("?");
    m_readMany = compile(QStringLiteral("SELECT %1 FROM %2 WHERE %3 IN (%4)")
                             .arg(names.join(QLatin1Char(',')), t.sqlName, key, many.join(QLatin1Char(','))));
    m_readStretch = compile(
        QStringLiteral("SELECT %1 FROM %2 WHERE %3 BETWEEN ? AND ?").arg(names.join(QLatin1Char(',')), t.sqlName, key));
    m_versionQuery = compile(QStringLiteral("PRAGMA data_version"));
    m_begin = compile(QStringLiteral("BEGIN IMMEDIATE"));
    m_commit = compile(QStringLiteral("COMMIT"));
    m_rollback = compile(QStringLiteral("ROLLBACK"));
    stamp();

    // Ours, and every statement compiles against it: now the journal may be
    // switched. Opening takes no write lock, so a copy busy writing never
    // holds up another one's start.
    if (sqlState(QStringLiteral("PRAGMA journal_mode")).compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0
        && sqlState(QStringLiteral("PRAGMA journal_mode = WAL")).compare(QLatin1String("wal"), Qt::CaseInsensitive)
               != 0)
        throw StoreError(QStringLiteral("The table '%1' cannot be opened for writing (its journal cannot be "
                                        "switched to write-ahead logging)")
                             .arg(fileName(m_path)));
}

void SqliteTableFile::createTable()
{
    execSql(QStringLiteral("BEGIN IMMEDIATE"), QStringLiteral("creating"));
    try {
        for (const QString &sql : def().createSql)
            execSql(sql, QStringLiteral("creating"));
        execSql(QStringLiteral("PRAGMA user_version = %1").arg(def().formatVersion), QStringLiteral("creating"));
        execSql(QStringLiteral("COMMIT"), QStringLiteral("creating"));
    } catch (...) {
        QSqlQuery(QStringLiteral("ROLLBACK"), m_db);
        throw;
    }
}

void SqliteTableFile::checkStructure()
{
    const TableDef &t = def();
    auto wrong = [&](const QString &why) {
        return StoreError(QStringLiteral("'%1' is not a table of the expected structure (%2)").arg(fileName(m_path), why));
    };

    QSqlQuery master = prepare(QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?"));
    master.bindValue(0, t.sqlName);
    exec(master, QStringLiteral("opening"));
    if (!master.next())
        throw wrong(QStringLiteral("it holds no table '%1'").arg(t.sqlName));
    const QString createSql = master.value(0).toString();
    if (!createSql.contains(QLatin1String("AUTOINCREMENT"), Qt::CaseInsensitive))
        throw wrong(QStringLiteral("its key is not an autoincrement field"));

    QSqlQuery info = prepare(QStringLiteral("SELECT name, type, \"notnull\", pk FROM pragma_table_info(?) ORDER BY cid"));
    info.bindValue(0, t.sqlName);
    exec(info, QStringLiteral("opening"));
    int column = 0;
    while (info.next()) {
        if (column >= t.fields.size())
            throw wrong(QStringLiteral("it has more fields than expected"));
        const FieldDef &f = t.fields[column];
        const bool isKey = column == t.keyField;
        if (info.value(0).toString() != f.name || info.value(1).toString().toUpper() != sqlType(f.type)
            || info.value(2).toBool() != f.required || (info.value(3).toInt() != 0) != isKey)
            throw wrong(QStringLiteral("field %1 is not %2 %3").arg(column + 1).arg(f.name, sqlType(f.type)));
        ++column;
    }
    if (column != t.fields.size())
        throw wrong(QStringLiteral("it has fewer fields than expected"));
    // Only a STRICT table guarantees that every value has its field's type.
    QSqlQuery strict = prepare(QStringLiteral("SELECT strict FROM pragma_table_list WHERE schema = 'main' AND name = ?"));
    strict.bindValue(0, t.sqlName);
    exec(strict, QStringLiteral("opening"));
    if (!strict.next() || strict.value(0).toInt() != 1)
        throw wrong(QStringLiteral("it is not a STRICT table"));

    for (const IndexDef &index : t.indexes) {
        QSqlQuery cols = prepare(QStringLiteral("SELECT name FROM pragma_index_info(?) ORDER BY seqno"));
        cols.bindValue(0, index.name);
        exec(cols, QStringLiteral("opening"));
        QStringList got, expected;
        while (cols.next())
            got << cols.value(0).toString();
        for (int f : index.fields)
            expected << t.fields[f].name;
        if (got != expected)
            throw wrong(QStringLiteral("index %1 is missing or different").arg(index.name));
    }

    const int version = sqlState(QStringLiteral("PRAGMA user_version")).toInt();
    if (version > t.formatVersion)
        throw StoreError(QStringLiteral("'%1' was written by a newer version of the program (format %2)")
                             .arg(fileName(m_path))
                             .arg(version));
}

// Whether this user may write the table file and what SQLite must create or
// open beside it (its write-ahead log and shared-memory index), asked of the
// file system without opening the file: closing a descriptor of a table file
// would drop the locks SQLite holds on it.
void SqliteTableFile::checkAccess()
{
    const QByteArray path = QFile::encodeName(m_path);
    struct stat info;
    if (::stat(path.constData(), &info) != 0)
        throw StoreError(QStringLiteral("The table file '%1' cannot be opened (%2)")
                             .arg(fileName(m_path), QString::fromLocal8Bit(std::strerror(errno))));
    if (!S_ISREG(info.st_mode))
        throw StoreError(QStringLiteral("'%1' is not a table file").arg(fileName(m_path)));
    const QString readOnly =
        QStringLiteral("The table '%1' cannot be written (it is read-only); nothing was changed").arg(fileName(m_path));
    if (::access(path.constData(), R_OK | W_OK) != 0)
        throw StoreError(readOnly);
    bool sideFileMissing = false;
    for (const char *suffix : {"-wal", "-shm"}) {
        const QByteArray side = path + suffix;
        if (::access(side.constData(), F_OK) != 0) {
            sideFileMissing = true;
            continue;
        }
        if (::access(side.constData(), R_OK | W_OK) != 0)
            throw StoreError(QStringLiteral("The table '%1' cannot be written: its journal file '%2' is read-only "
                                            "(left behind by another user or an earlier run); nothing was changed")
                                 .arg(fileName(m_path), QFile::decodeName(side)));
    }
    const QByteArray folder = QFile::encodeName(QFileInfo(m_path).absolutePath());
    if (sideFileMissing && ::access(folder.constData(), W_OK | X_OK) != 0)
        throw StoreError(readOnly);
}

// quick_check finds damage to the file and values that break a table's
// declared types. Damage refuses the file; values of the wrong type are read
// as blank and named to the user, so one bad value never stops the program.
void SqliteTableFile::checkContents()
{
    static const QRegularExpression valueFinding(
        QStringLiteral("^(?:NULL|non-[A-Z]+) value in ([A-Za-z_][A-Za-z0-9_]*)\\.([A-Za-z_][A-Za-z0-9_]*)$"));
    static const QRegularExpression checkFinding(QStringLiteral("^CHECK constraint failed in [A-Za-z_][A-Za-z0-9_]*$"));
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("PRAGMA quick_check")))
        fail(query.lastError(), QStringLiteral("opening"));
    QStringList damage;
    QStringList columns;
    while (query.next()) {
        const QString finding = query.value(0).toString();
        if (finding == QLatin1String("ok"))
            continue;
        const QRegularExpressionMatch value = valueFinding.match(finding);
        if (value.hasMatch() && value.captured(1) == def().sqlName) {
            if (!columns.contains(value.captured(2)))
                columns << value.captured(2);
        } else if (!checkFinding.match(finding).hasMatch()) {
            damage << finding;
        }
    }
    // SQLite heads its first finding with the name of the database
    // ("*** in database main ***"), which tells the user nothing.
    QStringList finding;
    for (const QString &line : std::as_const(damage))
        for (const QString &part : line.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            if (!part.startsWith(QLatin1String("***")))
                finding << part;
    if (!damage.isEmpty())
        throw StoreError(QStringLiteral("The table file '%1' is damaged (%2)")
                             .arg(fileName(m_path), finding.join(QStringLiteral("; "))));
    if (!columns.isEmpty())
        findUnreadableValues(columns);
}

// Names the records whose values in the given columns the program cannot read.
void SqliteTableFile::findUnreadableValues(const QStringList &columns)
{
    constexpr int kNamed = 5;
    const TableDef &t = def();
    QStringList named;
    int count = 0;
    for (const QString &column : columns) {
        const int field = t.fieldIndex(column);
        if (field < 0 || field == t.keyField)
            continue;
        const char *type = t.fields[field].type == FieldType::Float ? "real"
                           : t.fields[field].type == FieldType::Text ? "text"
                                                                      : "integer";
        QSqlQuery query = prepare(QStringLiteral("SELECT %1 FROM %2 WHERE typeof(%3) NOT IN ('null', ?) ORDER BY 1")
                                      .arg(t.quotedField(t.keyField), t.sqlName, t.quotedField(field)));
        query.bindValue(0, QString::fromLatin1(type));
        exec(query, QStringLiteral("reading"));
        while (query.next()) {
            if (++count <= kNamed)
                named << QStringLiteral("record %1 = %2, field '%3'")
                             .arg(t.fields[t.keyField].name)
                             .arg(query.value(0).toLongLong())
                             .arg(t.fields[field].name);
        }
    }
    if (count == 0)
        return;
    QString text = QStringLiteral("The table '%1' holds values this program cannot read; they are shown blank: %2")
                       .arg(fileName(m_path), named.join(QStringLiteral("; ")));
    if (count > kNamed)
        text += QStringLiteral("; and %1 more").arg(count - kNamed);
    setUnreadableValues(text);
}

QSqlQuery SqliteTableFile::prepare(const QString &sql)
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.prepare(sql))
        fail(query.lastError(), QStringLiteral("opening"));
    return query;
}

void SqliteTableFile::exec(QSqlQuery &query, const QString &what)
{
    if (!query.exec())
        fail(query.lastError(), what);
}

void SqliteTableFile::execSql(const QString &sql, const QString &what)
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.exec(sql))
        fail(query.lastError(), what);
}

QString SqliteTableFile::sqlState(const QString &sql)
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.exec(sql))
        fail(query.lastError(), QStringLiteral("opening"));
    return query.next() ? query.value(0).toString() : QString();
}

void SqliteTableFile::fail(const QSqlError &error, const QString &what)
{
    fail(error.nativeErrorCode().toInt(), error.databaseText().isEmpty() ? error.text() : error.databaseText(), what);
}

void SqliteTableFile::fail(int nativeCode, const QString &detail, const QString &what)
{
    const int code = nativeCode & 0xff;
    const QString table = fileName(m_path);
    QString text;
    switch (code) {
    case kBusy:
    case kLocked:
        text = QStringLiteral("The table '%1' is busy: another program is writing to it. Try again later").arg(table);
        break;
    case kReadOnly:
        text = QStringLiteral("The table '%1' cannot be written (it is read-only); nothing was changed").arg(table);
        break;
    case kFull:
        text = QStringLiteral("The disk is full: the change to '%1' could not be saved").arg(table);
        break;
    case kCorrupt:
        text = QStringLiteral("The table file '%1' is damaged").arg(table);
        break;
    case kNotADb:
        text = QStringLiteral("'%1' is not a table file").arg(table);
        break;
    case kIoErr:
        text = QStringLiteral("The table '%1' could not be read or written (%2)").arg(table, detail);
        break;
    case kCantOpen:
        text = QStringLiteral("The table file '%1' cannot be opened (%2)").arg(table, detail);
        break;
    case kConstraint:
        text = QStringLiteral("The table '%1' refused the record (%2)").arg(table, detail);
        break;
    default:
        text = QStringLiteral("Error while %1 the table '%2': %3").arg(what, table, detail);
        break;
    }
    throw StoreError(text);
}

SqliteTableFile::Statement::~Statement()
{
    sqlite3_finalize(m_statement);
}

SqliteTableFile::Statement &SqliteTableFile::Statement::operator=(Statement &&other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(m_statement);
        m_statement = std::exchange(other.m_statement, nullptr);
    }
    return *this;
}

SqliteTableFile::Statement SqliteTableFile::compile(const QString &sql)
{
    const QByteArray text = sql.toUtf8();
    sqlite3_stmt *raw = nullptr;
    if (sqlite3_prepare_v3(handle(), text.constData(), int(text.size()), SQLITE_PREPARE_PERSISTENT, &raw, nullptr)
        != SQLITE_OK) {
        sqlite3_finalize(raw);
        failLast(QStringLiteral("opening"));
    }
    return Statement(raw);
}

void SqliteTableFile::failLast(const QString &what)
{
    sqlite3 *db = handle();
    fail(sqlite3_extended_errcode(db), QString::fromUtf8(sqlite3_errmsg(db)), what);
}

bool SqliteTableFile::step(const Statement &statement, const QString &what)
{
    const int rc = sqlite3_step(statement.get());
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    sqlite3 *db = handle();
    const int code = sqlite3_extended_errcode(db);
    const QString detail = QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_reset(statement.get());
    fail(code, detail, what);
}

void SqliteTableFile::run(const Statement &statement, const QString &what)
{
    step(statement, what);
    sqlite3_reset(statement.get());
}

void SqliteTableFile::bind(const Statement &statement, int index, const QVariant &value)
{
    sqlite3_stmt *s = statement.get();
    int rc = SQLITE_OK;
    if (!value.isValid() || value.isNull()) {
        rc = sqlite3_bind_null(s, index);
    } else {
        switch (value.typeId()) {
        case QMetaType::Double:
        case QMetaType::Float:
            rc = sqlite3_bind_double(s, index, value.toDouble());
            break;
        case QMetaType::LongLong:
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Short:
        case QMetaType::Bool:
            rc = sqlite3_bind_int64(s, index, value.toLongLong());
            break;
        default: {
            const QByteArray text = value.toString().toUtf8();
            rc = sqlite3_bind_text(s, index, text.constData(), int(text.size()), SQLITE_TRANSIENT);
            break;
        }
        }
    }
    if (rc != SQLITE_OK)
        failLast(QStringLiteral("writing"));
}

// A value the program cannot read (named to the user when the file was
// opened) reads as blank; one of another type than its field's is taken
// when it converts, as the values of the field's own type are.
Record SqliteTableFile::readRow(sqlite3_stmt *statement) const
{
    const TableDef &t = def();
    const int count = int(t.fields.size());
    Record record(count);
    for (int i = 0; i < count; ++i) {
        const int type = sqlite3_column_type(statement, i);
        if (type == SQLITE_NULL)
            continue;
        const FieldType field = t.fields[i].type;
        if (field == FieldType::Float && type == SQLITE_FLOAT) {
            record[i] = sqlite3_column_double(statement, i);
        } else if ((field == FieldType::AutoInc || field == FieldType::SmallInt) && type == SQLITE_INTEGER) {
            record[i] = qint64(sqlite3_column_int64(statement, i));
        } else if (field == FieldType::Text && type == SQLITE_TEXT) {
            record[i] = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, i)),
                                          sqlite3_column_bytes(statement, i));
        } else {
            QVariant value;
            switch (type) {
            case SQLITE_INTEGER:
                value = qint64(sqlite3_column_int64(statement, i));
                break;
            case SQLITE_FLOAT:
                value = sqlite3_column_double(statement, i);
                break;
            case SQLITE_TEXT:
                value = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, i)),
                                          sqlite3_column_bytes(statement, i));
                break;
            default:
                value = QByteArray(static_cast<const char *>(sqlite3_column_blob(statement, i)),
                                   sqlite3_column_bytes(statement, i));
                break;
            }
            try {
                record[i] = normalise(t.fields[i], value);
            } catch (const StoreError &) {
            }
        }
    }
    return record;
}

std::optional<Record> SqliteTableFile::read(qint64 key)
{
    sqlite3_bind_int64(m_read.get(), 1, key);
    std::optional<Record> result;
    if (step(m_read, QStringLiteral("reading")))
        result = readRow(m_read.get());
    sqlite3_reset(m_read.get());
    return result;
}

// Records are mostly added in the order of their chainage, so the keys a
// view asks for often run on one from the other: such a run is read as one
// stretch of the table, the rest key by key in batches.
void SqliteTableFile::readMany(const QVector<qint64> &keys, const std::function<void(Record &&)> &sink)
{
    constexpr int kShortestStretch = 8;
    std::vector<qint64> sorted(keys.begin(), keys.end());
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    std::vector<qint64> single;
    std::vector<Record> batch;
    auto drain = [&](const Statement &statement) {
        batch.clear();
        while (step(statement, QStringLiteral("reading")))
            batch.push_back(readRow(statement.get()));
        sqlite3_reset(statement.get());
        for (Record &record : batch)
            sink(std::move(record));
    };
    for (size_t first = 0; first < sorted.size();) {
        size_t end = first + 1;
        while (end < sorted.size() && sorted[end] == sorted[end - 1] + 1)
            ++end;
        if (end - first >= size_t(kShortestStretch)) {
            sqlite3_bind_int64(m_readStretch.get(), 1, sorted[first]);
            sqlite3_bind_int64(m_readStretch.get(), 2, sorted[end - 1]);
            drain(m_readStretch);
        } else {
            single.insert(single.end(), sorted.begin() + qsizetype(first), sorted.begin() + qsizetype(end));
        }
        first = end;
    }
    for (size_t start = 0; start < single.size(); start += kReadManyBatch) {
        for (size_t i = 0; i < size_t(kReadManyBatch); ++i)
            sqlite3_bind_int64(m_readMany.get(), int(i) + 1, start + i < single.size() ? single[start + i] : -1);
        drain(m_readMany);
    }
}

// The SELECT of a scan: the given columns of the records the scan selects,
// in scan order (the order fields, then the key), and the values to bind.
QString SqliteTableFile::scanSql(const ScanSpec &scan, const QStringList &columns, QVariantList &binds) const
{
    const TableDef &t = def();
    QStringList order;
    for (int f : scan.orderFields)
        order << t.quotedField(f);
    order << t.quotedField(t.keyField);
    QStringList where;
    if (scan.rangeField >= 0) {
        where << t.quotedField(scan.rangeField) + QStringLiteral(" IS ?");
        binds << scan.rangeValue;
    }
    if (scan.filter) {
        where << t.quotedField(scan.filter->field) + QLatin1Char(' ') + scan.filter->sqlOperator()
                     + QStringLiteral(" ?");
        binds << scan.filter->value;
    }
    QString sql = QStringLiteral("SELECT %1 FROM %2").arg(columns.join(QLatin1Char(',')), t.sqlName);
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    sql += QStringLiteral(" ORDER BY ") + order.join(QLatin1Char(','));
    return sql;
}

// Keys and records in bulk: straight through SQLite's own interface, which
// reads a Section of a million Supports several times faster than
// QSqlQuery's value by value.
void SqliteTableFile::scanKeys(const ScanSpec &scan, const std::function<void(qint64, const OrderValue *)> &sink)
{
    const TableDef &t = def();
    QStringList columns{t.quotedField(t.keyField)};
    for (int f : scan.orderFields)
        columns << t.quotedField(f);
    QVariantList binds;
    const Statement statement = compile(scanSql(scan, columns, binds));
    for (int i = 0; i < binds.size(); ++i)
        bind(statement, i + 1, binds[i]);
    // SQLite orders texts by their bytes (the columns' BINARY collation),
    // which for UTF-8 is the order of the characters' code points.
    const int n = int(scan.orderFields.size());
    QVarLengthArray<OrderValue, 4> values(n);
    sqlite3_stmt *s = statement.get();
    while (step(statement, QStringLiteral("reading"))) {
        for (int i = 0; i < n; ++i) {
            OrderValue &v = values[i];
            switch (sqlite3_column_type(s, i + 1)) {
            case SQLITE_INTEGER:
                v.kind = OrderValue::Integer;
                v.integer = sqlite3_column_int64(s, i + 1);
                break;
            case SQLITE_FLOAT:
                v.kind = OrderValue::Number;
                v.number = sqlite3_column_double(s, i + 1);
                break;
            case SQLITE_TEXT: {
                const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(s, i + 1));
                v.kind = OrderValue::Text;
                v.text = QByteArrayView(text, sqlite3_column_bytes(s, i + 1));
                break;
            }
            default:
                v.kind = OrderValue::Blank;
                break;
            }
        }
        sink(sqlite3_column_int64(s, 0), values.data());
    }
}

void SqliteTableFile::scanRecords(const ScanSpec &scan, const std::function<void(Record &&)> &sink)
{
    const TableDef &t = def();
    QStringList columns;
    for (int f = 0; f < t.fields.size(); ++f)
        columns << t.quotedField(f);
    QVariantList binds;
    const Statement statement = compile(scanSql(scan, columns, binds));
    for (int i = 0; i < binds.size(); ++i)
        bind(statement, i + 1, binds[i]);
    while (step(statement, QStringLiteral("reading")))
        sink(readRow(statement.get()));
}

FileStamp SqliteTableFile::stamp()
{
    // While this connection holds the write transaction nobody else can
    // commit, so the version read at its start stays true.
    if (!(m_inTransaction && m_versionKnownInTransaction)) {
        if (step(m_versionQuery, QStringLiteral("reading")))
            m_dataVersion = sqlite3_column_int64(m_versionQuery.get(), 0);
        sqlite3_reset(m_versionQuery.get());
        m_versionKnownInTransaction = m_inTransaction;
    }
    return {m_dataVersion, m_ownWrites};
}

void SqliteTableFile::apply(const Write &w)
{
    const TableDef &t = def();
    if (w.kind != Write::Remove)
        checkReferences(w.record);
    switch (w.kind) {
    case Write::Insert:
        for (int i = 0; i < t.fields.size(); ++i)
            bind(m_insert, i + 1, bindable(t.fields[i], w.record.value(i)));
        run(m_insert, QStringLiteral("writing"));
        m_lastInsertKey = sqlite3_last_insert_rowid(handle());
        break;
    case Write::Update: {
        const Statement &statement = w.fields != 0 ? partialUpdate(w.fields) : m_update;
        int n = 0;
        for (int i = 0; i < t.fields.size(); ++i)
            if (i != t.keyField && (w.fields == 0 || (w.fields >> i & 1)))
                bind(statement, ++n, bindable(t.fields[i], w.record.value(i)));
        sqlite3_bind_int64(statement.get(), n + 1, w.key);
        run(statement, QStringLiteral("writing"));
        if (sqlite3_changes(handle()) == 0)
            throw StoreError(QStringLiteral("The record was deleted by another user"));
        break;
    }
    case Write::Remove:
        sqlite3_bind_int64(m_remove.get(), 1, w.key);
        run(m_remove, QStringLiteral("deleting from"));
        break;
    }
}

void SqliteTableFile::begin()
{
    run(m_begin, QStringLiteral("writing"));
    m_inTransaction = true;
    m_versionKnownInTransaction = false;
    for (Reference &r : m_references)
        r.found.clear();
}

// Inside the write transaction: the records named exist now, and none can be
// removed before the commit, since removing one takes this table's write lock
// (removeReferenced). Each named key is looked up once per transaction.
void SqliteTableFile::checkReferences(const Record &record)
{
    for (Reference &r : m_references) {
        const QVariant value = record.value(r.def.field);
        if (!value.isValid() || value.isNull())
            continue;
        const qint64 key = value.toLongLong();
        if (r.found.contains(key))
            continue;
        if (!r.exists) {
            const QString path = QDir(QFileInfo(m_path).absolutePath()).filePath(r.table->fileName);
            if (!QFileInfo::exists(path))
                throw MissingReferenceError(r.def.missingMessage);
            QSqlQuery attach(m_db);
            attach.prepare(QStringLiteral("ATTACH DATABASE ? AS %1").arg(r.schema));
            attach.bindValue(0, QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded) + QStringLiteral("?mode=ro"));
            if (!attach.exec())
                fail(attach.lastError(), QStringLiteral("writing"));
            r.exists = std::make_unique<QSqlQuery>(
                prepare(QStringLiteral("SELECT 1 FROM %1.%2 WHERE %3 = ?")
                            .arg(r.schema, r.table->sqlName, r.table->quotedField(r.table->keyField))));
        }
        r.exists->bindValue(0, key);
        exec(*r.exists, QStringLiteral("writing"));
        const bool there = r.exists->next();
        r.exists->finish();
        if (!there)
            throw MissingReferenceError(r.def.missingMessage);
        r.found.insert(key);
    }
}

// A record that others may name is removed under the write lock of every
// table that names it: those tables are attached for the transaction, so
// that no record naming it can be written between the check and the commit.
void SqliteTableFile::removeReferenced(qint64 key)
{
    const QVector<const TableDef *> referring = referringTables(def());
    const bool bulk = m_inTransaction;
    if (bulk)
        commit();
    QStringList attached;
    auto detach = [&] {
        for (const QString &schema : std::as_const(attached))
            QSqlQuery(QStringLiteral("DETACH DATABASE %1").arg(schema), m_db);
        attached.clear();
    };
    try {
        for (const TableDef *other : referring) {
            const QString path = QDir(QFileInfo(m_path).absolutePath()).filePath(other->fileName);
            if (!QFileInfo::exists(path))
                continue;
            const QString schema = QStringLiteral("naming%1").arg(attached.size());
            QSqlQuery attach(m_db);
            attach.prepare(QStringLiteral("ATTACH DATABASE ? AS %1").arg(schema));
            attach.bindValue(0, QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded));
            if (!attach.exec())
                fail(attach.lastError(), QStringLiteral("deleting from"));
            attached << schema;
        }
        // A BEGIN prepared before the attachment would lock the table file
        // alone: this one takes the write lock of every attached file too.
        execSql(QStringLiteral("BEGIN IMMEDIATE"), QStringLiteral("deleting from"));
        m_inTransaction = true;
        try {
            int n = 0;
            for (const TableDef *other : referring) {
                for (const ReferenceDef &reference : other->references) {
                    if (reference.table.compare(def().fileName, Qt::CaseInsensitive) != 0 || n >= attached.size())
                        continue;
                    QSqlQuery named = prepare(QStringLiteral("SELECT 1 FROM %1.%2 WHERE %3 = ? LIMIT 1")
                                                  .arg(attached[n], other->sqlName, other->quotedField(reference.field)));
                    named.bindValue(0, key);
                    exec(named, QStringLiteral("deleting from"));
                    if (named.next())
                        throw StillReferencedError(reference.stillNamedMessage);
                }
                ++n;
            }
            apply(Write{Write::Remove, {}, key});
            commit();
        } catch (const SystemError &) {
            rollbackQuietly();
            throw;
        }
        ++m_ownWrites;
    } catch (const SystemError &) {
        detach();
        if (bulk)
            begin();
        throw;
    }
    detach();
    if (bulk)
        begin();
}

void SqliteTableFile::commit()
{
    if (!tryCommit())
        fail(m_lastCode, m_lastDetail, QStringLiteral("saving"));
    m_bulkWrites.clear();
}

bool SqliteTableFile::tryCommit()
{
    if (sqlite3_step(m_commit.get()) == SQLITE_DONE) {
        sqlite3_reset(m_commit.get());
        m_inTransaction = false;
        return true;
    }
    sqlite3 *db = handle();
    m_lastCode = sqlite3_extended_errcode(db);
    m_lastDetail = QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_reset(m_commit.get());
    // A refused commit may have rolled everything back already.
    if (sqlite3_get_autocommit(db))
        m_inTransaction = false;
    return false;
}

void SqliteTableFile::rollbackQuietly() noexcept
{
    // SQLite may have rolled back by itself already (a full disk does); the
    // statement then fails harmlessly.
    sqlite3_step(m_rollback.get());
    sqlite3_reset(m_rollback.get());
    m_inTransaction = false;
}

void SqliteTableFile::write(Write &&w)
{
    if (m_bulkDepth == 0) {
        begin();
        try {
            apply(w);
        } catch (const SystemError &) {
            rollbackQuietly();
            throw;
        }
        try {
            commit();
        } catch (const SystemError &) {
            // Whatever the file holds now is the truth: the views read it again.
            rollbackQuietly();
            ++m_ownWrites;
            throw;
        }
        ++m_ownWrites;
        return;
    }

    if (m_atomic) {
        // Nothing is kept for a rescue: a failure rolls the whole transaction back.
        apply(w);
        ++m_ownWrites;
        return;
    }
    try {
        apply(w);
    } catch (const SystemError &) {
        rescueBulk(BulkFailure::Write);
        throw;
    }
    ++m_ownWrites;
    m_bulkWrites.push_back(std::move(w));
    if (m_bulkWrites.size() >= size_t(g_bulkCommitEvery)) {
        try {
            commit();
        } catch (const SystemError &) {
            rescueBulk(BulkFailure::Commit);
            throw;
        }
        begin();
    }
}

// A write inside a bulk transaction failed, or the commit that followed it
// did. What was written before it must stay: commit it now. SQLite rolls the
// whole transaction back on some failures (a full disk), so when there is
// nothing left to commit, the earlier writes are written again. A refused
// commit leaves out the write that caused it: its Post fails like any failed
// write, and the user may post it again.
void SqliteTableFile::rescueBulk(BulkFailure failure)
{
    ++m_ownWrites;
    std::vector<Write> earlier = std::move(m_bulkWrites);
    m_bulkWrites.clear();
    try {
        if (failure == BulkFailure::Commit) {
            earlier.pop_back();
            rewrite(earlier);
        } else if (!tryCommit()) {
            rewrite(earlier);
        }
    } catch (const SystemError &e) {
        qWarning("%s", e.what());
    }
    try {
        begin();
    } catch (const SystemError &again) {
        qWarning("%s", again.what());
    }
}

// The open transaction could not be committed: it is rolled back and its
// writes are written once more in a fresh one. If that fails too, the file
// keeps what it had before them and the error is thrown.
void SqliteTableFile::rewrite(const std::vector<Write> &writes)
{
    ++m_ownWrites;
    rollbackQuietly();
    try {
        begin();
        for (const Write &w : writes)
            apply(w);
        commit();
    } catch (const SystemError &) {
        if (m_inTransaction)
            rollbackQuietly();
        throw;
    }
}

void SqliteTableFile::insert(Record &record)
{
    const TableDef &t = def();
    record.resize(t.fields.size());
    checkRecord(record);
    Write w{Write::Insert, record, 0};
    const bool newKey = !record[t.keyField].isValid();
    write(std::move(w));
    if (newKey) {
        const qint64 key = m_lastInsertKey;
        record[t.keyField] = key;
        if (m_bulkDepth > 0 && !m_bulkWrites.empty())
            m_bulkWrites.back().record[t.keyField] = key;
    }
}

void SqliteTableFile::update(const Record &record)
{
    checkRecord(record);
    write(Write{Write::Update, record, record.value(def().keyField).toLongLong()});
}

// Writing only the fields that changed spares SQLite the upkeep of the
// indexes whose fields stay as they were (the chainage and the Section when
// the calculation writes the potentials and currents).
void SqliteTableFile::updateChanged(const Record &record, const Record &onDisk)
{
    checkRecord(record);
    const TableDef &t = def();
    quint64 fields = 0;
    quint64 all = 0;
    for (int i = 0; i < t.fields.size() && i < 64; ++i) {
        if (i == t.keyField)
            continue;
        all |= quint64(1) << i;
        if (!sameBinding(record.value(i), onDisk.value(i)))
            fields |= quint64(1) << i;
    }
    // Nothing changed inside a write transaction: the record on disk is the
    // one told (nobody else can write before the commit), so nothing is
    // written. Outside one, the whole record is written, which also finds a
    // record that another user deleted meanwhile.
    if (fields == 0 && m_inTransaction && t.fields.size() <= 64)
        return;
    // Nothing changed, or everything: the whole record is written.
    if (fields == 0 || fields == all || t.fields.size() > 64)
        fields = 0;
    write(Write{Write::Update, record, record.value(t.keyField).toLongLong(), fields});
}

const SqliteTableFile::Statement &SqliteTableFile::partialUpdate(quint64 fields)
{
    auto it = m_partialUpdates.find(fields);
    if (it != m_partialUpdates.end())
        return it->second;
    const TableDef &t = def();
    QStringList sets;
    for (int i = 0; i < t.fields.size(); ++i)
        if (i != t.keyField && (fields >> i & 1))
            sets << t.quotedField(i) + QStringLiteral(" = ?");
    return m_partialUpdates
        .emplace(fields, compile(QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?")
                                     .arg(t.sqlName, sets.join(QLatin1Char(',')), t.quotedField(t.keyField))))
        .first->second;
}

void SqliteTableFile::remove(qint64 key)
{
    if (!referringTables(def()).isEmpty()) {
        removeReferenced(key);
        return;
    }
    write(Write{Write::Remove, {}, key});
}

void SqliteTableFile::beginBulk()
{
    if (m_bulkDepth == 0) {
        begin();
        m_bulkWrites.clear();
    }
    ++m_bulkDepth;
}

void SqliteTableFile::endBulk()
{
    if (m_bulkDepth == 0)
        return;
    if (--m_bulkDepth > 0)
        return;
    // The records locked ahead are let go once the scope's writes are saved
    // (or have failed for good).
    struct ReleaseRun
    {
        RecordLocks &locks;
        ~ReleaseRun() { locks.releaseRun(); }
    } release{*m_locks};
    if (!m_inTransaction)
        return;
    try {
        commit();
    } catch (const SystemError &) {
        std::vector<Write> writes = std::move(m_bulkWrites);
        m_bulkWrites.clear();
        rewrite(writes);
    }
}

void SqliteTableFile::beginTransaction()
{
    if (m_bulkDepth > 0)
        throw StoreError(QStringLiteral("The table '%1' is already inside a transaction").arg(fileName(m_path)));
    begin();
    m_bulkWrites.clear();
    m_atomic = true;
    m_bulkDepth = 1;
}

void SqliteTableFile::commitTransaction()
{
    if (!m_atomic)
        return;
    m_atomic = false;
    m_bulkDepth = 0;
    try {
        commit();
    } catch (const SystemError &) {
        m_atomic = true;
        rollbackTransaction();
        throw;
    }
    m_locks->releaseRun();
}

void SqliteTableFile::rollbackTransaction() noexcept
{
    if (!m_atomic)
        return;
    m_atomic = false;
    m_bulkDepth = 0;
    // The views read the file again.
    rollbackQuietly();
    m_locks->releaseRun();
    ++m_ownWrites;
}

void SqliteTableFile::lockRecord(qint64 key)
{
    m_locks->lock(key);
}

void SqliteTableFile::unlockRecord(qint64 key)
{
    m_locks->unlock(key);
}

bool SqliteTableFile::lockRecordRun(qint64 first, int count)
{
    return m_bulkDepth > 0 && m_locks->lockRun(first, count);
}

bool SqliteTableFile::inLockedRun(qint64 key) const
{
    return m_bulkDepth > 0 && m_locks->inRun(key);
}

void SqliteTableFile::setBulkCommitInterval(int writes)
{
    g_bulkCommitEvery = writes > 0 ? writes : kBulkCommitEvery;
}

sqlite3 *SqliteTableFile::handle() const
{
    const QVariant handle = m_db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        throw StoreError(QStringLiteral("The SQLite handle of '%1' is not available").arg(fileName(m_path)));
    return *static_cast<sqlite3 *const *>(handle.constData());
}

} // namespace store
