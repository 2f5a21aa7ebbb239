#include "decimalreference.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <locale.h>
#include <vector>

namespace reference {

namespace {

locale_t cLocale()
{
    static locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return c;
}

// Runs a C conversion with the "C" locale on this thread only.
template <typename F>
auto inCLocale(F f)
{
    const locale_t previous = uselocale(cLocale());
    auto result = f();
    uselocale(previous);
    return result;
}

// |value| as a decimal digit string with the point after `point` digits.
struct Exact
{
    bool negative = false;
    std::string digits;
    long point = 0;
};

Exact expand(double value)
{
    int binaryExponent = 0;
    std::frexp(value, &binaryExponent);
    // value = m * 2^(e - 53) with m a 53-bit integer: 53 - e decimals are exact.
    const int decimals = std::max(0, 53 - binaryExponent);
    std::vector<char> buffer(size_t(decimals) + 400);
    const int length = inCLocale([&] {
        return std::snprintf(buffer.data(), buffer.size(), "%.*f", decimals, value);
    });
    Exact e;
    std::string text(buffer.data(), size_t(length));
    size_t start = 0;
    if (text[0] == '-') {
        e.negative = true;
        start = 1;
    }
    const size_t dot = text.find('.');
    std::string integer = text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
    e.digits = integer + fraction;
    e.point = long(integer.size());
    return e;
}

// Adds one unit at digit index `last` (inclusive), carrying to the left.
void addUnit(Exact &e, long last)
{
    long i = last;
    while (i >= 0 && e.digits[size_t(i)] == '9') {
        e.digits[size_t(i)] = '0';
        --i;
    }
    if (i < 0) {
        e.digits.insert(e.digits.begin(), '1');
        ++e.point;
    } else {
        ++e.digits[size_t(i)];
    }
}

enum class Tie { Even, AwayFromZero };

// Keeps the digits before index `keep` and rounds on the rest.
void roundAt(Exact &e, long keep, Tie tie)
{
    if (keep >= long(e.digits.size()))
        return;
    if (keep < 0) {
        e.digits.assign(e.digits.size(), '0');
        return;
    }
    const std::string rest = e.digits.substr(size_t(keep));
    bool up;
    if (rest[0] != '5') {
        up = rest[0] > '5';
    } else {
        const bool moreThanHalf = rest.find_first_not_of('0', 1) != std::string::npos;
        if (moreThanHalf || tie == Tie::AwayFromZero)
            up = true;
        else
            up = keep > 0 && (e.digits[size_t(keep - 1)] - '0') % 2 == 1;
    }
    for (size_t k = size_t(keep); k < e.digits.size(); ++k)
        e.digits[k] = '0';
    if (up) {
        if (keep == 0) {
            e.digits.insert(e.digits.begin(), '1');
            ++e.point;
        } else {
            addUnit(e, keep - 1);
        }
    }
}

void toSignificant18(Exact &e)
{
    const size_t first = e.digits.find_first_not_of('0');
    if (first != std::string::npos)
        roundAt(e, long(first) + 18, Tie::Even);
}

// Integer digits (no leading zeros, "" for zero) and exactly `decimals` decimals.
void digitsAt(Exact e, int decimals, std::string &integer, std::string &fraction, bool &zero)
{
    roundAt(e, e.point + decimals, Tie::AwayFromZero);
    while (long(e.digits.size()) < e.point + decimals)
        e.digits.push_back('0');
    integer = e.digits.substr(0, size_t(e.point));
    fraction = e.digits.substr(size_t(e.point), size_t(decimals));
    integer.erase(0, integer.find_first_not_of('0') == std::string::npos
                         ? integer.size()
                         : integer.find_first_not_of('0'));
    zero = integer.empty() && fraction.find_first_not_of('0') == std::string::npos;
}

} // namespace

std::string kilometrText(double value, char separator)
{
    Exact e = expand(value);
    toSignificant18(e);
    std::string integer, fraction;
    bool zero;
    digitsAt(e, 3, integer, fraction, zero);
    std::string text = e.negative && !zero ? "-" : "";
    text += integer.empty() ? "0" : integer;
    text += separator;
    text += fraction;
    return text;
}

std::string resistanceText(double value, char separator)
{
    Exact e = expand(value);
    toSignificant18(e);
    std::string integer, fraction;
    bool zero;
    digitsAt(e, 1, integer, fraction, zero);
    if (integer.empty())
        integer = "0";
    std::string text = e.negative && !zero ? "-" : "";
    // One space: before the digits below a thousand, else before the last three.
    if (integer.size() <= 3)
        text += " " + integer;
    else
        text += integer.substr(0, integer.size() - 3) + " " + integer.substr(integer.size() - 3);
    text += separator;
    text += fraction;
    return text;
}

std::string overlayText(double value, int decimals)
{
    Exact e = expand(value);
    if (std::fabs(value) < 10)
        roundAt(e, e.point + 17, Tie::Even);
    else
        toSignificant18(e);
    std::string integer, fraction;
    bool zero;
    digitsAt(e, decimals, integer, fraction, zero);
    std::string text = e.negative && !zero ? "-" : "";
    text += integer.empty() ? "0" : integer;
    if (decimals > 0)
        text += "." + fraction;
    if (text.size() < 5)
        text.insert(0, 5 - text.size(), ' ');
    return text;
}

std::string printfG(double value)
{
    char buffer[64];
    const int length = inCLocale([&] { return std::snprintf(buffer, sizeof buffer, "%g", value); });
    return std::string(buffer, size_t(length));
}

double strtodC(const std::string &text)
{
    return strtod_l(text.c_str(), nullptr, cLocale());
}

float strtofC(const std::string &text)
{
    return strtof_l(text.c_str(), nullptr, cLocale());
}

} // namespace reference
