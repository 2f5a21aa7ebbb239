// "Расчитать" through the real main window's menu item N8 (the window shown,
// the support editor made and hidden, as after start-up) on one Section of N
// Supports, one in a hundred measured (KOROZIA_BENCH_SIZE; 10,000 by
// default, 200 in the smoke run): the first run on a fresh Section, where
// every value is new, and a run on values that are already there. The floor
// does the same reads and writes in plain C over SQLite's own interface, in
// the same program run. Also the resident memory across repeated runs.
#include "app/appfixture.h"
#include "benchsize.h"
#include "resident.h"
#include "seededsection.h"
#include "sqlitefloor.h"
#include "windowbench.h"

#include <QElapsedTimer>
#include <QFile>

#include <sqlite3.h>

namespace {

int supportCount()
{
    return benchSize(10000, 200);
}

// A fresh alias with one Section of the benchmark's size, nothing calculated.
struct Section : SeededSection
{
    Section() : SeededSection(QStringLiteral("Участок"), supportCount()) {}
};

// The main window over it, as the user has it after start-up.
struct Window
{
    Section section;
    ScriptedDialogs dialogs;
    std::unique_ptr<TForm1> form;

    Window() : form(std::make_unique<TForm1>())
    {
        form->createForms();
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get()))
            qFatal("the main window was not shown");
    }

    // One "Расчитать" from the menu; its wall time in seconds.
    double calculate(benchmark::State &state)
    {
        QElapsedTimer timer;
        timer.start();
        form->N8->trigger();
        const double seconds = timer.nsecsElapsed() / 1e9;
        form->Table1.Last();
        if (!dialogs.boxes().isEmpty() || form->Table1I_opory->IsNull())
            state.SkipWithError("the Section was not calculated");
        form->Table1.First();
        return seconds;
    }
};

void BM_Calculate(benchmark::State &state)
{
    for (auto _ : state) {
        Window window;
        state.SetIterationTime(window.calculate(state));
    }
    state.counters["supports"] = supportCount();
}
BENCHMARK(BM_Calculate)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_CalculateAgain(benchmark::State &state)
{
    Window window;
    window.calculate(state);
    for (auto _ : state)
        state.SetIterationTime(window.calculate(state));
}
BENCHMARK(BM_CalculateAgain)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_CalculateFloor(benchmark::State &state)
{
    for (auto _ : state) {
        Section section;
        sqlite3 *db = floorsql::open(section.supportsFile());
        QElapsedTimer timer;
        timer.start();
        const int written = floorsql::calculate(db, section.line);
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        sqlite3_close(db);
        if (written < supportCount())
            state.SkipWithError("the floor did not write every Support");
    }
}
BENCHMARK(BM_CalculateFloor)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// Twenty runs one after another: the resident memory after the first and
// after the last tell whether a run leaves anything behind.
void BM_MemoryAcrossRuns(benchmark::State &state)
{
    Window window;
    long first = 0;
    long last = 0;
    for (auto _ : state) {
        window.calculate(state);
        first = residentKb();
        for (int i = 0; i < 19; ++i)
            window.calculate(state);
        last = residentKb();
    }
    state.counters["rss_after_1_kB"] = double(first);
    state.counters["rss_after_20_kB"] = double(last);
}
BENCHMARK(BM_MemoryAcrossRuns)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char **argv)
{
    return runWindowBenchmarks(argc, argv, [] {});
}
