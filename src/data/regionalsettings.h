#pragma once

#include <QChar>
#include <QString>

// The user's regional settings that number and date texts follow: the decimal
// separator of every number shown or read through a field object, and the
// short date format of the report. Read from the system locale at start and
// again whenever the user changes the settings while the program runs.
class RegionalSettings
{
public:
    static RegionalSettings &instance();

    QChar decimalSeparator() const { return m_decimalSeparator; }
    void setDecimalSeparator(QChar separator);
    // The QLocale::ShortFormat date pattern of the system locale ("dd.MM.yyyy").
    QString shortDateFormat() const { return m_shortDateFormat; }
    void setShortDateFormat(const QString &format);
    // Re-reads QLocale::system(); the application object calls it on QEvent::LocaleChange.
    void refresh();

    // The separator a locale's decimal point gives: its one character, or "."
    // when the locale offers none that the number readers can tell apart from
    // the digits, signs, exponent letters and blanks of a number.
    static QChar usableSeparator(const QString &localeDecimalPoint);

private:
    RegionalSettings();

    QChar m_decimalSeparator = u'.';
    QString m_shortDateFormat;
};
