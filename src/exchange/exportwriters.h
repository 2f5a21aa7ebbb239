#pragma once

#include "columns.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

class QSaveFile;

namespace exchange {

// One Support as an export writes it; a blank value has no value.
struct ExportRow
{
    std::optional<qint64> number;
    QString index;
    QString type;
    std::optional<double> kilometr;
    std::optional<double> uIzmer;
    std::optional<double> uRas;
    std::optional<double> rOpory;
    std::optional<double> iOpory;

    std::optional<double> value(Column column) const;
    bool overLimit() const;
};

// Where the rows of an export go, Section by Section.
class ExportWriter
{
public:
    virtual ~ExportWriter();
    virtual void beginSection(const QString &name, qint64 number) = 0;
    virtual void row(const ExportRow &row) = 0;
    // Writes the file; nothing of it exists before.
    virtual void finish() = 0;
};

// CSV: UTF-8 with a byte order mark, lines ending in CR LF, a heading row,
// numbers as the shortest text that reads back to the same double with the
// given decimal separator, fields quoted when they hold the separator, a
// quote, a line break or blanks at their ends. `withSection` adds a first
// column "Участок".
std::unique_ptr<ExportWriter> csvWriter(const QString &path, char separator, QChar decimal, bool withSection);

// XLSX through libxlsxwriter: a sheet per Section, with the report's title
// lines, the Section's name and `dateLine` above a bold, frozen heading row;
// numbers as numbers (every double in full), shown with three decimals for
// the chainage and one for the other values; the rows over the leakage limit
// filled red with bold text; columns as wide as their texts.
std::unique_ptr<ExportWriter> xlsxWriter(const QString &path, const QString &dateLine);

} // namespace exchange
