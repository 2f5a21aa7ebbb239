#include "profile.h"

#include "data/kortables.h"
#include "data/numberformat.h"
#include "data/regionalsettings.h"

#include <algorithm>

namespace plot {

bool ProfileSupport::overLimit() const
{
    return !isBlank(leakage) && leakage > kLeakageLimitMa;
}

Profile::Profile(std::vector<ProfileSupport> supports) : m_supports(std::move(supports)) {}

bool Profile::hasCalculatedValues() const
{
    return std::any_of(m_supports.begin(), m_supports.end(), [](const ProfileSupport &s) {
        return !isBlank(s.calculated) || !isBlank(s.leakage);
    });
}

int Profile::lowerBound(double km) const
{
    const auto it = std::lower_bound(m_supports.begin(), m_supports.end(), km,
                                     [](const ProfileSupport &s, double value) { return s.km < value; });
    return int(it - m_supports.begin());
}

Interval Profile::chainage() const
{
    if (m_supports.empty())
        return {0, 1};
    const double first = m_supports.front().km;
    const double last = m_supports.back().km;
    if (last > first)
        return {first, last};
    return {first - 0.5, first + 0.5};
}

namespace {

// From 0 or the least value to the greatest, over the given values of every Support.
template <typename... Values>
Interval spanOf(const std::vector<ProfileSupport> &supports, double atLeast, Values... values)
{
    Interval range{0, atLeast};
    for (const ProfileSupport &s : supports) {
        for (double v : {s.*values...}) {
            if (isBlank(v))
                continue;
            range.min = std::min(range.min, v);
            range.max = std::max(range.max, v);
        }
    }
    if (range.max <= range.min)
        range.max = range.min + 1;
    return range;
}

// A value through a display format, as the grid shows it, without the
// blank that the format's literal puts in front of a short number.
QString shown(double value, const Field *field)
{
    if (isBlank(value))
        return QStringLiteral("—");
    return numfmt::renderMask(value, field->DisplayFormat(), RegionalSettings::instance().decimalSeparator())
        .trimmed();
}

} // namespace

Interval Profile::potentials() const
{
    return spanOf(m_supports, 0.0, &ProfileSupport::calculated, &ProfileSupport::measured);
}

Interval Profile::currents() const
{
    return spanOf(m_supports, kLeakageLimitMa, &ProfileSupport::leakage);
}

Profile readProfile(const KorTables &tables)
{
    const Table &supports = tables.Table1;
    if (!supports.Active())
        return {};
    const int key = tables.Table1I->fieldNo();
    const int km = tables.Table1Kilometr->fieldNo();
    const int number = tables.Table1Nomeropory->fieldNo();
    const int letter = tables.Table1Index->fieldNo();
    const int resistance = tables.Table1R_opory->fieldNo();
    const int measured = tables.Table1U_izmer->fieldNo();
    const int calculated = tables.Table1U_ras->fieldNo();
    const int leakage = tables.Table1I_opory->fieldNo();
    auto valueOf = [](const QVariant &v) { return v.isValid() && !v.isNull() ? v.toDouble() : kBlank; };

    std::vector<ProfileSupport> rows;
    rows.reserve(std::max(0, supports.RecordCount()));
    supports.ReadWholeRange([&](store::Record &&r) {
        ProfileSupport s;
        s.key = r.value(key).toLongLong();
        s.km = r.value(km).toDouble();
        s.number = r.value(number).toLongLong();
        s.letter = r.value(letter).toString();
        s.resistance = valueOf(r.value(resistance));
        s.measured = valueOf(r.value(measured));
        s.calculated = valueOf(r.value(calculated));
        s.leakage = valueOf(r.value(leakage));
        rows.push_back(std::move(s));
    });
    return Profile(std::move(rows));
}

QString describeSupport(const ProfileSupport &s, const KorTables &tables)
{
    QString text = QStringLiteral("№ %1%2, %3 км: U = %4")
                       .arg(QString::number(s.number), s.letter,
                            shown(s.km, tables.Table1Kilometr), shown(s.calculated, tables.Table1U_ras));
    if (!isBlank(s.calculated))
        text += QStringLiteral(" B");
    if (!isBlank(s.measured))
        text += QStringLiteral(" (замер %1 B)").arg(shown(s.measured, tables.Table1U_izmer));
    text += QStringLiteral(", R = ") + shown(s.resistance, tables.Table1R_opory);
    if (!isBlank(s.resistance))
        text += QStringLiteral(" Ом");
    text += QStringLiteral(", I = ") + shown(s.leakage, tables.Table1I_opory);
    if (!isBlank(s.leakage))
        text += QStringLiteral(" мА");
    return text;
}

} // namespace plot
