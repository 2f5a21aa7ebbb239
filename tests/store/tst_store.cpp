#include "store/alias.h"
#include "store/error.h"
#include "store/password.h"
#include "store/tablefile.h"
#include "store/view.h"
#include "support/privatepostgres.h"
#include "support/rawsql.h"
#include "support/tempalias.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <bit>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>

using namespace store;

namespace {

Record support(double km, int number, QVariant line, QVariant current = {})
{
    Record r(supportTable().fields.size());
    r[1] = km;
    r[2] = qint64(number);
    r[8] = current;
    r[9] = line;
    return r;
}

// Sections 1 to count, for the Supports that name them.
void addSections(int count)
{
    auto line = TableFile::open("kor", "line.db");
    for (int i = 0; i < count; ++i) {
        Record r(lineTable().fields.size());
        line->insert(r);
    }
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QString messageOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const SystemError &e) {
        return e.message();
    }
    return QString();
}

} // namespace

class TestStore : public QObject
{
    Q_OBJECT

private slots:
    void defaultAliasCreatesTables();
    void configuredAliasErrors_data();
    void configuredAliasErrors();
    void viewOrderRangeFilter();
    void positionsAndCounts();
    void requiredFieldsRefused();
    void fullDiskInBulkKeepsEarlierWrites();
    void refusedCommitInBulk_data();
    void refusedCommitInBulk();
    void readOnlyStoreRefusesAndKeepsData();
    void otherConnectionChangesAreSeen();
    void updateWritesEveryChange_data();
    void updateWritesEveryChange();
    void refusedFileIsLeftAsItWas_data();
    void refusedFileIsLeftAsItWas();
    void unreadableValuesReadBlank();
    void aliasFolders_data();
    void aliasFolders();
    void lockFileIsOpenedSafely();
    void serverAliasErrors_data();
    void serverAliasErrors();
    void passwordIsAsked_data();
    void passwordIsAsked();
};

void TestStore::defaultAliasCreatesTables()
{
    TempAlias home;
    if (TempAlias::onServer()) {
        // Made in the empty schema, marked with their format, told of by a trigger.
        { auto supports = TableFile::open("kor", "base_kor.db"); }
        QSqlDatabase db = home.openRaw("check", "base_kor.db");
        QSqlQuery q(db);
        QVERIFY(q.exec("SELECT c.relname, obj_description(c.oid, 'pg_class'), "
                       "(SELECT count(*) FROM pg_trigger t WHERE t.tgrelid = c.oid AND t.tgname = 'korozia_changed') "
                       "FROM pg_class c WHERE c.relkind = 'r' AND c.relnamespace = current_schema()::regnamespace "
                       "ORDER BY 1"));
        QStringList tables;
        while (q.next())
            tables << QStringList{q.value(0).toString(), q.value(1).toString(), q.value(2).toString()}.join('|');
        QCOMPARE(tables, QStringList({"base_kor|Korozia table, format 1|1", "line|Korozia table, format 1|1"}));
        q = QSqlQuery();
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase("check");
        return;
    }
    {
        auto line = TableFile::open(QStringLiteral("kor"), QStringLiteral("line.db"));
        auto supports = TableFile::open(QStringLiteral("kor"), QStringLiteral("base_kor.db"));
        QVERIFY(QFile::exists(home.defaultFolder() + "/line.db"));
        QVERIFY(QFile::exists(home.defaultFolder() + "/base_kor.db"));
    }
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "check");
    db.setDatabaseName(home.defaultFolder() + "/base_kor.db");
    QVERIFY(db.open());
    QSqlQuery q(db);
    QVERIFY(q.exec("SELECT sql FROM sqlite_master WHERE name = 'base_kor'"));
    QVERIFY(q.next());
    QVERIFY(q.value(0).toString().contains("STRICT"));
    QVERIFY(q.exec("PRAGMA journal_mode"));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), QString("wal"));
    QVERIFY(q.exec("PRAGMA user_version"));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toInt(), 1);
    q = QSqlQuery();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase("check");
}

void TestStore::configuredAliasErrors_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing folder") << "nofolder" << "Alias 'kor': the folder '%1/missing' does not exist";
    QTest::newRow("missing file") << "empty" << "Table 'line.db' does not exist in '%1/tables'";
    QTest::newRow("not sqlite") << "garbage" << "'line.db' is not a table file";
    QTest::newRow("wrong structure") << "wrong" << "'line.db' is not a table of the expected structure (field 2 is not Line TEXT)";
}

void TestStore::configuredAliasErrors()
{
    SKIP_ON_SERVER();
    QFETCH(QString, setup);
    QFETCH(QString, message);
    TempAlias home;
    const QString tables = home.root() + "/tables";
    QDir().mkpath(tables);
    if (setup == "nofolder") {
        home.configure("kor", home.root() + "/missing");
    } else {
        home.configure("kor", tables);
    }
    if (setup == "garbage") {
        QFile f(tables + "/line.db");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'x'));
    }
    if (setup == "wrong") {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "wrong");
        db.setDatabaseName(tables + "/line.db");
        QVERIFY(db.open());
        QSqlQuery(db).exec("CREATE TABLE line (N_line INTEGER PRIMARY KEY AUTOINCREMENT, Line INTEGER)");
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase("wrong");
    }
    const QString got = messageOf([] { TableFile::open("kor", "line.db"); });
    QCOMPARE(got, message.contains("%1") ? message.arg(home.root()) : message);
    // A configured folder is never filled with tables by the store.
    if (setup == "empty")
        QVERIFY(QDir(tables).entryList(QDir::Files).isEmpty());
}

void TestStore::viewOrderRangeFilter()
{
    TempAlias home;
    addSections(2);
    auto file = TableFile::open("kor", "base_kor.db");
    View view(*file);
    view.setIndex("i_line");
    view.setRange(qint64(1));
    Record a = support(10.5, 1, qint64(1), 55.0);
    Record b = support(10.1, 2, qint64(1), 40.0);
    Record c = support(10.3, 3, qint64(2), 80.0);
    Record d = support(10.3, 4, qint64(1));
    Record e = support(10.2, 5, QVariant());
    for (Record *r : {&a, &b, &c, &d, &e})
        view.insert(*r);
    QCOMPARE(view.count(), 3);
    QCOMPARE(view.row(0)->value(2).toInt(), 2);
    QCOMPARE(view.row(1)->value(2).toInt(), 4);
    QCOMPARE(view.row(2)->value(2).toInt(), 1);

    view.setRange(QVariant());
    QCOMPARE(view.count(), 1);
    QCOMPARE(view.row(0)->value(2).toInt(), 5);

    view.setRange(qint64(1));
    view.setFilter(Condition::parse("I_opory >40", supportTable()));
    QCOMPARE(view.count(), 1);
    QCOMPARE(view.row(0)->value(2).toInt(), 1);

    // A post that changes the filtered field moves the record in or out.
    b[8] = 40.001;
    view.update(b);
    QCOMPARE(view.count(), 2);
    a[8] = 12.0;
    view.update(a);
    QCOMPARE(view.count(), 1);
    QCOMPARE(view.row(0)->value(2).toInt(), 2);
}

void TestStore::positionsAndCounts()
{
    TempAlias home;
    addSections(7);
    auto file = TableFile::open("kor", "base_kor.db");
    View view(*file);
    view.setIndex("i_line");
    view.setRange(qint64(7));
    {
        BulkScope bulk(*file);
        for (int i = 0; i < 500; ++i) {
            Record r = support((i * 37) % 500 / 10.0, i, qint64(7));
            view.insert(r);
        }
    }
    QCOMPARE(view.count(), 500);
    double previous = -1;
    for (int i = 0; i < 500; ++i) {
        auto key = view.keyAt(i);
        QVERIFY(key);
        const double km = view.row(i)->value(1).toDouble();
        QVERIFY(km >= previous);
        previous = km;
        QCOMPARE(view.positionOf(*key), i);
        QCOMPARE(key->id, view.row(i)->value(0).toLongLong());
    }
    QVERIFY(!view.keyAt(500));
    QVERIFY(!view.keyAt(-1));
    view.remove(view.keyAt(0)->id);
    QCOMPARE(view.count(), 499);
}

void TestStore::requiredFieldsRefused()
{
    TempAlias home;
    auto file = TableFile::open("kor", "base_kor.db");
    View view(*file);
    Record r = support(1.0, 1, qint64(1));
    r[1] = QVariant();
    QCOMPARE(messageOf([&] { view.insert(r); }), QString("Field value required: 'Kilometr'"));
    r[1] = 1.0;
    r[2] = QVariant();
    QCOMPARE(messageOf([&] { view.insert(r); }), QString("Field value required: 'Nomeropory'"));
    QCOMPARE(view.count(), 0);
}

void TestStore::fullDiskInBulkKeepsEarlierWrites()
{
    SKIP_ON_SERVER();
    TempAlias home;
    addSections(1);
    auto file = TableFile::open("kor", "base_kor.db");
    View view(*file);
    home.limitGrowth("base_kor.db", 3);
    int written = 0;
    QString message;
    try {
        BulkScope bulk(*file);
        for (;; ++written) {
            Record r = support(written, written % 30000, qint64(1));
            r[4] = QString("abcdef");
            view.insert(r);
        }
    } catch (const StoreError &e) {
        message = e.message();
    }
    QCOMPARE(message, QString("The disk is full: the change to 'base_kor.db' could not be saved"));
    QVERIFY(written > 0);
    file.reset();
    auto again = TableFile::open("kor", "base_kor.db");
    View reread(*again);
    QCOMPARE(reread.count(), written);
}

// A bulk scope commits part-way by itself and once more at its end. When the
// file refuses a part-way commit, the Post that caused it fails and must leave
// nothing behind (the user posts it again); the Posts before it are written
// again and kept when the file takes them. A refused last commit is written
// again too, and reported when that fails as well. Either way the view shows
// what the file holds.
void TestStore::refusedCommitInBulk_data()
{
    QTest::addColumn<bool>("atEnd");
    QTest::addColumn<int>("refusals");
    QTest::addColumn<QString>("failure"); // which Post failed, or "end"
    QTest::addColumn<QList<int>>("lost"); // numbers not in the file at the end
    const auto numbers = [](int from, int to) {
        QList<int> list;
        for (int n = from; n <= to; ++n)
            list << n;
        return list;
    };
    QTest::newRow("part-way, refused once") << false << 1 << "20" << QList<int>{};
    QTest::newRow("part-way, refused again") << false << 2 << "20" << numbers(11, 19);
    QTest::newRow("at the end, refused once") << true << 1 << "" << QList<int>{};
    QTest::newRow("at the end, refused again") << true << 2 << "end" << numbers(21, 25);
}

void TestStore::refusedCommitInBulk()
{
    QFETCH(bool, atEnd);
    QFETCH(int, refusals);
    QFETCH(QString, failure);
    QFETCH(QList<int>, lost);
    TempAlias home;
    addSections(1);
    TempAlias::setBulkCommitInterval(10);
    const auto interval = qScopeGuard([] { TempAlias::setBulkCommitInterval(0); });
    auto file = TableFile::open("kor", "base_kor.db");
    View view(*file);
    QStringList failures;
    const QString atScopeEnd = messageOf([&] {
        BulkScope bulk(*file);
        for (int n = 1; n <= 25; ++n) {
            if (!atEnd && n == 20)
                home.refuseCommits("base_kor.db", refusals);
            Record r = support(n, n, qint64(1));
            const QString first = messageOf([&] { view.insert(r); });
            if (first.isEmpty())
                continue;
            failures << QString("%1: %2").arg(n).arg(first);
            Record again = support(n, n, qint64(1));
            QCOMPARE(messageOf([&] { view.insert(again); }), QString());
        }
        if (atEnd)
            home.refuseCommits("base_kor.db", refusals);
    });
    if (!atScopeEnd.isEmpty())
        failures << "end: " + atScopeEnd;
    QCOMPARE(failures.size(), failure.isEmpty() ? 0 : 1);
    if (!failure.isEmpty())
        QVERIFY2(failures.first().startsWith(failure + ": ") && failures.first().contains("'" + TempAlias::tableLabel("base_kor.db") + "'"),
                 qPrintable(failures.first()));

    QList<int> expected;
    for (int n = 1; n <= 25; ++n)
        if (!lost.contains(n))
            expected << n;
    auto numbersOf = [](View &v) {
        QList<int> numbers;
        for (int i = 0; i < v.count(); ++i)
            numbers << v.row(i)->value(2).toInt();
        std::sort(numbers.begin(), numbers.end());
        return numbers;
    };
    QCOMPARE(numbersOf(view), expected);
    file.reset();
    auto again = TableFile::open("kor", "base_kor.db");
    View reread(*again);
    QCOMPARE(numbersOf(reread), expected);
}

void TestStore::readOnlyStoreRefusesAndKeepsData()
{
    TempAlias home;
    addSections(1);
    auto file = TableFile::open("kor", "base_kor.db");
    View view(*file);
    Record r = support(1.0, 1, qint64(1));
    view.insert(r);
    home.makeReadOnly("base_kor.db");
    r[2] = qint64(2);
    const QString message = messageOf([&] { view.update(r); });
    QVERIFY2(message.contains("read-only"), qPrintable(message));
    QCOMPARE(view.row(0)->value(2).toInt(), 1);
}

void TestStore::otherConnectionChangesAreSeen()
{
    TempAlias home;
    addSections(1);
    auto mine = TableFile::open("kor", "base_kor.db");
    auto theirs = TableFile::open("kor", "base_kor.db");
    View view(*mine);
    View other(*theirs);
    QCOMPARE(view.count(), 0);
    Record r = support(1.0, 1, qint64(1));
    other.insert(r);
    QCOMPARE(view.count(), 1);
    r[2] = qint64(9);
    other.update(r);
    QCOMPARE(view.readFresh(r[0].toLongLong())->value(2).toInt(), 9);
}

void TestStore::updateWritesEveryChange_data()
{
    // field number -> new value (an invalid QVariant blanks the field)
    QTest::addColumn<QVariantMap>("changes");
    QTest::addColumn<int>("countAfter"); // in the view of Line 1
    QTest::newRow("nothing") << QVariantMap{} << 3;
    QTest::newRow("blank to value") << QVariantMap{{"7", 12.5}} << 3;
    QTest::newRow("value to blank") << QVariantMap{{"5", QVariant()}} << 3;
    QTest::newRow("text") << QVariantMap{{"4", QString("СК")}, {"3", QString("б")}} << 3;
    QTest::newRow("chainage, an index field") << QVariantMap{{"1", 0.5}} << 3;
    QTest::newRow("to another Section") << QVariantMap{{"9", qint64(2)}} << 2;
    QTest::newRow("the last bit of a double") << QVariantMap{{"6", std::nextafter(3.0, 4.0)}} << 3;
    QTest::newRow("everything") << QVariantMap{{"1", 9.0}, {"2", qint64(-7)}, {"3", QString("x")},
                                               {"4", QString("ЖБК")}, {"5", QVariant()}, {"6", 1.0},
                                               {"7", 2.0}, {"8", 41.0}, {"9", QVariant()}}
                                << 2;
}

// An update may write only what differs from the record on disk; what ends
// up on disk must still be the whole record as posted, in its place.
void TestStore::updateWritesEveryChange()
{
    QFETCH(QVariantMap, changes);
    QFETCH(int, countAfter);
    TempAlias home;
    addSections(2);
    auto file = TableFile::open("kor", "base_kor.db");
    View view(*file);
    view.setIndex("i_line");
    view.setRange(qint64(1));
    Record a = support(1.0, 1, qint64(1));
    Record b = support(2.0, 2, qint64(1), 55.0);
    b[3] = QString("а");
    b[4] = QString("С");
    b[5] = 200.0;
    b[6] = 3.0;
    Record c = support(3.0, 3, qint64(1));
    for (Record *r : {&a, &b, &c})
        view.insert(*r);
    const qint64 id = b[0].toLongLong();
    Record edited = *view.readFresh(id);
    for (auto it = changes.cbegin(); it != changes.cend(); ++it)
        edited[it.key().toInt()] = it.value();
    view.update(edited);
    QCOMPARE(view.count(), countAfter);

    // Read back through a connection that has never seen the record.
    auto again = TableFile::open("kor", "base_kor.db");
    const std::optional<Record> stored = again->read(id);
    QVERIFY(stored);
    for (int i = 0; i < edited.size(); ++i) {
        const QVariant want = edited[i];
        const QVariant got = stored->value(i);
        QCOMPARE(got.isValid(), want.isValid());
        if (want.typeId() == QMetaType::Double)
            QCOMPARE(std::bit_cast<quint64>(got.toDouble()), std::bit_cast<quint64>(want.toDouble()));
        else if (want.isValid())
            QCOMPARE(got.toString(), want.toString());
    }
    View reread(*again);
    reread.setIndex("i_line");
    reread.setRange(qint64(1));
    QCOMPARE(reread.count(), countAfter);
    QCOMPARE(reread.positionOf(reread.keyOf(*stored)), view.positionOf(view.keyOf(edited)));
}

// A file the store refuses is left byte for byte as it was: it is checked by
// reading before its journal is switched or anything is written.
void TestStore::refusedFileIsLeftAsItWas_data()
{
    QTest::addColumn<QStringList>("sql"); // run on a new file; empty: bytes below
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message");
    const QString ours = supportTable().createSql.first();
    QTest::newRow("zero bytes") << QStringList() << QByteArray()
                                << "'base_kor.db' is not a table of the expected structure (it holds no table 'base_kor')";
    QTest::newRow("text") << QStringList() << QByteArray("Kilometr;Nomeropory\n1.5;7\n").repeated(200)
                          << "'base_kor.db' is not a table file";
    QTest::newRow("foreign SQLite file")
        << QStringList{"CREATE TABLE accounts (id INTEGER PRIMARY KEY, owner TEXT)", "INSERT INTO accounts VALUES (1, 'x')"}
        << QByteArray() << "'base_kor.db' is not a table of the expected structure (it holds no table 'base_kor')";
    QStringList loose = supportTable().createSql;
    loose.first().remove(") STRICT").append(")");
    QTest::newRow("not STRICT, text in a number field")
        << (loose << "INSERT INTO base_kor (Kilometr, Nomeropory) VALUES ('abc', 1)") << QByteArray()
        << "'base_kor.db' is not a table of the expected structure (it is not a STRICT table)";
    QTest::newRow("a field missing")
        << QStringList{"CREATE TABLE base_kor (I INTEGER PRIMARY KEY AUTOINCREMENT, Kilometr REAL NOT NULL) STRICT"}
        << QByteArray() << "'base_kor.db' is not a table of the expected structure (it has fewer fields than expected)";
    QTest::newRow("newer format") << (QStringList(supportTable().createSql) << "PRAGMA user_version = 2") << QByteArray()
                                  << "'base_kor.db' was written by a newer version of the program (format 2)";
}

void TestStore::refusedFileIsLeftAsItWas()
{
    SKIP_ON_SERVER();
    QFETCH(QStringList, sql);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    TempAlias home;
    const QString tables = home.root() + "/tables";
    QDir().mkpath(tables);
    home.configure("kor", tables);
    const QString path = tables + "/base_kor.db";
    if (sql.isEmpty()) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    } else {
        sqlOn(path, QStringList{"PRAGMA journal_mode = DELETE"} + sql);
    }
    const QByteArray before = fileBytes(path);
    QCOMPARE(messageOf([] { TableFile::open("kor", "base_kor.db"); }), message);
    QCOMPARE(fileBytes(path), before);
    QCOMPARE(QDir(tables).entryList(QDir::Files), QStringList{"base_kor.db"});
}

// A table of ours written by another tool: a value of the wrong type reads as
// blank and is named (file, record, field) once; infinities are read; the
// rest of the table is usable and the file stays as it was.
void TestStore::unreadableValuesReadBlank()
{
    TempAlias home;
    addSections(1);
    {
        auto file = TableFile::open("kor", "base_kor.db");
        for (int n = 1; n <= 3; ++n) {
            Record r = support(n, n, qint64(1));
            file->insert(r);
        }
    }
    const QString path = home.defaultFolder() + "/base_kor.db";
    if (TempAlias::onServer()) {
        // The server's columns hold only numbers; NaN is the one the program cannot read.
        QCOMPARE(PrivatePostgres::instance()->exec(
                     {QString("UPDATE %1.base_kor SET kilometr = 'NaN', u_izmer = 'Infinity' WHERE i = 2").arg(home.serverUser()),
                      QString("UPDATE %1.base_kor SET i_opory = '-Infinity' WHERE i = 3").arg(home.serverUser())}),
                 QString());
    } else {
        // A STRICT table cannot take such values: they are put in under a loose
        // definition that is then set back.
        QString loose = supportTable().createSql.first();
        loose.remove(") STRICT").append(")");
        auto define = [&](const QString &sql) {
            sqlOn(path, {"PRAGMA writable_schema = ON",
                         QString("UPDATE sqlite_schema SET sql = '%1' WHERE name = 'base_kor'").arg(sql)});
        };
        define(loose);
        sqlOn(path, {"UPDATE base_kor SET Kilometr = 'abc', U_izmer = 9e999 WHERE I = 2",
                     "UPDATE base_kor SET I_opory = -9e999 WHERE I = 3"});
        define(supportTable().createSql.first());
    }
    const QByteArray before = fileBytes(path);
    auto file = TableFile::open("kor", "base_kor.db");
    QCOMPARE(file->unreadableValues(),
             QString("The table '%1' holds values this program cannot read; they are shown blank: "
                     "record I = 2, field 'Kilometr'").arg(TempAlias::tableLabel("base_kor.db")));
    View view(*file);
    view.setIndex("i_line");
    view.setRange(qint64(1));
    QCOMPARE(view.count(), 3);
    const Record bad = *view.readFresh(2);
    QVERIFY(!bad[1].isValid());
    QCOMPARE(bad[6].toDouble(), std::numeric_limits<double>::infinity());
    QCOMPARE(view.readFresh(3)->value(8).toDouble(), -std::numeric_limits<double>::infinity());
    QCOMPARE(view.row(0)->value(0).toLongLong(), 2); // a blank chainage comes first
    file.reset();
    QCOMPARE(fileBytes(path), before);
}

void TestStore::aliasFolders_data()
{
    QTest::addColumn<QString>("written"); // the line in aliases.ini; %1: the test's root folder
    QTest::addColumn<QString>("folder");  // where the tables are; %1 as above, ~ the home folder
    QTest::newRow("a comma in the name") << "path=%1/a, b,c" << "%1/a, b,c";
    QTest::newRow("relative to the file") << "path=../tables" << "%1/config/tables";
    QTest::newRow("relative, with a comma") << "path=x,y" << "%1/config/tablestore/x,y";
    QTest::newRow("the home folder") << "path=~/%2" << "~/%2";
    QTest::newRow("quoted by QSettings") << "path=\"%1/q,r\"" << "%1/q,r";
}

void TestStore::aliasFolders()
{
    SKIP_ON_SERVER();
    QFETCH(QString, written);
    QFETCH(QString, folder);
    TempAlias home;
    const QString relativeToHome = QDir::home().relativeFilePath(home.root() + "/home,made");
    auto expand = [&](QString text) {
        text = text.arg(home.root(), relativeToHome);
        return text.startsWith("~/") ? QDir::homePath() + text.mid(1) : text;
    };
    QVERIFY(QDir().mkpath(expand(folder)));
    QDir().mkpath(home.configHome() + "/tablestore");
    QFile ini(home.configHome() + "/tablestore/aliases.ini");
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(("[kor]\n" + written.arg(home.root(), relativeToHome) + "\n").toUtf8());
    ini.close();
    const AliasLocation location = resolveAlias("kor");
    QVERIFY(location.configured);
    QCOMPARE(QFileInfo(location.folder).canonicalFilePath(), QFileInfo(expand(folder)).canonicalFilePath());
}

// The record locks' side file is opened as SQLite opens its own files: not
// through a symbolic link and not writable by everyone.
void TestStore::lockFileIsOpenedSafely()
{
    SKIP_ON_SERVER();
    TempAlias home;
    const mode_t mask = ::umask(0);
    { auto file = TableFile::open("kor", "line.db"); }
    ::umask(mask);
    struct stat info;
    QCOMPARE(::stat(QFile::encodeName(home.defaultFolder() + "/line.db.lck").constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, mode_t(0644));

    const QString target = home.root() + "/elsewhere";
    QFile(target).open(QIODevice::WriteOnly);
    QFile::remove(home.defaultFolder() + "/line.db.lck");
    QVERIFY(QFile::link(target, home.defaultFolder() + "/line.db.lck"));
    const QString message = messageOf([] { TableFile::open("kor", "line.db"); });
    QVERIFY2(message.startsWith("The lock file '" + home.defaultFolder() + "/line.db.lck' cannot be opened"),
             qPrintable(message));
}

void TestStore::serverAliasErrors_data()
{
    // Settings of the alias "kor" beside host, port, database and user
    // ("-key" drops one of those), statements run first in the home's schema
    // ({schema}), and the message, which names the server ({server}, {port})
    // and the configuration file ({config}).
    QTest::addColumn<bool>("tables"); // the program's tables are made first
    QTest::addColumn<QStringList>("settings");
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QString>("message");
    const QStringList create{"create=yes"};
    QTest::newRow("misspelt setting") << false << QStringList{"databse=x"} << QStringList()
        << "Alias 'kor' in '{config}': unknown setting 'databse' for a database server (known: driver, host, port, database, "
           "user, sslmode, sslrootcert, sslcert, sslkey, connect_timeout, create)";
    QTest::newRow("a password in the file") << false << QStringList{"password=secret"} << QStringList()
        << "Alias 'kor' in '{config}': a password is never kept in the alias configuration; put it in ~/.pgpass, or the "
           "program asks for it";
    QTest::newRow("no database") << false << QStringList{"-database"} << QStringList()
                                 << "Alias 'kor' in '{config}': no database named (database=...)";
    QTest::newRow("SSL required, server without") << false << QStringList{"host=127.0.0.1", "sslmode=require"} << QStringList()
        << "The database server 'korozia' on 127.0.0.1:{port} of alias 'kor' cannot be reached: connection to server "
           "at \"127.0.0.1\", port {port} failed: server does not support SSL, but SSL was required";
    QTest::newRow("no tables, not to create") << false << QStringList() << QStringList()
                                              << "Table 'base_kor' does not exist in {server}";
    QTest::newRow("not empty, no tables") << false << create << QStringList{"CREATE TABLE {schema}.notes (t text)"}
        << "Table 'base_kor' does not exist in {server}, and the program creates its tables only in an empty database";
    QTest::newRow("a field more") << true << create << QStringList{"ALTER TABLE {schema}.base_kor ADD COLUMN extra real"}
        << "'base_kor' in {server} is not a table of the expected structure (it has more fields than expected)";
    QTest::newRow("a field of another type") << true << create
        << QStringList{"ALTER TABLE {schema}.base_kor ALTER COLUMN nomeropory TYPE integer"}
        << "'base_kor' in {server} is not a table of the expected structure (field 3 is not nomeropory smallint not null)";
    QTest::newRow("an index missing") << true << create << QStringList{"DROP INDEX {schema}.i_line"}
        << "'base_kor' in {server} is not a table of the expected structure (it has no index i_line on (\"line\", "
           "\"kilometr\"))";
    QTest::newRow("no foreign key") << true << create << QStringList{"ALTER TABLE {schema}.base_kor DROP CONSTRAINT base_kor_line_fkey"}
        << "'base_kor' in {server} is not a table of the expected structure (line does not refer to line)";
    QTest::newRow("no trigger") << true << create << QStringList{"DROP TRIGGER korozia_changed ON {schema}.base_kor"}
        << "'base_kor' in {server} is not a table of the expected structure (it has no trigger korozia_changed, which tells "
           "the other users of changes)";
    QTest::newRow("newer format") << true << create << QStringList{"COMMENT ON TABLE {schema}.base_kor IS 'Korozia table, format 2'"}
        << "'base_kor' in {server} was written by a newer version of the program (format 2)";
}

// A server alias is opened as it stands: a wrong setting, a server it
// cannot reach as told, tables that are missing or not the program's, each
// with a clear message, and nothing is made or changed on the server.
void TestStore::serverAliasErrors()
{
    if (!TempAlias::onServer())
        QSKIP("needs the database server");
    QFETCH(bool, tables);
    QFETCH(QStringList, settings);
    QFETCH(QStringList, setup);
    QFETCH(QString, message);
    TempAlias home;
    PrivatePostgres &server = *PrivatePostgres::instance();
    if (tables)
        TableFile::open("kor", "base_kor.db"); // to be spoilt
    QStringList prepared;
    for (const QString &sql : setup)
        prepared << QString(sql).replace("{schema}", home.serverUser());
    QCOMPARE(server.exec(prepared), QString());
    QList<QPair<QString, QString>> keys{{"host", server.socketFolder()},
                                        {"port", QString::number(server.port())},
                                        {"database", PrivatePostgres::database()},
                                        {"user", home.serverUser()}};
    for (const QString &setting : settings) {
        if (setting.startsWith('-')) {
            keys.removeIf([&](const auto &key) { return key.first == setting.mid(1); });
            continue;
        }
        const QString key = setting.section('=', 0, 0);
        keys.removeIf([&](const auto &k) { return k.first == key; });
        keys << qMakePair(key, setting.section('=', 1));
    }
    home.configureServer("kor", keys);
    const QString tablesBefore = server.value(QString("SELECT string_agg(relname || ':' || relnatts, ',' ORDER BY relname) "
                                                      "FROM pg_class WHERE relnamespace = '%1'::regnamespace")
                                                  .arg(home.serverUser()))
                                     .toString();
    const QString where = QString("'korozia' on %1:%2").arg(server.socketFolder()).arg(server.port());
    QCOMPARE(messageOf([] { TableFile::open("kor", "base_kor.db"); }),
             message.replace("{server}", where)
                 .replace("{config}", home.configHome() + "/tablestore/aliases.ini")
                 .replace("{port}", QString::number(server.port())));
    QCOMPARE(server.value(QString("SELECT string_agg(relname || ':' || relnatts, ',' ORDER BY relname) FROM pg_class "
                                  "WHERE relnamespace = '%1'::regnamespace")
                              .arg(home.serverUser()))
                 .toString(),
             tablesBefore);
}

void TestStore::passwordIsAsked_data()
{
    QTest::addColumn<QStringList>("answers"); // what the prompt gives, in turn; "-" declines
    QTest::addColumn<QString>("message");
    QTest::newRow("given") << QStringList{"пароль 1"} << QString();
    QTest::newRow("wrong, then right") << QStringList{"wrong", "пароль 1"} << QString();
    QTest::newRow("declined") << QStringList{"-"}
        << "The database server %1 of alias 'kor' asks for a password, and none was given (put it in ~/.pgpass to be "
           "asked no more)";
}

// A role whose server asks for a password that none of the client's own
// places gives: the installed prompt is asked (told when a password was
// refused), and the password is written nowhere.
void TestStore::passwordIsAsked()
{
    if (!TempAlias::onServer())
        QSKIP("needs the database server");
    QFETCH(QStringList, answers);
    QFETCH(QString, message);
    TempAlias home;
    PrivatePostgres &server = *PrivatePostgres::instance();
    { auto made = TableFile::open("kor", "line.db"); }
    QCOMPARE(server.exec({QString("ALTER ROLE %1 PASSWORD 'пароль 1'").arg(home.serverUser()),
                          QString("GRANT needpassword TO %1").arg(home.serverUser())}),
             QString());
    qunsetenv("PGPASSWORD");
    qputenv("PGPASSFILE", QFile::encodeName(home.root() + "/no-pgpass"));
    QList<store::PasswordRequest> asked;
    const store::PasswordPrompt before = store::setPasswordPrompt([&](const store::PasswordRequest &request) {
        asked << request;
        const QString answer = answers.value(asked.size() - 1, "-");
        return answer == "-" ? std::nullopt : std::optional<QString>(answer);
    });
    const QString got = messageOf([] { TableFile::open("kor", "line.db"); });
    store::setPasswordPrompt(before);
    const QString where = QString("'korozia' on %1:%2").arg(server.socketFolder()).arg(server.port());
    QCOMPARE(got, message.isEmpty() ? QString() : message.arg(where));
    QCOMPARE(asked.size(), answers.size());
    for (int i = 0; i < asked.size(); ++i) {
        QCOMPARE(asked[i].user, home.serverUser());
        QCOMPARE(asked[i].refused, i > 0);
    }
    QFile ini(home.configHome() + "/tablestore/aliases.ini");
    QVERIFY(ini.open(QIODevice::ReadOnly));
    QVERIFY(!QString::fromUtf8(ini.readAll()).contains("пароль"));
}

QTEST_GUILESS_MAIN(TestStore)
#include "tst_store.moc"
