#include "field.h"

#include "errors.h"
#include "keyfilter.h"
#include "numberformat.h"
#include "numberreader.h"
#include "regionalsettings.h"
#include "table.h"

#include "store/schema.h"

#include <cmath>

Field::Field(Table *table, const QString &objectName, const QString &fieldName, FieldKind kind)
    : m_table(table), m_objectName(objectName), m_fieldName(fieldName), m_kind(kind)
{
    switch (kind) {
    case FieldKind::Float:
        m_keys = keyfilter::floatKeys(RegionalSettings::instance().decimalSeparator());
        break;
    case FieldKind::SmallInt:
    case FieldKind::AutoInc:
        m_keys = keyfilter::smallintKeys();
        break;
    case FieldKind::Text:
        break;
    }
    if (kind == FieldKind::AutoInc)
        m_readOnly = true;
}

QVariant Field::Value() const
{
    if (m_fieldNo < 0 || !m_table->Active())
        return {};
    return m_table->activeRecord().value(m_fieldNo);
}

bool Field::IsNull() const
{
    const QVariant v = Value();
    return !v.isValid() || v.isNull();
}

double Field::AsFloat() const
{
    return IsNull() ? 0.0 : Value().toDouble();
}

qint64 Field::AsInteger() const
{
    if (IsNull())
        return 0;
    if (m_kind == FieldKind::Float)
        return static_cast<qint64>(std::nearbyint(Value().toDouble()));
    if (m_kind == FieldKind::Text) {
        bool ok = false;
        const qint64 n = AsString().trimmed().toLongLong(&ok);
        if (!ok)
            throw ConvertError(QStringLiteral("'%1' is not a valid integer value").arg(AsString()));
        return n;
    }
    return Value().toLongLong();
}

QString Field::AsString() const
{
    if (IsNull())
        return QString();
    switch (m_kind) {
    case FieldKind::Text:
        return Value().toString();
    case FieldKind::Float:
        return numfmt::formatG(Value().toDouble());
    case FieldKind::SmallInt:
    case FieldKind::AutoInc:
        return QString::number(Value().toLongLong());
    }
    return QString();
}

QString Field::DisplayText() const
{
    if (IsNull())
        return QString();
    if (m_kind == FieldKind::Float) {
        const double v = Value().toDouble();
        if (m_displayFormat.isEmpty())
            return numfmt::formatG(v);
        return numfmt::renderMask(v, m_displayFormat, RegionalSettings::instance().decimalSeparator());
    }
    return AsString();
}

QString Field::Text() const
{
    // No field of the program has an edit format of its own.
    return DisplayText();
}

void Field::store(const QVariant &value)
{
    if (m_readOnly)
        throw DatabaseError(QStringLiteral("Field '%1' cannot be modified").arg(m_fieldName));
    m_table->fieldWritten(this, value);
}

void Field::Clear()
{
    store(QVariant());
}

void Field::SetAsFloat(double value)
{
    switch (m_kind) {
    case FieldKind::Float:
        if (!std::isfinite(value))
            throw DatabaseError(QStringLiteral("Invalid floating point value for field '%1'").arg(m_fieldName));
        store(value);
        return;
    case FieldKind::SmallInt:
    case FieldKind::AutoInc:
        if (!std::isfinite(value))
            throw DatabaseError(QStringLiteral("Invalid value for field '%1'").arg(m_fieldName));
        numread::checkSmallintRange(std::nearbyint(value), m_fieldName);
        store(static_cast<qint64>(std::nearbyint(value)));
        return;
    case FieldKind::Text:
        SetAsString(numfmt::formatG(value));
        return;
    }
}

void Field::SetAsInteger(qint64 value)
{
    switch (m_kind) {
    case FieldKind::Float:
        store(static_cast<double>(value));
        return;
    case FieldKind::SmallInt:
    case FieldKind::AutoInc:
        numread::checkSmallintRange(static_cast<double>(value), m_fieldName);
        store(value);
        return;
    case FieldKind::Text:
        SetAsString(QString::number(value));
        return;
    }
}

void Field::SetAsString(const QString &value)
{
    if (m_kind == FieldKind::Text) {
        // Only what the field object's size allows is kept.
        const QString text = ::store::validText(value);
        store(m_size > 0 ? ::store::leftCodePoints(text, m_size) : text);
        return;
    }
    SetText(value);
}

void Field::SetText(const QString &text)
{
    switch (m_kind) {
    case FieldKind::Text:
        SetAsString(text);
        return;
    case FieldKind::Float: {
        const std::optional<double> v =
            numread::readFloatText(text, RegionalSettings::instance().decimalSeparator(), m_fieldName);
        if (!v)
            Clear();
        else
            store(*v);
        return;
    }
    case FieldKind::SmallInt:
    case FieldKind::AutoInc: {
        const std::optional<int> v = numread::readSmallintText(text, m_fieldName);
        if (!v)
            Clear();
        else
            store(qint64(*v));
        return;
    }
    }
}
