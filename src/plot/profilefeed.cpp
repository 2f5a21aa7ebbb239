#include "profilefeed.h"

#include "data/kortables.h"
#include "store/error.h"
#include "toolkit/guard.h"

namespace plot {

void ProfileFeed::Link::dataEvent(DataEvent event, Field *)
{
    switch (event) {
    case DataEvent::CheckBrowseMode:
    case DataEvent::UpdateRecord:
    case DataEvent::FocusControl:
        return; // about typing not yet written: nothing stored changes
    default:
        m_feed->schedule();
    }
}

ProfileFeed::ProfileFeed(KorTables &tables, QObject *parent) : QObject(parent), m_tables(tables)
{
    m_supports.setDataSource(&tables.DataSource1);
    m_sections.setDataSource(&tables.DataSource2);
    refresh();
}

ProfileFeed::~ProfileFeed() = default;

void ProfileFeed::schedule()
{
    if (m_scheduled)
        return;
    m_scheduled = true;
    QMetaObject::invokeMethod(
        this, [this] { toolkit::runGuarded([this] { refresh(); }); }, Qt::QueuedConnection);
}

void ProfileFeed::refresh()
{
    m_scheduled = false;
    const Table &supports = m_tables.Table1;
    // A command holding the grid is still at work: its EnableControls tells again.
    if (supports.ControlsDisabled())
        return;
    const QString name = m_tables.Table2.Active() ? m_tables.Table2Line->AsString() : QString();
    if (name != m_sectionName) {
        m_sectionName = name;
        emit sectionNameChanged(name);
    }
    try {
        const Table::RangeStamp stamp = supports.WholeRangeStamp();
        if (m_stamp && *m_stamp == stamp && m_failure.isEmpty())
            return;
        const bool anotherSection = !m_stamp || m_stamp->active != stamp.active || m_stamp->range != stamp.range;
        m_profile = readProfile(m_tables);
        m_stamp = stamp;
        m_failure.clear();
        emit profileChanged(anotherSection);
    } catch (const SystemError &e) {
        // The last good profile stays; the next change tries again.
        m_failure = e.message();
        emit failed(m_failure);
    }
}

} // namespace plot
