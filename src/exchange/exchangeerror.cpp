#include "exchangeerror.h"

namespace exchange {

QString countText(qint64 count, const QString &one, const QString &few, const QString &many)
{
    const qint64 n = count < 0 ? -count : count;
    const qint64 lastTwo = n % 100;
    const qint64 last = n % 10;
    const QString &noun = (lastTwo >= 11 && lastTwo <= 14) ? many : last == 1 ? one : (last >= 2 && last <= 4) ? few : many;
    return QStringLiteral("%1 %2").arg(count).arg(noun);
}

} // namespace exchange
