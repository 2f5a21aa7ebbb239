#include "numberformat.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

namespace numfmt {

namespace {

// A finite decimal number: value = ± digits × 10^exponent.
struct Decimal
{
    bool negative = false;
    std::string digits;
    int exponent = 0;
};

// The nearest decimal of 18 significant digits. std::to_chars is exact and
// rounds a tie to even, as every other rounding of the program does.
Decimal nearest18(double value)
{
    char buffer[64];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value,
                                       std::chars_format::scientific, 17);
    // "-d.ddddddddddddddddde+XX"
    Decimal result;
    const char *p = buffer;
    if (*p == '-') {
        result.negative = true;
        ++p;
    }
    for (; p < written.ptr && *p != 'e'; ++p)
        if (*p != '.')
            result.digits.push_back(*p);
    int exponent = 0;
    ++p;
    if (*p == '+')
        ++p;
    std::from_chars(p, written.ptr, exponent);
    result.exponent = exponent - 17;
    return result;
}

// The value to 17 decimal places; used below 10, where it keeps 18 digits at most.
Decimal fixed17(double value)
{
    char buffer[64];
    const auto written =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 17);
    Decimal result;
    const char *p = buffer;
    if (*p == '-') {
        result.negative = true;
        ++p;
    }
    for (; p < written.ptr; ++p)
        if (*p != '.')
            result.digits.push_back(*p);
    result.exponent = -17;
    return result;
}

// The digits of |value| × 10^decimals after rounding half away from zero at
// that place: a 5 or more after the cut raises the kept part by one unit,
// carrying as far as needed.
std::string roundedScaled(const Decimal &value, int decimals)
{
    std::string n = value.digits;
    const long shift = long(value.exponent) + decimals;
    if (shift >= 0) {
        n.append(std::size_t(shift), '0');
        return n;
    }
    const std::size_t cut = std::size_t(-shift);
    if (cut > n.size())
        return "0";
    const bool up = n[n.size() - cut] >= '5';
    n.resize(n.size() - cut);
    if (up) {
        std::size_t i = n.size();
        while (i > 0 && n[i - 1] == '9')
            n[--i] = '0';
        if (i == 0)
            n.insert(n.begin(), '1');
        else
            ++n[i - 1];
    }
    return n.empty() ? std::string("0") : n;
}

// A rounded value split into the digits the masks place.
struct Rounded
{
    bool negative = false;    // only when the rounded value is not zero
    std::string integer;      // no leading zeros; empty below 1
    std::string fraction;     // exactly `decimals` digits
};

Rounded split(const Decimal &value, int decimals)
{
    std::string n = roundedScaled(value, decimals);
    if (n.size() < std::size_t(decimals) + 1)
        n.insert(0, std::size_t(decimals) + 1 - n.size(), '0');
    Rounded result;
    const std::size_t integerLength = n.size() - std::size_t(decimals);
    const std::size_t firstSignificant = std::min(n.find_first_not_of('0'), integerLength);
    result.integer = n.substr(firstSignificant, integerLength - firstSignificant);
    result.fraction = n.substr(integerLength);
    const bool zero = n.find_first_not_of('0') == std::string::npos;
    result.negative = value.negative && !zero;
    return result;
}

QString nonFinite(double value)
{
    if (std::isnan(value))
        return QStringLiteral("NAN");
    return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
}

bool isPlaceholder(QChar c)
{
    return c == u'0' || c == u'#';
}

} // namespace

QString renderMask(double value, QStringView mask, QChar decimalSeparator)
{
    if (!std::isfinite(value))
        return nonFinite(value);

    // Where the placeholders stand.
    const qsizetype point = mask.indexOf(u'.');
    int integerPlaces = 0;
    int decimalPlaces = 0;
    int firstIntegerZero = -1; // index among the integer places
    int lastDecimalZero = -1;  // index among the decimal places
    for (qsizetype i = 0; i < mask.size(); ++i) {
        if (i == point || !isPlaceholder(mask[i]))
            continue;
        if (point < 0 || i < point) {
            if (mask[i] == u'0' && firstIntegerZero < 0)
                firstIntegerZero = integerPlaces;
            ++integerPlaces;
        } else {
            if (mask[i] == u'0')
                lastDecimalZero = decimalPlaces;
            ++decimalPlaces;
        }
    }
    const int minimumInteger = firstIntegerZero < 0 ? 0 : integerPlaces - firstIntegerZero;
    const int minimumDecimals = lastDecimalZero + 1;

    Rounded rounded = split(nearest18(value), decimalPlaces);
    // The value's own decimal digits end at its last non-zero one.
    const std::size_t lastDigit = rounded.fraction.find_last_not_of('0');
    rounded.fraction.resize(lastDigit == std::string::npos ? 0 : lastDigit + 1);

    const auto &digits = rounded.integer;
    const int length = int(digits.size());
    QString text;
    text.reserve(mask.size() + length + 2);
    if (rounded.negative)
        text += u'-';
    auto writeDigits = [&text](const std::string &part) {
        for (char c : part)
            text += QLatin1Char(c);
    };

    int integerPlace = 0;
    int decimalPlace = 0;
    for (qsizetype i = 0; i < mask.size(); ++i) {
        const QChar c = mask[i];
        if (i == point) {
            // A mask without integer places writes the value's integer digits here.
            if (integerPlaces == 0)
                writeDigits(digits);
            continue;
        }
        if (!isPlaceholder(c)) {
            text += c;
            continue;
        }
        if (point < 0 || i < point) {
            const int j = integerPlace++;
            const int offset = integerPlaces - length;
            if (offset < 0) {
                // Surplus leading digits all go to the first integer place.
                if (j == 0)
                    writeDigits(digits.substr(0, std::size_t(1 - offset)));
                else
                    text += QLatin1Char(digits[std::size_t(j - offset)]);
            } else if (j >= offset) {
                text += QLatin1Char(digits[std::size_t(j - offset)]);
            } else if (j >= integerPlaces - minimumInteger) {
                text += u'0';
            }
        } else {
            const int k = decimalPlace++;
            QChar digit;
            if (std::size_t(k) < rounded.fraction.size())
                digit = QLatin1Char(rounded.fraction[std::size_t(k)]);
            else if (k < minimumDecimals)
                digit = u'0';
            else
                continue;
            if (k == 0)
                text += decimalSeparator;
            text += digit;
        }
    }
    // Neither placeholders nor a point: the digits still have to show somewhere.
    if (integerPlaces == 0 && point < 0)
        writeDigits(digits);
    return text;
}

QString overlayText(double value, int decimals)
{
    decimals = std::clamp(decimals, 0, 1000);
    QString text;
    if (!std::isfinite(value)) {
        text = nonFinite(value);
    } else {
        const Decimal exact = std::fabs(value) < 10 ? fixed17(value) : nearest18(value);
        const Rounded rounded = split(exact, decimals);
        if (rounded.negative)
            text += u'-';
        text += rounded.integer.empty() ? QStringLiteral("0")
                                        : QString::fromLatin1(rounded.integer.data(),
                                                              qsizetype(rounded.integer.size()));
        if (decimals > 0) {
            text += u'.';
            text += QString::fromLatin1(rounded.fraction.data(), qsizetype(rounded.fraction.size()));
        }
    }
    return text.rightJustified(5, u' ');
}

QString formatG(double value)
{
    // The standard defines this form as printf's "%.6g" in the "C" locale.
    char buffer[64];
    const auto written =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6);
    return QString::fromLatin1(buffer, qsizetype(written.ptr - buffer));
}

QString shortestText(double value, QChar decimalSeparator)
{
    if (!std::isfinite(value))
        return nonFinite(value);
    if (value == 0)
        return QStringLiteral("0");
    // Without a precision std::to_chars writes the shortest form that reads
    // back exactly, choosing between plain and exponent notation.
    char buffer[64];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
    QString text = QString::fromLatin1(buffer, qsizetype(written.ptr - buffer));
    if (decimalSeparator != u'.')
        text.replace(u'.', decimalSeparator);
    return text;
}

} // namespace numfmt
