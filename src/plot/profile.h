#pragma once

#include <QString>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

class KorTables;

// The profile of one Section: its Supports in chainage order with the values
// the chart draws. Plain data, read once per change of the tables, so that
// the chart, the tooltips and the hit tests never go back to the cursors.
namespace plot {

// A blank value (a field that holds none) is kept as NaN: the store never
// holds NaN itself, so the two cannot be confused.
inline constexpr double kBlank = std::numeric_limits<double>::quiet_NaN();
inline bool isBlank(double value)
{
    return std::isnan(value);
}

struct ProfileSupport
{
    qint64 key = 0;        // I, the record's key
    double km = 0;         // Kilometr
    qint64 number = 0;     // Nomeropory
    QString letter;        // Index
    double resistance = kBlank; // R_opory
    double measured = kBlank;   // U_izmer
    double calculated = kBlank; // U_ras
    double leakage = kBlank;    // I_opory

    // Over the leakage limit: I_opory greater than 40, strictly; blank is not.
    bool overLimit() const;
};

// A closed interval of values on an axis.
struct Interval
{
    double min = 0;
    double max = 1;
    double span() const { return max - min; }
    bool operator==(const Interval &) const = default;
};

class Profile
{
public:
    Profile() = default;
    explicit Profile(std::vector<ProfileSupport> supports);

    const std::vector<ProfileSupport> &supports() const { return m_supports; }
    bool isEmpty() const { return m_supports.empty(); }
    // True when at least one Support has a calculated potential or a leakage current.
    bool hasCalculatedValues() const;
    // The index of the first Support at or after km (size() when none).
    int lowerBound(double km) const;

    // The chainage the Supports cover; [0, 1] without Supports, a kilometre
    // around a single chainage.
    Interval chainage() const;
    // The potentials (U_ras and U_izmer) and the leakage currents, each from
    // 0 or the least value to the greatest (the currents at least to the
    // leakage limit), for the axes.
    Interval potentials() const;
    Interval currents() const;

private:
    std::vector<ProfileSupport> m_supports;
};

// Reads the current Section's Supports of the program's cursors, whatever
// the leakage filter, without moving Table1.
Profile readProfile(const KorTables &tables);

// "№ 12а, 10,360 км: U = 5,2 B, R = 200,0 Ом, I = 26,0 мА" in the number
// texts the support grid shows (the display formats of the cursors' field
// objects, the decimal separator of the regional settings), with the
// measured potential after the calculated one when there is one; a blank
// value reads "—".
QString describeSupport(const ProfileSupport &support, const KorTables &tables);

} // namespace plot
