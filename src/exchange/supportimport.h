#pragma once

#include "columns.h"
#include "csvformat.h"
#include "exchangeerror.h"

#include <QStringList>
#include <QVector>

#include <functional>
#include <optional>
#include <vector>

namespace exchange {

// How to read a file: its format and, for each of its columns, the field it
// goes to (or Skip).
struct ImportSettings
{
    CsvFormat format;
    QVector<Column> columns;
};

// One row of the file, checked, as it will be written.
struct SupportRow
{
    enum Present : quint8 { UIzmer = 1, URas = 2, ROpory = 4, IOpory = 8 };
    double kilometr = 0;
    double uIzmer = 0;
    double uRas = 0;
    double rOpory = 0;
    double iOpory = 0;
    QString index; // empty: blank
    QString type;  // empty: blank
    qint16 number = 0;
    quint8 present = 0;
};

// What a check of a whole file found: the rows to write, or the problems
// that stop the import.
struct ImportPlan
{
    static constexpr int kListedProblems = 100;

    std::vector<SupportRow> rows;
    qint64 cutTexts = 0;  // texts cut to the size of their field
    qint64 emptyRows = 0; // rows without a value in any chosen column, skipped
    QStringList problems; // the first kListedProblems, one per line
    qint64 problemCount = 0;

    bool ok() const { return problemCount == 0; }
    // The listed problems, one a line, and how many more there are.
    QString problemReport() const;
};

// At most this many rows are imported at once (a Section has thousands).
inline constexpr qint64 kMaxImportRows = 1000000;

// Reads the whole file and checks every row by the field objects' rules:
// numbers in the chosen notation and finite, support numbers whole from
// -32768 to 32767, a chainage and a support number in every row, texts cut
// to their fields' sizes (counted). Throws ExchangeError for a file that
// cannot be read at all; SilentAbort when progress says cancel.
ImportPlan checkImport(const QString &path, const ImportSettings &settings, const Progress &progress = {});

// Where the rows go.
struct ImportTarget
{
    std::optional<qint64> section; // the N_line of an existing Section
    QString newSectionName;        // else a new Section of this name
    bool replace = false;          // delete the Section's Supports first
};

struct ImportResult
{
    qint64 section = 0;
    QString sectionName;
    bool created = false;
    qint64 written = 0;
    qint64 deleted = 0;
};

// Writes a checked plan into a Section of the alias, through the program's
// own cursors, as one transaction of the Supports' table: all of it or, on any
// error, on a cancel or when the process is killed, none of it. A new Section
// is made first and removed again when the Supports cannot be written.
// Throws ExchangeError, the store's errors, SilentAbort on cancel.
ImportResult writeImport(const QString &alias, const ImportPlan &plan, const ImportTarget &target,
                         const Progress &progress = {});

// "Расчитать" on every Support of a Section of the alias, whatever filter a
// window has on: the calculation of the calc layer on cursors of its own.
// inform shows its two messages; its errors are thrown.
void calculateSection(const QString &alias, qint64 section, const std::function<void(const QString &)> &inform);

// "Импортировано опор: 120 (участок «Гомель»)." and the counts of cut texts,
// skipped rows and deleted Supports, one a line.
QString importSummary(const ImportPlan &plan, const ImportResult &result);

} // namespace exchange
