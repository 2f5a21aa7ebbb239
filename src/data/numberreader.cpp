#include "numberreader.h"

#include "errors.h"
#include "numberformat.h"

#include <QLocale>

namespace numread {
std::optional<double> readFloatText(const QString &text, QChar decimalSeparator, const QString &fieldName)
{
    if (text.isEmpty())
        return std::nullopt;
    QString t = text.trimmed();
    t.replace(decimalSeparator, QLatin1Char('.'));
    bool ok = false;
    const double v = QLocale::c().toDouble(t, &ok);
    if (!ok)
        throw DatabaseError(QStringLiteral("'%1' is not a valid floating point value for field '%2'").arg(text, fieldName));
    return v;
}
std::optional<int> readSmallintText(const QString &text, const QString &fieldName)
{
    if (text.isEmpty())
        return std::nullopt;
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (!ok)
        throw DatabaseError(QStringLiteral("'%1' is not a valid integer value for field '%2'").arg(text, fieldName));
    checkSmallintRange(v, fieldName);
    return v;
}
void checkSmallintRange(double value, const QString &fieldName)
{
    if (value < -32768 || value > 32767)
        throw DatabaseError(QStringLiteral("%1 is not a valid value for field '%2'. The allowed range is %3 to %4")
                                .arg(numfmt::formatG(value), fieldName, numfmt::formatG(-32768), numfmt::formatG(32767)));
}
qint32 readWholeNumber(const QString &text)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok)
        throw ConvertError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return v;
}
std::optional<float> readDecimalTextAsFloat(const QString &text)
{
    bool ok = false;
    const float v = QLocale::c().toFloat(text, &ok);
    if (!ok)
        return std::nullopt;
    return v;
}
} // namespace numread
