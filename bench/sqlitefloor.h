#pragma once

#include <QString>

struct sqlite3;
struct sqlite3_stmt;

// Plain C over SQLite's own interface, on connections set up as the store
// sets up its own (write-ahead log, synchronous FULL): the floors that the
// benchmarks measure the program against in the same run, and the quick
// seeding of large Sections into tables the program made.
namespace floorsql {

// Fatal errors: a floor that cannot run has nothing to measure.
void check(int rc, sqlite3 *db, int expected = 0);
sqlite3 *open(const QString &path);
sqlite3_stmt *prepare(sqlite3 *db, const char *sql);

// Appends count Supports to the Section `line`, 0.06 km apart from 100 km,
// each with the resistance 200 and the type "ЖБК"; one in measuredEvery (and
// the last one) measured. One transaction.
void seedSupports(const QString &path, qint64 line, int count, int measuredEvery);

// The Section's rows, every field, in chainage order; returns their number.
int readSection(sqlite3 *db, qint64 line);

// "Расчитать" in plain C: the Section's rows read in chainage order, the
// potential interpolated between the measured ones and the current worked
// out, and U_ras and I_opory of every row updated, in one transaction.
// Returns the rows written.
int calculate(sqlite3 *db, qint64 line);

// Start-up in plain C: both tables of the folder opened and checked
// (quick_check), the Sections read, the keys and chainages of the first
// Section's Supports read in order into memory, and its first 64 rows read.
// Returns the Supports of the first Section.
int startUp(const QString &folder);

} // namespace floorsql
