#pragma once

#include <QtGlobal>

#include <compare>
#include <functional>
#include <memory>

namespace store {

// The place of a record in a view's order: the values of the order fields
// and, for ties, the record's key.
struct ViewKey
{
    double a = 0;
    double b = 0;
    qint64 id = 0;
    auto operator<=>(const ViewKey &) const = default;
};

// The ordered keys of a view with their positions: a B+-tree whose inner
// nodes count the keys below them, so that the key at a position, the
// position of a key, an insertion and a removal each cost O(log n). Leaves
// keep their keys in plain arrays, about 25 bytes a key, so that a Section of
// a million Supports costs the program tens of megabytes, not hundreds.
class KeyTree
{
public:
    KeyTree();
    ~KeyTree();
    KeyTree(const KeyTree &) = delete;
    KeyTree &operator=(const KeyTree &) = delete;

    qsizetype size() const { return m_size; }
    void clear();

    // 0-based positions; position must be below size().
    const ViewKey &at(qsizetype position) const;
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

    // Calls visit with the keys from a position on, in order, until it
    // returns false or the keys end.
    void visitFrom(qsizetype position, const std::function<bool(const ViewKey &)> &visit) const;

    struct Node;

private:
    Node *m_root = nullptr;
    qsizetype m_size = 0;
};

} // namespace store
