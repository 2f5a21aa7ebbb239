#pragma once

#include <QVariant>
#include <algorithm>

// The order a view must give its records' values, worked out from the values
// themselves: a blank first, texts by their characters' code points, numbers
// by size. Negative, 0 or positive.
inline int compareTyped(const QVariant &x, const QVariant &y)
{
    if (!x.isValid() || !y.isValid())
        return int(x.isValid()) - int(y.isValid());
    if (x.typeId() == QMetaType::QString) {
        const QList<uint> l = x.toString().toUcs4(), r = y.toString().toUcs4();
        return l == r ? 0 : std::lexicographical_compare(l.begin(), l.end(), r.begin(), r.end()) ? -1 : 1;
    }
    if (x.typeId() == QMetaType::Double)
        return x.toDouble() < y.toDouble() ? -1 : x.toDouble() > y.toDouble() ? 1 : 0;
    return x.toLongLong() < y.toLongLong() ? -1 : x.toLongLong() > y.toLongLong() ? 1 : 0;
}
