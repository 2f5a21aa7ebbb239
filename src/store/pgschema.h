#pragma once

#include "schema.h"

#include <QByteArray>
#include <QStringList>

namespace store {

class PgSession;

// How the program's tables look on a database server: the same fields,
// types, checks and indexes as the table files, a Support's Section as a
// foreign key, and a trigger that tells the other users' sessions of every
// change.
namespace pg {

// Type numbers of the server's protocol.
enum TypeOid : unsigned {
    kBool = 16,
    kInt8 = 20,
    kInt2 = 21,
    kInt4 = 23,
    kText = 25,
    kOid = 26,
    kFloat8 = 701,
    kInt4Array = 1007,
    kInt8Array = 1016,
};

// A field's name on the server, quoted: the names fold to lower case, as the
// tables' definitions written without quotes give them, except "Index".
QByteArray column(const TableDef &table, int field);
// Every field's column, in the table's order.
QByteArray columnList(const TableDef &table);
QByteArray tableName(const TableDef &table);
unsigned typeOf(FieldType type);
// The channel on which the trigger announces changes to a table.
QByteArray channel(const TableDef &table);

// The statements that make the given tables (a table another one names
// first) in an empty database; by default the program's two tables.
QStringList createStatements(const QVector<const TableDef *> &tables = {&lineTable(), &supportTable()});

// What a table of the server is: its number, the sequence of its keys.
struct TableFacts
{
    unsigned oid = 0;
    QString sequence;
};

// Finds the table and checks it; makes both tables first when the database
// is empty and creating is allowed. Throws the store's error otherwise.
TableFacts openTable(PgSession &session, const TableDef &table, bool create);

} // namespace pg
} // namespace store
