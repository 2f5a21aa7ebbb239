#pragma once

#include "datasource.h"
#include "field.h"
#include "store/tablefile.h"
#include "store/view.h"

#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

enum class DataSetState { Inactive, Browse, Edit, Insert };

// A cursor over one table of the store: ordered by an index, restricted to
// the current record of its master cursor, narrowed by an optional filter.
// It has one current record; the field objects read and write it. Moves
// settle first: a record being edited or inserted is posted when a field was
// changed and cancelled otherwise.
class Table : public QObject
{
    Q_OBJECT
public:
    explicit Table(const QString &name, QObject *parent = nullptr);
    ~Table() override;

    const QString &name() const { return m_name; }

    // Settings made before the cursor is opened.
    void SetDatabaseName(const QString &alias) { m_alias = alias; }
    const QString &DatabaseName() const { return m_alias; }
    void SetTableName(const QString &tableName) { m_tableName = tableName; }
    void SetIndexName(const QString &indexName) { m_indexName = indexName; }
    // Follows the current record of the master's cursor: this cursor offers
    // the records whose first index field equals the master's field.
    void SetMasterSource(DataSource *master, const QString &masterField);
    Field *addField(const QString &objectName, const QString &fieldName, FieldKind kind);

    bool Active() const { return m_state != DataSetState::Inactive; }
    void SetActive(bool active);
    DataSetState State() const { return m_state; }
    bool Modified() const { return m_modified; }

    void First();
    void Last();
    void Next();
    void Prior();
    bool Bof() const { return m_bof; }
    bool Eof() const { return m_eof; }
    int RecNo() const;             // 1-based position in the view; -1 while inserting
    void SetRecNo(int position);   // settles; nothing happens when there is no such record
    int RecordCount() const;       // asked of the store at every call
    bool IsEmpty() const;

    // Moves to the record with the given key when the view holds it (settles
    // first); false, and no move, when it does not.
    bool Locate(qint64 key);
    // The keys of the view's records, in view order.
    QVector<qint64> ViewKeys() const;
    // A browsing cursor whose current record another process removed moves to
    // the following one, as a user's move would (hooks, detail cursors).
    void Refresh();
    // The key of the current record; nullopt when there is none or while inserting.
    std::optional<qint64> CurrentKey() const;

    // Reads the whole range (every record of the master's current record,
    // whatever the filter) in index order, straight from the store, for a
    // window that shows the records beside the grid: the cursor does not
    // move, and its current record, state and controls stay as they are. A
    // record being edited or inserted is read as it is stored.
    void ReadWholeRange(const std::function<void(store::Record &&)> &sink) const;
    // Equal stamps mean ReadWholeRange reads the same records: it changes
    // when the cursor opens or closes, follows another master record, or the
    // table is written (by this program or another).
    struct RangeStamp
    {
        bool active = false;
        QVariant range;
        store::FileStamp file;
        bool operator==(const RangeStamp &) const = default;
    };
    RangeStamp WholeRangeStamp() const;

    void Insert();
    void Append();
    void Edit();
    void Post();
    void Cancel();
    void Delete();

    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const { return m_disableCount > 0; }

    const QString &Filter() const { return m_filterText; }
    void SetFilter(const QString &condition);
    bool Filtered() const { return m_filtered; }
    void SetFiltered(bool filtered);

    Field *FieldByName(const QString &name) const; // "Table1: Field 'x' not found"
    Field *FindField(const QString &name) const;
    const std::vector<std::unique_ptr<Field>> &Fields() const { return m_fields; }

    // Hooks. AfterScroll runs after opening (when the view is not empty), the
    // moves, Insert, Append, the Cancel of a new record and Delete; never
    // after Post or Edit. AfterInsert runs after Insert and Append.
    std::function<void(Table *)> AfterScroll;
    std::function<void(Table *)> AfterInsert;

    // Runs its block inside one write transaction of the cursor's table, for
    // commands that post many records in a row: the writes are committed
    // once, when the outermost scope ends, whether the block ends normally or
    // by an error (what was written before the error stays). Scopes nest.
    class BulkScope
    {
    public:
        explicit BulkScope(Table &table);
        BulkScope(const BulkScope &) = delete;
        BulkScope &operator=(const BulkScope &) = delete;

    private:
        store::BulkScope m_scope;
    };

    // Runs its block as one write transaction of the cursor's table that is
    // saved whole or not at all: the writes are committed by commit(); when
    // the scope ends without it (an error, a cancelled command) every one of
    // them is rolled back.
    class TransactionScope
    {
    public:
        explicit TransactionScope(Table &table);
        TransactionScope(const TransactionScope &) = delete;
        TransactionScope &operator=(const TransactionScope &) = delete;
        void commit() { m_scope.commit(); }

    private:
        store::TransactionScope m_scope;
    };

    // A record of the table with every field blank.
    store::Record blankRecord() const;
    // Writes a whole new record as Post would write it (its key is assigned
    // into it), for a command that checked its rows beforehand and writes
    // many of them: the cursor does not move, no hook runs and no control is
    // told; the cursor sees the record at its next move.
    void writeRecord(store::Record &record);

    // Values of the table that the store could not read when it was opened
    // (another tool wrote them): a text for the user, empty when all is readable.
    QString unreadableValues() const;

    // Rows as a grid shows them: the view's records, with a record being
    // inserted shown at its place.
    int DisplayRowCount() const;
    int DisplayRow() const; // the current record's row; -1 when there is none
    std::optional<store::Record> DisplayRecord(int row) const;
    // A move by a grid to a row (settles first; nothing for the row being inserted).
    void MoveToDisplayRow(int row);
    // A move by a number of records (Page Up/Down in a grid); settles first.
    void MoveBy(int distance);

    // Makes the field objects read the record of one display row, without
    // moving the cursor (for painting a grid row).
    class RowScope
    {
    public:
        RowScope(const Table &table, int displayRow);
        ~RowScope();
        RowScope(const RowScope &) = delete;
        RowScope &operator=(const RowScope &) = delete;
        bool valid() const { return m_valid; }

    private:
        const Table &m_table;
        const store::Record *m_saved;
        store::Record m_row;
        bool m_valid = false;
    };

    const store::Record &activeRecord() const { return *m_active; }

    // Makes the field objects read every record of the view in turn, in the
    // view's order, and calls visit for each; the cursor does not move and no
    // hook runs. For commands that read a whole Section at once (an export):
    // the records are read in batches, not one query each.
    void forEachRecord(const std::function<void()> &visit) const;

private:
    friend class Field;
    friend class DataSource;
    friend class MasterLink;

    [[noreturn]] void error(const QString &text) const;
    void checkActive() const;
    void settle();
    bool resync();
    void followMaster();
    [[noreturn]] void refuseGoneRecord();
    int currentPosition() const;
    void moveTo(int position);
    void clearCurrent();
    // The record at a position, or the last one before it; none when the view is empty.
    void standNear(int position);
    void begin(bool append);
    void notify(DataEvent event, Field *field = nullptr);
    void scrolled();
    void masterChanged();
    QVariant masterValue() const;
    int linkField() const;
    void fieldWritten(Field *field, const QVariant &value);
    void afterSave(const std::function<void()> &step);
    void lockForWriting(qint64 id);
    void unlock();
    store::TableFile &file() const;

    QString m_name;
    QString m_alias;
    QString m_tableName;
    QString m_indexName;
    DataSource *m_master = nullptr;
    QString m_masterField;
    std::unique_ptr<DataLink> m_masterLink;

    std::unique_ptr<store::TableFile> m_file;
    std::unique_ptr<store::View> m_view;
    std::vector<std::unique_ptr<Field>> m_fields;
    QList<DataSource *> m_sources;

    DataSetState m_state = DataSetState::Inactive;
    store::Record m_current;
    store::Record m_original;
    const store::Record *m_active = &m_current;
    std::optional<store::ViewKey> m_currentKey;
    std::optional<store::ViewKey> m_keyBeforeInsert;
    std::optional<qint64> m_locked;
    int m_insertRow = -1;
    bool m_modified = false;
    bool m_bof = true;
    bool m_eof = true;

    QString m_filterText;
    bool m_filtered = true;
    int m_disableCount = 0;
};
