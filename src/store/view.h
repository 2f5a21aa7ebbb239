#pragma once

#include "condition.h"
#include "keytree.h"
#include "tablefile.h"

#include <memory>
#include <optional>

namespace store {

// The records of a table that a cursor offers: ordered by an index (or by
// the key), restricted to the records whose first index field equals a value,
// and narrowed by a filter condition. The view keeps the ordered keys of its
// records in memory (a counted B+-tree), so counts, positions and moves cost
// O(log n); rows are read from the file in small batches and cached. Writes
// go through the view, which keeps itself up to date; changes made by other
// processes are noticed at the next call (or, inside a Moment, at its first
// call) and the keys are read again.
class View
{
public:
    explicit View(TableFile &file);
    ~View();
    View(const View &) = delete;
    View &operator=(const View &) = delete;

    TableFile &file() const { return m_file; }
    const TableDef &def() const { return m_file.def(); }

    // The empty name orders by the key. An unknown index is a StoreError.
    void setIndex(const QString &indexName);
    // Restricts the view to the records whose first index field equals value
    // (an invalid value selects the blank ones).
    void setRange(const QVariant &value);
    void clearRange();
    bool ranged() const { return m_ranged; }
    QVariant rangeValue() const { return m_rangeValue; }
    void setFilter(const std::optional<Condition> &condition);
    const std::optional<Condition> &filter() const { return m_filter; }

    // One operation of a cursor: the file is asked once, at the first call
    // inside the moment, whether others changed it, not at every call.
    // Moments nest.
    class Moment
    {
    public:
        explicit Moment(View &view) : m_view(view) { ++m_view.m_momentDepth; }
        ~Moment()
        {
            if (--m_view.m_momentDepth == 0)
                m_view.m_checkedInMoment = false;
        }
        Moment(const Moment &) = delete;
        Moment &operator=(const Moment &) = delete;

    private:
        View &m_view;
    };

    int count();
    // 0-based positions.
    std::optional<ViewKey> keyAt(int position);
    int positionOf(const ViewKey &key);   // -1 when the key is not in the view
    int positionOfId(qint64 id);          // -1 when no record of the view has that key
    QVector<qint64> ids();                // the keys of the view's records, in order
    // Up to count keys of the view's records from a position on, in order.
    QVector<qint64> ids(int position, int count);
    int lowerBound(const ViewKey &key);   // the number of keys before it
    std::optional<Record> row(int position);
    // The record as it is on disk now, whether or not it belongs to the view.
    std::optional<Record> readFresh(qint64 id);

    ViewKey keyOf(const Record &record) const;
    bool belongs(const Record &record) const;

    void insert(Record &record);
    void update(const Record &record);
    void remove(qint64 id);

    // Counts the times the keys were read again because the file changed
    // from outside (another process, or a failed write).
    quint64 reloads() const { return m_reloads; }

private:
    void sync();
    void reload();
    bool othersWroteMeanwhile(const FileStamp &before);
    void writeFailed();
    ScanSpec scanSpec() const;
    void setKeyFields();
    // The record of a key as the view last knew it: cached, else read.
    std::optional<Record> known(qint64 id);
    // The key of a member of the view, found by its record's key.
    std::optional<ViewKey> memberKey(qint64 id);

    struct Keys;
    TableFile &m_file;
    std::unique_ptr<Keys> m_keys;
    QString m_index;
    QVector<int> m_orderFields;
    QVector<int> m_keyFields; // the order fields within the range
    KeyShape m_shape;         // how their values make keys
    int m_rangeField = -1;
    bool m_ranged = false;
    QVariant m_rangeValue;
    std::optional<Condition> m_filter;
    FileStamp m_stamp;
    bool m_loaded = false;
    quint64 m_reloads = 0;
    int m_momentDepth = 0;
    bool m_checkedInMoment = false;
};

} // namespace store
