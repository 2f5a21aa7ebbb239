#include "view.h"

#include "error.h"

#include <QHash>
#include <ext/pb_ds/assoc_container.hpp>
#include <ext/pb_ds/tree_policy.hpp>
#include <limits>
#include <unordered_map>

namespace store {

namespace {

using KeyTree = __gnu_pbds::tree<ViewKey, __gnu_pbds::null_type, std::less<ViewKey>, __gnu_pbds::rb_tree_tag,
                                 __gnu_pbds::tree_order_statistics_node_update>;

constexpr int kPrefetchBefore = 8;
constexpr int kPrefetchAfter = 56;
constexpr int kCacheLimit = 20000;

double orderValue(const QVariant &v)
{
    return v.isValid() && !v.isNull() ? v.toDouble() : -std::numeric_limits<double>::infinity();
}

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
    std::unordered_map<qint64, ViewKey> members;
    QHash<qint64, Record> cache;

    void clear()
    {
        tree.clear();
        members.clear();
        cache.clear();
    }
    void add(const ViewKey &key)
    {
        tree.insert(key);
        members.emplace(key.id, key);
    }
    void drop(qint64 id)
    {
        auto it = members.find(id);
        if (it == members.end())
            return;
        tree.erase(it->second);
        members.erase(it);
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
    m_loaded = false;
}

void View::clearRange()
{
    if (!m_ranged)
        return;
    m_ranged = false;
    m_rangeValue = QVariant();
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

ViewKey View::keyOf(const Record &record) const
{
    ViewKey key;
    key.id = record.value(def().keyField).toLongLong();
    int n = 0;
    for (int f : scanSpec().orderFields) {
        const double v = orderValue(record.value(f));
        (n++ == 0 ? key.a : key.b) = v;
    }
    return key;
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
    m_keys->clear();
    const ScanSpec scan = scanSpec();
    const int n = scan.orderFields.size();
    m_file.scanKeys(scan, [&](qint64 id, const double *order) {
        ViewKey key;
        key.id = id;
        if (n > 0)
            key.a = order[0];
        if (n > 1)
            key.b = order[1];
        m_keys->add(key);
    });
    m_stamp = m_file.stamp();
    m_loaded = true;
}

void View::sync()
{
    if (!m_loaded) {
        reload();
        return;
    }
    if (m_file.stamp() != m_stamp) {
        ++m_reloads;
        reload();
    }
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
    return *m_keys->tree.find_by_order(position);
}

int View::positionOf(const ViewKey &key)
{
    sync();
    auto it = m_keys->members.find(key.id);
    if (it == m_keys->members.end())
        return -1;
    return static_cast<int>(m_keys->tree.order_of_key(it->second));
}

int View::positionOfId(qint64 id)
{
    sync();
    auto it = m_keys->members.find(id);
    if (it == m_keys->members.end())
        return -1;
    return static_cast<int>(m_keys->tree.order_of_key(it->second));
}

QVector<qint64> View::ids()
{
    sync();
    QVector<qint64> result;
    result.reserve(static_cast<int>(m_keys->tree.size()));
    for (const ViewKey &key : m_keys->tree)
        result.push_back(key.id);
    return result;
}

int View::lowerBound(const ViewKey &key)
{
    sync();
    return static_cast<int>(m_keys->tree.order_of_key(key));
}

std::optional<Record> View::row(int position)
{
    sync();
    const int size = static_cast<int>(m_keys->tree.size());
    if (position < 0 || position >= size)
        return std::nullopt;
    const qint64 id = m_keys->tree.find_by_order(position)->id;
    auto cached = m_keys->cache.constFind(id);
    if (cached != m_keys->cache.constEnd())
        return *cached;

    const int first = std::max(0, position - kPrefetchBefore);
    const int last = std::min(size, position + kPrefetchAfter);
    QVector<qint64> ids;
    ids.reserve(last - first);
    auto it = m_keys->tree.find_by_order(first);
    for (int i = first; i < last; ++i, ++it)
        if (!m_keys->cache.contains(it->id))
            ids.push_back(it->id);
    if (m_keys->cache.size() + ids.size() >= kCacheLimit)
        m_keys->cache.clear();
    const int keyField = def().keyField;
    m_file.readMany(ids, [&](Record &&record) { m_keys->cache.insert(record.value(keyField).toLongLong(), record); });
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
    auto cached = m_keys->cache.constFind(id);
    if (cached != m_keys->cache.constEnd())
        return *cached;
    std::optional<Record> record = m_file.read(id);
    if (record)
        m_keys->remember(*record, def().keyField);
    return record;
}

// A write may have waited for another user's transaction (the busy
// timeout); what that one committed is in the file now as well, so the keys
// are read again instead of being patched with our own write alone.
bool View::othersWroteMeanwhile(const FileStamp &before)
{
    const FileStamp now = m_file.stamp();
    if (now.otherChanges == before.otherChanges) {
        m_stamp = now;
        return false;
    }
    ++m_reloads;
    reload();
    return true;
}

void View::insert(Record &record)
{
    sync();
    const FileStamp before = m_stamp;
    m_file.insert(record);
    if (!othersWroteMeanwhile(before) && belongs(record))
        m_keys->add(keyOf(record));
    m_keys->remember(record, def().keyField);
}

void View::update(const Record &record)
{
    sync();
    const FileStamp before = m_stamp;
    // After sync() a cached row is the record as the file holds it: any
    // change from outside or failed write of ours has emptied the cache.
    auto onDisk = m_keys->cache.constFind(record.value(def().keyField).toLongLong());
    if (onDisk != m_keys->cache.constEnd())
        m_file.updateChanged(record, *onDisk);
    else
        m_file.update(record);
    if (!othersWroteMeanwhile(before)) {
        const qint64 id = record.value(def().keyField).toLongLong();
        m_keys->drop(id);
        if (belongs(record))
            m_keys->add(keyOf(record));
    }
    m_keys->remember(record, def().keyField);
}

void View::remove(qint64 id)
{
    sync();
    const FileStamp before = m_stamp;
    m_file.remove(id);
    if (!othersWroteMeanwhile(before))
        m_keys->drop(id);
    m_keys->cache.remove(id);
}

} // namespace store
