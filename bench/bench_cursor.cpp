// What the cursors cost over the table store, and the floor beneath them:
// the same rows written with plain SQL through QSqlQuery in one transaction,
// so that our overhead reads as a ratio. Every benchmark builds its data in a
// temporary alias. KOROZIA_BENCH_SMOKE (the CTest smoke run) shrinks the
// sizes to 100.
#include "data/kortables.h"
#include "store/schema.h"
#include "store/tablefile.h"
#include "support/tempalias.h"

#include "benchsize.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <benchmark/benchmark.h>
#include <memory>
#include <random>

namespace {

int small()
{
    return benchSize(10000, 100);
}

int large()
{
    return benchSize(100000, 100);
}

// A temporary alias holding one Section, and the program's two cursors on it.
struct Alias
{
    TempAlias home;
    std::unique_ptr<KorTables> db;

    Alias()
    {
        open();
        db->Table2.Append();
        db->Table2Line->SetAsString(QStringLiteral("Участок"));
        db->Table2.Post();
    }
    void open()
    {
        db = std::make_unique<KorTables>();
        db->open();
    }
    void close() { db.reset(); }

    void append(int count)
    {
        Table::BulkScope bulk(db->Table1);
        for (int i = 0; i < count; ++i) {
            db->Table1.Append();
            db->Table1Kilometr->SetAsFloat(100.0 + i * 0.05);
            db->Table1Nomeropory->SetAsInteger(i % 30000 + 1);
            db->Table1Tipopory->SetAsString(QStringLiteral("ЖБК"));
            db->Table1R_opory->SetAsFloat(200);
            db->Table1.Post();
        }
    }
};

void BM_AppendPostInBulkScope(benchmark::State &state)
{
    const int count = small();
    for (auto _ : state) {
        state.PauseTiming();
        auto alias = std::make_unique<Alias>();
        state.ResumeTiming();
        alias->append(count);
        state.PauseTiming();
        alias.reset();
        state.ResumeTiming();
    }
    state.counters["supports"] = count;
    state.counters["per_support"] = benchmark::Counter(count, benchmark::Counter::kIsIterationInvariantRate
                                                                  | benchmark::Counter::kInvert);
}
BENCHMARK(BM_AppendPostInBulkScope)->Unit(benchmark::kMillisecond);

void BM_WalkEditPostInBulkScope(benchmark::State &state)
{
    const int count = small();
    Alias alias;
    alias.append(count);
    Table &t = alias.db->Table1;
    double value = 0;
    for (auto _ : state) {
        Table::BulkScope bulk(t);
        for (t.First(); !t.Eof(); t.Next()) {
            t.Edit();
            alias.db->Table1U_ras->SetAsFloat(value += 0.25);
            t.Post();
        }
    }
    state.counters["supports"] = count;
}
BENCHMARK(BM_WalkEditPostInBulkScope)->Unit(benchmark::kMillisecond);

// One Post outside any scope: its own durable commit.
void BM_SinglePost(benchmark::State &state)
{
    Alias alias;
    alias.append(small());
    Table &t = alias.db->Table1;
    double km = 0;
    for (auto _ : state) {
        t.Append();
        alias.db->Table1Kilometr->SetAsFloat(km += 0.01);
        alias.db->Table1Nomeropory->SetAsInteger(1);
        t.Post();
    }
}
BENCHMARK(BM_SinglePost)->Unit(benchmark::kMicrosecond);

struct LargeSection
{
    Alias alias;
    LargeSection() { alias.append(large()); }
};

LargeSection &largeSection()
{
    static LargeSection section;
    return section;
}

void BM_SetRecNoRandom(benchmark::State &state)
{
    Table &t = largeSection().alias.db->Table1;
    const int count = t.RecordCount();
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> position(1, count);
    for (auto _ : state) {
        t.SetRecNo(position(rng));
        benchmark::DoNotOptimize(largeSection().alias.db->Table1Kilometr->AsFloat());
    }
    state.counters["view"] = count;
}
BENCHMARK(BM_SetRecNoRandom)->Unit(benchmark::kMicrosecond);

void BM_RecordCount(benchmark::State &state)
{
    Table &t = largeSection().alias.db->Table1;
    int count = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(count = t.RecordCount());
    state.counters["view"] = count;
}
BENCHMARK(BM_RecordCount)->Unit(benchmark::kMicrosecond);

void BM_OpenBothTables(benchmark::State &state)
{
    LargeSection &section = largeSection();
    section.alias.close();
    for (auto _ : state) {
        auto db = std::make_unique<KorTables>();
        db->open();
        benchmark::DoNotOptimize(db->Table1.RecordCount());
        // Closing is not part of opening.
        state.PauseTiming();
        db.reset();
        state.ResumeTiming();
    }
    section.alias.open();
    state.counters["supports"] = large();
}
BENCHMARK(BM_OpenBothTables)->Unit(benchmark::kMillisecond);

// The floor: a file of the same structure and settings, written with plain
// SQL, every value bound, in one transaction.
class RawFile
{
public:
    explicit RawFile(const QString &path)
    {
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("raw"));
        m_db.setDatabaseName(path);
        m_db.open();
        QSqlQuery q(m_db);
        for (const char *sql : {"PRAGMA journal_mode = WAL", "PRAGMA synchronous = FULL"})
            q.exec(QString::fromLatin1(sql));
        for (const QString &sql : store::supportTable().createSql)
            q.exec(sql);
    }
    ~RawFile()
    {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("raw"));
    }
    QSqlDatabase &db() { return m_db; }

private:
    QSqlDatabase m_db;
};

void rawInsert(QSqlDatabase &db, int count)
{
    QSqlQuery q(db);
    q.exec(QStringLiteral("BEGIN IMMEDIATE"));
    q.prepare(QStringLiteral("INSERT INTO base_kor (I, Kilometr, Nomeropory, \"Index\", Tipopory, R_opory, U_izmer, "
                             "U_ras, I_opory, Line) VALUES (?,?,?,?,?,?,?,?,?,?)"));
    for (int i = 0; i < count; ++i) {
        q.bindValue(0, QVariant());
        q.bindValue(1, 100.0 + i * 0.05);
        q.bindValue(2, i % 30000 + 1);
        q.bindValue(3, QVariant());
        q.bindValue(4, QStringLiteral("ЖБК"));
        q.bindValue(5, 200.0);
        q.bindValue(6, QVariant());
        q.bindValue(7, QVariant());
        q.bindValue(8, QVariant());
        q.bindValue(9, 1);
        q.exec();
    }
    q.exec(QStringLiteral("COMMIT"));
}

void BM_RawSqliteInsert(benchmark::State &state)
{
    const int count = small();
    for (auto _ : state) {
        state.PauseTiming();
        auto home = std::make_unique<TempAlias>();
        auto file = std::make_unique<RawFile>(home->root() + QStringLiteral("/raw.db"));
        state.ResumeTiming();
        rawInsert(file->db(), count);
        state.PauseTiming();
        file.reset();
        home.reset();
        state.ResumeTiming();
    }
    state.counters["rows"] = count;
}
BENCHMARK(BM_RawSqliteInsert)->Unit(benchmark::kMillisecond);

void BM_RawSqliteUpdate(benchmark::State &state)
{
    const int count = small();
    TempAlias home;
    RawFile file(home.root() + QStringLiteral("/raw.db"));
    rawInsert(file.db(), count);
    double value = 0;
    for (auto _ : state) {
        QSqlQuery q(file.db());
        q.exec(QStringLiteral("BEGIN IMMEDIATE"));
        q.prepare(QStringLiteral("UPDATE base_kor SET U_ras = ? WHERE I = ?"));
        for (int i = 1; i <= count; ++i) {
            q.bindValue(0, value += 0.25);
            q.bindValue(1, i);
            q.exec();
        }
        q.exec(QStringLiteral("COMMIT"));
    }
    state.counters["rows"] = count;
}
BENCHMARK(BM_RawSqliteUpdate)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
