#pragma once

#include <string>

// An independent model of the number texts, built on the exact decimal
// expansion of a double (glibc's printf in the "C" locale, with as many
// decimals as the double has) and plain digit-string rounding. The tests and
// the fuzzers compare the program's formatter against it.
namespace reference {

// The display text of the two masks the field objects use, "0.000" and
// "# ##0.0", with the given separator.
std::string kilometrText(double value, char separator);
std::string resistanceText(double value, char separator);

// The fixed-point overlay text of the support grid with p decimals.
std::string overlayText(double value, int decimals);

// printf("%g") under the "C" locale.
std::string printfG(double value);

// strtod / strtof under the "C" locale on an ASCII text ("." separator).
double strtodC(const std::string &text);
float strtofC(const std::string &text);

} // namespace reference
