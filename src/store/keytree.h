#pragma once

#include "schema.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QVector>
#include <QtGlobal>

#include <functional>
#include <string>

namespace store {

// One value of an order field, as a scan delivers it or a record holds it.
struct OrderValue
{
    enum Kind : quint8 { Blank, Number, Integer, Text };
    Kind kind = Blank;
    double number = 0;
    qint64 integer = 0;
    QByteArrayView text; // UTF-8; valid only while the value is handed over
};

// The place of a record in a view's order: its order values and, for ties,
// the record's key. A key stands on its own: it stays valid while the view
// changes. The values are kept in a form whose plain order is the values'
// order (see KeyShape); two keys are only comparable under the same shape.
struct ViewKey
{
    quint64 a = 0;   // the first value, or 0
    quint64 b = 0;   // the second value, or 0 when the rest holds it
    QByteArray rest; // the values that do not fit a number, as bytes
    qint64 id = 0;
};

// How the order values of a view's index become keys. Each value is compared
// by its field's type, blank before every value: a number (infinities
// included) by its size, -0 as 0; a whole number exactly; a text by its
// characters' code points, which is the byte order of its UTF-8 form, the
// order the index scans of both backends deliver. Up to two leading values
// of a float or small whole-number field are kept in the key itself as
// unsigned numbers of the same order; the other values (texts, 64-bit whole
// numbers, a third value and on) are kept as one string of bytes of the same
// order, so that only indexes with such fields pay for them.
class KeyShape
{
public:
    KeyShape() = default;
    explicit KeyShape(const QVector<FieldType> &types);

    int size() const { return int(m_types.size()); }
    // Whether keys of this shape carry the bytes of a rest.
    bool hasRest() const { return m_inline < m_types.size(); }

    // The key of a record from its order values (size() of them).
    ViewKey key(qint64 id, const OrderValue *values) const;
    // The same from a record's fields (the order fields given in order).
    ViewKey key(qint64 id, const Record &record, const QVector<int> &orderFields) const;

private:
    QVector<FieldType> m_types;
    int m_inline = 0;
};

// The ordered keys of a view with their positions: a B+-tree whose inner
// nodes count the keys below them, so that the key at a position, the
// position of a key, an insertion and a removal each cost O(log n). Leaves
// keep their keys in plain arrays, 24 bytes a key, so that a Section of a
// million Supports costs the program tens of megabytes, not hundreds. The
// rests of keys of a shape that has them live in one store of bytes beside
// the tree, which is packed again when removed rests fill half of it.
class KeyTree
{
public:
    KeyTree();
    ~KeyTree();
    KeyTree(const KeyTree &) = delete;
    KeyTree &operator=(const KeyTree &) = delete;

    qsizetype size() const { return m_size; }
    // Empties the tree for keys with or without a rest.
    void clear(bool withRest = false);

    // 0-based positions; position must be below size().
    ViewKey at(qsizetype position) const;
    // The number of keys below the given one.
    qsizetype lowerBound(const ViewKey &key) const;
    // The position of the key; -1 when the tree does not hold it.
    qsizetype find(const ViewKey &key) const;

    // False when the key is there already.
    bool insert(const ViewKey &key);
    // False when the key is not there.
    bool erase(const ViewKey &key);
    // Adds a key above every key in the tree (as a scan in order delivers
    // them) without searching; any other key is inserted as usual.
    void append(const ViewKey &key);

    // Calls visit with the record keys from a position on, in order, until
    // it returns false or the keys end.
    void visitFrom(qsizetype position, const std::function<bool(qint64 id)> &visit) const;

    struct Node;
    // A key as the tree keeps it: b is the place of the rest in the store
    // of rests when the tree's keys have one.
    struct Slot
    {
        quint64 a;
        quint64 b;
        qint64 id;
    };

private:
    const std::string *rests() const { return m_withRest ? &m_rests : nullptr; }
    Slot stored(const ViewKey &key);
    bool insertSlot(const Slot &slot);
    void appendSlot(const Slot &slot);
    void forget(const Slot &slot);
    void pack();

    Node *m_root = nullptr;
    qsizetype m_size = 0;
    bool m_withRest = false;
    std::string m_rests;        // each rest: its length (4 bytes), then its bytes
    qsizetype m_liveRests = 0;  // the bytes of the rests the tree still holds
};

} // namespace store
