#pragma once

#include <QString>

// Interim: replaced by the formats work.
namespace keyfilter {
inline QString floatKeys(QChar decimalSeparator)
{
    return QStringLiteral("0123456789+-Ee") + decimalSeparator;
}
inline QString smallintKeys()
{
    return QStringLiteral("0123456789+-");
}
} // namespace keyfilter
