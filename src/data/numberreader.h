#pragma once

#include <QChar>
#include <QString>
#include <QtGlobal>
#include <optional>

// How typed text becomes a number again: the text assigned to a float or
// smallint field object, and the whole-number and decimal texts of the fill
// pane. Only the forms written here are read; nothing depends on the C
// library's locale. Blanks are space characters (U+0020) only.
namespace numread {

// Text of a float field: leading spaces, an optional sign, digits, optionally
// the separator and digits (a digit or the separator must follow the sign),
// optionally "E" or "e" with an optional sign and at least one digit, trailing
// spaces. The empty text gives std::nullopt (a blank field); a lone separator
// reads 0. An exponent letter without digits ("1E") is refused: such a text
// is an unfinished entry, and taking it as 1 would store a value the user did
// not mean. A value beyond the double range is refused; one too small for it
// reads as 0. Zero is always +0. Refusal throws DatabaseError
// "'%s' is not a valid floating point value for field '%s'" (the text as
// typed, the field name). The separator must be none of the characters a
// number is made of (RegionalSettings sees to that).
std::optional<double> readFloatText(const QString &text, QChar decimalSeparator,
                                    const QString &fieldName);

// Text of a smallint field: leading spaces, an optional sign, digits, nothing
// after. The empty text gives std::nullopt. Other text throws DatabaseError
// "'%s' is not a valid integer value for field '%s'"; a number outside
// -32768..32767 throws the range message of checkSmallintRange.
std::optional<int> readSmallintText(const QString &text, const QString &fieldName);

// Throws DatabaseError "%g is not a valid value for field '%s'. The allowed
// range is %g to %g" (value, field name, -32768, 32767) unless
// -32768 <= value <= 32767 (a not-a-number value is out of range).
void checkSmallintRange(double value, const QString &fieldName);

// Whole-number text of the fill pane: leading spaces, then either an optional
// sign and decimal digits in the signed 32-bit range, or, without a sign,
// hexadecimal digits after "$", "x", "X", "0x" or "0X" whose value fits in 32
// bits, taken as a signed 32-bit pattern ("$FFFFFFFF" is -1); nothing after.
// Anything else, the empty text included, throws ConvertError
// "'%s' is not a valid integer value" (the whole text).
qint32 readWholeNumber(const QString &text);

// Decimal text of the fill pane's start chainage: leading spaces, an optional
// sign, digits, optionally a separator and digits (digits on at least one side
// of it), optionally "E"/"e", an optional sign and at least one digit; nothing
// after. The separator is the point or the regional one (the user types
// "12,5" under Russian settings, as everywhere else in the program). Rounded straight from the decimal text to the nearest 32-bit float,
// ties to even (never through a double first). Returns std::nullopt for text
// of any other form, the empty text included, and for a value whose nearest
// float would be infinite; a value too small for a float reads as 0. Zero is
// always +0.
std::optional<float> readDecimalTextAsFloat(const QString &text, QChar regionalSeparator = u'.');

} // namespace numread
