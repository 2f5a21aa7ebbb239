#include "keytree.h"

#include <QVarLengthArray>
#include <QtEndian>
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <optional>

namespace store {

namespace {

constexpr int kLeafKeys = 64;
constexpr int kFan = 32;
constexpr int kMaxDepth = 48;
// The rests' store is packed when removed rests take more than half of it
// and more than this.
constexpr qsizetype kPackSlack = 64 * 1024;
// The place of the rest of a key that is looked for, not kept.
constexpr quint64 kProbe = ~quint64(0);
constexpr quint64 kSign = quint64(1) << 63;

using Slot = KeyTree::Slot;

// The one comparison of keys: the first value, then the second value or the
// rest's bytes, then the record's key.
struct Order
{
    const std::string *rests = nullptr; // null: the keys have no rest
    QByteArrayView probe;

    QByteArrayView rest(quint64 place) const
    {
        if (place == kProbe)
            return probe;
        quint32 n;
        std::memcpy(&n, rests->data() + place, sizeof n);
        return QByteArrayView(rests->data() + place + sizeof n, n);
    }
    int compare(const Slot &x, const Slot &y) const
    {
        if (x.a != y.a)
            return x.a < y.a ? -1 : 1;
        if (!rests) {
            if (x.b != y.b)
                return x.b < y.b ? -1 : 1;
        } else if (x.b != y.b) {
            const QByteArrayView l = rest(x.b), r = rest(y.b);
            const int c = std::memcmp(l.data(), r.data(), size_t(std::min(l.size(), r.size())));
            if (c != 0)
                return c < 0 ? -1 : 1;
            if (l.size() != r.size())
                return l.size() < r.size() ? -1 : 1;
        }
        if (x.id != y.id)
            return x.id < y.id ? -1 : 1;
        return 0;
    }
    bool operator()(const Slot &x, const Slot &y) const
    {
        if (x.a != y.a)
            return x.a < y.a;
        if (!rests)
            return x.b != y.b ? x.b < y.b : x.id < y.id;
        return compare(x, y) < 0;
    }
};

// A float's bits as an unsigned number of the same order; blank is 0, below
// every number (-infinity is 0x000fffffffffffff).
quint64 floatOrder(double x)
{
    if (x == 0)
        x = 0; // -0 orders as 0
    const quint64 bits = std::bit_cast<quint64>(x);
    return bits & kSign ? ~bits : bits | kSign;
}

// The value of an order field as a number of its order, by the field's type;
// nullopt for a blank (or a value the field cannot hold, which reads as blank).
std::optional<quint64> numberOrder(FieldType type, const OrderValue &v)
{
    if (type == FieldType::Float) {
        const double x = v.kind == OrderValue::Number ? v.number : double(v.integer);
        if (v.kind == OrderValue::Blank || v.kind == OrderValue::Text || std::isnan(x))
            return std::nullopt;
        return floatOrder(x);
    }
    if (v.kind == OrderValue::Integer)
        return quint64(v.integer) ^ kSign;
    if (v.kind == OrderValue::Number && std::isfinite(v.number))
        return quint64(qint64(v.number)) ^ kSign;
    return std::nullopt;
}

// Appends a value to a rest: 0 for a blank, else 1 and then a number's eight
// bytes (high first) or a text's bytes with every 0 made 0 255, ended by 0 0.
void appendRest(QByteArray &rest, FieldType type, const OrderValue &v)
{
    if (type == FieldType::Text) {
        if (v.kind != OrderValue::Text) {
            rest += char(0);
            return;
        }
        rest += char(1);
        for (char c : v.text) {
            rest += c;
            if (c == 0)
                rest += char(0xff);
        }
        rest += char(0);
        rest += char(0);
        return;
    }
    const std::optional<quint64> n = numberOrder(type, v);
    if (!n) {
        rest += char(0);
        return;
    }
    rest += char(1);
    char bytes[8];
    qToBigEndian(*n, bytes);
    rest.append(bytes, 8);
}

bool inlineType(FieldType type)
{
    return type == FieldType::Float || type == FieldType::SmallInt;
}

} // namespace

KeyShape::KeyShape(const QVector<FieldType> &types) : m_types(types)
{
    while (m_inline < 2 && m_inline < m_types.size() && inlineType(m_types[m_inline]))
        ++m_inline;
    // With a rest, the second number's place holds the rest.
    if (m_inline == 2 && m_types.size() > 2)
        m_inline = 1;
}

ViewKey KeyShape::key(qint64 id, const OrderValue *values) const
{
    ViewKey key;
    key.id = id;
    for (int i = 0; i < m_types.size(); ++i) {
        if (i < m_inline) {
            const quint64 n = numberOrder(m_types[i], values[i]).value_or(0);
            (i == 0 ? key.a : key.b) = n;
        } else {
            appendRest(key.rest, m_types[i], values[i]);
        }
    }
    return key;
}

ViewKey KeyShape::key(qint64 id, const Record &record, const QVector<int> &orderFields) const
{
    QVarLengthArray<OrderValue, 4> values(orderFields.size());
    QVarLengthArray<QByteArray, 4> texts(orderFields.size());
    for (int i = 0; i < orderFields.size(); ++i) {
        const QVariant v = record.value(orderFields[i]);
        OrderValue &o = values[i];
        if (!v.isValid() || v.isNull())
            continue;
        switch (v.typeId()) {
        case QMetaType::Double:
            o.kind = OrderValue::Number;
            o.number = v.toDouble();
            break;
        case QMetaType::QString:
            texts[i] = v.toString().toUtf8();
            o.kind = OrderValue::Text;
            o.text = texts[i];
            break;
        default:
            o.kind = OrderValue::Integer;
            o.integer = v.toLongLong();
            break;
        }
    }
    return key(id, values.data());
}

struct KeyTree::Node
{
    explicit Node(bool isLeaf) : leaf(isLeaf) {}
    bool leaf;
    int n = 0; // keys of a leaf, children of an inner node
};

namespace {

struct Leaf : KeyTree::Node
{
    Leaf() : Node(true) {}
    Slot keys[kLeafKeys];
};

struct Inner : KeyTree::Node
{
    Inner() : Node(false) {}
    KeyTree::Node *child[kFan];
    qsizetype count[kFan];
    // low[i] (i > 0) separates the children: every key of child i - 1 is
    // below it, every key of child i at or above it. low[0] is not used.
    Slot low[kFan];
};

Leaf *asLeaf(KeyTree::Node *node)
{
    return static_cast<Leaf *>(node);
}
const Leaf *asLeaf(const KeyTree::Node *node)
{
    return static_cast<const Leaf *>(node);
}
Inner *asInner(KeyTree::Node *node)
{
    return static_cast<Inner *>(node);
}
const Inner *asInner(const KeyTree::Node *node)
{
    return static_cast<const Inner *>(node);
}

int capacity(const KeyTree::Node *node)
{
    return node->leaf ? kLeafKeys : kFan;
}

void destroy(KeyTree::Node *node)
{
    if (!node)
        return;
    if (node->leaf) {
        delete asLeaf(node);
        return;
    }
    Inner *in = asInner(node);
    for (int i = 0; i < in->n; ++i)
        destroy(in->child[i]);
    delete in;
}

// The child whose keys the key belongs among.
int route(const Inner *in, const Slot &key, const Order &order)
{
    return int(std::upper_bound(in->low + 1, in->low + in->n, key, order) - (in->low + 1));
}

// Puts a child into an inner node that has room, at index i.
void placeChild(Inner *in, int i, KeyTree::Node *child, qsizetype count, const Slot &low)
{
    std::move_backward(in->child + i, in->child + in->n, in->child + in->n + 1);
    std::move_backward(in->count + i, in->count + in->n, in->count + in->n + 1);
    std::move_backward(in->low + i, in->low + in->n, in->low + in->n + 1);
    in->child[i] = child;
    in->count[i] = count;
    in->low[i] = low;
    ++in->n;
}

void removeChild(Inner *in, int i)
{
    std::move(in->child + i + 1, in->child + in->n, in->child + i);
    std::move(in->count + i + 1, in->count + in->n, in->count + i);
    std::move(in->low + i + 1, in->low + in->n, in->low + i);
    --in->n;
}

// A node's new right sibling after it split, for its parent to take in.
struct Split
{
    KeyTree::Node *right = nullptr;
    Slot low;
    qsizetype count = 0;
};

bool insertInto(KeyTree::Node *node, const Slot &key, Split &split, const Order &order)
{
    if (node->leaf) {
        Leaf *leaf = asLeaf(node);
        Slot *end = leaf->keys + leaf->n;
        Slot *at = std::lower_bound(leaf->keys, end, key, order);
        if (at != end && order.compare(*at, key) == 0)
            return false;
        const int pos = int(at - leaf->keys);
        if (leaf->n < kLeafKeys) {
            std::move_backward(at, end, end + 1);
            *at = key;
            ++leaf->n;
            return true;
        }
        auto *right = new Leaf;
        if (pos == kLeafKeys) {
            // Keys arriving in order leave full leaves behind them.
            right->keys[0] = key;
            right->n = 1;
        } else {
            constexpr int half = kLeafKeys / 2;
            std::copy(leaf->keys + half, end, right->keys);
            right->n = kLeafKeys - half;
            leaf->n = half;
            Leaf *target = pos <= half ? leaf : right;
            const int p = pos <= half ? pos : pos - half;
            std::move_backward(target->keys + p, target->keys + target->n, target->keys + target->n + 1);
            target->keys[p] = key;
            ++target->n;
        }
        split = {right, right->keys[0], right->n};
        return true;
    }

    Inner *in = asInner(node);
    const int i = route(in, key, order);
    Split below;
    if (!insertInto(in->child[i], key, below, order))
        return false;
    if (!below.right) {
        ++in->count[i];
        return true;
    }
    in->count[i] += 1 - below.count;
    if (in->n < kFan) {
        placeChild(in, i + 1, below.right, below.count, below.low);
        return true;
    }
    auto *right = new Inner;
    if (i + 1 == kFan) {
        right->child[0] = below.right;
        right->count[0] = below.count;
        right->low[0] = below.low;
        right->n = 1;
    } else {
        constexpr int half = kFan / 2;
        std::copy(in->child + half, in->child + kFan, right->child);
        std::copy(in->count + half, in->count + kFan, right->count);
        std::copy(in->low + half, in->low + kFan, right->low);
        right->n = kFan - half;
        in->n = half;
        if (i + 1 <= half)
            placeChild(in, i + 1, below.right, below.count, below.low);
        else
            placeChild(right, i + 1 - half, below.right, below.count, below.low);
    }
    qsizetype total = 0;
    for (int c = 0; c < right->n; ++c)
        total += right->count[c];
    split = {right, right->low[0], total};
    return true;
}

// Child i + 1 joins child i (both of one kind, their entries together fit one node).
void merge(Inner *in, int i)
{
    KeyTree::Node *left = in->child[i];
    KeyTree::Node *right = in->child[i + 1];
    if (left->leaf) {
        Leaf *l = asLeaf(left);
        const Leaf *r = asLeaf(right);
        std::copy(r->keys, r->keys + r->n, l->keys + l->n);
        l->n += r->n;
        delete asLeaf(right);
    } else {
        Inner *l = asInner(left);
        Inner *r = asInner(right);
        std::copy(r->child, r->child + r->n, l->child + l->n);
        std::copy(r->count, r->count + r->n, l->count + l->n);
        std::copy(r->low, r->low + r->n, l->low + l->n);
        l->low[l->n] = in->low[i + 1]; // the first child of the right one is separated by the parent's key
        l->n += r->n;
        delete r;
    }
    in->count[i] += in->count[i + 1];
    removeChild(in, i + 1);
}

// The key removed is left in erased.
bool eraseFrom(KeyTree::Node *node, const Slot &key, const Order &order, Slot &erased)
{
    if (node->leaf) {
        Leaf *leaf = asLeaf(node);
        Slot *end = leaf->keys + leaf->n;
        Slot *at = std::lower_bound(leaf->keys, end, key, order);
        if (at == end || order.compare(*at, key) != 0)
            return false;
        erased = *at;
        std::move(at + 1, end, at);
        --leaf->n;
        return true;
    }
    Inner *in = asInner(node);
    const int i = route(in, key, order);
    if (!eraseFrom(in->child[i], key, order, erased))
        return false;
    --in->count[i];
    KeyTree::Node *child = in->child[i];
    const int cap = capacity(child);
    if (child->n == 0) {
        destroy(child);
        removeChild(in, i);
    } else if (child->n < cap / 4) {
        // A thin node joins a neighbour it fits into, so the tree stays compact.
        if (i + 1 < in->n && child->n + in->child[i + 1]->n <= cap)
            merge(in, i);
        else if (i > 0 && child->n + in->child[i - 1]->n <= cap)
            merge(in, i - 1);
    }
    return true;
}

// Down from the root to the leaf that holds a position, which is left as
// the place within that leaf; passed(inner, child) is told each step.
template<typename Passed>
const Leaf *descend(const KeyTree::Node *node, qsizetype &position, Passed passed)
{
    while (!node->leaf) {
        const Inner *in = asInner(node);
        int i = 0;
        while (i + 1 < in->n && position >= in->count[i])
            position -= in->count[i++];
        passed(in, i);
        node = in->child[i];
    }
    return asLeaf(node);
}

template<typename Visit>
void forEachSlot(const KeyTree::Node *node, Visit visit)
{
    if (node->leaf) {
        for (int k = 0; k < node->n; ++k)
            visit(asLeaf(node)->keys[k]);
        return;
    }
    for (int c = 0; c < node->n; ++c)
        forEachSlot(asInner(node)->child[c], visit);
}

} // namespace

KeyTree::KeyTree() = default;

KeyTree::~KeyTree()
{
    destroy(m_root);
}

void KeyTree::clear(bool withRest)
{
    destroy(m_root);
    m_root = nullptr;
    m_size = 0;
    m_withRest = withRest;
    m_rests.clear();
    m_rests.shrink_to_fit();
    m_liveRests = 0;
}

namespace {

Slot probeSlot(const ViewKey &key, bool withRest)
{
    return {key.a, withRest ? kProbe : key.b, key.id};
}

} // namespace

ViewKey KeyTree::at(qsizetype position) const
{
    const Slot &slot = descend(m_root, position, [](const Inner *, int) {})->keys[position];
    ViewKey key;
    key.a = slot.a;
    key.id = slot.id;
    if (m_withRest)
        key.rest = Order{rests(), {}}.rest(slot.b).toByteArray();
    else
        key.b = slot.b;
    return key;
}

qsizetype KeyTree::lowerBound(const ViewKey &key) const
{
    if (!m_root)
        return 0;
    const Order order = Order{rests(), key.rest};
    const Slot probe = probeSlot(key, m_withRest);
    qsizetype before = 0;
    const Node *node = m_root;
    while (!node->leaf) {
        const Inner *in = asInner(node);
        const int i = route(in, probe, order);
        for (int c = 0; c < i; ++c)
            before += in->count[c];
        node = in->child[i];
    }
    const Leaf *leaf = asLeaf(node);
    return before + (std::lower_bound(leaf->keys, leaf->keys + leaf->n, probe, order) - leaf->keys);
}

qsizetype KeyTree::find(const ViewKey &key) const
{
    const qsizetype position = lowerBound(key);
    if (position >= m_size)
        return -1;
    qsizetype p = position;
    const Slot &slot = descend(m_root, p, [](const Inner *, int) {})->keys[p];
    return Order{rests(), key.rest}.compare(slot, probeSlot(key, m_withRest)) == 0 ? position : -1;
}

// The key with its rest put into the store of rests.
KeyTree::Slot KeyTree::stored(const ViewKey &key)
{
    if (!m_withRest)
        return {key.a, key.b, key.id};
    const quint64 place = m_rests.size();
    const quint32 n = quint32(key.rest.size());
    m_rests.append(reinterpret_cast<const char *>(&n), sizeof n);
    m_rests.append(key.rest.constData(), size_t(key.rest.size()));
    m_liveRests += qsizetype(sizeof n) + key.rest.size();
    return {key.a, place, key.id};
}

// A key that did not go into the tree gives its rest back.
void KeyTree::forget(const Slot &slot)
{
    if (!m_withRest)
        return;
    const qsizetype bytes = qsizetype(sizeof(quint32)) + Order{rests(), {}}.rest(slot.b).size();
    m_liveRests -= bytes;
    if (qsizetype(slot.b) + bytes == qsizetype(m_rests.size()))
        m_rests.resize(slot.b);
}

bool KeyTree::insertSlot(const Slot &key)
{
    if (!m_root)
        m_root = new Leaf;
    Split split;
    if (!insertInto(m_root, key, split, Order{rests(), {}}))
        return false;
    ++m_size;
    if (split.right) {
        auto *root = new Inner;
        root->n = 2;
        root->child[0] = m_root;
        root->count[0] = m_size - split.count;
        root->child[1] = split.right;
        root->count[1] = split.count;
        root->low[1] = split.low;
        m_root = root;
    }
    return true;
}

bool KeyTree::insert(const ViewKey &key)
{
    const Slot slot = stored(key);
    if (insertSlot(slot))
        return true;
    forget(slot);
    return false;
}

bool KeyTree::erase(const ViewKey &key)
{
    Slot erased;
    if (!m_root || !eraseFrom(m_root, probeSlot(key, m_withRest), Order{rests(), key.rest}, erased))
        return false;
    --m_size;
    if (m_size == 0) {
        clear(m_withRest);
        return true;
    }
    while (!m_root->leaf && m_root->n == 1) {
        Inner *old = asInner(m_root);
        m_root = old->child[0];
        delete old;
    }
    if (m_withRest) {
        forget(erased);
        if (qsizetype(m_rests.size()) - m_liveRests > std::max(m_liveRests, kPackSlack))
            pack();
    }
    return true;
}

// Removed keys leave their rests behind (and the inner nodes may still name
// them): the keys are laid into a new tree with a new store of rests.
void KeyTree::pack()
{
    std::vector<Slot> keys;
    keys.reserve(size_t(m_size));
    std::string packed;
    packed.reserve(size_t(m_liveRests));
    const Order order = Order{rests(), {}};
    forEachSlot(m_root, [&](const Slot &slot) {
        const QByteArrayView rest = order.rest(slot.b);
        const quint32 n = quint32(rest.size());
        keys.push_back({slot.a, packed.size(), slot.id});
        packed.append(reinterpret_cast<const char *>(&n), sizeof n);
        packed.append(rest.data(), size_t(rest.size()));
    });
    clear(true);
    m_rests = std::move(packed);
    m_liveRests = qsizetype(m_rests.size());
    for (const Slot &slot : keys)
        appendSlot(slot);
}

void KeyTree::append(const ViewKey &key)
{
    appendSlot(stored(key));
}

void KeyTree::appendSlot(const Slot &key)
{
    // Down the right edge: when the last leaf has room and the key comes
    // after its last one, the key goes there and the counts above grow.
    Inner *path[kMaxDepth];
    int depth = 0;
    Node *node = m_root;
    while (node && !node->leaf && depth < kMaxDepth) {
        path[depth++] = asInner(node);
        node = asInner(node)->child[asInner(node)->n - 1];
    }
    Leaf *leaf = node && node->leaf ? asLeaf(node) : nullptr;
    if (!leaf || leaf->n == 0 || leaf->n == kLeafKeys || !Order{rests(), {}}(leaf->keys[leaf->n - 1], key)) {
        if (!insertSlot(key))
            forget(key);
        return;
    }
    leaf->keys[leaf->n++] = key;
    for (int i = 0; i < depth; ++i)
        ++path[i]->count[path[i]->n - 1];
    ++m_size;
}

void KeyTree::visitFrom(qsizetype position, const std::function<bool(qint64 id)> &visit) const
{
    if (position < 0 || position >= m_size)
        return;
    struct Frame
    {
        const Inner *in;
        int i;
    };
    Frame stack[kMaxDepth];
    int depth = 0;
    const Node *node = descend(m_root, position, [&](const Inner *in, int i) { stack[depth++] = {in, i}; });
    qsizetype k = position;
    for (;;) {
        const Leaf *leaf = asLeaf(node);
        for (; k < leaf->n; ++k)
            if (!visit(leaf->keys[k].id))
                return;
        while (depth > 0 && stack[depth - 1].i + 1 >= stack[depth - 1].in->n)
            --depth;
        if (depth == 0)
            return;
        Frame &top = stack[depth - 1];
        node = top.in->child[++top.i];
        while (!node->leaf) {
            stack[depth++] = {asInner(node), 0};
            node = asInner(node)->child[0];
        }
        k = 0;
    }
}

} // namespace store
