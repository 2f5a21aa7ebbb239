// The profile window on a Section of N Supports (KOROZIA_BENCH_SIZE; 100,000
// by default, 500 in the smoke run), through the real main window and menu:
// opening it, bringing it up to date after "Расчитать", and one frame of
// dragging and of the wheel. The floor reads the same rows in chainage order
// with SQLite's C API, on a connection set up as the store sets up its own.
#include "app/appfixture.h"
#include "benchsize.h"
#include "windowbench.h"

#include "plot/profilechart.h"
#include "plot/profileview.h"
#include "plot/profilewindow.h"
#include "store/alias.h"
#include "store/tablefile.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QElapsedTimer>
#include <QWheelEvent>

namespace {

int supportCount()
{
    return benchSize(100000, 500);
}

// One Section, calculated: one Support in a hundred measured, every
// resistance 200, so that "Расчитать" runs through.
void seedSection()
{
    Seeder s;
    const qint64 section = s.addSection(QStringLiteral("Большой участок"));
    KorTables &db = s.db();
    Table::BulkScope bulk(db.Table1);
    db.Table1.DisableControls();
    const int count = supportCount();
    for (int i = 0; i < count; ++i) {
        SupportValues v;
        v.km = 100.0 + i * 0.06;
        v.number = i % 30000 + 1;
        if (i % 100 == 0 || i == count - 1)
            v.measured = 1.0 + (i % 1300) / 100.0;
        s.addSupport(section, v);
    }
    db.Table1.EnableControls();
}

struct Open
{
    TempAlias home;
    ScriptedDialogs dialogs;
    std::unique_ptr<TForm1> form;
    plot::ProfileWindow *window = nullptr;

    Open()
    {
        seedSection();
        form = std::make_unique<TForm1>();
        form->createForms();
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get()))
            qFatal("the main window was not shown");
        form->N8->trigger(); // the Section's values, as after a day's work
    }

    // The menu choice up to the first painted frame.
    void openProfile()
    {
        form->actionPlot->trigger();
        QCoreApplication::processEvents();
        window = form->findChild<plot::ProfileWindow *>();
        if (!window)
            qFatal("the profile window was not made");
        window->view()->viewport()->repaint();
    }
};

std::unique_ptr<Open> g_open;

Open &opened()
{
    if (!g_open) {
        g_open = std::make_unique<Open>();
        g_open->openProfile();
        if (!QTest::qWaitForWindowExposed(g_open->window))
            qFatal("the profile window was not shown");
    }
    return *g_open;
}

void BM_OpenProfile(benchmark::State &state)
{
    Open &o = opened();
    for (auto _ : state) {
        state.PauseTiming();
        delete o.window;
        o.window = nullptr;
        QCoreApplication::processEvents();
        state.ResumeTiming();
        QElapsedTimer timer;
        timer.start();
        o.openProfile();
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
    }
    state.counters["supports"] = double(o.window->chart()->profile().supports().size());
}
BENCHMARK(BM_OpenProfile)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_UpdateAfterCalculate(benchmark::State &state)
{
    Open &o = opened();
    for (auto _ : state) {
        o.form->N8->trigger();
        QElapsedTimer timer;
        timer.start();
        QCoreApplication::processEvents(); // the turn in which the window follows
        o.window->view()->viewport()->repaint();
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
    }
    const plot::Profile &profile = o.window->chart()->profile();
    if (!o.dialogs.boxes().isEmpty() || !profile.hasCalculatedValues()
        || profile.supports().size() != std::size_t(supportCount()))
        state.SkipWithError("the calculation did not run through");
}
BENCHMARK(BM_UpdateAfterCalculate)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// One frame of the stretch moving, half the Section shown.
template <typename Step>
void frames(benchmark::State &state, Step step)
{
    Open &o = opened();
    plot::ProfileChart *chart = o.window->chart();
    chart->showWhole();
    const plot::Interval whole = chart->stretch().whole();
    chart->showStretch(whole.min + whole.span() / 4, whole.max - whole.span() / 4);
    QWidget *viewport = o.window->view()->viewport();
    viewport->repaint();
    int i = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        step(viewport, i++ % 2 == 0);
        viewport->repaint();
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
    }
    state.counters["points"] = double(chart->frame().supportsShown);
}

void BM_PanFrame(benchmark::State &state)
{
    frames(state, [](QWidget *viewport, bool forth) {
        const QPoint centre = viewport->rect().center();
        const QPoint to = centre + QPoint(forth ? 40 : -40, 0);
        QMouseEvent press(QEvent::MouseButtonPress, centre, viewport->mapToGlobal(centre), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QMouseEvent move(QEvent::MouseMove, to, viewport->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, to, viewport->mapToGlobal(to), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &press);
        QApplication::sendEvent(viewport, &move);
        QApplication::sendEvent(viewport, &release);
    });
}
BENCHMARK(BM_PanFrame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(40);

void BM_ZoomFrame(benchmark::State &state)
{
    frames(state, [](QWidget *viewport, bool in) {
        const QPoint at = viewport->rect().center();
        QWheelEvent wheel(at, viewport->mapToGlobal(at), QPoint(), QPoint(0, in ? 120 : -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &wheel);
    });
}
BENCHMARK(BM_ZoomFrame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(40);

// The floor: the Section's rows, every field, in chainage order.
void BM_ReadSectionFloor(benchmark::State &state)
{
    Open &o = opened();
    const QString folder = store::resolveAlias(QStringLiteral("kor")).folder;
    const QByteArray path = (folder + QStringLiteral("/base_kor.db")).toUtf8();
    const qint64 section = o.form->Table2N_line->AsInteger();
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        qFatal("the floor cannot open the table");
    sqlite3_exec(db, "PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL;", nullptr, nullptr, nullptr);
    double sum = 0;
    int rows = 0;
    for (auto _ : state) {
        sqlite3_stmt *stmt = nullptr;
        sqlite3_prepare_v2(db,
                           "SELECT I, Kilometr, Nomeropory, \"Index\", Tipopory, R_opory, U_izmer, U_ras, I_opory, "
                           "Line FROM base_kor WHERE Line IS ? ORDER BY Kilometr, I",
                           -1, &stmt, nullptr);
        sqlite3_bind_int64(stmt, 1, section);
        rows = 0;
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            sum += double(sqlite3_column_int64(stmt, 0)) + sqlite3_column_double(stmt, 1);
            sum += double(sqlite3_column_int64(stmt, 2));
            benchmark::DoNotOptimize(sqlite3_column_text(stmt, 3));
            benchmark::DoNotOptimize(sqlite3_column_text(stmt, 4));
            for (int c = 5; c < 9; ++c)
                if (sqlite3_column_type(stmt, c) != SQLITE_NULL)
                    sum += sqlite3_column_double(stmt, c);
            sum += double(sqlite3_column_int64(stmt, 9));
            ++rows;
        }
        sqlite3_finalize(stmt);
    }
    benchmark::DoNotOptimize(sum);
    sqlite3_close(db);
    state.counters["rows"] = rows;
}
BENCHMARK(BM_ReadSectionFloor)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return runWindowBenchmarks(argc, argv, [] { g_open.reset(); });
}
