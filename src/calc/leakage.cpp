#include "leakage.h"

#include "fpu.h"
#include "rounddigits.h"

#include "data/kortables.h"

#include <optional>
#include <vector>

namespace calc {

namespace {

const QString kNoFirst = QStringLiteral("Нет замера на первой опоре!");
const QString kNoLast = QStringLiteral("Нет замера на последней опоре!");

// EnableControls exactly once, however the run ends.
class ControlsHeld
{
public:
    explicit ControlsHeld(Table &table) : m_table(table) { m_table.DisableControls(); }
    ~ControlsHeld() { m_table.EnableControls(); }
    ControlsHeld(const ControlsHeld &) = delete;
    ControlsHeld &operator=(const ControlsHeld &) = delete;

private:
    Table &m_table;
};

// The run's view of the Supports it walks. Without the leakage filter that is
// the cursor's own order, reached with RecNo and Next. With the filter on,
// Supports leave the view as soon as their new current is posted, so the run
// walks the keys the filtered view held when it started, on the unfiltered
// view, reaching each by its key.
class Walk
{
public:
    Walk(Table &table, std::optional<std::vector<qint64>> keys) : m_table(table), m_keys(std::move(keys)) {}

    int count() const { return m_keys ? int(m_keys->size()) : m_table.RecordCount(); }

    void moveTo(int position)
    {
        if (m_keys)
            m_table.Locate((*m_keys)[size_t(position - 1)]);
        else
            m_table.SetRecNo(position);
        m_position = position;
    }

    // Next: at the last Support it stays where it is.
    void next()
    {
        if (m_keys) {
            if (m_position < count())
                moveTo(m_position + 1);
            return;
        }
        m_table.Next();
        m_position = m_table.RecNo();
    }

    int position() const { return m_position; }

private:
    Table &m_table;
    std::optional<std::vector<qint64>> m_keys;
    int m_position = 1;
};

void writeSupport(KorTables &db, float k1, float u1, float slope)
{
    Table &t = db.Table1;
    t.Edit();
    const long double km = db.Table1Kilometr->AsFloat();
    const double x = toDouble(add(mul(sub(km, k1), slope), u1));
    db.Table1U_ras->SetAsFloat(RoundDigits(x, 1));

    // The leakage current comes from the value just stored: volts over ohms
    // give amperes; ×1000 gives milliamperes, the second ×1000 with the
    // final ÷1000 keeps three decimals of a milliampere.
    const long double u = db.Table1U_ras->AsFloat();
    const long double r = db.Table1R_opory->AsFloat();
    const long double scaled = mul(mul(div(u, r), 1000.0L), 1000.0L);
    const std::int64_t k = roundToInt64(scaled);
    db.Table1I_opory->SetAsFloat(toDouble(div(static_cast<long double>(k), 1000.0L)));
    t.Post();
}

bool measured(const KorTables &db)
{
    return !db.Table1U_izmer->IsNull();
}

void walkPairs(KorTables &db, Walk &walk)
{
    const int last = walk.count();
    int a = 1;
    for (;;) {
        // B: the next measured Support after A; A itself when A is the last.
        walk.moveTo(a);
        int b = a;
        while (b < last) {
            walk.next();
            b = walk.position();
            if (measured(db))
                break;
        }

        walk.moveTo(a);
        const float k1 = toFloat(db.Table1Kilometr->AsFloat());
        const float u1 = toFloat(db.Table1U_izmer->AsFloat());
        walk.moveTo(b);
        const float k2 = toFloat(db.Table1Kilometr->AsFloat());
        const float u2 = toFloat(db.Table1U_izmer->AsFloat());
        const float slope = toFloat(div(sub(u2, u1), sub(k2, k1)));

        walk.moveTo(a);
        for (int s = a; s <= b; ++s) {
            writeSupport(db, k1, u1, slope);
            walk.next();
        }
        if (b >= last)
            return;
        a = b;
    }
}

} // namespace

void calculateLeakage(KorTables &db, const std::function<void(const QString &)> &inform)
{
    Table &t = db.Table1;
    ControlsHeld held(t);
    const int remembered = t.RecNo();
    const std::optional<qint64> rememberedKey = t.CurrentKey();

    t.First();
    if (t.IsEmpty() || !measured(db)) {
        inform(kNoFirst);
        return;
    }
    t.Last();
    if (!measured(db)) {
        inform(kNoLast);
        return;
    }

    const bool filtered = t.Filtered() && !t.Filter().trimmed().isEmpty();
    if (!filtered) {
        {
            Table::BulkScope bulk(t);
            Walk walk(t, std::nullopt);
            walkPairs(db, walk);
        }
        t.SetRecNo(remembered);
        return;
    }

    const QVector<qint64> viewKeys = t.ViewKeys();
    t.SetFiltered(false);
    try {
        {
            Table::BulkScope bulk(t);
            Walk walk(t, std::vector<qint64>(viewKeys.begin(), viewKeys.end()));
            walkPairs(db, walk);
        }
    } catch (const SystemError &) {
        // The filter comes back before the error is shown; the Support whose
        // current failed is posted with its new potential by that settle.
        try {
            t.SetFiltered(true);
        } catch (const SystemError &again) {
            qWarning("%s", again.what());
        }
        throw;
    }
    t.SetFiltered(true);
    if (rememberedKey)
        t.Locate(*rememberedKey);
}

} // namespace calc
