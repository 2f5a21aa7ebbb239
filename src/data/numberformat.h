#pragma once

#include <QString>

// Interim: replaced by the formats work.
namespace numfmt {
QString renderMask(double value, QStringView mask, QChar decimalSeparator);
QString overlayText(double value, int decimals);
QString formatG(double value);
} // namespace numfmt
