#pragma once

#include "datasource.h"
#include "field.h"
#include "table.h"

#include <memory>

namespace store {
class AliasPresence;
}

// The leakage limit in milliamperes: a Support whose leakage current is
// greater than this, strictly, is over the limit (red rows, the leakage
// filter, bold report rows).
inline constexpr double kLeakageLimitMa = 40.0;
inline const QString kLeakageFilter = QStringLiteral("I_opory >40");

// True when the field (I_opory of the record being read) is over the
// leakage limit; a blank value is not.
inline bool overLeakageLimit(const Field *leakage)
{
    return leakage->AsFloat() > kLeakageLimitMa;
}

// The program's two cursors with their data sources and field objects:
// Table2 on the Sections ("line.db", in the order of their keys) and Table1
// on the Supports ("base_kor.db", index i_line), which follows the current
// Section through DataSource2. The main window owns one for the whole run;
// every other window works on the same one.
class KorTables
{
    // Declared first so that it goes last, after the cursors have closed.
    std::shared_ptr<store::AliasPresence> m_presence;

public:
    explicit KorTables(const QString &alias = QStringLiteral("kor"));
    KorTables(const KorTables &) = delete;
    KorTables &operator=(const KorTables &) = delete;

    // Opens Table1, then Table2 (Table2 comes to its first Section and
    // Table1 to that Section's first Support), and registers this process as
    // a user of the alias for as long as the object lives (a full restore is
    // refused while another copy is registered). Opening again after the
    // cursors were closed reads the tables anew.
    void open();

    // The values of either table that the store could not read (found when
    // they were opened): a text for the user per table, none when all is well.
    QStringList unreadableValues() const;

    Table Table2{QStringLiteral("Table2")};
    Table Table1{QStringLiteral("Table1")};
    DataSource DataSource2{QStringLiteral("DataSource2"), &Table2};
    DataSource DataSource1{QStringLiteral("DataSource1"), &Table1};

    Field *Table2N_line;
    Field *Table2Line;

    Field *Table1I;
    Field *Table1Kilometr;
    Field *Table1Nomeropory;
    Field *Table1Index;
    Field *Table1Tipopory;
    Field *Table1R_opory;
    Field *Table1U_izmer;
    Field *Table1U_ras;
    Field *Table1I_opory;
    Field *Table1Line;
};
