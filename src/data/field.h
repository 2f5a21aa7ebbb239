#pragma once

#include <QString>
#include <QVariant>

class Table;

// The kinds of field object the program uses.
enum class FieldKind { AutoInc, Float, SmallInt, Text };

// A field object: the program's only way to read and write one field of a
// cursor's current record. Its settings, not the stored structure, decide
// what is written and shown (a text field keeps at most Size characters, a
// required field must not be blank when posted, a float field is shown with
// its display format).
class Field
{
public:
    Field(Table *table, const QString &objectName, const QString &fieldName, FieldKind kind);

    Table *DataSet() const { return m_table; }
    const QString &objectName() const { return m_objectName; } // "Table1Kilometr"
    const QString &FieldName() const { return m_fieldName; }    // "Kilometr"
    FieldKind kind() const { return m_kind; }
    bool isNumeric() const { return m_kind != FieldKind::Text; }
    bool isFloat() const { return m_kind == FieldKind::Float; }

    int Size() const { return m_size; }
    void SetSize(int size) { m_size = size; }
    bool Required() const { return m_required; }
    void SetRequired(bool required) { m_required = required; }
    bool ReadOnly() const { return m_readOnly; }
    void SetReadOnly(bool readOnly) { m_readOnly = readOnly; }
    const QString &DisplayFormat() const { return m_displayFormat; }
    void SetDisplayFormat(const QString &format) { m_displayFormat = format; }

    // Reading, on the cursor's active record buffer.
    bool IsNull() const;
    QVariant Value() const;
    double AsFloat() const;   // blank gives 0
    qint64 AsInteger() const; // blank gives 0
    QString AsString() const; // blank gives the empty string
    QString Text() const;     // the edit text: equal to the display text
    QString DisplayText() const;

    // Writing, into the record being edited or inserted.
    void SetAsFloat(double value);
    void SetAsInteger(qint64 value);
    void SetAsString(const QString &value);
    void SetText(const QString &text);
    void Clear();

    // The printable characters a bound edit box admits ("" = every one). For
    // a float field the set is taken once, when the field object is made,
    // with the decimal separator of that moment.
    const QString &keyFilter() const { return m_keys; }

    int fieldNo() const { return m_fieldNo; }
    void bind(int fieldNo) { m_fieldNo = fieldNo; }

private:
    void store(const QVariant &value);

    Table *m_table;
    QString m_objectName;
    QString m_fieldName;
    FieldKind m_kind;
    int m_fieldNo = -1;
    int m_size = 0;
    bool m_required = false;
    bool m_readOnly = false;
    QString m_displayFormat;
    QString m_keys;
};
