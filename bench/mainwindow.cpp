// The main window over a Section of 100,000 Supports (2,000 in the smoke
// run): the time from creating the window to its first painted frame, and
// End, Home and Page Down in the support grid, each a move and a repaint.
#include "app/appfixture.h"
#include "benchsize.h"
#include "resident.h"
#include "sqlitefloor.h"

#include "toolkit/application.h"

#include <benchmark/benchmark.h>

#include <QElapsedTimer>

namespace {

int supportCount()
{
    return benchSize(100000, 2000);
}

// One alias with the big Section for the whole run.
TempAlias &home()
{
    static TempAlias alias;
    static bool seeded = false;
    if (!seeded) {
        seeded = true;
        qint64 section = 0;
        {
            Seeder s;
            section = s.addSection(QStringLiteral("Большой участок"));
        }
        floorsql::seedSupports(alias.defaultFolder() + QStringLiteral("/base_kor.db"), section, supportCount(), 100);
    }
    return alias;
}

void waitForFirstPaint(TForm1 &form)
{
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        qFatal("the window was not shown");
    form.DBGrid1->viewport()->repaint();
}

void BM_WindowShownAfterStart(benchmark::State &state)
{
    home();
    ScriptedDialogs dialogs;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        auto form = std::make_unique<TForm1>();
        waitForFirstPaint(*form);
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        if (form->Table1.RecordCount() != supportCount())
            state.SkipWithError("the Section is not whole");
        state.counters["rss_MB"] = residentKb() / 1024.0;
        state.PauseTiming();
        form.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_WindowShownAfterStart)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// The floor of start-up in plain C: both files opened and checked, the
// Sections read, the first Section's keys and chainages read in order into
// memory and its first rows read.
void BM_StartUpFloor(benchmark::State &state)
{
    const QString folder = home().defaultFolder();
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        const int supports = floorsql::startUp(folder);
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        if (supports != supportCount())
            state.SkipWithError("the floor did not read the Section");
    }
}
BENCHMARK(BM_StartUpFloor)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

struct OpenWindow
{
    ScriptedDialogs dialogs;
    std::unique_ptr<TForm1> form;
    OpenWindow()
    {
        home();
        form = std::make_unique<TForm1>();
        waitForFirstPaint(*form);
        form->activateWindow();
        if (!QTest::qWaitForWindowActive(form.get()))
            qWarning("the window did not become active");
        form->DBGrid1->setFocus();
    }
};

std::unique_ptr<OpenWindow> g_window;

OpenWindow &window()
{
    if (!g_window)
        g_window = std::make_unique<OpenWindow>();
    return *g_window;
}

// Presses a key in the support grid and repaints it at once; `before`
// brings the grid to where the key starts from, outside the timing.
void keyAndRepaint(benchmark::State &state, Qt::Key key, Qt::Key before)
{
    OpenWindow &w = window();
    toolkit::DBGrid *grid = w.form->DBGrid1;
    for (auto _ : state) {
        QTest::keyClick(grid, before);
        grid->viewport()->repaint();
        QElapsedTimer timer;
        timer.start();
        QTest::keyClick(grid, key);
        grid->viewport()->repaint();
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
    }
    state.counters["row"] = grid->gridModel()->currentRow();
}

void BM_End(benchmark::State &state)
{
    keyAndRepaint(state, Qt::Key_End, Qt::Key_Home);
}
void BM_Home(benchmark::State &state)
{
    keyAndRepaint(state, Qt::Key_Home, Qt::Key_End);
}
void BM_PageDown(benchmark::State &state)
{
    keyAndRepaint(state, Qt::Key_PageDown, Qt::Key_Home);
}
BENCHMARK(BM_End)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_Home)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_PageDown)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace

int main(int argc, char **argv)
{
    toolkit::Application app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_window.reset(); // while the application object still exists
    return 0;
}
