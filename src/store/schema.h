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

// Brings a value into the form the store keeps for the field type; throws
// StoreError when it cannot be converted.
QVariant normalise(const FieldDef &field, const QVariant &value);

} // namespace store
