#include "numberreader.h"

#include "errors.h"
#include "numberformat.h"

#include <charconv>
#include <string>
#include <system_error>

namespace numread {

namespace {

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

int hexValue(QChar c)
{
    if (isDigit(c))
        return c.unicode() - u'0';
    if (c >= u'a' && c <= u'f')
        return c.unicode() - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c.unicode() - u'A' + 10;
    return -1;
}

qsizetype skipSpaces(const QString &text, qsizetype i)
{
    while (i < text.size() && text[i] == u' ')
        ++i;
    return i;
}

// A number of the form the float readers accept, rewritten for
// std::from_chars ("-", digits, ".", digits, "e", sign, digits; no "+").
struct Scanned
{
    std::string ascii;
    bool anyDigit = false;   // the mantissa has a digit (else it is the lone separator)
    bool atLeastOne = false; // |value| >= 1, to tell an overflow from an underflow
};

enum class Mantissa {
    DigitOrSeparator, // float field text: "," alone is 0
    DigitRequired,    // decimal text: ".5" and "5." but not "."
};

// Scans a signed mantissa with an optional exponent from `i` on; `i` ends
// after the number. False when the text there is not of that form.
bool scanNumber(const QString &text, qsizetype &i, QChar separator, Mantissa rule, Scanned &out)
{
    const qsizetype n = text.size();
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        if (text[i] == u'-')
            out.ascii.push_back('-');
        ++i;
    }
    long long significantIntegerDigits = 0;
    long long fractionZeros = 0;
    bool nonZero = false;
    int digits = 0;
    for (; i < n && isDigit(text[i]); ++i, ++digits) {
        nonZero = nonZero || text[i] != u'0';
        if (nonZero)
            ++significantIntegerDigits;
        out.ascii.push_back(char(text[i].unicode()));
    }
    bool hasSeparator = false;
    if (i < n && text[i] == separator) {
        hasSeparator = true;
        out.ascii.push_back('.');
        for (++i; i < n && isDigit(text[i]); ++i, ++digits) {
            if (!nonZero && text[i] == u'0')
                ++fractionZeros;
            nonZero = nonZero || text[i] != u'0';
            out.ascii.push_back(char(text[i].unicode()));
        }
    }
    out.anyDigit = digits > 0;
    if (!out.anyDigit && (rule == Mantissa::DigitRequired || !hasSeparator))
        return false;

    long long exponent = 0;
    if (i < n && (text[i] == u'e' || text[i] == u'E')) {
        out.ascii.push_back('e');
        ++i;
        bool negative = false;
        if (i < n && (text[i] == u'+' || text[i] == u'-')) {
            negative = text[i] == u'-';
            if (negative)
                out.ascii.push_back('-');
            ++i;
        }
        int exponentDigits = 0;
        for (; i < n && isDigit(text[i]); ++i, ++exponentDigits) {
            out.ascii.push_back(char(text[i].unicode()));
            // Saturates far beyond any exponent a double can take.
            if (exponent < 1'000'000'000)
                exponent = exponent * 10 + (text[i].unicode() - u'0');
        }
        if (exponentDigits == 0)
            return false;
        if (negative)
            exponent = -exponent;
    }
    // The value lies in [10^(e-1), 10^e) with e the position of its first
    // significant digit, shifted by the exponent.
    const long long firstDigit = significantIntegerDigits > 0 ? significantIntegerDigits : -fractionZeros;
    out.atLeastOne = nonZero && firstDigit + exponent >= 1;
    return true;
}

// Reads the scanned number; std::nullopt when it lies beyond the range of T.
template <typename T>
std::optional<T> convert(const Scanned &s)
{
    if (!s.anyDigit)
        return T(0);
    T value = 0;
    const char *first = s.ascii.data();
    const char *last = first + s.ascii.size();
    const auto result = std::from_chars(first, last, value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        if (s.atLeastOne)
            return std::nullopt;
        return T(0); // below the smallest subnormal: the nearest value is zero
    }
    if (result.ec != std::errc() || result.ptr != last)
        return std::nullopt; // cannot happen for scanned text; refuse rather than guess
    if (value == 0)
        value = 0; // "-0" carries no meaning for a stored number
    return value;
}

[[noreturn]] void failInteger(const QString &text, const QString &fieldName)
{
    throw DatabaseError(QLatin1Char('\'') + text +
                        QStringLiteral("' is not a valid integer value for field '") + fieldName +
                        QLatin1Char('\''));
}

} // namespace

std::optional<double> readFloatText(const QString &text, QChar decimalSeparator,
                                    const QString &fieldName)
{
    if (text.isEmpty())
        return std::nullopt;
    qsizetype i = skipSpaces(text, 0);
    Scanned scanned;
    std::optional<double> value;
    if (scanNumber(text, i, decimalSeparator, Mantissa::DigitOrSeparator, scanned) &&
        skipSpaces(text, i) == text.size())
        value = convert<double>(scanned);
    if (!value)
        throw DatabaseError(QLatin1Char('\'') + text +
                            QStringLiteral("' is not a valid floating point value for field '") +
                            fieldName + QLatin1Char('\''));
    return value;
}

std::optional<int> readSmallintText(const QString &text, const QString &fieldName)
{
    if (text.isEmpty())
        return std::nullopt;
    qsizetype i = skipSpaces(text, 0);
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    const qsizetype firstDigit = i;
    while (i < text.size() && isDigit(text[i]))
        ++i;
    if (i == firstDigit || i != text.size())
        failInteger(text, fieldName);

    // Up to six significant digits are exact in an int; more are out of range anyway.
    qsizetype significant = firstDigit;
    while (significant < i - 1 && text[significant] == u'0')
        ++significant;
    if (i - significant <= 6) {
        int value = 0;
        for (qsizetype k = significant; k < i; ++k)
            value = value * 10 + (text[k].unicode() - u'0');
        if (negative)
            value = -value;
        checkSmallintRange(value, fieldName);
        return value;
    }
    // Too long for the range: the range message names the number as "%g" does.
    std::string ascii = negative ? "-" : "";
    for (qsizetype k = significant; k < i; ++k)
        ascii.push_back(char(text[k].unicode()));
    double value = 0;
    const auto result = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    if (result.ec != std::errc())
        failInteger(text, fieldName); // beyond any double: no number to name
    checkSmallintRange(value, fieldName);
    return std::nullopt; // not reached: a number this long is out of range
}

void checkSmallintRange(double value, const QString &fieldName)
{
    if (value >= -32768 && value <= 32767)
        return;
    throw DatabaseError(numfmt::formatG(value) + QStringLiteral(" is not a valid value for field '") +
                        fieldName + QStringLiteral("'. The allowed range is ") +
                        numfmt::formatG(-32768) + QStringLiteral(" to ") + numfmt::formatG(32767));
}

qint32 readWholeNumber(const QString &text)
{
    auto fail = [&text]() -> qint32 {
        throw ConvertError(QLatin1Char('\'') + text + QStringLiteral("' is not a valid integer value"));
    };
    const qsizetype n = text.size();
    qsizetype i = skipSpaces(text, 0);

    qsizetype prefix = 0;
    if (i < n && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X'))
        prefix = 1;
    else if (i + 1 < n && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X'))
        prefix = 2;
    if (prefix > 0) {
        i += prefix;
        if (i == n)
            return fail();
        quint64 value = 0;
        for (; i < n; ++i) {
            const int digit = hexValue(text[i]);
            if (digit < 0)
                return fail();
            value = value * 16 + quint64(digit);
            if (value > 0xFFFFFFFFu)
                return fail();
        }
        return qint32(quint32(value)); // the 32-bit pattern, as a signed number
    }

    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == n)
        return fail();
    qint64 value = 0;
    for (; i < n; ++i) {
        if (!isDigit(text[i]))
            return fail();
        value = value * 10 + (text[i].unicode() - u'0');
        if (value > 2147483648LL)
            return fail();
    }
    if (negative)
        value = -value;
    if (value > 2147483647LL)
        return fail();
    return qint32(value);
}

std::optional<float> readDecimalTextAsFloat(const QString &text, QChar regionalSeparator)
{
    // Either separator reads as the point; a text with both has two and is refused.
    QString pointed = text;
    pointed.replace(regionalSeparator, u'.');
    qsizetype i = skipSpaces(pointed, 0);
    Scanned scanned;
    if (!scanNumber(pointed, i, u'.', Mantissa::DigitRequired, scanned) || i != pointed.size())
        return std::nullopt;
    return convert<float>(scanned);
}

} // namespace numread
