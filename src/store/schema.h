#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

namespace store {

// How a stored field keeps its value.
enum class FieldType { AutoInc, Float, SmallInt, Text };

struct FieldDef
{
    QString name;
    FieldType type;
    int size = 0;          // characters, for text fields
    bool required = false; // the store refuses a post that leaves it blank
};

// A field whose value names the key of a record in another table of the
// alias (a Support's Line names its Section). A blank value names nothing.
// The store writes no record that names a missing one, and removes no record
// that others still name.
struct ReferenceDef
{
    int field = -1;
    QString table;          // the file name of the table named
    QString missingMessage; // the refusal of a record whose named record is gone
    QString stillNamedMessage; // the refusal to remove a record that is still named
};

struct IndexDef
{
    QString name;
    QVector<int> fields; // field numbers; records with equal values are ordered by the key
};

// The stored structure of one table: its fields, its key, its secondary
// indexes and the SQL that creates it.
struct TableDef
{
    QString fileName; // "base_kor.db"
    QString sqlName;  // "base_kor"
    QVector<FieldDef> fields;
    int keyField = 0;
    QVector<IndexDef> indexes;
    QStringList createSql;
    int formatVersion = 1;
    QVector<ReferenceDef> references;

    int fieldIndex(const QString &name) const; // case-insensitive; -1 when unknown
    const IndexDef *index(const QString &name) const;
    QString quotedField(int field) const;
};

// One record's values, one per field; an invalid QVariant is a blank value.
// Numbers are double (Float) or qint64 (AutoInc, SmallInt); text is QString.
using Record = QVector<QVariant>;

// The tables the program keeps: "line.db" (Sections) and "base_kor.db" (Supports).
const TableDef &lineTable();
const TableDef &supportTable();
// The definition of a table by its file name ("line.db" or "line"), or nullptr.
const TableDef *findTable(const QString &tableName);

// The tables whose records name records of this one.
QVector<const TableDef *> referringTables(const TableDef &table);

// Brings a value into the form the store keeps for the field type; throws
// StoreError when it cannot be converted. Text is kept as valid Unicode (a
// lone surrogate becomes U+FFFD); a float may be infinite, never NaN.
QVariant normalise(const FieldDef &field, const QVariant &value);

// Text sizes count characters (Unicode code points), not UTF-16 units.
qsizetype codePoints(QStringView text);
// The text with every lone surrogate (which has no UTF-8 form) made U+FFFD.
QString validText(QString text);
// The first n characters, never half of a surrogate pair.
QString leftCodePoints(const QString &text, qsizetype n);

} // namespace store
