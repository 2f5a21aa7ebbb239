#include "keytree.h"

#include <algorithm>

namespace store {

namespace {

constexpr int kLeafKeys = 64;
constexpr int kFan = 32;
constexpr int kMaxDepth = 48;

} // namespace

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
    ViewKey keys[kLeafKeys];
};

struct Inner : KeyTree::Node
{
    Inner() : Node(false) {}
    KeyTree::Node *child[kFan];
    qsizetype count[kFan];
    // low[i] (i > 0) separates the children: every key of child i - 1 is
    // below it, every key of child i at or above it. low[0] is not used.
    ViewKey low[kFan];
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
int route(const Inner *in, const ViewKey &key)
{
    return int(std::upper_bound(in->low + 1, in->low + in->n, key) - (in->low + 1));
}

// Puts a child into an inner node that has room, at index i.
void placeChild(Inner *in, int i, KeyTree::Node *child, qsizetype count, const ViewKey &low)
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
    ViewKey low;
    qsizetype count = 0;
};

bool insertInto(KeyTree::Node *node, const ViewKey &key, Split &split)
{
    if (node->leaf) {
        Leaf *leaf = asLeaf(node);
        ViewKey *end = leaf->keys + leaf->n;
        ViewKey *at = std::lower_bound(leaf->keys, end, key);
        if (at != end && *at == key)
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
    const int i = route(in, key);
    Split below;
    if (!insertInto(in->child[i], key, below))
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

bool eraseFrom(KeyTree::Node *node, const ViewKey &key)
{
    if (node->leaf) {
        Leaf *leaf = asLeaf(node);
        ViewKey *end = leaf->keys + leaf->n;
        ViewKey *at = std::lower_bound(leaf->keys, end, key);
        if (at == end || !(*at == key))
            return false;
        std::move(at + 1, end, at);
        --leaf->n;
        return true;
    }
    Inner *in = asInner(node);
    const int i = route(in, key);
    if (!eraseFrom(in->child[i], key))
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

} // namespace

KeyTree::KeyTree() = default;

KeyTree::~KeyTree()
{
    destroy(m_root);
}

void KeyTree::clear()
{
    destroy(m_root);
    m_root = nullptr;
    m_size = 0;
}

const ViewKey &KeyTree::at(qsizetype position) const
{
    return descend(m_root, position, [](const Inner *, int) {})->keys[position];
}

qsizetype KeyTree::lowerBound(const ViewKey &key) const
{
    if (!m_root)
        return 0;
    qsizetype before = 0;
    const Node *node = m_root;
    while (!node->leaf) {
        const Inner *in = asInner(node);
        const int i = route(in, key);
        for (int c = 0; c < i; ++c)
            before += in->count[c];
        node = in->child[i];
    }
    const Leaf *leaf = asLeaf(node);
    return before + (std::lower_bound(leaf->keys, leaf->keys + leaf->n, key) - leaf->keys);
}

qsizetype KeyTree::find(const ViewKey &key) const
{
    const qsizetype position = lowerBound(key);
    return position < m_size && at(position) == key ? position : -1;
}

bool KeyTree::insert(const ViewKey &key)
{
    if (!m_root)
        m_root = new Leaf;
    Split split;
    if (!insertInto(m_root, key, split))
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

bool KeyTree::erase(const ViewKey &key)
{
    if (!m_root || !eraseFrom(m_root, key))
        return false;
    --m_size;
    if (m_size == 0) {
        clear();
        return true;
    }
    while (!m_root->leaf && m_root->n == 1) {
        Inner *old = asInner(m_root);
        m_root = old->child[0];
        delete old;
    }
    return true;
}

void KeyTree::append(const ViewKey &key)
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
    if (!leaf || leaf->n == 0 || leaf->n == kLeafKeys || !(leaf->keys[leaf->n - 1] < key)) {
        insert(key);
        return;
    }
    leaf->keys[leaf->n++] = key;
    for (int i = 0; i < depth; ++i)
        ++path[i]->count[path[i]->n - 1];
    ++m_size;
}

void KeyTree::visitFrom(qsizetype position, const std::function<bool(const ViewKey &)> &visit) const
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
            if (!visit(leaf->keys[k]))
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
