// The view's counted key tree against a sorted vector, over long random runs
// of insertions, removals, appends in order and look-ups: sizes that grow
// the tree several levels deep and shrink it back to nothing.
#include "store/keytree.h"

#include <QRandomGenerator>
#include <QTest>
#include <algorithm>
#include <vector>

using namespace store;

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

    QTest::newRow("grows deep, random keys") << 1u << 60000 << 1000000 << 80 << false << false;
    QTest::newRow("grows deep, keys in order") << 2u << 60000 << 1000000 << 90 << true << false;
    QTest::newRow("many ties broken by the key") << 3u << 30000 << 3 << 70 << false << false;
    QTest::newRow("grows, then shrinks to nothing") << 4u << 120000 << 1000000 << 90 << false << true;
    QTest::newRow("small, churning") << 5u << 20000 << 50 << 50 << false << false;
}

void TestKeyTree::againstSortedVector()
{
    QFETCH(quint32, seed);
    QFETCH(int, steps);
    QFETCH(int, spread);
    QFETCH(int, insertShare);
    QFETCH(bool, inOrder);
    QFETCH(bool, shrink);

    QRandomGenerator random(seed);
    KeyTree tree;
    std::vector<ViewKey> model;
    qint64 nextId = 1;
    double nextOrder = 0;
    auto randomKey = [&] {
        return ViewKey{double(random.bounded(spread)), double(random.bounded(2)), qint64(random.bounded(4 * spread + 8))};
    };

    for (int step = 0; step < steps; ++step) {
        const bool shrinking = shrink && step >= steps / 2;
        const int kind = random.bounded(100);
        if (kind < 60) {
            const bool insert = !shrinking && random.bounded(100) < insertShare;
            if (insert) {
                ViewKey key = randomKey();
                if (inOrder) {
                    nextOrder += random.bounded(3);
                    key = ViewKey{nextOrder, 0, nextId++};
                    tree.append(key);
                    model.push_back(key);
                    continue;
                }
                const auto at = std::lower_bound(model.begin(), model.end(), key);
                const bool fresh = at == model.end() || !(*at == key);
                QCOMPARE(tree.insert(key), fresh);
                if (fresh)
                    model.insert(at, key);
            } else if (!model.empty()) {
                // Mostly a key that is there, sometimes one that is not.
                const ViewKey key = !shrinking && random.bounded(4) == 0 ? randomKey() : model[random.bounded(qint64(model.size()))];
                const auto at = std::lower_bound(model.begin(), model.end(), key);
                const bool there = at != model.end() && *at == key;
                QCOMPARE(tree.erase(key), there);
                if (there)
                    model.erase(at);
            }
        } else {
            const ViewKey probe = !model.empty() && kind < 80 ? model[random.bounded(qint64(model.size()))] : randomKey();
            const qsizetype below = std::lower_bound(model.begin(), model.end(), probe) - model.begin();
            QCOMPARE(tree.lowerBound(probe), below);
            const bool there = below < qsizetype(model.size()) && model[size_t(below)] == probe;
            QCOMPARE(tree.find(probe), there ? below : qsizetype(-1));
            if (!model.empty()) {
                const qsizetype position = random.bounded(qint64(model.size()));
                QCOMPARE(tree.at(position), model[size_t(position)]);
                // A stretch read from a position on, as the view prefetches rows.
                std::vector<ViewKey> run;
                tree.visitFrom(position, [&](const ViewKey &key) {
                    run.push_back(key);
                    return run.size() < 70;
                });
                const auto end = model.begin() + std::min<qsizetype>(qsizetype(model.size()), position + 70);
                QVERIFY(std::equal(run.begin(), run.end(), model.begin() + position, end));
            }
        }
        QCOMPARE(tree.size(), qsizetype(model.size()));
        if (step % 5000 == 4999) {
            std::vector<ViewKey> all;
            tree.visitFrom(0, [&](const ViewKey &key) {
                all.push_back(key);
                return true;
            });
            QVERIFY(all == model);
        }
    }
    if (shrink)
        QCOMPARE(tree.size(), qsizetype(0));
}

QTEST_APPLESS_MAIN(TestKeyTree)
#include "tst_keytree.moc"
