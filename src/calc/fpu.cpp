#include "fpu.h"

#include <cmath>
#include <limits>

// The results of the calculation are defined by the x87 extended format; a
// platform whose long double is anything else would give different numbers.
static_assert(std::numeric_limits<long double>::digits == 64,
              "the calculation needs the 80-bit extended format as long double");
static_assert(std::numeric_limits<long double>::is_iec559);

namespace calc {

namespace {

// Round to nearest (RC = 00), precision control at 64 bits (PC = 11), all six
// exceptions masked (bits 0-5): the value FNINIT loads.
constexpr std::uint16_t kX87ControlWord = 0x037F;
// Round to nearest (RC = 00), all six exceptions masked (bits 7-12), FTZ and
// DAZ off so that denormals keep their value, sticky flags cleared.
constexpr std::uint32_t kSseControlStatus = 0x1F80;

constexpr long double kTwoTo63 = 9223372036854775808.0L;

bool isNan(long double x)
{
    return std::isnan(x);
}

bool isFinite(long double x)
{
    return std::isfinite(x);
}

// The common checks of the four operations, on a result already formed.
long double checked(long double a, long double b, long double r)
{
    if (isNan(r)) {
        if (!isNan(a) && !isNan(b))
            throw InvalidOperation();
    } else if (std::isinf(r) && isFinite(a) && isFinite(b)) {
        throw FloatOverflow();
    }
    return r;
}

} // namespace

QString FloatError::messageFor(Kind kind)
{
    switch (kind) {
    case Kind::InvalidOperation:
        return QStringLiteral("Invalid floating point operation");
    case Kind::ZeroDivide:
        return QStringLiteral("Floating point division by zero");
    case Kind::Overflow:
        return QStringLiteral("Floating point overflow");
    }
    return QString();
}

void initFloatingPoint()
{
#if defined(__x86_64__) || defined(__i386__)
    std::uint16_t cw = kX87ControlWord;
    std::uint32_t csr = kSseControlStatus;
    asm volatile("fnclex\n\tfldcw %0" : : "m"(cw));
    asm volatile("ldmxcsr %0" : : "m"(csr));
#else
#error "the calculation needs the x87 extended format"
#endif
}

// Each operation's operands and result live in long double: with the
// precision control at 64 bits the x87 rounds the result once, to the 64-bit
// significand, and keeps the 15-bit exponent, so no double rounding arises.
long double add(long double a, long double b)
{
    return checked(a, b, a + b);
}

long double sub(long double a, long double b)
{
    return checked(a, b, a - b);
}

long double mul(long double a, long double b)
{
    return checked(a, b, a * b);
}

long double div(long double a, long double b)
{
    if (b == 0 && isFinite(a) && a != 0)
        throw ZeroDivide();
    return checked(a, b, a / b);
}

// The narrowing goes through a volatile of the target type, so the value
// really is stored in that format (one rounding, by the current rounding
// mode, which the process keeps at nearest-even) and never kept wider.
float toFloat(long double x)
{
    volatile float narrowed = static_cast<float>(x);
    float result = narrowed;
    if (std::isinf(result) && isFinite(x))
        throw FloatOverflow();
    return result;
}

double toDouble(long double x)
{
    volatile double narrowed = static_cast<double>(x);
    double result = narrowed;
    if (std::isinf(result) && isFinite(x))
        throw FloatOverflow();
    return result;
}

std::int64_t roundToInt64(long double x)
{
    if (isNan(x))
        throw InvalidOperation();
    const long double magnitude = std::fabs(x);
    if (magnitude >= kTwoTo63)
        throw InvalidOperation();
    // Below 2^63 the integer part fits in 64 bits, and magnitude - whole is
    // exact (Sterbenz for magnitude >= 1, the value itself below 1), so the
    // comparison with one half decides the tie without any rounding.
    const long double whole = std::floor(magnitude);
    const long double fraction = magnitude - whole;
    std::uint64_t rounded = static_cast<std::uint64_t>(whole);
    if (fraction > 0.5L || (fraction == 0.5L && (rounded & 1U) != 0))
        ++rounded;
    constexpr std::uint64_t limit = std::uint64_t(1) << 63;
    if (x < 0) {
        if (rounded > limit)
            throw InvalidOperation();
        // Two's complement negation in unsigned arithmetic; the conversion of
        // 2^63 gives the most negative value, well defined since C++20.
        return static_cast<std::int64_t>(~rounded + 1);
    }
    if (rounded >= limit)
        throw InvalidOperation();
    return static_cast<std::int64_t>(rounded);
}

} // namespace calc
