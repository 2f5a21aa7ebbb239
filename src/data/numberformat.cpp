#include "numberformat.h"

namespace numfmt {
QString renderMask(double value, QStringView mask, QChar decimalSeparator)
{
    const int dot = mask.indexOf(QLatin1Char('.'));
    const int decimals = dot < 0 ? 0 : int(mask.size()) - dot - 1;
    QString s = QString::number(value, 'f', decimals);
    s.replace(QLatin1Char('.'), decimalSeparator);
    return s;
}
QString overlayText(double value, int decimals)
{
    return QString::number(value, 'f', decimals).rightJustified(5, QLatin1Char(' '));
}
QString formatG(double value)
{
    return QString::number(value, 'g', 6);
}
} // namespace numfmt
