#pragma once

#include <QList>
#include <QObject>

class Field;
class Table;
class DataSource;

// What a cursor tells the controls bound to it.
enum class DataEvent {
    ActiveChanged,   // opened or closed
    DataSetChanged,  // the view or many records changed: show everything anew
    DataSetScrolled, // the current record moved
    RecordChanged,   // values of the current record changed (field: which; null: all)
    StateChanged,    // browsing, editing or inserting began
    CheckBrowseMode, // the cursor is about to settle: write pending typing into the fields
    UpdateRecord,    // the cursor is about to post: write pending typing into the fields
    FocusControl,    // a post failed on this field: the control bound to it takes the focus
};

// A control's connection to a data source (a grid, an edit box, the master
// link of a detail cursor).
class DataLink
{
public:
    virtual ~DataLink();
    DataSource *dataSource() const { return m_source; }
    void setDataSource(DataSource *source);
    Table *table() const;

    virtual void dataEvent(DataEvent event, Field *field) = 0;

private:
    friend class DataSource;
    DataSource *m_source = nullptr;
};

// Publishes one cursor to the controls.
class DataSource : public QObject
{
    Q_OBJECT
public:
    explicit DataSource(const QString &name, Table *table = nullptr, QObject *parent = nullptr);
    ~DataSource() override;

    Table *DataSet() const { return m_table; }
    void SetDataSet(Table *table);

    // Tells every link; called by the cursor.
    void notify(DataEvent event, Field *field);

private:
    friend class DataLink;
    friend class Table;
    Table *m_table = nullptr;
    QList<DataLink *> m_links;
};
