// "Расчитать" on a real store: the interpolated potentials and leakage
// currents compared to the bit, the two messages, the floating-point errors
// and where the run leaves the cursor.
#include "calc/fpu.h"
#include "calc/leakage.h"
#include "data/kortables.h"
#include "support/tempalias.h"

#include <QTest>
#include <bit>
#include <cmath>
#include <memory>

namespace {

constexpr double kBlank = std::numeric_limits<double>::quiet_NaN();

using Values = QVector<double>;

struct SupportSpec
{
    double km;
    double measured; // NaN: not measured
    double resistance;
};

struct Fixture
{
    TempAlias home;
    std::unique_ptr<KorTables> db = std::make_unique<KorTables>();
    QStringList messages;

    Fixture() { db->open(); }

    void section(const QVector<SupportSpec> &supports, std::optional<double> current = std::nullopt)
    {
        db->Table2.Append();
        db->Table2Line->SetAsString(QStringLiteral("Участок"));
        db->Table2.Post();
        int number = 1;
        for (const SupportSpec &s : supports) {
            db->Table1.Append();
            db->Table1Kilometr->SetAsFloat(s.km);
            db->Table1Nomeropory->SetAsInteger(number++);
            if (!std::isnan(s.measured))
                db->Table1U_izmer->SetAsFloat(s.measured);
            if (!std::isnan(s.resistance))
                db->Table1R_opory->SetAsFloat(s.resistance);
            if (current)
                db->Table1I_opory->SetAsFloat(*current);
            db->Table1.Post();
        }
    }

    QString run()
    {
        try {
            calc::calculateLeakage(*db, [this](const QString &text) { messages << text; });
        } catch (const SystemError &e) {
            return e.message();
        }
        return QString();
    }

    // The stored values, read through a cursor of its own.
    Values stored(const QString &field)
    {
        KorTables other;
        other.open();
        other.Table2.SetRecNo(db->Table2.RecNo());
        Values result;
        for (other.Table1.First(); !other.Table1.Eof(); other.Table1.Next()) {
            Field *f = other.Table1.FieldByName(field);
            result << (f->IsNull() ? kBlank : f->AsFloat());
            if (other.Table1.RecNo() == other.Table1.RecordCount())
                break;
        }
        return result;
    }
};

bool sameBits(const Values &a, const Values &b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i) {
        if (std::isnan(a[i]) && std::isnan(b[i]))
            continue;
        if (std::bit_cast<quint64>(a[i]) != std::bit_cast<quint64>(b[i]))
            return false;
    }
    return true;
}

QString show(const Values &v)
{
    QStringList parts;
    for (double d : v)
        parts << (std::isnan(d) ? QStringLiteral("blank") : QString::number(d, 'g', 17));
    return parts.join(QStringLiteral(", "));
}

QVector<SupportSpec> even(double start, double step, const Values &measured, double r = 200)
{
    QVector<SupportSpec> result;
    for (int i = 0; i < measured.size(); ++i)
        result << SupportSpec{start + i * step, measured[i], r};
    return result;
}

} // namespace

Q_DECLARE_METATYPE(QVector<SupportSpec>)

class TestLeakage : public QObject
{
    Q_OBJECT

private slots:
    void results_data();
    void results();
    void messages_data();
    void messages();
    void errors_data();
    void errors();
    void failingSupportStaysInEditing();
    void refusedSave_data();
    void refusedSave();
    void currentSupportRestored();
    void leakageFilterOn();
};

void TestLeakage::results_data()
{
    QTest::addColumn<QVector<SupportSpec>>("supports");
    QTest::addColumn<Values>("potentials");
    QTest::addColumn<Values>("currents");
    const double _ = kBlank;

    QTest::newRow("four") << QVector<SupportSpec>{{10.000, 2.0, 200}, {10.060, _, 200}, {10.120, _, 200}, {10.180, 3.2, 200}}
                          << Values{2.0, 2.4, 2.8, 3.2} << Values{10.0, 12.0, 14.0, 16.0};
    QTest::newRow("five, 150 ohm") << even(12.345, 0.06, {1.0, _, _, _, 5.0}, 150)
                                   << Values{1.0, 2.0, 3.0, 4.0, 5.0}
                                   << Values{6.667, 13.333, 20.0, 26.667, 33.333};
    QTest::newRow("five, 150 ohm, float chainages")
        << QVector<SupportSpec>{{12.345000267028809, 1.0, 150}, {12.405000267028809, _, 150},
                                {12.465000267028808, _, 150}, {12.525000267028808, _, 150},
                                {12.585000267028808, 5.0, 150}}
        << Values{1.0, 2.0, 3.0, 4.0, 5.0} << Values{6.667, 13.333, 20.0, 26.667, 33.333};
    QTest::newRow("seven") << QVector<SupportSpec>{{10.000, 2.0, 200}, {10.060, _, 200}, {10.120, _, 200}, {10.180, 3.2, 200},
                                                   {10.240, _, 200}, {10.300, _, 200}, {10.360, 1.4, 200}}
                           << Values{2.0, 2.4, 2.8, 3.2, 2.6, 2.0, 1.4}
                           << Values{10.0, 12.0, 14.0, 16.0, 13.0, 10.0, 7.0};
    QTest::newRow("second to last measured")
        << QVector<SupportSpec>{{10.000, 2.0, 200}, {10.060, _, 200}, {10.120, 3.0, 200}, {10.180, 3.2, 200}}
        << Values{2.0, 2.5, 3.0, 3.2} << Values{10.0, 12.5, 15.0, 16.0};
    QTest::newRow("all measured") << QVector<SupportSpec>{{10.000, 2.0, 200}, {10.060, 2.4, 200}, {10.120, 3.0, 200}}
                                  << Values{2.0, 2.4, 3.0} << Values{10.0, 12.0, 15.0};
    QTest::newRow("exact halves") << QVector<SupportSpec>{{10.000, 2.25, 200}, {10.500, 2.75, 200}}
                                  << Values{2.2, 2.8} << Values{11.0, 14.0};
    QTest::newRow("32-bit 2.65") << QVector<SupportSpec>{{10.000, 2.65, 200}, {10.500, 3.0, 200}}
                                 << Values{2.7, 3.0} << Values{13.5, 15.0};
    QTest::newRow("32-bit 0.45") << QVector<SupportSpec>{{0.000, 0.45, 200}, {1.000, 1.0, 200}}
                                 << Values{0.4, 1.0} << Values{2.0, 5.0};
    QTest::newRow("current on a half") << QVector<SupportSpec>{{0.000, 2.5, 320}, {1.000, 2.5, 320}}
                                       << Values{2.5, 2.5} << Values{7.812, 7.812};
    QTest::newRow("measured zeros") << QVector<SupportSpec>{{0.000, 0.0, 200}, {0.060, _, 200}, {0.120, 0.0, 200}}
                                    << Values{0.0, 0.0, 0.0} << Values{0.0, 0.0, 0.0};
    QTest::newRow("negative potentials") << QVector<SupportSpec>{{0.000, -1.0, 100}, {0.100, _, 100}, {0.200, -2.0, 100}}
                                         << Values{-1.0, -1.5, -2.0} << Values{-10.0, -15.0, -20.0};
}

void TestLeakage::results()
{
    QFETCH(QVector<SupportSpec>, supports);
    QFETCH(Values, potentials);
    QFETCH(Values, currents);
    Fixture f;
    f.section(supports);
    QCOMPARE(f.run(), QString());
    QVERIFY(f.messages.isEmpty());
    const Values u = f.stored("U_ras");
    const Values i = f.stored("I_opory");
    QVERIFY2(sameBits(u, potentials), qPrintable(show(u)));
    QVERIFY2(sameBits(i, currents), qPrintable(show(i)));

    // Again on the values it wrote: the same results, and the file is not
    // written at all (another connection sees no change).
    KorTables other;
    other.open();
    const Table::RangeStamp before = other.Table1.WholeRangeStamp();
    QCOMPARE(f.run(), QString());
    QVERIFY(other.Table1.WholeRangeStamp() == before);
    QVERIFY(sameBits(f.stored("U_ras"), potentials));
    QVERIFY(sameBits(f.stored("I_opory"), currents));
}

void TestLeakage::messages_data()
{
    QTest::addColumn<QVector<SupportSpec>>("supports");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("current");
    const double _ = kBlank;
    QTest::newRow("empty") << QVector<SupportSpec>{} << "Нет замера на первой опоре!" << 0;
    QTest::newRow("first unmeasured") << even(1, 0.1, {_, 2.0, 3.0}) << "Нет замера на первой опоре!" << 1;
    QTest::newRow("last unmeasured") << even(1, 0.1, {1.0, 2.0, _}) << "Нет замера на последней опоре!" << 3;
}

void TestLeakage::messages()
{
    QFETCH(QVector<SupportSpec>, supports);
    QFETCH(QString, message);
    QFETCH(int, current);
    Fixture f;
    f.section(supports);
    f.db->Table1.SetRecNo(2);
    QCOMPARE(f.run(), QString());
    QCOMPARE(f.messages, QStringList{message});
    QCOMPARE(f.db->Table1.RecNo(), current);
    QVERIFY(!f.db->Table1.ControlsDisabled());
    for (double v : f.stored("U_ras"))
        QVERIFY(std::isnan(v)); // nothing written
}

void TestLeakage::errors_data()
{
    QTest::addColumn<QVector<SupportSpec>>("supports");
    QTest::addColumn<QString>("message");
    QTest::addColumn<Values>("potentials");
    QTest::addColumn<int>("current");
    const double _ = kBlank;
    QTest::newRow("zero resistance, unmeasured")
        << QVector<SupportSpec>{{10.0, 2.0, 200}, {10.1, _, 0}, {10.2, 3.0, 200}}
        << "Floating point division by zero" << Values{2.0, _, _} << 2;
    QTest::newRow("zero resistance, zero potential")
        << QVector<SupportSpec>{{10.0, 0.0, 0}, {10.1, 1.0, 200}}
        << "Invalid floating point operation" << Values{_, _} << 1;
    QTest::newRow("blank resistance") << QVector<SupportSpec>{{10.0, 2.0, _}, {10.1, 1.0, 200}}
                                      << "Floating point division by zero" << Values{_, _} << 1;
    QTest::newRow("same chainage, different potentials")
        << QVector<SupportSpec>{{10.0, 2.0, 200}, {10.2, 3.0, 200}, {10.2, 4.0, 200}}
        << "Floating point division by zero" << Values{2.0, 3.0, _} << 3;
    QTest::newRow("same chainage, same potentials")
        << QVector<SupportSpec>{{10.0, 2.0, 200}, {10.2, 3.0, 200}, {10.2, 3.0, 200}}
        << "Invalid floating point operation" << Values{2.0, 3.0, _} << 3;
    QTest::newRow("closer than 32-bit resolution")
        << QVector<SupportSpec>{{1000.0, 2.0, 200}, {1000.00001, 3.0, 200}}
        << "Floating point division by zero" << Values{_, _} << 2;
    QTest::newRow("one support") << QVector<SupportSpec>{{10.0, 2.0, 200}}
                                 << "Invalid floating point operation" << Values{_} << 1;
    QTest::newRow("slope beyond 32 bits") << QVector<SupportSpec>{{0.0, -1e300, 200}, {1.0, 1e300, 200}}
                                          << "Floating point overflow" << Values{_, _} << 1;
}

void TestLeakage::errors()
{
    QFETCH(QVector<SupportSpec>, supports);
    QFETCH(QString, message);
    QFETCH(Values, potentials);
    QFETCH(int, current);
    Fixture f;
    f.section(supports);
    QCOMPARE(f.run(), message);
    QVERIFY(!f.db->Table1.ControlsDisabled());
    QCOMPARE(f.db->Table1.RecNo(), current);
    f.db->Table1.Cancel(); // drop a pending edit, so only what was posted is compared
    const Values u = f.stored("U_ras");
    QVERIFY2(sameBits(u, potentials), qPrintable(show(u)));
}

void TestLeakage::failingSupportStaysInEditing()
{
    const double _ = kBlank;
    Fixture f;
    f.section({{10.0, 2.0, 200}, {10.1, _, 0}, {10.2, 3.0, 200}});
    QCOMPARE(f.run(), QString("Floating point division by zero"));
    QCOMPARE(f.db->Table1.State(), DataSetState::Edit);
    QCOMPARE(f.db->Table1U_ras->AsFloat(), 2.5);
    QVERIFY(f.db->Table1I_opory->IsNull());
    f.db->Table1.First(); // the next move settles it: the new potential is posted
    QVERIFY(sameBits(f.stored("U_ras"), Values{2.0, 2.5, _}));
}

// The file refuses the run's commit, and refuses it again when the run's
// writes are written once more: the error reaches the user, the file keeps
// the potentials it had, and the cursor shows the file, not the lost run.
void TestLeakage::refusedSave_data()
{
    QTest::addColumn<bool>("filtered");
    QTest::newRow("every Support") << false;
    QTest::newRow("leakage filter on") << true;
}

void TestLeakage::refusedSave()
{
    QFETCH(bool, filtered);
    const double _ = kBlank;
    Fixture f;
    // 50 ohm: every Support stays over the leakage limit, so the filter
    // keeps them all listed.
    f.section(even(10, 0.06, {20.0, _, _, 4.0}, 50), 99.0);
    Table &t = f.db->Table1;
    if (filtered)
        t.SetFilter(kLeakageFilter);
    const bool filteredBefore = t.Filtered();
    QCOMPARE(f.run(), QString());
    const Values before = f.stored("U_ras");
    QVERIFY2(!std::isnan(before[1]), qPrintable(show(before)));

    t.First();
    t.Edit();
    f.db->Table1U_izmer->SetAsFloat(40.0);
    t.Post();
    t.SetRecNo(2);
    f.home.refuseCommits("base_kor.db", 2);
    const QString message = f.run();
    QVERIFY2(message.contains("'base_kor.db'"), qPrintable(message));
    QVERIFY(!t.ControlsDisabled());
    QCOMPARE(t.Filtered(), filteredBefore);
    QCOMPARE(t.State(), DataSetState::Browse);
    QVERIFY2(sameBits(f.stored("U_ras"), before), qPrintable(show(f.stored("U_ras"))));
    t.SetFiltered(false);
    Values seen;
    for (t.First(); !t.Eof(); t.Next())
        seen << (t.FieldByName("U_ras")->IsNull() ? kBlank : t.FieldByName("U_ras")->AsFloat());
    QVERIFY2(sameBits(seen, before), qPrintable(show(seen)));
}

void TestLeakage::currentSupportRestored()
{
    const double _ = kBlank;
    Fixture f;
    f.section(even(10, 0.06, {2.0, _, _, 3.2}));
    f.db->Table1.SetRecNo(3);
    QCOMPARE(f.run(), QString());
    QCOMPARE(f.db->Table1.RecNo(), 3);
    QCOMPARE(f.db->Table1.State(), DataSetState::Browse);
    QVERIFY(!f.db->Table1.ControlsDisabled());
}

void TestLeakage::leakageFilterOn()
{
    // All five over the limit before the run; the run takes the filtered view
    // as it stood (here every Support) and writes each of them, although most
    // leave the view as their new current is posted.
    const double _ = kBlank;
    Fixture f;
    f.section(even(10, 0.06, {20.0, _, _, _, 4.0}), 99.0);
    Table &t = f.db->Table1;
    t.SetFilter(kLeakageFilter);
    t.SetRecNo(5);
    QCOMPARE(t.RecordCount(), 5);
    QCOMPARE(f.run(), QString());
    QVERIFY(t.Filtered());
    QCOMPARE(t.Filter(), kLeakageFilter);
    // U_ras 20, 16, 12, 8, 4 over 200 ohm: 100, 80, 60, 40, 20 mA.
    t.SetFiltered(false);
    QVERIFY2(sameBits(f.stored("I_opory"), Values{100.0, 80.0, 60.0, 40.0, 20.0}), qPrintable(show(f.stored("I_opory"))));
    t.SetFiltered(true);
    QCOMPARE(t.RecordCount(), 3);
    QVERIFY(!t.ControlsDisabled());
}

QTEST_GUILESS_MAIN(TestLeakage)
#include "tst_leakage.moc"
