#pragma once

#include <QString>
#include <optional>

// Interim: replaced by the formats work.
namespace numread {
std::optional<double> readFloatText(const QString &text, QChar decimalSeparator, const QString &fieldName);
std::optional<int> readSmallintText(const QString &text, const QString &fieldName);
void checkSmallintRange(double value, const QString &fieldName);
qint32 readWholeNumber(const QString &text);
std::optional<float> readDecimalTextAsFloat(const QString &text);
} // namespace numread
