#include "regionalsettings.h"

#include <QLocale>

RegionalSettings &RegionalSettings::instance()
{
    static RegionalSettings settings;
    return settings;
}

void RegionalSettings::refresh()
{
    m_separator = QLocale::system().decimalPoint().at(0);
}
