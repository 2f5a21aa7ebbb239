#pragma once

#include <QChar>
#include <QString>
#include <QStringView>

// How a float value becomes text: the display masks of the field objects
// ("0.000", "# ##0.0"), the fixed-point text the support grid writes over its
// red rows, and the "%g" numbers of the range messages. None of them depends
// on the C library's locale.
namespace numfmt {

// Display text of a float under a display mask. "0" and "#" are digit
// placeholders, the first "." is the decimal point, every other character is
// a literal written where it stands (the space of "# ##0.0" is not grouping).
// The value is first taken to its nearest 18-significant-digit decimal (a
// value exactly halfway between two takes the even one), then rounded at the
// mask's last decimal place half away from zero. A value that rounds to zero
// carries no sign; otherwise "-" comes first, before any literal.
//
// Values of 1e18 and more are written out in full, their 18 significant
// digits followed by zeros (no field is expected to hold them, but the text
// stays truthful); infinities and not-a-number values give "INF", "-INF" and
// "NAN", whatever the mask.
QString renderMask(double value, QStringView mask, QChar decimalSeparator);

// Fixed-point overlay text of the support grid's red rows: a sign for a
// negative value, at least one integer digit, "." (always the point) and
// exactly `decimals` decimals (none and no point for 0), blanks on the left to
// at least 5 characters, never cut. The value is pre-rounded to 17 decimal
// places below 10 and to 18 significant digits from 10 on (ties to even), then
// rounded half away from zero at the last decimal. A value that rounds to zero
// is written without a sign ("-0.04" gives "  0.0"), as in the display text.
// Infinities and not-a-number values give "INF", "-INF" and "NAN", padded.
// `decimals` is clamped to 0..1000.
QString overlayText(double value, int decimals);

// "%g" exactly as C's printf writes it in the "C" locale: 6 significant
// digits, trailing zeros dropped, exponent form ("1e+06") when the exponent is
// below -4 or 6 and above; "inf", "-inf", "nan", "-0" as printf writes them.
QString formatG(double value);

// The shortest text that reads back to the same double (numread's float
// reader with the same separator gives the value bit for bit): the fewest
// significant digits, in plain or exponent form, whichever is shorter
// ("12.5", "0.1", "1e-05", "1.7976931348623157e+308"), with the given decimal
// separator. Zero is "0" whatever its sign, as the reader gives +0 for it;
// infinities and not-a-number values give "INF", "-INF" and "NAN", which no
// reader takes for a number.
QString shortestText(double value, QChar decimalSeparator);

} // namespace numfmt
