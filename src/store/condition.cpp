#include "condition.h"

#include "error.h"

#include <charconv>
#include <cmath>

namespace store {

std::optional<Condition> Condition::parse(const QString &text, const TableDef &table)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;

    auto malformed = [&] {
        return StoreError(QStringLiteral("Invalid filter condition '%1': expected a field, a comparison "
                                         "and a number")
                              .arg(text));
    };

    int i = 0;
    while (i < trimmed.size() && (trimmed[i].isLetterOrNumber() || trimmed[i] == QLatin1Char('_')))
        ++i;
    const QString name = trimmed.left(i);
    if (name.isEmpty())
        throw malformed();
    while (i < trimmed.size() && trimmed[i].isSpace())
        ++i;

    Condition c;
    static const struct
    {
        const char *text;
        Op op;
    } ops[] = {{">=", Op::GreaterEqual}, {"<=", Op::LessEqual}, {"<>", Op::NotEqual},
               {">", Op::Greater},       {"<", Op::Less},       {"=", Op::Equal}};
    bool found = false;
    for (const auto &candidate : ops) {
        const QString op = QString::fromLatin1(candidate.text);
        if (trimmed.mid(i, op.size()) == op) {
            c.op = candidate.op;
            i += op.size();
            found = true;
            break;
        }
    }
    if (!found)
        throw malformed();
    while (i < trimmed.size() && trimmed[i].isSpace())
        ++i;

    const QByteArray number = trimmed.mid(i).toLatin1();
    if (number.isEmpty() || trimmed.mid(i).toLatin1() != trimmed.mid(i).toUtf8())
        throw malformed();
    const char *begin = number.constData();
    const char *end = begin + number.size();
    if (*begin == '+')
        ++begin;
    auto [ptr, ec] = std::from_chars(begin, end, c.value);
    if (ec != std::errc() || ptr != end || !std::isfinite(c.value))
        throw malformed();

    c.field = table.fieldIndex(name);
    if (c.field < 0)
        throw StoreError(QStringLiteral("Invalid filter condition '%1': field '%2' not found").arg(text, name));
    const FieldType type = table.fields[c.field].type;
    if (type == FieldType::Text)
        throw StoreError(QStringLiteral("Invalid filter condition '%1': field '%2' is not a number")
                             .arg(text, name));
    return c;
}

bool Condition::passes(const Record &record) const
{
    const QVariant &v = record.value(field);
    if (!v.isValid() || v.isNull())
        return false;
    const double x = v.toDouble();
    switch (op) {
    case Op::Greater:
        return x > value;
    case Op::Less:
        return x < value;
    case Op::GreaterEqual:
        return x >= value;
    case Op::LessEqual:
        return x <= value;
    case Op::Equal:
        return x == value;
    case Op::NotEqual:
        return x != value;
    }
    return false;
}

QString Condition::sqlOperator() const
{
    switch (op) {
    case Op::Greater:
        return QStringLiteral(">");
    case Op::Less:
        return QStringLiteral("<");
    case Op::GreaterEqual:
        return QStringLiteral(">=");
    case Op::LessEqual:
        return QStringLiteral("<=");
    case Op::Equal:
        return QStringLiteral("=");
    case Op::NotEqual:
        return QStringLiteral("<>");
    }
    return {};
}

} // namespace store
