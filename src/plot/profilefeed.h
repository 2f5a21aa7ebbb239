#pragma once

#include "profile.h"

#include "data/datasource.h"
#include "data/table.h"

#include <QObject>

class KorTables;

namespace plot {

// Keeps a profile of the current Section up to date. It listens to both data
// sources the way a grid does, so that every command that changes the
// Supports or the Sections (a post, a deletion, a run held by
// DisableControls/EnableControls, a move to another Section) brings a new
// profile without knowing of it. Changes are gathered and read once, in the
// next turn of the event loop; a change that leaves the stored records as
// they were (a move within the Section, typing into an edit) reads nothing.
class ProfileFeed : public QObject
{
    Q_OBJECT
public:
    explicit ProfileFeed(KorTables &tables, QObject *parent = nullptr);
    ~ProfileFeed() override;

    KorTables &tables() const { return m_tables; }
    const Profile &profile() const { return m_profile; }
    // The current Section's name, as its field holds it now.
    const QString &sectionName() const { return m_sectionName; }
    // Why the last reading failed (the store's message); empty after a good one.
    const QString &failure() const { return m_failure; }

    // Reads the profile now if the stored records may have changed.
    void refresh();

signals:
    // A new profile; anotherSection when it belongs to another Section than the last.
    void profileChanged(bool anotherSection);
    void sectionNameChanged(const QString &name);
    void failed(const QString &message);

private:
    class Link : public DataLink
    {
    public:
        explicit Link(ProfileFeed *feed) : m_feed(feed) {}
        void dataEvent(DataEvent event, Field *field) override;

    private:
        ProfileFeed *m_feed;
    };

    void schedule();

    KorTables &m_tables;
    Link m_supports{this};
    Link m_sections{this};
    Profile m_profile;
    std::optional<Table::RangeStamp> m_stamp;
    QString m_sectionName;
    QString m_failure;
    bool m_scheduled = false;
};

} // namespace plot
