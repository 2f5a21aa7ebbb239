#pragma once

#include "schema.h"

#include <QString>
#include <optional>

namespace store {

// A filter condition of the form field, comparison, number ("I_opory >40"),
// evaluated by the store on every record it reads. A blank field passes no
// comparison.
struct Condition
{
    enum class Op { Greater, Less, GreaterEqual, LessEqual, Equal, NotEqual };

    int field = -1;
    Op op = Op::Greater;
    double value = 0;

    // Parses a condition on a table; the empty text gives no condition.
    // A malformed text or an unknown field is a StoreError.
    static std::optional<Condition> parse(const QString &text, const TableDef &table);

    bool passes(const Record &record) const;
    QString sqlOperator() const;
};

} // namespace store
