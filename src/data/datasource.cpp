#include "datasource.h"

#include "table.h"

DataLink::~DataLink()
{
    setDataSource(nullptr);
}

void DataLink::setDataSource(DataSource *source)
{
    if (m_source == source)
        return;
    if (m_source)
        m_source->m_links.removeAll(this);
    m_source = source;
    if (m_source)
        m_source->m_links.append(this);
}

Table *DataLink::table() const
{
    return m_source ? m_source->DataSet() : nullptr;
}

DataSource::DataSource(const QString &name, Table *table, QObject *parent) : QObject(parent)
{
    setObjectName(name);
    SetDataSet(table);
}

DataSource::~DataSource()
{
    SetDataSet(nullptr);
    for (DataLink *link : std::as_const(m_links))
        link->m_source = nullptr;
}

void DataSource::SetDataSet(Table *table)
{
    if (m_table == table)
        return;
    if (m_table)
        m_table->m_sources.removeAll(this);
    m_table = table;
    if (m_table)
        m_table->m_sources.append(this);
}

void DataSource::notify(DataEvent event, Field *field)
{
    // A link may detach itself or others while it handles the event.
    const QList<DataLink *> links = m_links;
    for (DataLink *link : links)
        if (m_links.contains(link))
            link->dataEvent(event, field);
}
