#pragma once

#include "store/error.h"

#include <QString>
#include <QStringList>
#include <functional>

namespace migration {

// A copy or a check that cannot be done; the text names the alias and why.
class MigrationError : public store::StoreError
{
public:
    using store::StoreError::StoreError;
};

// How far a copy has come: the table's file name ("base_kor.db"), the
// records written and the records to write.
using Progress = std::function<void(const QString &table, qint64 done, qint64 total)>;

struct CopyResult
{
    qint64 sections = 0;
    qint64 supports = 0;
};

// Copies every Section and Support of one alias into another whose tables
// are empty, keeping their numbers (N_line and I) and their values exactly.
// The source is only read. Each table is written in one transaction; when
// the Supports fail, the Sections already copied are taken out again, so
// the target is left empty as it was. Throws MigrationError or the store's
// error.
CopyResult copyAlias(const QString &from, const QString &to, const Progress &progress = {});

struct CheckResult
{
    qint64 sections = 0;
    qint64 supports = 0;
    QStringList problems; // one line each, for the user; empty when all is well
};

// Opens both tables of an alias (which checks their structure, and a table
// file's pages) and reads every record: values the store would refuse,
// values it cannot read, and Supports whose Section is missing are problems.
CheckResult checkAlias(const QString &alias);

} // namespace migration
