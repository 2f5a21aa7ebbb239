#include "rounddigits.h"

#include "fpu.h"

#include <cstdint>

namespace calc {

double RoundDigits(double x, quint8 n)
{
    // The power is formed by repeated 32-bit multiplication; unsigned
    // arithmetic wraps without undefined behaviour, and the conversion back to
    // signed is modular (C++20), which is what the signed product gives.
    std::uint32_t power = 1;
    for (quint8 i = 0; i < n; ++i)
        power *= 10U;
    const long double p = static_cast<std::int32_t>(power);

    const long double scaled = mul(p, x);
    const std::int64_t k = roundToInt64(scaled);
    return toDouble(div(static_cast<long double>(k), p));
}

} // namespace calc
