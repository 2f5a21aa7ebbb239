#include "table.h"

#include "errors.h"
#include "numberreader.h"
#include "store/error.h"

#include <QHash>

// The link of a detail cursor to its master's data source: every change of
// the master's current record makes the detail follow it.
class MasterLink : public DataLink
{
public:
    explicit MasterLink(Table *detail) : m_detail(detail) {}

    void dataEvent(DataEvent event, Field *field) override
    {
        switch (event) {
        case DataEvent::ActiveChanged:
        case DataEvent::DataSetChanged:
        case DataEvent::DataSetScrolled:
            m_detail->masterChanged();
            break;
        case DataEvent::RecordChanged:
            if (!field || field->FieldName().compare(m_detail->m_masterField, Qt::CaseInsensitive) == 0)
                m_detail->masterChanged();
            break;
        default:
            break;
        }
    }

private:
    Table *m_detail;
};

Table::Table(const QString &name, QObject *parent) : QObject(parent), m_name(name)
{
    setObjectName(name);
}

Table::~Table()
{
    m_masterLink.reset();
    for (DataSource *source : std::as_const(m_sources))
        source->m_table = nullptr;
    unlock();
}

void Table::SetMasterSource(DataSource *master, const QString &masterField)
{
    m_master = master;
    m_masterField = masterField;
    m_masterLink = std::make_unique<MasterLink>(this);
    m_masterLink->setDataSource(master);
}

Field *Table::addField(const QString &objectName, const QString &fieldName, FieldKind kind)
{
    m_fields.push_back(std::make_unique<Field>(this, objectName, fieldName, kind));
    return m_fields.back().get();
}

void Table::error(const QString &text) const
{
    throw DatabaseError(QStringLiteral("%1: %2").arg(m_name, text));
}

void Table::checkActive() const
{
    if (!Active())
        error(QStringLiteral("Cannot perform this operation on a closed dataset"));
}

store::TableFile &Table::file() const
{
    checkActive();
    return *m_file;
}

Table::BulkScope::BulkScope(Table &table) : m_scope(table.file()) {}

Table::TransactionScope::TransactionScope(Table &table) : m_scope(table.file()) {}

store::Record Table::blankRecord() const
{
    return store::Record(file().def().fields.size());
}

void Table::writeRecord(store::Record &record)
{
    file().insert(record);
}

QString Table::unreadableValues() const
{
    return Active() ? m_file->unreadableValues() : QString();
}

Field *Table::FindField(const QString &name) const
{
    for (const auto &field : m_fields)
        if (field->FieldName().compare(name, Qt::CaseInsensitive) == 0)
            return field.get();
    return nullptr;
}

Field *Table::FieldByName(const QString &name) const
{
    Field *field = FindField(name);
    if (!field)
        error(QStringLiteral("Field '%1' not found").arg(name));
    return field;
}

// ---------------------------------------------------------------- opening

// The field that holds the master's value: the first field of the index.
int Table::linkField() const
{
    if (!m_master || !m_file)
        return -1;
    const store::IndexDef *index = m_file->def().index(m_indexName);
    return index ? index->fields.first() : -1;
}

QVariant Table::masterValue() const
{
    if (!m_master || !m_master->DataSet() || !m_master->DataSet()->Active())
        return {};
    const Field *field = m_master->DataSet()->FindField(m_masterField);
    return field ? field->Value() : QVariant();
}

void Table::SetActive(bool active)
{
    if (active == Active())
        return;
    if (!active) {
        unlock();
        m_view.reset();
        m_file.reset();
        m_state = DataSetState::Inactive;
        m_current.clear();
        m_original.clear();
        m_currentKey.reset();
        m_modified = false;
        m_bof = m_eof = true;
        notify(DataEvent::ActiveChanged);
        return;
    }

    auto file = store::TableFile::open(m_alias, m_tableName);
    const store::TableDef &def = file->def();
    for (const auto &field : m_fields) {
        const int no = def.fieldIndex(field->FieldName());
        if (no < 0)
            error(QStringLiteral("Field '%1' not found").arg(field->FieldName()));
        field->bind(no);
    }
    auto view = std::make_unique<store::View>(*file);
    view->setIndex(m_indexName);
    if (m_master)
        view->setRange(masterValue());
    if (m_filtered)
        view->setFilter(store::Condition::parse(m_filterText, def));

    m_file = std::move(file);
    m_view = std::move(view);
    m_state = DataSetState::Browse;
    m_current = store::Record(def.fields.size());
    m_modified = false;
    m_insertRow = -1;
    if (m_view->count() > 0) {
        moveTo(0);
    } else {
        clearCurrent();
    }
    m_bof = true;
    m_eof = m_view->count() == 0;
    notify(DataEvent::ActiveChanged);
    if (!m_currentKey)
        return;
    if (AfterScroll)
        AfterScroll(this);
}

// ---------------------------------------------------------------- position

void Table::clearCurrent()
{
    m_currentKey.reset();
    m_current = store::Record(m_file ? m_file->def().fields.size() : 0);
}

void Table::moveTo(int position)
{
    std::optional<store::Record> row = m_view->row(position);
    if (!row) {
        // The store changed under us; take whatever stands there now.
        const int count = m_view->count();
        if (count == 0) {
            clearCurrent();
            return;
        }
        position = std::clamp(position, 0, count - 1);
        row = m_view->row(position);
        if (!row) {
            clearCurrent();
            return;
        }
    }
    m_current = *row;
    m_currentKey = m_view->keyOf(m_current);
}

int Table::currentPosition() const
{
    if (!m_view || !m_currentKey)
        return -1;
    const int position = m_view->positionOf(*m_currentKey);
    if (position >= 0)
        return position;
    const int count = m_view->count();
    if (count == 0)
        return -1;
    return std::min(m_view->lowerBound(*m_currentKey), count - 1);
}

// Brings a browsing cursor back onto a record of the view, when another
// process changed the table under it. A move that this forces is a move like
// any other: the after-scroll hook runs and the detail cursors follow.
// Returns true when the current record was gone.
bool Table::resync()
{
    if (m_state != DataSetState::Browse)
        return false;
    const bool hadRecord = m_currentKey.has_value();
    const int count = m_view->count();
    if (count == 0) {
        clearCurrent();
        m_bof = m_eof = true;
        if (hadRecord)
            scrolled();
        return hadRecord;
    }
    if (!m_currentKey) {
        moveTo(0);
        scrolled();
        return false;
    }
    if (m_view->positionOf(*m_currentKey) >= 0)
        return false;
    moveTo(currentPosition());
    scrolled();
    return true;
}

void Table::Refresh()
{
    checkActive();
    resync();
}

// The record this cursor stood on, or the master's, is gone: the master
// checks its own current record (a Section another user deleted), and this
// cursor follows it.
void Table::followMaster()
{
    if (m_master && m_master->DataSet() && m_master->DataSet()->Active())
        m_master->DataSet()->Refresh();
}

void Table::refuseGoneRecord()
{
    followMaster();
    notify(DataEvent::DataSetChanged);
    throw store::StoreError(QStringLiteral("The record was deleted by another user"));
}

int Table::RecNo() const
{
    checkActive();
    const store::View::Moment moment(*m_view);
    if (m_state == DataSetState::Insert)
        return -1;
    return currentPosition() + 1;
}

int Table::RecordCount() const
{
    checkActive();
    return m_view->count();
}

bool Table::IsEmpty() const
{
    checkActive();
    return m_state != DataSetState::Insert && m_view->count() == 0;
}

void Table::scrolled()
{
    notify(DataEvent::DataSetScrolled);
    if (AfterScroll)
        AfterScroll(this);
}

void Table::First()
{
    checkActive();
    const store::View::Moment moment(*m_view);
    settle();
    resync();
    if (m_view->count() > 0)
        moveTo(0);
    else
        clearCurrent();
    m_bof = true;
    m_eof = !m_currentKey;
    scrolled();
}

void Table::Last()
{
    checkActive();
    const store::View::Moment moment(*m_view);
    settle();
    resync();
    const int count = m_view->count();
    if (count > 0)
        moveTo(count - 1);
    else
        clearCurrent();
    m_eof = true;
    m_bof = !m_currentKey;
    scrolled();
}

void Table::Next()
{
    checkActive();
    const store::View::Moment moment(*m_view);
    settle();
    if (m_eof)
        return;
    resync();
    const int position = currentPosition();
    if (position >= 0 && position + 1 < m_view->count()) {
        moveTo(position + 1);
        m_bof = false;
    } else {
        m_eof = true;
    }
    scrolled();
}

void Table::Prior()
{
    checkActive();
    const store::View::Moment moment(*m_view);
    settle();
    if (m_bof)
        return;
    resync();
    const int position = currentPosition();
    if (position > 0) {
        moveTo(position - 1);
        m_eof = false;
    } else {
        m_bof = true;
    }
    scrolled();
}

void Table::SetRecNo(int position)
{
    checkActive();
    const store::View::Moment moment(*m_view);
    settle();
    resync();
    if (position == currentPosition() + 1)
        return;
    if (position < 1 || position > m_view->count())
        return;
    moveTo(position - 1);
    m_bof = m_eof = false;
    scrolled();
}

bool Table::Locate(qint64 key)
{
    checkActive();
    const store::View::Moment moment(*m_view);
    settle();
    resync();
    const int position = m_view->positionOfId(key);
    if (position < 0)
        return false;
    if (position != currentPosition()) {
        moveTo(position);
        m_bof = m_eof = false;
        scrolled();
    }
    return true;
}

QVector<qint64> Table::ViewKeys() const
{
    checkActive();
    return m_view->ids();
}

std::optional<qint64> Table::CurrentKey() const
{
    if (!Active() || m_state == DataSetState::Insert || !m_currentKey)
        return std::nullopt;
    return m_currentKey->id;
}

void Table::ReadWholeRange(const std::function<void(store::Record &&)> &sink) const
{
    checkActive();
    store::ScanSpec scan;
    if (const store::IndexDef *index = m_file->def().index(m_indexName)) {
        scan.orderFields = index->fields;
        if (m_view->ranged()) {
            scan.rangeField = scan.orderFields.takeFirst();
            scan.rangeValue = m_view->rangeValue();
        }
    }
    m_file->scanRecords(scan, sink);
}

Table::RangeStamp Table::WholeRangeStamp() const
{
    if (!Active())
        return {};
    return {true, m_view->ranged() ? m_view->rangeValue() : QVariant(), m_file->stamp()};
}

void Table::MoveBy(int distance)
{
    checkActive();
    const store::View::Moment moment(*m_view);
    settle();
    resync();
    const int count = m_view->count();
    if (count == 0 || distance == 0)
        return;
    const int position = currentPosition();
    const int target = std::clamp(position + distance, 0, count - 1);
    if (distance > 0 && position + distance >= count)
        m_eof = true;
    if (distance < 0 && position + distance < 0)
        m_bof = true;
    if (target == position)
        return;
    moveTo(target);
    if (distance > 0)
        m_bof = false;
    else
        m_eof = false;
    scrolled();
}

int Table::DisplayRowCount() const
{
    if (!Active())
        return 0;
    return m_view->count() + (m_state == DataSetState::Insert ? 1 : 0);
}

int Table::DisplayRow() const
{
    if (!Active())
        return -1;
    const store::View::Moment moment(*m_view);
    if (m_state == DataSetState::Insert)
        return m_insertRow;
    return currentPosition();
}

std::optional<store::Record> Table::DisplayRecord(int row) const
{
    if (!Active() || row < 0)
        return std::nullopt;
    if (m_state == DataSetState::Insert) {
        if (row == m_insertRow)
            return m_current;
        return m_view->row(row < m_insertRow ? row : row - 1);
    }
    if (m_state == DataSetState::Edit && row == currentPosition())
        return m_current;
    return m_view->row(row);
}

void Table::MoveToDisplayRow(int row)
{
    checkActive();
    const store::View::Moment moment(*m_view);
    if (m_state == DataSetState::Insert && row == m_insertRow)
        return;
    int position = row;
    if (m_state == DataSetState::Insert && row > m_insertRow)
        --position;
    const std::optional<store::ViewKey> target = m_view->keyAt(position);
    if (!target)
        return;
    settle();
    resync();
    const int now = m_view->positionOf(*target);
    if (now < 0 || now == currentPosition())
        return;
    moveTo(now);
    m_bof = m_eof = false;
    scrolled();
}

Table::RowScope::RowScope(const Table &table, int displayRow) : m_table(table), m_saved(table.m_active)
{
    std::optional<store::Record> row = table.DisplayRecord(displayRow);
    if (row) {
        m_row = std::move(*row);
        m_valid = true;
        const_cast<Table &>(m_table).m_active = &m_row;
    }
}

Table::RowScope::~RowScope()
{
    const_cast<Table &>(m_table).m_active = m_saved;
}

void Table::forEachRecord(const std::function<void()> &visit) const
{
    checkActive();
    const QVector<qint64> keys = m_view->ids();
    const int keyField = m_file->def().keyField;
    constexpr qsizetype kBatch = 1024;
    struct Restore
    {
        const Table &table;
        const store::Record *saved;
        ~Restore() { const_cast<Table &>(table).m_active = saved; }
    } restore{*this, m_active};
    QHash<qint64, store::Record> batch;
    for (qsizetype at = 0; at < keys.size(); at += kBatch) {
        const QVector<qint64> part = keys.mid(at, kBatch);
        batch.clear();
        m_file->readMany(part, [&](store::Record &&record) {
            const qint64 key = record.value(keyField).toLongLong();
            batch.insert(key, std::move(record));
        });
        for (qint64 key : part) {
            // A record another user deleted meanwhile is left out.
            const auto it = batch.constFind(key);
            if (it == batch.constEnd())
                continue;
            const_cast<Table *>(this)->m_active = &*it;
            visit();
        }
    }
}

// ---------------------------------------------------------------- editing

void Table::settle()
{
    if (m_state != DataSetState::Edit && m_state != DataSetState::Insert)
        return;
    notify(DataEvent::CheckBrowseMode);
    if (m_modified)
        Post();
    else
        Cancel();
}

// Inside a bulk scope a command walks the view and writes one record after
// another: the records that follow this one in the view and whose keys run
// on from its key are locked with it in one go.
void Table::lockForWriting(qint64 id)
{
    constexpr int kRun = 256;
    if (m_file->inBulk() && !m_file->inLockedRun(id)) {
        const QVector<qint64> ahead = m_view->ids(std::max(0, currentPosition()), kRun);
        int run = 0;
        while (run < ahead.size() && ahead[run] == id + run)
            ++run;
        if (run > 1)
            m_file->lockRecordRun(id, run);
    }
    m_file->lockRecord(id);
}

void Table::unlock()
{
    if (m_locked && m_file)
        m_file->unlockRecord(*m_locked);
    m_locked.reset();
}

void Table::begin(bool append)
{
    checkActive();
    const store::View::Moment moment(*m_view);
    // The link field's value must fit its field object before anything else
    // happens: a Section numbered past the smallint range cannot take Supports.
    const int link = linkField();
    QVariant preset;
    if (link >= 0) {
        preset = store::normalise(m_file->def().fields[link], masterValue());
        for (const auto &field : m_fields)
            if (field->fieldNo() == link && field->kind() == FieldKind::SmallInt && preset.isValid())
                numread::checkSmallintRange(double(preset.toLongLong()), field->FieldName());
    }
    settle();
    resync();
    const int count = m_view->count();
    m_keyBeforeInsert = m_currentKey;
    m_insertRow = append || count == 0 ? count : std::max(0, currentPosition());
    m_current = store::Record(m_file->def().fields.size());
    // The link field is preset before any caller code runs; it is not a change.
    if (link >= 0)
        m_current[link] = preset;
    m_state = DataSetState::Insert;
    m_modified = false;
    m_bof = m_eof = false;
    notify(DataEvent::StateChanged);
    notify(DataEvent::DataSetChanged);
    if (AfterInsert)
        AfterInsert(this);
    if (AfterScroll)
        AfterScroll(this);
}

void Table::Insert()
{
    begin(false);
}

void Table::Append()
{
    begin(true);
}

void Table::Edit()
{
    checkActive();
    if (m_state == DataSetState::Edit || m_state == DataSetState::Insert)
        return;
    const store::View::Moment moment(*m_view);
    // Another record than the one the user chose is never edited in its place.
    if (resync())
        refuseGoneRecord();
    if (m_view->count() == 0 || !m_currentKey) {
        Insert();
        return;
    }
    const qint64 id = m_currentKey->id;
    lockForWriting(id);
    std::optional<store::Record> fresh;
    try {
        fresh = m_view->readFresh(id);
    } catch (...) {
        m_file->unlockRecord(id);
        throw;
    }
    if (!fresh) {
        m_file->unlockRecord(id);
        resync();
        refuseGoneRecord();
    }
    m_locked = id;
    m_current = *fresh;
    m_original = *fresh;
    m_state = DataSetState::Edit;
    m_modified = false;
    notify(DataEvent::StateChanged);
    notify(DataEvent::RecordChanged);
}

void Table::Post()
{
    checkActive();
    const store::View::Moment moment(*m_view);
    if (m_state != DataSetState::Edit && m_state != DataSetState::Insert)
        error(QStringLiteral("Dataset not in edit or insert mode"));
    notify(DataEvent::UpdateRecord);
    for (const auto &field : m_fields) {
        if (field->Required() && !field->ReadOnly() && field->IsNull()) {
            notify(DataEvent::FocusControl, field.get());
            throw DatabaseError(QStringLiteral("Field '%1' must have a value").arg(field->FieldName()));
        }
    }

    store::Record record = m_current;
    try {
        if (m_state == DataSetState::Insert)
            m_view->insert(record);
        else
            m_view->update(record);
    } catch (const store::MissingReferenceError &) {
        // The master record it belongs to is gone: it can be written nowhere.
        Cancel();
        followMaster();
        throw;
    }

    // The record is saved. A failure to read the view again from here on
    // (the connection lost right after the commit) is not the save's: the
    // cursor stands on the saved record as far as it can tell, and the view
    // is read again at the next move.
    unlock();
    m_state = DataSetState::Browse;
    m_modified = false;
    m_insertRow = -1;
    m_current = record;
    m_currentKey = m_view->keyOf(record);
    m_bof = m_eof = false;
    afterSave([&] {
        const store::ViewKey key = *m_currentKey;
        // The record left the view (the filter or the range no longer takes
        // it): the following record becomes current, else the previous one.
        if (m_view->positionOf(key) < 0)
            standNear(m_view->lowerBound(key));
    });
    afterSave([&] { notify(DataEvent::StateChanged); });
    afterSave([&] { notify(DataEvent::DataSetChanged); });
}

void Table::standNear(int position)
{
    const int count = m_view->count();
    if (count == 0)
        clearCurrent();
    else
        moveTo(std::min(position, count - 1));
    m_bof = m_eof = !m_currentKey;
}

// A step after a record was saved or deleted: its failure is told to the log
// only, as the user's command did what it was asked.
void Table::afterSave(const std::function<void()> &step)
{
    try {
        step();
    } catch (const SystemError &e) {
        qWarning("%s", e.what());
    }
}

void Table::Cancel()
{
    checkActive();
    const store::View::Moment moment(*m_view);
    if (m_state == DataSetState::Edit) {
        m_current = m_original;
        unlock();
        m_state = DataSetState::Browse;
        m_modified = false;
        notify(DataEvent::StateChanged);
        notify(DataEvent::DataSetChanged);
        return;
    }
    if (m_state != DataSetState::Insert)
        return;
    m_state = DataSetState::Browse;
    m_modified = false;
    m_insertRow = -1;
    m_currentKey = m_keyBeforeInsert;
    if (m_currentKey) {
        const int position = currentPosition();
        if (position >= 0)
            moveTo(position);
        else
            clearCurrent();
    } else if (m_view->count() > 0) {
        moveTo(0);
    } else {
        clearCurrent();
    }
    m_bof = m_eof = !m_currentKey;
    notify(DataEvent::StateChanged);
    notify(DataEvent::DataSetChanged);
    if (AfterScroll)
        AfterScroll(this);
}

void Table::Delete()
{
    checkActive();
    const store::View::Moment moment(*m_view);
    if (m_state == DataSetState::Insert) {
        Cancel();
        return;
    }
    // Another record than the one the user chose is never deleted in its place.
    if (resync())
        refuseGoneRecord();
    if (m_view->count() == 0 || !m_currentKey)
        error(QStringLiteral("Cannot perform this operation on an empty dataset"));
    notify(DataEvent::CheckBrowseMode);

    const int position = currentPosition();
    const qint64 id = m_currentKey->id;
    const bool held = m_locked && *m_locked == id;
    if (!held)
        lockForWriting(id);
    try {
        m_view->remove(id);
    } catch (...) {
        if (!held)
            m_file->unlockRecord(id);
        throw;
    }
    if (held)
        m_locked.reset();
    m_file->unlockRecord(id);
    m_state = DataSetState::Browse;
    m_modified = false;

    // The record is deleted: as after a Post, a view that cannot be read
    // now is read again at the next move.
    afterSave([&] { standNear(position); });
    afterSave([&] { notify(DataEvent::StateChanged); });
    afterSave([&] { notify(DataEvent::DataSetChanged); });
    if (AfterScroll)
        AfterScroll(this);
}

void Table::fieldWritten(Field *field, const QVariant &value)
{
    if (m_state != DataSetState::Edit && m_state != DataSetState::Insert)
        error(QStringLiteral("Dataset not in edit or insert mode"));
    if (m_active != &m_current)
        error(QStringLiteral("Cannot modify a record while it is being painted"));
    m_current[field->fieldNo()] = value;
    m_modified = true;
    notify(DataEvent::RecordChanged, field);
}

// ---------------------------------------------------------------- display

void Table::DisableControls()
{
    ++m_disableCount;
}

void Table::EnableControls()
{
    if (m_disableCount == 0)
        return;
    if (--m_disableCount == 0)
        notify(DataEvent::DataSetChanged);
}

void Table::notify(DataEvent event, Field *field)
{
    const bool always = event == DataEvent::CheckBrowseMode || event == DataEvent::UpdateRecord
                        || event == DataEvent::FocusControl || event == DataEvent::ActiveChanged;
    if (m_disableCount > 0 && !always)
        return;
    const QList<DataSource *> sources = m_sources;
    for (DataSource *source : sources)
        if (m_sources.contains(source))
            source->notify(event, field);
}

// ---------------------------------------------------------------- filter and link

void Table::SetFilter(const QString &condition)
{
    if (Active())
        settle();
    if (condition != m_filterText) {
        std::optional<store::Condition> parsed;
        if (Active())
            parsed = store::Condition::parse(condition, m_file->def());
        m_filterText = condition;
        if (Active() && m_filtered)
            m_view->setFilter(parsed);
    }
    if (Active() && m_filtered)
        First();
}

void Table::SetFiltered(bool filtered)
{
    if (Active())
        settle();
    if (filtered != m_filtered) {
        m_filtered = filtered;
        if (Active())
            m_view->setFilter(filtered ? store::Condition::parse(m_filterText, m_file->def()) : std::nullopt);
    }
    if (Active())
        First();
}

void Table::masterChanged()
{
    const int field = linkField();
    if (!Active() || field < 0)
        return;
    const store::View::Moment moment(*m_view);
    settle();
    const QVariant value = store::normalise(m_file->def().fields[field], masterValue());
    const QVariant before = m_view->rangeValue();
    const bool same = m_view->ranged()
                      && ((!before.isValid() && !value.isValid())
                          || (before.isValid() && value.isValid() && before == value));
    if (same)
        return;
    m_view->setRange(value);
    First();
}
