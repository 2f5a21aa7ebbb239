#pragma once

#include <QChar>
#include <QString>

// Interim: replaced by the formats work.
class RegionalSettings
{
public:
    static RegionalSettings &instance();
    QChar decimalSeparator() const { return m_separator; }
    void setDecimalSeparator(QChar separator) { m_separator = separator; }
    QString shortDateFormat() const { return m_date; }
    void setShortDateFormat(const QString &format) { m_date = format; }
    void refresh();

private:
    QChar m_separator = QLatin1Char(',');
    QString m_date = QStringLiteral("dd.MM.yyyy");
};
