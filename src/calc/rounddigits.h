#pragma once

#include <QtGlobal>

namespace calc {

// Rounds x to n decimal places: Round(x × 10^n) ÷ 10^n with the scaled value
// rounded to nearest, ties to even, and the quotient formed in extended
// precision. The power of ten is a 32-bit integer, so only n from 0 to 9 give
// the true power: beyond that it wraps as 32-bit signed multiplication does,
// and from n = 32 on it is 0, which makes the quotient 0 ÷ 0.
// Raises calc::InvalidOperation for a NaN or infinite x, for a scaled value
// of magnitude 2^63 or more, and for a zero power; calc::ZeroDivide cannot
// arise (the dividend of a zero power is always 0).
double RoundDigits(double x, quint8 n);

} // namespace calc
