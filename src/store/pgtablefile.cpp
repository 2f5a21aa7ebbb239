#include "pgtablefile.h"

#include "error.h"
#include "pgschema.h"

#include <QVarLengthArray>
#include <bit>
#include <cmath>
#include <limits>

namespace store {

namespace {

constexpr int kReadManyBatch = 1000;

// Whether two values of a field are stored alike: blanks whatever their
// type, doubles to the bit.
bool storedAlike(const QVariant &a, const QVariant &b)
{
    const bool blankA = !a.isValid() || a.isNull();
    const bool blankB = !b.isValid() || b.isNull();
    if (blankA || blankB)
        return blankA == blankB;
    if (a.typeId() == QMetaType::Double || b.typeId() == QMetaType::Double)
        return a.typeId() == b.typeId() && std::bit_cast<quint64>(a.toDouble()) == std::bit_cast<quint64>(b.toDouble());
    return a == b;
}

} // namespace

PgTableFile::PgTableFile(const TableDef &def, const QString &alias, const ServerSettings &settings)
    : TableFile(def), m_session(PgSession::of(alias, settings))
{
    const pg::TableFacts facts = pg::openTable(*m_session, def, settings.create);
    m_table = m_session->addTable(def, facts.oid, facts.sequence);
    findUnreadableValues();
}

PgTableFile::~PgTableFile()
{
    if (m_atomic)
        rollbackTransaction();
    while (m_bulkDepth > 0) {
        --m_bulkDepth;
        try {
            m_session->endBulk();
        } catch (const SystemError &e) {
            qWarning("%s", e.what());
        }
    }
}

QString PgTableFile::path() const
{
    return QStringLiteral("%1 in %2").arg(def().sqlName, m_session->serverName());
}

Record PgTableFile::record(const PgResult &result, int row) const
{
    const TableDef &t = def();
    Record r(t.fields.size());
    for (int i = 0; i < t.fields.size(); ++i)
        r[i] = result.value(row, i, t.fields[i].type);
    return r;
}

// A number another tool wrote that no field of the program holds (NaN)
// reads as blank; the user is told where once, when the table is opened.
void PgTableFile::findUnreadableValues()
{
    constexpr int kNamed = 5;
    const TableDef &t = def();
    QVector<int> floats;
    QByteArray tests, any;
    for (int i = 0; i < t.fields.size(); ++i) {
        if (t.fields[i].type != FieldType::Float)
            continue;
        floats << i;
        const QByteArray test = pg::column(t, i) + " = 'NaN'::float8";
        tests += ", " + test;
        any += (any.isEmpty() ? "" : " OR ") + test;
    }
    if (floats.isEmpty())
        return;
    const PgResult found = m_session->run("SELECT " + pg::column(t, t.keyField) + "::bigint" + tests + " FROM "
                                              + pg::tableName(t) + " WHERE " + any + " ORDER BY 1",
                                          PgParams(), t.sqlName, QStringLiteral("reading"));
    QStringList named;
    int count = 0;
    for (int row = 0; row < found.rows(); ++row)
        for (int i = 0; i < floats.size(); ++i)
            if (found.boolean(row, i + 1) && ++count <= kNamed)
                named << QStringLiteral("record %1 = %2, field '%3'")
                             .arg(t.fields[t.keyField].name)
                             .arg(found.integer(row, 0))
                             .arg(t.fields[floats[i]].name);
    if (count == 0)
        return;
    QString text = QStringLiteral("The table '%1' holds values this program cannot read; they are shown blank: %2")
                       .arg(t.sqlName, named.join(QStringLiteral("; ")));
    if (count > kNamed)
        text += QStringLiteral("; and %1 more").arg(count - kNamed);
    setUnreadableValues(text);
}

std::optional<Record> PgTableFile::read(qint64 key)
{
    const TableDef &t = def();
    PgParams params;
    params.addInt(key);
    const PgResult result = m_session->runPrepared(
        "read" + QByteArray::number(m_table),
        "SELECT " + pg::columnList(t) + " FROM " + pg::tableName(t) + " WHERE " + pg::column(t, t.keyField) + " = $1",
        params, t.sqlName, QStringLiteral("reading"));
    if (result.rows() == 0)
        return std::nullopt;
    return record(result, 0);
}

void PgTableFile::readMany(const QVector<qint64> &keys, const std::function<void(Record &&)> &sink)
{
    const TableDef &t = def();
    for (int start = 0; start < keys.size(); start += kReadManyBatch) {
        QByteArray list = "{";
        for (int i = start; i < std::min<int>(keys.size(), start + kReadManyBatch); ++i)
            list += (i == start ? "" : ",") + QByteArray::number(keys[i]);
        PgParams params;
        params.addTextForm(list + '}', pg::kInt4Array);
        const PgResult result = m_session->runPrepared("readmany" + QByteArray::number(m_table),
                                                       "SELECT " + pg::columnList(t) + " FROM " + pg::tableName(t)
                                                           + " WHERE " + pg::column(t, t.keyField) + " = ANY($1)",
                                                       params, t.sqlName, QStringLiteral("reading"));
        for (int row = 0; row < result.rows(); ++row)
            sink(record(result, row));
    }
}

// The SELECT of a scan: the records it selects in scan order. A blank range
// value selects the blank ones; blanks come first, as in the views' order.
QByteArray PgTableFile::scanSql(const ScanSpec &scan, const QByteArray &columns, PgParams &params) const
{
    const TableDef &t = def();
    QByteArray where;
    if (scan.rangeField >= 0) {
        const QVariant value = scan.rangeValue;
        if (!value.isValid() || value.isNull()) {
            where += pg::column(t, scan.rangeField) + " IS NULL";
        } else {
            params.addValue(t.fields[scan.rangeField], normalise(t.fields[scan.rangeField], value));
            where += pg::column(t, scan.rangeField) + " = $" + QByteArray::number(params.count());
        }
    }
    if (scan.filter) {
        const int f = scan.filter->field;
        params.addFloat(scan.filter->value);
        where += QByteArray(where.isEmpty() ? "" : " AND ") + pg::column(t, f) + ' ' + scan.filter->sqlOperator().toUtf8()
                 + " $" + QByteArray::number(params.count());
        // NaN, which the server orders above every number, reads as blank.
        if (t.fields[f].type == FieldType::Float)
            where += " AND " + pg::column(t, f) + " <> 'NaN'::float8";
    }
    // Texts in the order of their bytes, which for UTF-8 is the order of the
    // characters' code points (as SQLite orders them), whatever the
    // database's own collation; blanks first.
    QByteArray order;
    for (int f : scan.orderFields)
        order += pg::column(t, f) + (t.fields[f].type == FieldType::Text ? " COLLATE \"C\"" : "")
                 + (t.fields[f].required ? ", " : " NULLS FIRST, ");
    order += pg::column(t, t.keyField);
    QByteArray sql = "SELECT " + columns + " FROM " + pg::tableName(t);
    if (!where.isEmpty())
        sql += " WHERE " + where;
    return sql + " ORDER BY " + order;
}

void PgTableFile::scanKeys(const ScanSpec &scan, const std::function<void(qint64, const OrderValue *)> &sink)
{
    const TableDef &t = def();
    QByteArray columns = pg::column(t, t.keyField);
    for (int f : scan.orderFields)
        columns += ',' + pg::column(t, f);
    PgParams params;
    const QByteArray sql = scanSql(scan, columns, params);
    const PgResult result = m_session->run(sql, params, t.sqlName, QStringLiteral("reading"));
    const int n = int(scan.orderFields.size());
    QVarLengthArray<OrderValue, 4> values(n);
    for (int row = 0; row < result.rows(); ++row) {
        for (int i = 0; i < n; ++i) {
            OrderValue &v = values[i];
            v.kind = OrderValue::Blank;
            if (result.isNull(row, i + 1))
                continue;
            switch (t.fields[scan.orderFields[i]].type) {
            case FieldType::Float:
                v.number = result.float8(row, i + 1);
                if (!std::isnan(v.number)) // NaN reads as blank, as in records
                    v.kind = OrderValue::Number;
                break;
            case FieldType::Text:
                v.kind = OrderValue::Text;
                v.text = result.bytes(row, i + 1);
                break;
            case FieldType::AutoInc:
            case FieldType::SmallInt:
                v.kind = OrderValue::Integer;
                v.integer = result.integer(row, i + 1);
                break;
            }
        }
        sink(result.integer(row, 0), values.data());
    }
}

void PgTableFile::scanRecords(const ScanSpec &scan, const std::function<void(Record &&)> &sink)
{
    const TableDef &t = def();
    PgParams params;
    const QByteArray sql = scanSql(scan, pg::columnList(t), params);
    const PgResult result = m_session->run(sql, params, t.sqlName, QStringLiteral("reading"));
    for (int row = 0; row < result.rows(); ++row)
        sink(record(result, row));
}

FileStamp PgTableFile::stamp()
{
    return {m_session->changesBy(m_table, m_ownWrites), m_ownWrites};
}

void PgTableFile::write(PgWrite &&w)
{
    w.table = m_table;
    m_session->write(std::move(w));
    ++m_ownWrites;
}

void PgTableFile::insert(Record &record)
{
    const TableDef &t = def();
    record.resize(t.fields.size());
    checkRecord(record);
    PgWrite w{PgWrite::Insert, m_table, record};
    const qint64 key = m_session->write(std::move(w));
    ++m_ownWrites;
    record[t.keyField] = key;
}

void PgTableFile::update(const Record &record)
{
    checkRecord(record);
    write(PgWrite{PgWrite::Update, m_table, record, record.value(def().keyField).toLongLong()});
}

// Only the fields that differ are written, which spares the server the
// upkeep of the indexes whose fields stay as they were.
void PgTableFile::updateChanged(const Record &record, const Record &onDisk)
{
    checkRecord(record);
    const TableDef &t = def();
    quint64 fields = 0, all = 0;
    for (int i = 0; i < t.fields.size() && i < 64; ++i) {
        if (i == t.keyField)
            continue;
        all |= quint64(1) << i;
        if (!storedAlike(record.value(i), onDisk.value(i)))
            fields |= quint64(1) << i;
    }
    if (fields == all || t.fields.size() > 64)
        fields = 0;
    write(PgWrite{PgWrite::Update, m_table, record, record.value(t.keyField).toLongLong(), fields});
}

void PgTableFile::remove(qint64 key)
{
    write(PgWrite{PgWrite::Remove, m_table, {}, key});
}

void PgTableFile::beginBulk()
{
    m_session->beginBulk();
    ++m_bulkDepth;
}

void PgTableFile::endBulk()
{
    if (m_bulkDepth == 0)
        return;
    --m_bulkDepth;
    m_session->endBulk();
}

bool PgTableFile::inBulk() const
{
    return m_session->inBulk();
}

void PgTableFile::beginTransaction()
{
    m_session->beginTransaction();
    m_atomic = true;
}

void PgTableFile::commitTransaction()
{
    m_atomic = false;
    m_session->commitTransaction();
}

void PgTableFile::rollbackTransaction() noexcept
{
    m_atomic = false;
    m_session->rollbackTransaction();
}

void PgTableFile::lockRecord(qint64 key)
{
    m_session->lock(m_table, key);
}

void PgTableFile::unlockRecord(qint64 key)
{
    m_session->unlock(m_table, key);
}

bool PgTableFile::lockRecordRun(qint64 first, int count)
{
    return m_session->lockRun(m_table, first, count);
}

bool PgTableFile::inLockedRun(qint64 key) const
{
    return m_session->inRun(m_table, key);
}

void PgTableFile::setBulkCommitInterval(int writes)
{
    PgSession::setBulkCommitInterval(writes);
}

} // namespace store
