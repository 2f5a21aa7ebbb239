// The fill and the clearing of 10,000 Supports (200 in the smoke run)
// through the panes of the real window, each with the support grid's one
// repaint at the end; the counter "repaints" is the support grid's paints
// per run.
#include "app/appfixture.h"
#include "benchsize.h"

#include "calc/fpu.h"
#include "toolkit/application.h"
#include "toolkit/pagecontrol.h"

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>

namespace {

int runLength()
{
    return benchSize(10000, 200);
}

class PaintCounter : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

struct Bench
{
    std::unique_ptr<WindowFixture> window;
    PaintCounter counter;
    Bench()
    {
        window = std::make_unique<WindowFixture>([](Seeder &s) { s.addSection(QStringLiteral("A")); });
        window->form().DBGrid1->viewport()->installEventFilter(&counter);
    }
    TForm1 &form() { return window->form(); }
    void fill()
    {
        form().N6->trigger();
        // Numbered one after another from the lowest support number, so that
        // every run the numbers allow (up to 65,536 Supports) can be made.
        form().Edit4->setText(QStringLiteral("-32768"));
        form().RadioGroup1->setItemIndex(2);
        form().Edit2->setText(QString::number(runLength() - 1)); // count + 1 Supports
        form().Button1->click();
        QCoreApplication::processEvents();
    }
    void clear()
    {
        form().N7->trigger();
        form().Button4->click();
        QCoreApplication::processEvents();
    }
};

std::unique_ptr<Bench> g_bench;

Bench &bench()
{
    if (!g_bench)
        g_bench = std::make_unique<Bench>();
    return *g_bench;
}

// Times `act` after `prepare` has set the Section up, counting the grid's
// repaints during `act`; `expected` is the number of Supports it leaves.
void measurePane(benchmark::State &state, void (Bench::*prepare)(), void (Bench::*act)(), int expected,
                 const char *notWhole)
{
    if (runLength() > 65536) {
        state.SkipWithError("a run of more than 65,536 Supports leaves the range of support numbers");
        return;
    }
    Bench &b = bench();
    int paints = 0;
    for (auto _ : state) {
        state.PauseTiming();
        (b.*prepare)();
        b.counter.paints = 0;
        state.ResumeTiming();
        QElapsedTimer timer;
        timer.start();
        (b.*act)();
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        paints += b.counter.paints;
        if (b.form().Table1.RecordCount() != expected)
            state.SkipWithError(notWhole);
    }
    state.counters["repaints"] = benchmark::Counter(paints, benchmark::Counter::kAvgIterations);
}

void BM_Fill(benchmark::State &state)
{
    measurePane(state, &Bench::clear, &Bench::fill, runLength(), "the fill is not whole");
}
BENCHMARK(BM_Fill)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Clear(benchmark::State &state)
{
    measurePane(state, &Bench::fill, &Bench::clear, 0, "the clearing is not whole");
}
BENCHMARK(BM_Clear)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char **argv)
{
    toolkit::Application app(argc, argv);
    calc::initFloatingPoint();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_bench.reset(); // while the application object still exists
    return 0;
}
