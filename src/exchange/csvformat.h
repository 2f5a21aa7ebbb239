#pragma once

#include "columns.h"
#include "encoding.h"

#include <QChar>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

namespace exchange {

// How a CSV file is written: what the import detects and the user may change.
struct CsvFormat
{
    Encoding encoding = Encoding::Utf8;
    char separator = ';';
    QChar decimal = u'.';
    bool headings = true;

    friend bool operator==(const CsvFormat &, const CsvFormat &) = default;
};

// ";", ",", "Tab".
QString separatorName(char separator);
// ";" , "," and "tab" (or a tab itself) as a script writes them.
std::optional<char> separatorFromName(const QString &name);

// The start of a file as a format reads it: the heading record (when the
// format has headings) and the first records after it.
struct CsvPreview
{
    QStringList headings;
    QList<QStringList> rows;
    int columns = 0; // the most fields of any record read
};

// Opens a file for the import, refusing what cannot be a CSV file of
// Supports before anything is read: a missing or unreadable file, a folder, a
// file larger than kMaxImportBytes.
inline constexpr qint64 kMaxImportBytes = qint64(1) << 30;
void checkImportFile(const QString &path);

// Detects a file's format from its first 64 KB: the encoding by its byte
// order mark or by whether it is valid UTF-8; the field separator that splits
// the records into the same number (two or more) of fields, preferring ";",
// then Tab, then "," (which may also be a decimal comma); headings when the
// first record names a column; the decimal separator the numbers use ("."
// with ","; otherwise the one most numbers show, else `regionalDecimal`).
// Throws ExchangeError for an empty file and one that is not text.
CsvFormat detectFormat(const QString &path, QChar regionalDecimal);
// The same on a file's first bytes; `cut` tells that the file goes on after them.
CsvFormat detectFormatOf(const QByteArray &sample, bool cut, QChar regionalDecimal);

// Reads the headings and up to `rows` records of a file in a format.
CsvPreview readPreview(const QString &path, const CsvFormat &format, int rows = 20);

// The columns a file's headings name; without headings, the grid's order (a
// first column more than the grid's eight is taken as the Section's name and
// skipped, as the export of every Section writes it).
QVector<Column> defaultMapping(const CsvPreview &preview, bool headings);

// The headings of a file's columns that a mapping leaves out: named but not
// one of the grid's columns, or naming a column again. The Section column of
// an export of every Section is not counted (an import is into one Section).
QStringList skippedHeadings(const CsvPreview &preview, const QVector<Column> &mapping);

} // namespace exchange
