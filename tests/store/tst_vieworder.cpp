// A view ordered by an index with a text part, by three parts, and by whole
// numbers too large for a double: after random inserts, updates and removals
// through the view, its order, positions and count equal what a fresh scan of
// the table gives and what a sorted copy of the records gives. The same test
// runs against a table file and against the database server.
#include "store/alias.h"
#include "store/pgschema.h"
#include "store/pgtablefile.h"
#include "store/sqlitetablefile.h"
#include "store/view.h"
#include "support/privatepostgres.h"
#include "support/tempalias.h"
#include "typedorder.h"

#include <QRandomGenerator>
#include <QTest>
#include <algorithm>
#include <limits>
#include <map>

using namespace store;

namespace {

enum Field { K, T, X, N, B };

const TableDef &orderTable()
{
    static const TableDef def = [] {
        TableDef t;
        t.fileName = QStringLiteral("orders.db");
        t.sqlName = QStringLiteral("orders");
        t.fields = {
            {QStringLiteral("K"), FieldType::AutoInc, 0, false},
            {QStringLiteral("T"), FieldType::Text, 4, false},
            {QStringLiteral("X"), FieldType::Float, 0, false},
            {QStringLiteral("N"), FieldType::SmallInt, 0, false},
            {QStringLiteral("B"), FieldType::AutoInc, 0, false},
        };
        t.indexes = {{QStringLiteral("i_tx"), {T, X}}, {QStringLiteral("i_ntb"), {N, T, B}}, {QStringLiteral("i_b"), {B}}};
        t.createSql = {QStringLiteral("CREATE TABLE orders (K INTEGER PRIMARY KEY AUTOINCREMENT, T TEXT, X REAL, "
                                      "N INTEGER, B INTEGER) STRICT"),
                       QStringLiteral("CREATE INDEX i_tx ON orders (T, X)"),
                       QStringLiteral("CREATE INDEX i_ntb ON orders (N, T, B)"),
                       QStringLiteral("CREATE INDEX i_b ON orders (B)")};
        return t;
    }();
    return def;
}

std::unique_ptr<TableFile> openOrderTable(const TempAlias &home)
{
    if (!TempAlias::onServer())
        return std::make_unique<SqliteTableFile>(orderTable(), home.root() + QStringLiteral("/orders.db"), true);
    const QString made = PrivatePostgres::instance()->exec(
        QStringList{QStringLiteral("SET ROLE ") + home.serverUser(), QStringLiteral("SET search_path TO ") + home.serverUser()}
        + pg::createStatements({&orderTable()})
        // Texts compared as a language does, as in most databases of users.
        + QStringList{QStringLiteral("ALTER TABLE orders ALTER COLUMN t TYPE text COLLATE \"und-x-icu\"")});
    if (!made.isEmpty())
        qFatal("the test table was not made: %s", qPrintable(made));
    return std::make_unique<PgTableFile>(orderTable(), QStringLiteral("kor"), *resolveAlias(QStringLiteral("kor")).server);
}

} // namespace

class TestViewOrder : public QObject
{
    Q_OBJECT

private slots:
    void orderEqualsFreshScan_data();
    void orderEqualsFreshScan();
};

void TestViewOrder::orderEqualsFreshScan_data()
{
    QTest::addColumn<QString>("index");
    QTest::addColumn<QVariant>("range"); // invalid: no range
    QTest::addColumn<quint32>("seed");

    QTest::newRow("text, then float") << "i_tx" << QVariant() << 1u;
    QTest::newRow("within one text, by float") << "i_tx" << QVariant(QStringLiteral("a")) << 2u;
    QTest::newRow("small number, text, big number") << "i_ntb" << QVariant() << 3u;
    QTest::newRow("within one small number, text and big number") << "i_ntb" << QVariant(qint64(1)) << 4u;
    QTest::newRow("big numbers") << "i_b" << QVariant() << 5u;
}

void TestViewOrder::orderEqualsFreshScan()
{
    QFETCH(QString, index);
    QFETCH(QVariant, range);
    QFETCH(quint32, seed);

    TempAlias home;
    const std::unique_ptr<TableFile> file = openOrderTable(home);
    View view(*file);
    view.setIndex(index);
    if (range.isValid())
        view.setRange(range);
    const QVector<int> &fields = orderTable().index(index)->fields;

    QRandomGenerator random(seed);
    // Texts whose code point order differs from UTF-16's (U+FFFD, U+1F600)
    // and from a language's collation ("B" before "a").
    const QStringList letters{QStringLiteral("a"), QStringLiteral("B"), QStringLiteral(" "), QStringLiteral("\u00e9"),
                              QStringLiteral("\ufffd"), QStringLiteral("\U0001F600")};
    // 64-bit whole numbers a double cannot tell apart; the server keeps 32 bits.
    const qint64 big = TempAlias::onServer() ? std::numeric_limits<qint32>::max() - 40 : (qint64(1) << 62) + 1;
    auto randomize = [&](Record &r) {
        auto blank = [&] { return random.bounded(8) == 0; };
        QString text = QStringLiteral(""); // empty, not blank
        for (int i = random.bounded(3); i > 0; --i)
            text += letters[random.bounded(letters.size())];
        r[T] = blank() ? QVariant() : random.bounded(3) == 0 ? QVariant(QStringLiteral("a")) : QVariant(text);
        const int pick = random.bounded(30);
        r[X] = blank() ? QVariant()
               : pick == 0 ? QVariant(-std::numeric_limits<double>::infinity())
               : pick == 1 ? QVariant(std::numeric_limits<double>::infinity())
               : pick == 2 ? QVariant(-0.0)
                           : QVariant(double(random.bounded(20)) / 4 - 2);
        r[N] = blank() ? QVariant() : QVariant(qint64(random.bounded(4)) - 1);
        r[B] = blank() ? QVariant() : QVariant((random.bounded(2) ? big : -big) + qint64(random.bounded(30)));
    };

    std::map<qint64, Record> records;
    auto check = [&] {
        QVector<qint64> expected;
        for (const auto &[id, r] : records)
            if (view.belongs(r))
                expected << id;
        std::sort(expected.begin(), expected.end(), [&](qint64 x, qint64 y) {
            for (int f : fields)
                if (const int c = compareTyped(records[x][f], records[y][f]))
                    return c < 0;
            return x < y;
        });
        const QVector<qint64> ids = view.ids();
        QCOMPARE(ids, expected);
        View fresh(*file);
        fresh.setIndex(index);
        if (range.isValid())
            fresh.setRange(range);
        QCOMPARE(fresh.ids(), expected);
        // The order the table's own index scan delivers.
        ScanSpec scan;
        scan.orderFields = fields;
        if (range.isValid()) {
            scan.rangeField = fields.first();
            scan.rangeValue = range;
            scan.orderFields.removeFirst();
        }
        QVector<qint64> scanned;
        file->scanKeys(scan, [&](qint64 id, const OrderValue *) { scanned << id; });
        QCOMPARE(scanned, expected);
        QCOMPARE(view.count(), int(expected.size()));
        for (int p = 0; p < expected.size(); ++p) {
            const Record &r = records[expected[p]];
            QCOMPARE(view.positionOf(view.keyOf(r)), p);
            QCOMPARE(view.lowerBound(view.keyOf(r)), p);
            QCOMPARE(fresh.positionOf(fresh.keyOf(r)), p);
        }
    };

    for (int step = 0; step < 400; ++step) {
        const int kind = random.bounded(10);
        if (kind < 5 || records.size() < 5) {
            Record r(orderTable().fields.size());
            randomize(r);
            view.insert(r);
            records[r[K].toLongLong()] = r;
        } else {
            const qint64 id = std::next(records.begin(), random.bounded(int(records.size())))->first;
            if (kind < 8) {
                Record r = records[id];
                randomize(r);
                view.update(r);
                records[id] = r;
            } else {
                view.remove(id);
                records.erase(id);
            }
        }
        if (step % 100 == 99) {
            check();
            if (QTest::currentTestFailed())
                return;
        }
    }
    // The view kept itself in order with its own writes, without reading
    // its keys again.
    QCOMPARE(view.reloads(), quint64(0));
}

QTEST_GUILESS_MAIN(TestViewOrder)
#include "tst_vieworder.moc"
