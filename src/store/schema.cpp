#include "schema.h"

#include "error.h"

#include <cmath>

namespace store {

int TableDef::fieldIndex(const QString &name) const
{
    for (int i = 0; i < fields.size(); ++i)
        if (fields[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

const IndexDef *TableDef::index(const QString &name) const
{
    for (const IndexDef &index : indexes)
        if (index.name.compare(name, Qt::CaseInsensitive) == 0)
            return &index;
    return nullptr;
}

QString TableDef::quotedField(int field) const
{
    return QLatin1Char('"') + fields[field].name + QLatin1Char('"');
}

const TableDef &lineTable()
{
    static const TableDef def = [] {
        TableDef t;
        t.fileName = QStringLiteral("line.db");
        t.sqlName = QStringLiteral("line");
        t.fields = {
            {QStringLiteral("N_line"), FieldType::AutoInc, 0, false},
            {QStringLiteral("Line"), FieldType::Text, 20, false},
        };
        t.keyField = 0;
        t.createSql = {
            QStringLiteral("CREATE TABLE line (\n"
                           "  N_line INTEGER PRIMARY KEY AUTOINCREMENT,\n"
                           "  Line   TEXT CHECK (Line IS NULL OR length(Line) <= 20)\n"
                           ") STRICT"),
        };
        return t;
    }();
    return def;
}

const TableDef &supportTable()
{
    static const TableDef def = [] {
        TableDef t;
        t.fileName = QStringLiteral("base_kor.db");
        t.sqlName = QStringLiteral("base_kor");
        t.fields = {
            {QStringLiteral("I"), FieldType::AutoInc, 0, false},
            {QStringLiteral("Kilometr"), FieldType::Float, 0, true},
            {QStringLiteral("Nomeropory"), FieldType::SmallInt, 0, true},
            {QStringLiteral("Index"), FieldType::Text, 1, false},
            {QStringLiteral("Tipopory"), FieldType::Text, 6, false},
            {QStringLiteral("R_opory"), FieldType::Float, 0, false},
            {QStringLiteral("U_izmer"), FieldType::Float, 0, false},
            {QStringLiteral("U_ras"), FieldType::Float, 0, false},
            {QStringLiteral("I_opory"), FieldType::Float, 0, false},
            {QStringLiteral("Line"), FieldType::SmallInt, 0, false},
        };
        t.keyField = 0;
        t.indexes = {
            {QStringLiteral("i_kilometr"), {1}},
            {QStringLiteral("i_line"), {9, 1}},
        };
        t.createSql = {
            QStringLiteral(
                "CREATE TABLE base_kor (\n"
                "  I          INTEGER PRIMARY KEY AUTOINCREMENT,\n"
                "  Kilometr   REAL    NOT NULL,\n"
                "  Nomeropory INTEGER NOT NULL CHECK (Nomeropory BETWEEN -32768 AND 32767),\n"
                "  \"Index\"    TEXT    CHECK (\"Index\" IS NULL OR length(\"Index\") <= 1),\n"
                "  Tipopory   TEXT    CHECK (Tipopory IS NULL OR length(Tipopory) <= 6),\n"
                "  R_opory    REAL,\n"
                "  U_izmer    REAL,\n"
                "  U_ras      REAL,\n"
                "  I_opory    REAL,\n"
                "  Line       INTEGER CHECK (Line IS NULL OR Line BETWEEN -32768 AND 32767)\n"
                ") STRICT"),
            QStringLiteral("CREATE INDEX i_kilometr ON base_kor (Kilometr)"),
            QStringLiteral("CREATE INDEX i_line     ON base_kor (Line, Kilometr)"),
        };
        t.references = {{9, QStringLiteral("line.db"), QStringLiteral("The section was deleted by another user"),
                         QStringLiteral("The section cannot be deleted while it has supports (another user may be adding them)")}};
        return t;
    }();
    return def;
}

const TableDef *findTable(const QString &tableName)
{
    for (const TableDef *def : {&lineTable(), &supportTable()})
        if (def->fileName.compare(tableName, Qt::CaseInsensitive) == 0
            || def->sqlName.compare(tableName, Qt::CaseInsensitive) == 0)
            return def;
    return nullptr;
}

QVector<const TableDef *> referringTables(const TableDef &table)
{
    QVector<const TableDef *> result;
    for (const TableDef *def : {&lineTable(), &supportTable()})
        for (const ReferenceDef &reference : def->references)
            if (reference.table.compare(table.fileName, Qt::CaseInsensitive) == 0)
                result << def;
    return result;
}

qsizetype codePoints(QStringView text)
{
    qsizetype n = 0;
    for (qsizetype i = 0; i < text.size(); ++i, ++n)
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
    return n;
}

QString leftCodePoints(const QString &text, qsizetype n)
{
    qsizetype i = 0;
    for (qsizetype taken = 0; i < text.size() && taken < n; ++taken, ++i)
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
    return text.left(i);
}

QString validText(QString text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (text[i].isSurrogate())
            text[i] = QChar::ReplacementCharacter;
    }
    return text;
}

QVariant normalise(const FieldDef &field, const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return {};
    bool ok = true;
    switch (field.type) {
    case FieldType::Float: {
        if (value.typeId() == QMetaType::QString || value.typeId() == QMetaType::QByteArray)
            break; // text is never taken for a number
        const double d = value.toDouble(&ok);
        if (!ok || std::isnan(d))
            break;
        return d;
    }
    case FieldType::AutoInc:
    case FieldType::SmallInt: {
        if (value.typeId() == QMetaType::QString || value.typeId() == QMetaType::QByteArray)
            break;
        const qint64 n = value.toLongLong(&ok);
        if (!ok)
            break;
        return n;
    }
    case FieldType::Text:
        if (value.typeId() == QMetaType::QByteArray)
            break; // a blob is not text
        return validText(value.toString());
    }
    throw StoreError(QStringLiteral("Invalid value for field '%1'").arg(field.name));
}

} // namespace store
