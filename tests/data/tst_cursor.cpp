// The cursors Table1 and Table2 over a real store in a temporary alias: moves,
// positions, hooks, editing, posting, the master-detail link and the leakage
// filter, with the messages of every failure.
#include "data/errors.h"
#include "data/kortables.h"
#include "store/error.h"
#include "support/failure.h"
#include "support/tempalias.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <memory>

namespace {

// Records every data event a control would hear.
class EventLog : public DataLink
{
public:
    QList<DataEvent> events;
    QList<Field *> fields;
    void dataEvent(DataEvent event, Field *field) override
    {
        events << event;
        fields << field;
    }
    int count(DataEvent e) const { return events.count(e); }
    // The events that make a control show something anew.
    QList<DataEvent> display() const
    {
        QList<DataEvent> shown;
        for (DataEvent e : events)
            if (e != DataEvent::CheckBrowseMode && e != DataEvent::UpdateRecord && e != DataEvent::FocusControl)
                shown << e;
        return shown;
    }
};

struct Fixture
{
    TempAlias home;
    std::unique_ptr<KorTables> db;
    int section1Scrolls = 0;
    QStringList scrolls; // Table2 after-scroll hook, with the Section name

    Fixture() { reopen(); }

    void reopen()
    {
        db.reset();
        scrolls.clear();
        db = std::make_unique<KorTables>();
        db->Table2.AfterScroll = [this](Table *) { scrolls << db->Table2Line->AsString(); };
        db->open();
    }

    qint64 addSection(const QString &name)
    {
        Table &t = db->Table2;
        t.Append();
        db->Table2Line->SetAsString(name);
        t.Post();
        return db->Table2N_line->AsInteger();
    }

    // Appends a Support to the current Section.
    void addSupport(double km, int number, std::optional<double> current = std::nullopt)
    {
        Table &t = db->Table1;
        t.Append();
        db->Table1Kilometr->SetAsFloat(km);
        db->Table1Nomeropory->SetAsInteger(number);
        if (current)
            db->Table1I_opory->SetAsFloat(*current);
        t.Post();
    }

    QList<int> numbers()
    {
        QList<int> result;
        Table &t = db->Table1;
        for (int row = 0; row < t.DisplayRowCount(); ++row) {
            Table::RowScope scope(t, row);
            result << int(db->Table1Nomeropory->AsInteger());
        }
        return result;
    }
};

} // namespace

class TestCursor : public QObject
{
    Q_OBJECT

private slots:
    void noSectionGivesEmptySupportView();
    void openingComesToFirstSectionAndSupport();
    void nextAndPriorAtTheEnds();
    void recNoAssignment_data();
    void recNoAssignment();
    void insertThenMoveDropsOrPosts();
    void insertedRowStandsBeforeCurrent();
    void editOnEmptyViewInserts();
    void postFailures_data();
    void postFailures();
    void fieldSettings_data();
    void fieldSettings();
    void blankValues();
    void smallintRange_data();
    void smallintRange();
    void leakageFilter();
    void postLeavingFilteredView();
    void filterSettlesAndMovesFirst();
    void disableControls();
    void fieldByName();
    void masterDetail();
    void renameKeepsSupportView();
    void linkFieldPresetIsNoChange();
    void deleteMovesToNeighbour();
    void cancelRestores();
    void sectionHooks();
    void tiesOrderedByKey();
    void rowScopeReadsWithoutMoving();
    void locateByKey();
    void textSizesCountCharacters_data();
    void textSizesCountCharacters();
    void sectionNumberPastTheSmallintRange();
};

void TestCursor::noSectionGivesEmptySupportView()
{
    Fixture f;
    QVERIFY(f.db->Table2.IsEmpty());
    QCOMPARE(f.db->Table1.RecordCount(), 0);
    QVERIFY(f.db->Table1.Bof() && f.db->Table1.Eof());
    QCOMPARE(failure([&] { f.db->Table1.Delete(); }),
             QString("Table1: Cannot perform this operation on an empty dataset"));
    QCOMPARE(failure([&] { f.db->Table2.Delete(); }),
             QString("Table2: Cannot perform this operation on an empty dataset"));
    QVERIFY(f.scrolls.isEmpty()); // opening an empty table runs no hook
}

void TestCursor::openingComesToFirstSectionAndSupport()
{
    Fixture f;
    f.addSection("A");
    f.addSupport(10.2, 2);
    f.addSupport(10.1, 1);
    f.addSection("B");
    f.addSupport(5.0, 9);
    f.reopen();
    QCOMPARE(f.scrolls, QStringList{"A"});
    QCOMPARE(f.db->Table2Line->AsString(), QString("A"));
    QCOMPARE(f.db->Table1.RecordCount(), 2);
    QCOMPARE(f.db->Table1.RecNo(), 1);
    QCOMPARE(f.db->Table1Nomeropory->AsInteger(), 1);
    // Opening an open cursor changes nothing.
    f.db->Table1.Next();
    f.db->Table1.SetActive(true);
    QCOMPARE(f.db->Table1.RecNo(), 2);
}

void TestCursor::nextAndPriorAtTheEnds()
{
    Fixture f;
    f.addSection("A");
    for (int i = 1; i <= 3; ++i)
        f.addSupport(i, i);
    Table &t = f.db->Table1;
    int hooks = 0;
    t.AfterScroll = [&](Table *) { ++hooks; };
    t.First();
    QVERIFY(t.Bof());
    QVERIFY(!t.Eof());
    t.Last();
    QVERIFY(t.Eof());
    QCOMPARE(t.RecNo(), 3);
    t.SetRecNo(3); // already there: nothing, EOF stays
    QVERIFY(t.Eof());
    t.SetRecNo(2);
    t.Next();
    QCOMPARE(t.RecNo(), 3);
    QVERIFY(!t.Eof());
    hooks = 0;
    t.Next();
    QCOMPARE(t.RecNo(), 3);
    QVERIFY(t.Eof());
    QCOMPARE(hooks, 1);
    t.Next();
    QCOMPARE(hooks, 1); // already at the end: nothing at all
    t.Prior();
    QCOMPARE(t.RecNo(), 2);
    QVERIFY(!t.Eof());
    t.First();
    t.Prior();
    QVERIFY(t.Bof());
    QCOMPARE(t.RecNo(), 1);
    const int before = hooks;
    t.Prior();
    QCOMPARE(hooks, before);
}

void TestCursor::recNoAssignment_data()
{
    QTest::addColumn<int>("target");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("hooks");
    QTest::newRow("zero") << 0 << 2 << 0;
    QTest::newRow("negative") << -1 << 2 << 0;
    QTest::newRow("beyond") << 4 << 2 << 0;
    QTest::newRow("same") << 2 << 2 << 0;
    QTest::newRow("first") << 1 << 1 << 1;
    QTest::newRow("last") << 3 << 3 << 1;
}

void TestCursor::recNoAssignment()
{
    QFETCH(int, target);
    QFETCH(int, expected);
    QFETCH(int, hooks);
    Fixture f;
    f.addSection("A");
    for (int i = 1; i <= 3; ++i)
        f.addSupport(i, i);
    Table &t = f.db->Table1;
    t.SetRecNo(2);
    int ran = 0;
    t.AfterScroll = [&](Table *) { ++ran; };
    t.SetRecNo(target);
    QCOMPARE(t.RecNo(), expected);
    QCOMPARE(ran, hooks);
}

void TestCursor::insertThenMoveDropsOrPosts()
{
    Fixture f;
    f.addSection("A");
    f.addSupport(1, 1);
    Table &t = f.db->Table1;
    t.Insert();
    QCOMPARE(t.RecNo(), -1);
    QCOMPARE(t.DisplayRowCount(), 2);
    t.First();
    QCOMPARE(t.RecordCount(), 1);
    QCOMPARE(t.State(), DataSetState::Browse);

    t.Insert();
    f.db->Table1Kilometr->SetAsFloat(0.5);
    f.db->Table1Nomeropory->SetAsInteger(7);
    t.Last();
    QCOMPARE(t.RecordCount(), 2);
    QCOMPARE(f.numbers(), (QList<int>{7, 1}));
}

void TestCursor::insertedRowStandsBeforeCurrent()
{
    Fixture f;
    f.addSection("A");
    for (int i = 1; i <= 3; ++i)
        f.addSupport(i, i);
    Table &t = f.db->Table1;
    t.SetRecNo(2);
    t.Insert();
    QCOMPARE(t.DisplayRow(), 1);
    QCOMPARE(f.numbers(), (QList<int>{1, 0, 2, 3}));
    t.Cancel();
    QCOMPARE(t.RecNo(), 2);
    t.Append();
    QCOMPARE(t.DisplayRow(), 3);
    QCOMPARE(f.numbers(), (QList<int>{1, 2, 3, 0}));
    t.Cancel();
}

void TestCursor::editOnEmptyViewInserts()
{
    Fixture f;
    f.addSection("A");
    Table &t = f.db->Table1;
    t.Edit();
    QCOMPARE(t.State(), DataSetState::Insert);
    t.Edit(); // already inserting: nothing
    QCOMPARE(t.State(), DataSetState::Insert);
    f.db->Table1Kilometr->SetAsFloat(1);
    f.db->Table1Nomeropory->SetAsInteger(3);
    t.Post();
    QCOMPARE(t.RecordCount(), 1);
    QCOMPARE(f.db->Table1Line->AsInteger(), f.db->Table2N_line->AsInteger());
}

void TestCursor::postFailures_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("message");
    QTest::newRow("browsing") << "browse" << "Table1: Dataset not in edit or insert mode";
    QTest::newRow("blank number") << "nonumber" << "Field 'Nomeropory' must have a value";
    QTest::newRow("blank chainage") << "nochainage" << "Field value required: 'Kilometr'";
}

void TestCursor::postFailures()
{
    QFETCH(QString, setup);
    QFETCH(QString, message);
    Fixture f;
    f.addSection("A");
    f.addSupport(1, 1);
    Table &t = f.db->Table1;
    EventLog log;
    log.setDataSource(&f.db->DataSource1);
    if (setup != "browse") {
        t.Append();
        if (setup == "nonumber")
            f.db->Table1Kilometr->SetAsFloat(2);
        else
            f.db->Table1Nomeropory->SetAsInteger(2);
    }
    const DataSetState state = t.State();
    QCOMPARE(failure([&] { t.Post(); }), message);
    QCOMPARE(t.State(), state);
    QCOMPARE(t.RecordCount(), 1);
    if (setup == "nonumber") {
        const int at = log.events.indexOf(DataEvent::FocusControl);
        QVERIFY(at >= 0);
        QCOMPARE(log.fields[at], f.db->Table1Nomeropory);
    }
}

void TestCursor::fieldSettings_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");
    QTest::newRow("type of 5") << "Tipopory" << "ЖБК12" << "ЖБК";
    QTest::newRow("letter") << "Index" << "аб" << "а";
    QTest::newRow("short type") << "Tipopory" << "С" << "С";
}

void TestCursor::fieldSettings()
{
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, kept);
    Fixture f;
    f.addSection("A");
    f.addSupport(1, 1);
    f.db->Table1.Edit();
    f.db->Table1.FieldByName(field)->SetAsString(typed);
    f.db->Table1.Post();
    f.reopen();
    QCOMPARE(f.db->Table1.FieldByName(field)->AsString(), kept);
}

void TestCursor::blankValues()
{
    Fixture f;
    f.addSection("A");
    f.addSupport(1, 1);
    Field *u = f.db->Table1U_izmer;
    QVERIFY(u->IsNull());
    QCOMPARE(u->AsFloat(), 0.0);
    QCOMPARE(u->AsInteger(), qint64(0));
    QCOMPARE(u->AsString(), QString());
    QCOMPARE(u->Text(), QString());
    QCOMPARE(u->DisplayText(), QString());
    f.db->Table1.Edit();
    u->SetAsFloat(0);
    QVERIFY(!u->IsNull()); // a measured zero is a value
    QVERIFY(!u->Text().isEmpty());
    u->SetText(QString());
    QVERIFY(u->IsNull());
    u->SetAsFloat(3);
    u->SetAsString(QString());
    QVERIFY(u->IsNull());
    f.db->Table1.Cancel();
    QCOMPARE(failure([&] { f.db->Table1I->SetAsInteger(5); }), QString("Field 'I' cannot be modified"));
    QCOMPARE(failure([&] { u->SetAsFloat(5); }), QString("Table1: Dataset not in edit or insert mode"));
}

void TestCursor::smallintRange_data()
{
    QTest::addColumn<qint64>("value");
    QTest::addColumn<QString>("message");
    QTest::newRow("above") << qint64(32768) << "32768 is not a valid value for field 'Nomeropory'. The allowed range is -32768 to 32767";
    QTest::newRow("below") << qint64(-32769) << "-32769 is not a valid value for field 'Nomeropory'. The allowed range is -32768 to 32767";
    QTest::newRow("top") << qint64(32767) << "";
    QTest::newRow("bottom") << qint64(-32768) << "";
}

void TestCursor::smallintRange()
{
    QFETCH(qint64, value);
    QFETCH(QString, message);
    Fixture f;
    f.addSection("A");
    f.addSupport(1, 1);
    f.db->Table1.Edit();
    const QString got = failure([&] { f.db->Table1Nomeropory->SetAsInteger(value); });
    if (message.isEmpty()) {
        QCOMPARE(got, QString("<no error>"));
        QCOMPARE(f.db->Table1Nomeropory->AsInteger(), value);
    } else {
        QCOMPARE(got, message);
        QCOMPARE(f.db->Table1Nomeropory->AsInteger(), qint64(1)); // keeps its value
        QCOMPARE(f.db->Table1.State(), DataSetState::Edit);
    }
}

void TestCursor::leakageFilter()
{
    Fixture f;
    f.addSection("A");
    f.addSupport(1, 1, 40.0);
    f.addSupport(2, 2, 40.001);
    f.addSupport(3, 3);
    f.addSupport(4, 4, 55.0);
    Table &t = f.db->Table1;
    QVERIFY(t.Filtered());
    QCOMPARE(t.Filter(), QString());
    QCOMPARE(t.RecordCount(), 4);
    t.SetFilter(kLeakageFilter);
    QCOMPARE(f.numbers(), (QList<int>{2, 4}));
    t.SetFiltered(false);
    QCOMPARE(t.RecordCount(), 4);
    t.SetFiltered(true);
    QCOMPARE(t.RecordCount(), 2);
    QCOMPARE(failure([&] { t.SetFilter("I_opory >"); }).startsWith("Invalid filter condition"), true);
    QCOMPARE(failure([&] { t.SetFilter("Nothing >4"); }), QString("Invalid filter condition 'Nothing >4': field 'Nothing' not found"));
    QCOMPARE(t.Filter(), kLeakageFilter);
}

void TestCursor::postLeavingFilteredView()
{
    Fixture f;
    f.addSection("A");
    f.addSupport(1, 1, 50.0);
    f.addSupport(2, 2, 55.0);
    f.addSupport(3, 3, 60.0);
    Table &t = f.db->Table1;
    t.SetFilter(kLeakageFilter);
    t.SetRecNo(2);
    t.Edit();
    f.db->Table1I_opory->SetAsFloat(12);
    t.Post();
    QCOMPARE(t.RecordCount(), 2);
    QCOMPARE(f.db->Table1Nomeropory->AsInteger(), qint64(3)); // the following one
    t.Edit();
    f.db->Table1I_opory->SetAsFloat(1);
    t.Post();
    QCOMPARE(f.db->Table1Nomeropory->AsInteger(), qint64(1)); // no following: the previous
    t.Edit();
    f.db->Table1I_opory->SetAsFloat(1);
    t.Post();
    QVERIFY(t.IsEmpty());
}

void TestCursor::filterSettlesAndMovesFirst()
{
    Fixture f;
    f.addSection("A");
    f.addSupport(1, 1, 50.0);
    f.addSupport(2, 2, 55.0);
    Table &t = f.db->Table1;
    t.Last();
    t.Edit();
    f.db->Table1Tipopory->SetAsString("X");
    t.SetFilter(kLeakageFilter); // posts the pending change, then goes to the first record
    QCOMPARE(t.State(), DataSetState::Browse);
    QCOMPARE(t.RecNo(), 1);
    t.Last();
    QCOMPARE(f.db->Table1Tipopory->AsString(), QString("X"));
    t.SetFilter(kLeakageFilter); // same text: still to the first record
    QCOMPARE(t.RecNo(), 1);
    t.SetFiltered(false);
    t.Last();
    t.SetFiltered(false); // unchanged value: still to the first record
    QCOMPARE(t.RecNo(), 1);
}

void TestCursor::disableControls()
{
    Fixture f;
    f.addSection("A");
    f.addSupport(1, 1);
    f.addSupport(2, 2);
    Table &t = f.db->Table1;
    EventLog log;
    log.setDataSource(&f.db->DataSource1);
    t.EnableControls(); // without a DisableControls: nothing
    QVERIFY(log.events.isEmpty());
    t.DisableControls();
    t.DisableControls();
    t.First();
    t.Next();
    t.Edit();
    f.db->Table1U_ras->SetAsFloat(1);
    t.Post();
    t.EnableControls();
    QVERIFY(log.display().isEmpty());
    t.EnableControls();
    QCOMPARE(log.display(), QList<DataEvent>{DataEvent::DataSetChanged});
}

void TestCursor::fieldByName()
{
    Fixture f;
    QCOMPARE(f.db->Table1.FieldByName("line"), f.db->Table1Line);
    QCOMPARE(f.db->Table1.FieldByName("KILOMETR"), f.db->Table1Kilometr);
    QCOMPARE(failure([&] { f.db->Table1.FieldByName("xyz"); }), QString("Table1: Field 'xyz' not found"));
}

void TestCursor::masterDetail()
{
    Fixture f;
    f.addSection("A");
    f.addSupport(1, 1);
    f.addSupport(2, 2);
    f.addSection("B");
    f.addSupport(3, 3);
    Table &sections = f.db->Table2;
    Table &supports = f.db->Table1;
    QCOMPARE(f.numbers(), QList<int>{3});
    sections.First();
    QCOMPARE(f.numbers(), (QList<int>{1, 2}));
    QCOMPARE(supports.RecNo(), 1);

    // A pending Support edit is settled (posted) when the Section changes.
    supports.Last();
    supports.Edit();
    f.db->Table1Tipopory->SetAsString("Z");
    sections.Next();
    QCOMPARE(supports.State(), DataSetState::Browse);
    QCOMPARE(f.numbers(), QList<int>{3});
    sections.First();
    supports.Last();
    QCOMPARE(f.db->Table1Tipopory->AsString(), QString("Z"));

    // A new Section selects the Supports with a blank Line: none.
    sections.Insert();
    QCOMPARE(supports.RecordCount(), 0);
    f.db->Table2Line->SetAsString("C");
    sections.Post();
    QCOMPARE(supports.RecordCount(), 0);
    f.addSupport(7, 7);
    QCOMPARE(f.db->Table1Line->AsInteger(), f.db->Table2N_line->AsInteger());
    sections.Cancel();
    // The store deletes no Section that still has Supports.
    QCOMPARE(failure([&] { sections.Delete(); }),
             QString("The section cannot be deleted while it has supports (another user may be adding them)"));
    QCOMPARE(f.db->Table2Line->AsString(), QString("C"));
    supports.Delete();
    sections.Delete();
    QCOMPARE(f.db->Table2Line->AsString(), QString("B"));
    QCOMPARE(f.numbers(), QList<int>{3});
}

void TestCursor::renameKeepsSupportView()
{
    Fixture f;
    f.addSection("A");
    f.addSupport(1, 1);
    f.addSupport(2, 2);
    f.db->Table1.Last();
    f.db->Table2.Edit();
    f.db->Table2Line->SetAsString("Renamed");
    f.db->Table2.Post();
    QCOMPARE(f.db->Table1.RecNo(), 2);
}

void TestCursor::linkFieldPresetIsNoChange()
{
    Fixture f;
    const qint64 a = f.addSection("A");
    Table &t = f.db->Table1;
    t.Insert();
    QCOMPARE(f.db->Table1Line->AsInteger(), a);
    QVERIFY(!t.Modified());
    t.First();
    QCOMPARE(t.RecordCount(), 0);
}

void TestCursor::deleteMovesToNeighbour()
{
    Fixture f;
    f.addSection("A");
    for (int i = 1; i <= 3; ++i)
        f.addSupport(i, i);
    Table &t = f.db->Table1;
    int hooks = 0;
    t.AfterScroll = [&](Table *) { ++hooks; };
    t.SetRecNo(2);
    hooks = 0;
    t.Delete();
    QCOMPARE(hooks, 1);
    QCOMPARE(f.db->Table1Nomeropory->AsInteger(), qint64(3));
    t.Delete();
    QCOMPARE(f.db->Table1Nomeropory->AsInteger(), qint64(1));
    t.Insert();
    t.Delete(); // while inserting: the same as Cancel
    QCOMPARE(t.RecordCount(), 1);
    QCOMPARE(t.State(), DataSetState::Browse);
}

void TestCursor::cancelRestores()
{
    Fixture f;
    f.addSection("A");
    f.addSupport(1, 1);
    f.addSupport(2, 2);
    Table &t = f.db->Table1;
    t.Last();
    t.Edit();
    f.db->Table1Nomeropory->SetAsInteger(99);
    t.Cancel();
    QCOMPARE(f.db->Table1Nomeropory->AsInteger(), qint64(2));
    int hooks = 0;
    t.AfterScroll = [&](Table *) { ++hooks; };
    t.Cancel(); // browsing: nothing
    QCOMPARE(hooks, 0);
    t.Insert();
    hooks = 0;
    t.Cancel();
    QCOMPARE(hooks, 1);
    QCOMPARE(t.RecNo(), 2);
    QCOMPARE(t.DisplayRowCount(), 2);
}

void TestCursor::sectionHooks()
{
    Fixture f;
    f.addSection("A");
    f.addSection("B");
    f.addSection("C");
    Table &t = f.db->Table2;
    auto runs = [&](const std::function<void()> &op) {
        f.scrolls.clear();
        op();
        return f.scrolls.size();
    };
    QVERIFY(runs([&] { t.First(); }) > 0);
    QVERIFY(runs([&] { t.Next(); }) > 0);
    QVERIFY(runs([&] { t.Last(); }) > 0);
    QVERIFY(runs([&] { t.Prior(); }) > 0);
    QVERIFY(runs([&] { t.MoveToDisplayRow(0); }) > 0);
    QVERIFY(runs([&] { t.Insert(); }) > 0);
    QVERIFY(runs([&] { t.Cancel(); }) > 0);
    QVERIFY(runs([&] { t.Append(); }) > 0);
    t.Cancel();
    QCOMPARE(runs([&] { t.Edit(); }), 0);
    f.db->Table2Line->SetAsString("A2");
    QCOMPARE(runs([&] { t.Post(); }), 0);
    QVERIFY(runs([&] { t.Delete(); }) > 0);
    QCOMPARE(t.RecordCount(), 2);
}

void TestCursor::tiesOrderedByKey()
{
    Fixture f;
    f.addSection("A");
    f.addSupport(5, 3);
    f.addSupport(5, 1);
    f.addSupport(4, 2);
    QCOMPARE(f.numbers(), (QList<int>{2, 3, 1}));
}

void TestCursor::rowScopeReadsWithoutMoving()
{
    Fixture f;
    f.addSection("A");
    for (int i = 1; i <= 3; ++i)
        f.addSupport(i, i * 10);
    Table &t = f.db->Table1;
    t.SetRecNo(2);
    {
        Table::RowScope scope(t, 2);
        QVERIFY(scope.valid());
        QCOMPARE(f.db->Table1Nomeropory->AsInteger(), qint64(30));
        QCOMPARE(t.RecNo(), 2);
    }
    QCOMPARE(f.db->Table1Nomeropory->AsInteger(), qint64(20));
    Table::RowScope outside(t, 7);
    QVERIFY(!outside.valid());
}

void TestCursor::locateByKey()
{
    Fixture f;
    f.addSection("A");
    f.addSupport(1, 1, 50.0);
    f.addSupport(2, 2, 10.0);
    f.addSupport(3, 3, 60.0);
    Table &t = f.db->Table1;
    const QVector<qint64> all = t.ViewKeys();
    QCOMPARE(all.size(), 3);
    t.SetFilter(kLeakageFilter);
    QCOMPARE(t.ViewKeys(), (QVector<qint64>{all[0], all[2]}));
    QVERIFY(!t.Locate(all[1])); // filtered out: no move
    QCOMPARE(t.CurrentKey(), std::optional<qint64>(all[0]));
    QVERIFY(t.Locate(all[2]));
    QCOMPARE(f.db->Table1Nomeropory->AsInteger(), qint64(3));
    t.Insert();
    QVERIFY(!t.CurrentKey());
    QVERIFY(t.Locate(all[0])); // settles the insertion first
    QCOMPARE(t.State(), DataSetState::Browse);
    QCOMPARE(t.RecNo(), 1);
}

void TestCursor::textSizesCountCharacters_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("assigned");
    QTest::addColumn<QString>("kept");
    const QString grin = QString::fromUtf8("\xF0\x9F\x98\x80"); // U+1F600, two UTF-16 units
    QTest::newRow("20 emoji in a Section name") << "Table2Line" << grin.repeated(20) << grin.repeated(20);
    QTest::newRow("21 emoji in a Section name") << "Table2Line" << grin.repeated(21) << grin.repeated(20);
    QTest::newRow("an emoji letter") << "Table1Index" << grin + "x" << grin;
    QTest::newRow("three emoji types") << "Table1Tipopory" << grin.repeated(4) << grin.repeated(3);
    QTest::newRow("Cyrillic type") << "Table1Tipopory" << "ЖБК12" << "ЖБК";
    QTest::newRow("a lone surrogate") << "Table1Tipopory" << QString(QChar(0xD83D)) + "ab" << QString(QChar(0xFFFD)) + "ab";
}

// Sizes count characters, not UTF-16 units; what the file holds is the text
// kept, as valid UTF-8, whose SQLite length is within the stored size.
void TestCursor::textSizesCountCharacters()
{
    QFETCH(QString, field);
    QFETCH(QString, assigned);
    QFETCH(QString, kept);
    Fixture f;
    f.addSection("A");
    const bool section = field == "Table2Line";
    Table &t = section ? f.db->Table2 : f.db->Table1;
    Field *target = nullptr;
    for (const auto &candidate : t.Fields())
        if (candidate->objectName() == field)
            target = candidate.get();
    QVERIFY(target);
    if (section) {
        t.Edit();
    } else {
        t.Append();
        f.db->Table1Kilometr->SetAsFloat(1);
        f.db->Table1Nomeropory->SetAsInteger(1);
    }
    target->SetAsString(assigned);
    t.Post();
    const QString name = target->FieldName();
    f.db.reset();

    QSqlDatabase db = f.home.openRaw("raw", section ? "line.db" : "base_kor.db");
    QVERIFY(db.isOpen());
    {
        QSqlQuery q(db);
        const QString asBytes = TempAlias::onServer() ? QString("convert_to(\"%1\", 'UTF8')").arg(name == "Index" ? name : name.toLower())
                                                    : QString("CAST(\"%1\" AS BLOB)").arg(name);
        QVERIFY(q.exec(QString("SELECT %1 FROM %2").arg(asBytes, section ? "line" : "base_kor")));
        QVERIFY(q.next());
        const QByteArray bytes = q.value(0).toByteArray();
        QCOMPARE(QString::fromUtf8(bytes).toUtf8(), bytes); // valid UTF-8
        QCOMPARE(QString::fromUtf8(bytes), kept);
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase("raw");
}

// Supports take their Section's number in a smallint: a Section numbered
// past its range cannot take any, and says so before a Support is begun.
void TestCursor::sectionNumberPastTheSmallintRange()
{
    Fixture f;
    f.addSection("A");
    f.db.reset();
    {
        QSqlDatabase db = f.home.openRaw("raw", "line.db");
        QVERIFY(db.isOpen());
        QVERIFY(QSqlQuery(db).exec("INSERT INTO line (N_line, Line) VALUES (40000, 'Far')"));
        db.close();
    }
    QSqlDatabase::removeDatabase("raw");
    f.reopen();
    f.db->Table2.Last();
    QCOMPARE(f.db->Table2N_line->AsInteger(), qint64(40000));
    const QString range = "40000 is not a valid value for field 'Line'. The allowed range is -32768 to 32767";
    QCOMPARE(failure([&] { f.db->Table1.Append(); }), range);
    QCOMPARE(f.db->Table1.State(), DataSetState::Browse);
    QCOMPARE(failure([&] { f.db->Table1.Insert(); }), range);
    QCOMPARE(failure([&] { f.db->Table1.Edit(); }), range); // an empty view: Edit inserts
    QCOMPARE(f.db->Table1.State(), DataSetState::Browse);
    f.db->Table2.First();
    f.addSupport(1, 1);
    QCOMPARE(f.db->Table1.RecordCount(), 1);
}

QTEST_GUILESS_MAIN(TestCursor)
#include "tst_cursor.moc"
