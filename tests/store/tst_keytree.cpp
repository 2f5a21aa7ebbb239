// The view's counted key tree against a sorted vector, over long random runs
// of insertions, removals, appends in order and look-ups: sizes that grow
// the tree several levels deep and shrink it back to nothing. The vector is
// ordered by the typed values themselves (numbers by size, texts by code
// points, blanks first), not by the keys' encoded form.
#include "store/keytree.h"
#include "typedorder.h"

#include <QRandomGenerator>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

using namespace store;

namespace {

// A record's order values as the test knows them, with its key.
struct Entry
{
    QVariantList values; // invalid: blank
    qint64 id = 0;
    ViewKey key;
};

bool before(const Entry &x, const Entry &y)
{
    for (int i = 0; i < x.values.size(); ++i)
        if (const int c = compareTyped(x.values[i], y.values[i]))
            return c < 0;
    return x.id < y.id;
}

bool same(const ViewKey &x, const ViewKey &y)
{
    return x.a == y.a && x.b == y.b && x.rest == y.rest && x.id == y.id;
}

} // namespace

class TestKeyTree : public QObject
{
    Q_OBJECT
private slots:
    void againstSortedVector_data();
    void againstSortedVector();
};

void TestKeyTree::againstSortedVector_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("steps");
    QTest::addColumn<int>("spread");     // order values drawn from 0 .. spread - 1: small means many ties
    QTest::addColumn<int>("insertShare"); // per cent of the changing steps that insert
    QTest::addColumn<bool>("inOrder");    // new keys come above every key, as a scan delivers them
    QTest::addColumn<bool>("shrink");     // the second half only removes keys that are there
    QTest::addColumn<bool>("mixed");      // a small whole number, a text and a 64-bit whole number; else two floats

    QTest::newRow("grows deep, random keys") << 1u << 60000 << 1000000 << 80 << false << false << false;
    QTest::newRow("grows deep, keys in order") << 2u << 60000 << 1000000 << 90 << true << false << false;
    QTest::newRow("many ties broken by the key") << 3u << 30000 << 3 << 70 << false << false << false;
    QTest::newRow("grows, then shrinks to nothing") << 4u << 120000 << 1000000 << 90 << false << true << false;
    QTest::newRow("small, churning") << 5u << 20000 << 50 << 50 << false << false << false;
    QTest::newRow("texts and big numbers, grows deep") << 6u << 60000 << 1000 << 80 << false << false << true;
    QTest::newRow("texts and big numbers, in order") << 7u << 30000 << 1000 << 90 << true << false << true;
    QTest::newRow("texts and big numbers, many ties") << 8u << 30000 << 3 << 70 << false << false << true;
    QTest::newRow("texts and big numbers, churning to nothing") << 9u << 80000 << 50 << 55 << false << true << true;
}

void TestKeyTree::againstSortedVector()
{
    QFETCH(quint32, seed);
    QFETCH(int, steps);
    QFETCH(int, spread);
    QFETCH(int, insertShare);
    QFETCH(bool, inOrder);
    QFETCH(bool, shrink);
    QFETCH(bool, mixed);

    QRandomGenerator random(seed);
    const QVector<FieldType> types = mixed ? QVector<FieldType>{FieldType::SmallInt, FieldType::Text, FieldType::AutoInc}
                                           : QVector<FieldType>{FieldType::Float, FieldType::Float};
    const KeyShape shape(types);
    QCOMPARE(shape.hasRest(), mixed);
    KeyTree tree;
    tree.clear(shape.hasRest());
    std::vector<Entry> model;
    qint64 nextId = 1;
    int nextOrder = 0;
    // Texts whose code point order differs from their UTF-16 order
    // (U+FFFD and U+1F600), with a 0 character and the empty text.
    const QStringList letters{QStringLiteral("a"), QStringLiteral("b"), QString(QChar(0)), QStringLiteral("\u00e9"),
                              QStringLiteral("\ufffd"), QStringLiteral("\U0001F600")};
    auto randomValue = [&](FieldType type) -> QVariant {
        if (random.bounded(12) == 0)
            return QVariant();
        switch (type) {
        case FieldType::Float: {
            const int pick = random.bounded(40);
            if (pick == 0)
                return -std::numeric_limits<double>::infinity();
            if (pick == 1)
                return std::numeric_limits<double>::infinity();
            if (pick == 2)
                return -0.0;
            return double(random.bounded(spread)) - spread / 4;
        }
        case FieldType::SmallInt:
            return qint64(random.bounded(std::min(spread, 60000))) - 30000;
        case FieldType::AutoInc: {
            // Neighbours far above 2^53, where a double cannot tell them apart.
            const qint64 big = qint64(1) << 62;
            const qint64 n = random.bounded(std::max(2, spread / 10));
            return random.bounded(2) ? big + n : -big - n;
        }
        case FieldType::Text: {
            QString text;
            for (int i = random.bounded(3); i > 0; --i)
                text += letters[random.bounded(std::min<int>(letters.size(), spread + 1))];
            return text;
        }
        }
        return {};
    };
    auto entry = [&](QVariantList values, qint64 id) {
        Record record;
        QVector<int> fields;
        for (int i = 0; i < values.size(); ++i) {
            record << values[i];
            fields << i;
        }
        record << id;
        return Entry{values, id, shape.key(id, record, fields)};
    };
    auto randomKey = [&] {
        QVariantList values;
        for (FieldType type : types)
            values << randomValue(type);
        return entry(values, qint64(random.bounded(4 * spread + 8)));
    };

    for (int step = 0; step < steps; ++step) {
        const bool shrinking = shrink && step >= steps / 2;
        const int kind = random.bounded(100);
        if (kind < 60) {
            const bool insert = !shrinking && random.bounded(100) < insertShare;
            if (insert) {
                Entry key = randomKey();
                if (inOrder) {
                    nextOrder += random.bounded(3);
                    QVariantList values{mixed ? QVariant(qint64(nextOrder)) : QVariant(double(nextOrder))};
                    for (int i = 1; i < types.size(); ++i)
                        values << QVariant();
                    key = entry(values, nextId++);
                    tree.append(key.key);
                    model.push_back(key);
                    continue;
                }
                const auto at = std::lower_bound(model.begin(), model.end(), key, before);
                const bool fresh = at == model.end() || before(key, *at);
                QCOMPARE(tree.insert(key.key), fresh);
                if (fresh)
                    model.insert(at, key);
            } else if (!model.empty()) {
                // Mostly a key that is there, sometimes one that is not.
                const Entry key = !shrinking && random.bounded(4) == 0 ? randomKey() : model[random.bounded(qint64(model.size()))];
                const auto at = std::lower_bound(model.begin(), model.end(), key, before);
                const bool there = at != model.end() && !before(key, *at);
                QCOMPARE(tree.erase(key.key), there);
                if (there)
                    model.erase(at);
            }
        } else {
            const Entry probe = !model.empty() && kind < 80 ? model[random.bounded(qint64(model.size()))] : randomKey();
            const qsizetype below = std::lower_bound(model.begin(), model.end(), probe, before) - model.begin();
            QCOMPARE(tree.lowerBound(probe.key), below);
            const bool there = below < qsizetype(model.size()) && !before(probe, model[size_t(below)]);
            QCOMPARE(tree.find(probe.key), there ? below : qsizetype(-1));
            if (!model.empty()) {
                const qsizetype position = random.bounded(qint64(model.size()));
                QVERIFY(same(tree.at(position), model[size_t(position)].key));
                // A stretch read from a position on, as the view prefetches rows.
                std::vector<qint64> run;
                tree.visitFrom(position, [&](qint64 id) {
                    run.push_back(id);
                    return run.size() < 70;
                });
                const auto end = model.begin() + std::min<qsizetype>(qsizetype(model.size()), position + 70);
                QVERIFY(std::equal(run.begin(), run.end(), model.begin() + position, end,
                                   [](qint64 id, const Entry &e) { return id == e.id; }));
            }
        }
        QCOMPARE(tree.size(), qsizetype(model.size()));
        if (step % 5000 == 4999) {
            for (qsizetype p = 0; p < qsizetype(model.size()); ++p)
                QVERIFY(same(tree.at(p), model[size_t(p)].key));
        }
    }
    if (shrink)
        QCOMPARE(tree.size(), qsizetype(0));
}

QTEST_APPLESS_MAIN(TestKeyTree)
#include "tst_keytree.moc"
