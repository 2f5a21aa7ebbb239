// "Расчитать" on one Section of 10,000 and of 100,000 Supports, one in a
// hundred of them measured, and the resident memory across repeated runs.
// KOROZIA_BENCH_SMOKE (the CTest smoke run) shrinks the Sections to 200.
#include "calc/fpu.h"
#include "calc/leakage.h"
#include "data/kortables.h"
#include "store/tablefile.h"
#include "support/tempalias.h"

#include "benchsize.h"

#include <QCoreApplication>
#include <QFile>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

int scaled(int count)
{
    return benchSize(count, 200);
}

struct Section
{
    TempAlias home;
    KorTables db;

    explicit Section(int count)
    {
        db.open();
        db.Table2.Append();
        db.Table2Line->SetAsString(QStringLiteral("Участок"));
        db.Table2.Post();
        store::BulkScope bulk(db.Table1.file());
        for (int i = 0; i < count; ++i) {
            db.Table1.Append();
            db.Table1Kilometr->SetAsFloat(100.0 + i * 0.06);
            db.Table1Nomeropory->SetAsInteger(i % 30000 + 1);
            db.Table1R_opory->SetAsFloat(200);
            if (i % 100 == 0 || i == count - 1)
                db.Table1U_izmer->SetAsFloat(1.0 + (i % 700) / 100.0);
            db.Table1.Post();
        }
    }
};

long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

void BM_Calculate(benchmark::State &state)
{
    Section section(scaled(10000));
    for (auto _ : state)
        calc::calculateLeakage(section.db, [](const QString &) {});
    state.counters["supports"] = double(section.db.Table1.RecordCount());
}

// Twenty runs one after another: the resident memory after the first and
// after the last tell whether a run leaves anything behind.
void BM_MemoryAcrossRuns(benchmark::State &state)
{
    Section section(scaled(10000));
    long first = 0;
    long last = 0;
    for (auto _ : state) {
        calc::calculateLeakage(section.db, [](const QString &) {});
        first = residentKb();
        for (int i = 0; i < 19; ++i)
            calc::calculateLeakage(section.db, [](const QString &) {});
        last = residentKb();
    }
    state.counters["rss_after_1_kB"] = double(first);
    state.counters["rss_after_20_kB"] = double(last);
}

} // namespace

BENCHMARK(BM_Calculate)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MemoryAcrossRuns)->Unit(benchmark::kMillisecond)->Iterations(1);

int main(int argc, char **argv)
{
    calc::initFloatingPoint();
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
