#include "keyfilter.h"

namespace keyfilter {

QString floatKeys(QChar decimalSeparator)
{
    return QStringLiteral("0123456789+-Ee") + decimalSeparator;
}

QString smallintKeys()
{
    return QStringLiteral("0123456789+-");
}

} // namespace keyfilter
