#pragma once

#include "columns.h"
#include "exchangeerror.h"

#include <QChar>
#include <QString>

#include <optional>

class Table;

namespace exchange {

enum class ExportFormat { Xlsx, CsvSemicolon, CsvComma };

// The format a file name asks for by its extension (".xlsx", ".csv"), the
// CSV one with the given separator; nullopt for any other extension.
std::optional<ExportFormat> formatForPath(const QString &path, char csvSeparator);

// What an export writes besides the rows.
struct ExportRequest
{
    QString path;
    ExportFormat format = ExportFormat::Xlsx;
    // The decimal separator of the numbers of a CSV file with ";": the one of
    // the regional settings (a file with "," always has the point).
    QChar regionalDecimal = u'.';
    // "Отчет от " and the date, under the title lines of a workbook's sheets.
    QString dateLine;
};

// Writes what the cursor offers (the support view, as the support grid shows
// it: only the Supports over the limit while the leakage filter is on) as the
// one Section `sectionName`, without moving the cursor. Returns the number of
// Supports written. Throws ExchangeError; the file is written whole or not at
// all (QSaveFile), and an existing file is left as it was on any failure.
qint64 exportView(const Table &supports, const QString &sectionName, const ExportRequest &request,
                  const Progress &progress = {});

// Writes Sections of the alias with every one of their Supports (no filter):
// the one numbered `section`, as exportView writes a Section, or, without
// it, every Section (a CSV file gets a first column "Участок", a workbook
// one sheet per Section).
qint64 exportSections(const QString &alias, std::optional<qint64> section, const ExportRequest &request,
                      const Progress &progress = {});

} // namespace exchange
