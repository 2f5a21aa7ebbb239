#pragma once

#include "data/errors.h"

#include <cstdint>

// Checked extended-precision arithmetic for the leakage formulas.
//
// The program's results depend on every intermediate being formed in the x87
// 80-bit format (64-bit significand) and on every rounding going to nearest
// with ties to even; an invalid operation, a division by zero and an overflow
// are errors the user sees, while underflow, denormals and inexact results
// pass silently.
//
// The helpers check their operands and results explicitly instead of reading
// the <cfenv> flags: the compiler is free to move, merge or drop floating-point
// operations around a flag test (it does not honour FENV_ACCESS), and the
// sticky flags would also report whatever unrelated code did before. An
// explicit test of the value just computed cannot be reordered away from it.
namespace calc {

// One of the three floating-point errors. A catch site tells them apart by
// their class or by kind().
class FloatError : public SystemError
{
public:
    enum class Kind { InvalidOperation, ZeroDivide, Overflow };

    Kind kind() const { return m_kind; }
    // "Invalid floating point operation", "Floating point division by zero",
    // "Floating point overflow".
    static QString messageFor(Kind kind);

protected:
    // Inline, so that the base records the address where the error is raised
    // rather than an address inside this constructor.
    [[gnu::always_inline]] FloatError(Kind kind, std::source_location where)
        : SystemError(messageFor(kind), where), m_kind(kind)
    {
    }

private:
    Kind m_kind;
};

class InvalidOperation : public FloatError
{
public:
    [[gnu::always_inline]] explicit InvalidOperation(
        std::source_location where = std::source_location::current())
        : FloatError(Kind::InvalidOperation, where)
    {
    }
};

class ZeroDivide : public FloatError
{
public:
    [[gnu::always_inline]] explicit ZeroDivide(
        std::source_location where = std::source_location::current())
        : FloatError(Kind::ZeroDivide, where)
    {
    }
};

class FloatOverflow : public FloatError
{
public:
    [[gnu::always_inline]] explicit FloatOverflow(
        std::source_location where = std::source_location::current())
        : FloatError(Kind::Overflow, where)
    {
    }
};

// The process-wide floating-point setting, made once at start-up before any
// other thread exists (new threads inherit it): round to nearest-even for SSE
// and x87, x87 precision control at the 64-bit significand, every hardware
// exception masked (nothing traps; the helpers below check explicitly), flush
// to zero and denormals-are-zero off, all sticky flags cleared.
void initFloatingPoint();

// The four operations in extended precision. Quiet NaN operands give NaN
// silently, as the hardware does; the errors are:
//  - InvalidOperation: a NaN result from operands that are not NaN
//    (0 ÷ 0, ∞ − ∞, 0 × ∞, ∞ ÷ ∞);
//  - ZeroDivide: a finite non-zero number divided by zero;
//  - FloatOverflow: an infinite result from finite operands.
long double add(long double a, long double b);
long double sub(long double a, long double b);
long double mul(long double a, long double b);
long double div(long double a, long double b);

// Narrowing to a 32-bit or 64-bit float, to nearest with ties to even. A finite
// value beyond the target's range raises FloatOverflow; infinities and NaN
// pass unchanged, values below the smallest normal become denormals or zero.
float toFloat(long double x);
double toDouble(long double x);

// Rounds to the nearest integer, ties to even. NaN, a magnitude of 2^63 or
// more, and a value whose rounding leaves the 64-bit range raise
// InvalidOperation. The rounding is done by hand, so it holds whatever the
// current rounding mode is.
std::int64_t roundToInt64(long double x);

} // namespace calc
