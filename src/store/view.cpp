#include "view.h"

#include "error.h"

#include <QHash>

namespace store {

namespace {

constexpr int kPrefetchBefore = 8;
constexpr int kPrefetchAfter = 56;
constexpr int kCacheLimit = 20000;

bool sameRange(const QVariant &a, const QVariant &b)
{
    const bool blankA = !a.isValid() || a.isNull();
    const bool blankB = !b.isValid() || b.isNull();
    if (blankA || blankB)
        return blankA == blankB;
    if (a.typeId() == QMetaType::QString || b.typeId() == QMetaType::QString)
        return a.toString() == b.toString();
    return a.toDouble() == b.toDouble();
}

} // namespace

struct View::Keys
{
    KeyTree tree;
    QHash<qint64, Record> cache;

    void clear(bool withRest = false)
    {
        tree.clear(withRest);
        cache.clear();
    }
    void remember(const Record &record, int keyField)
    {
        if (cache.size() >= kCacheLimit)
            cache.clear();
        cache.insert(record.value(keyField).toLongLong(), record);
    }
};

View::View(TableFile &file) : m_file(file), m_keys(std::make_unique<Keys>()) {}

View::~View() = default;

void View::setIndex(const QString &indexName)
{
    const TableDef &t = def();
    m_index = indexName;
    m_orderFields.clear();
    m_rangeField = -1;
    if (!indexName.isEmpty()) {
        const IndexDef *index = t.index(indexName);
        if (!index)
            throw StoreError(QStringLiteral("Index '%1' does not exist in table '%2'").arg(indexName, t.fileName));
        m_orderFields = index->fields;
        m_rangeField = index->fields.first();
    }
    setKeyFields();
    m_loaded = false;
}

void View::setRange(const QVariant &value)
{
    if (m_rangeField < 0 && !m_orderFields.isEmpty())
        m_rangeField = m_orderFields.first();
    if (m_rangeField < 0)
        throw StoreError(QStringLiteral("A range needs an index on table '%1'").arg(def().fileName));
    if (m_loaded && m_ranged && sameRange(value, m_rangeValue))
        return;
    m_ranged = true;
    m_rangeValue = normalise(def().fields[m_rangeField], value);
    setKeyFields();
    m_loaded = false;
}

void View::clearRange()
{
    if (!m_ranged)
        return;
    m_ranged = false;
    m_rangeValue = QVariant();
    setKeyFields();
    m_loaded = false;
}

void View::setFilter(const std::optional<Condition> &condition)
{
    m_filter = condition;
    m_loaded = false;
}

ScanSpec View::scanSpec() const
{
    ScanSpec scan;
    scan.orderFields = m_orderFields;
    if (m_ranged) {
        scan.rangeField = m_rangeField;
        scan.rangeValue = m_rangeValue;
        // Within a range the first index field is the same everywhere.
        if (!scan.orderFields.isEmpty() && scan.orderFields.first() == m_rangeField)
            scan.orderFields.removeFirst();
    }
    scan.filter = m_filter;
    return scan;
}

void View::setKeyFields()
{
    m_keyFields = scanSpec().orderFields;
    QVector<FieldType> types;
    for (int f : m_keyFields)
        types << def().fields[f].type;
    m_shape = KeyShape(types);
}

ViewKey View::keyOf(const Record &record) const
{
    return m_shape.key(record.value(def().keyField).toLongLong(), record, m_keyFields);
}

bool View::belongs(const Record &record) const
{
    if (m_ranged && !sameRange(record.value(m_rangeField), m_rangeValue))
        return false;
    if (m_filter && !m_filter->passes(record))
        return false;
    return true;
}

void View::reload()
{
    m_keys->clear(m_shape.hasRest());
    KeyTree &tree = m_keys->tree;
    m_file.scanKeys(scanSpec(), [&](qint64 id, const OrderValue *order) { tree.append(m_shape.key(id, order)); });
    m_stamp = m_file.stamp();
    m_loaded = true;
}

void View::sync()
{
    if (!m_loaded) {
        reload();
    } else if (!(m_momentDepth > 0 && m_checkedInMoment) && m_file.stamp() != m_stamp) {
        ++m_reloads;
        reload();
    }
    m_checkedInMoment = m_momentDepth > 0;
}

int View::count()
{
    sync();
    return static_cast<int>(m_keys->tree.size());
}

std::optional<ViewKey> View::keyAt(int position)
{
    sync();
    if (position < 0 || position >= static_cast<int>(m_keys->tree.size()))
        return std::nullopt;
    return m_keys->tree.at(position);
}

std::optional<Record> View::known(qint64 id)
{
    auto cached = m_keys->cache.constFind(id);
    if (cached != m_keys->cache.constEnd())
        return *cached;
    std::optional<Record> record = m_file.read(id);
    if (record)
        m_keys->remember(*record, def().keyField);
    return record;
}

std::optional<ViewKey> View::memberKey(qint64 id)
{
    const std::optional<Record> record = known(id);
    if (!record || !belongs(*record))
        return std::nullopt;
    const ViewKey key = keyOf(*record);
    if (m_keys->tree.find(key) < 0)
        return std::nullopt;
    return key;
}

int View::positionOf(const ViewKey &key)
{
    sync();
    const qsizetype position = m_keys->tree.find(key);
    if (position >= 0)
        return static_cast<int>(position);
    // The record may stand elsewhere now: its order values changed.
    const std::optional<ViewKey> member = memberKey(key.id);
    return member ? static_cast<int>(m_keys->tree.find(*member)) : -1;
}

int View::positionOfId(qint64 id)
{
    sync();
    const std::optional<ViewKey> member = memberKey(id);
    return member ? static_cast<int>(m_keys->tree.find(*member)) : -1;
}

QVector<qint64> View::ids()
{
    sync();
    return ids(0, static_cast<int>(m_keys->tree.size()));
}

QVector<qint64> View::ids(int position, int count)
{
    sync();
    QVector<qint64> result;
    if (count <= 0)
        return result;
    result.reserve(std::min<qsizetype>(count, m_keys->tree.size()));
    m_keys->tree.visitFrom(position, [&](qint64 id) {
        result.push_back(id);
        return result.size() < count;
    });
    return result;
}

int View::lowerBound(const ViewKey &key)
{
    sync();
    return static_cast<int>(m_keys->tree.lowerBound(key));
}

std::optional<Record> View::row(int position)
{
    sync();
    const int size = static_cast<int>(m_keys->tree.size());
    if (position < 0 || position >= size)
        return std::nullopt;
    const qint64 id = m_keys->tree.at(position).id;
    auto cached = m_keys->cache.constFind(id);
    if (cached != m_keys->cache.constEnd())
        return *cached;

    const int first = std::max(0, position - kPrefetchBefore);
    const int last = std::min(size, position + kPrefetchAfter);
    QVector<qint64> ids;
    ids.reserve(last - first);
    int at = first;
    m_keys->tree.visitFrom(first, [&](qint64 key) {
        if (!m_keys->cache.contains(key))
            ids.push_back(key);
        return ++at < last;
    });
    if (m_keys->cache.size() + ids.size() >= kCacheLimit)
        m_keys->cache.clear();
    const int keyField = def().keyField;
    m_file.readMany(ids, [&](Record &&record) {
        const qint64 key = record.value(keyField).toLongLong();
        m_keys->cache.insert(key, std::move(record));
    });
    cached = m_keys->cache.constFind(id);
    if (cached == m_keys->cache.constEnd()) {
        // The record vanished between the check and the read: another
        // process deleted it. Read the keys again on the next call.
        m_loaded = false;
        ++m_reloads;
        return std::nullopt;
    }
    return *cached;
}

std::optional<Record> View::readFresh(qint64 id)
{
    sync();
    return known(id);
}

// A write may have waited for another user's transaction (the busy
// timeout); what that one committed is in the file now as well, so the keys
// are read again instead of being patched with our own write alone.
// The write is done when this is asked: a file that cannot be read just
// after it (a connection lost right after the commit) does not make it a
// failed write; the keys are read again at the next call instead.
bool View::othersWroteMeanwhile(const FileStamp &before)
{
    try {
        const FileStamp now = m_file.stamp();
        if (now.otherChanges == before.otherChanges) {
            m_stamp = now;
            return false;
        }
        ++m_reloads;
        reload();
    } catch (const StoreError &e) {
        qWarning("%s", e.what());
        m_loaded = false;
        m_checkedInMoment = false;
    }
    return true;
}

// A write that failed may have rolled back more than itself: the next call
// asks the file again, inside the same moment too.
void View::writeFailed()
{
    m_checkedInMoment = false;
}

void View::insert(Record &record)
{
    sync();
    const FileStamp before = m_stamp;
    try {
        m_file.insert(record);
    } catch (...) {
        writeFailed();
        throw;
    }
    if (!othersWroteMeanwhile(before) && belongs(record))
        m_keys->tree.insert(keyOf(record));
    m_keys->remember(record, def().keyField);
}

void View::update(const Record &record)
{
    sync();
    const FileStamp before = m_stamp;
    const qint64 id = record.value(def().keyField).toLongLong();
    // After sync() a cached row is the record as the file holds it: any
    // change from outside or failed write of ours has emptied the cache.
    const std::optional<Record> onDisk = known(id);
    try {
        if (onDisk)
            m_file.updateChanged(record, *onDisk);
        else
            m_file.update(record);
    } catch (...) {
        writeFailed();
        throw;
    }
    if (!othersWroteMeanwhile(before)) {
        const bool was = onDisk && belongs(*onDisk);
        const bool is = belongs(record);
        const ViewKey now = keyOf(record);
        const std::optional<ViewKey> old = onDisk ? std::optional<ViewKey>(keyOf(*onDisk)) : std::nullopt;
        if (!(was && is && old->a == now.a && old->b == now.b && old->rest == now.rest)) {
            if (was)
                m_keys->tree.erase(*old);
            if (is)
                m_keys->tree.insert(now);
        }
    }
    m_keys->remember(record, def().keyField);
}

void View::remove(qint64 id)
{
    sync();
    const FileStamp before = m_stamp;
    const std::optional<Record> onDisk = known(id);
    try {
        m_file.remove(id);
    } catch (...) {
        writeFailed();
        throw;
    }
    if (!othersWroteMeanwhile(before) && onDisk && belongs(*onDisk))
        m_keys->tree.erase(keyOf(*onDisk));
    m_keys->cache.remove(id);
}

} // namespace store
