#include "regionalsettings.h"

#include <QLocale>

RegionalSettings &RegionalSettings::instance()
{
    static RegionalSettings settings;
    return settings;
}

RegionalSettings::RegionalSettings()
{
    refresh();
}

void RegionalSettings::setDecimalSeparator(QChar separator)
{
    m_decimalSeparator = separator;
}

void RegionalSettings::setShortDateFormat(const QString &format)
{
    m_shortDateFormat = format;
}

void RegionalSettings::refresh()
{
    const QLocale system = QLocale::system();
    m_decimalSeparator = usableSeparator(system.decimalPoint());
    m_shortDateFormat = system.dateFormat(QLocale::ShortFormat);
}

QChar RegionalSettings::usableSeparator(const QString &localeDecimalPoint)
{
    // A separator that could also be read as part of the number would make
    // typed text ambiguous ("1e5" with "e" as separator), so such a locale
    // falls back to the point.
    if (localeDecimalPoint.size() != 1)
        return u'.';
    const QChar c = localeDecimalPoint.front();
    if (c.isDigit() || c.isSpace() || !c.isPrint() || c == u'+' || c == u'-' || c == u'e' || c == u'E')
        return u'.';
    return c;
}
