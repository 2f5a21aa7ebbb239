// "Печать" through the real main window's menu item N10 on a Section of N
// Supports (KOROZIA_BENCH_SIZE; 10,000 by default, 300 in the smoke run):
// page 1 visible in the preview, and all pages generated, with the main
// window shown (its support grid and the hidden support editor following
// the walk) and, in the same run, with the main window hidden. The floor
// reads the same rows in order in plain C over SQLite's own interface.
#include "app/appfixture.h"
#include "benchsize.h"
#include "seededsection.h"
#include "sqlitefloor.h"
#include "windowbench.h"

#include "report/previewwindow.h"
#include "report/quickrep.h"
#include "report/print.h"

#include <QElapsedTimer>
#include <QScrollArea>
#include <QTimer>

#include <sqlite3.h>

namespace {

int supportCount()
{
    return benchSize(10000, 300);
}

struct Window : SeededSection
{
    ScriptedDialogs dialogs;
    std::unique_ptr<TForm1> form;

    explicit Window(bool shown) : SeededSection(QStringLiteral("Длинный участок"), supportCount())
    {
        form = std::make_unique<TForm1>();
        form->createForms();
        if (shown) {
            form->show();
            if (!QTest::qWaitForWindowExposed(form.get()))
                qFatal("the main window was not shown");
        }
    }

    QuickRep *report() const { return form->QRListForm()->QuickRep1; }
};

// Kept across benchmarks; let go by main while the application exists.
std::unique_ptr<Window> windows[2];

Window &window(bool shown)
{
    auto &w = windows[shown ? 1 : 0];
    if (!w)
        w = std::make_unique<Window>(shown);
    return *w;
}

// From "Печать" until the last page is in the preview; the window closed then.
void allPages(benchmark::State &state, bool shown)
{
    Window &w = window(shown);
    for (auto _ : state) {
        QElapsedTimer clock;
        double doneMs = 0;
        qint64 bytes = 0;
        int pages = 0;
        auto opened = QObject::connect(w.report(), &QuickRep::previewOpened, [&](PreviewWindow *p) {
            QObject::connect(p, &PreviewWindow::finished, p, [&, p] {
                doneMs = clock.nsecsElapsed() / 1e6;
                pages = p->pageCount();
                bytes = p->packedBytes();
                QTimer::singleShot(0, p, &QWidget::close);
            });
        });
        w.form->Table1.First();
        clock.start();
        w.form->N10->trigger();
        QObject::disconnect(opened);
        if (w.form->Table1.RecNo() != supportCount())
            state.SkipWithError("the report did not reach the last Support");
        state.SetIterationTime(doneMs / 1000.0);
        state.counters["pages"] = pages;
        state.counters["page_MB"] = double(bytes) / (1024.0 * 1024.0);
        state.counters["page_bytes_per_support"] = double(bytes) / supportCount();
    }
}

void BM_PrintAllPagesWindowShown(benchmark::State &state)
{
    allPages(state, true);
}
BENCHMARK(BM_PrintAllPagesWindowShown)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_PrintAllPagesWindowHidden(benchmark::State &state)
{
    allPages(state, false);
}
BENCHMARK(BM_PrintAllPagesWindowHidden)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// From "Печать" until page 1 has been painted in the preview, the main window shown.
void BM_PrintFirstPageWindowShown(benchmark::State &state)
{
    Window &w = window(true);
    for (auto _ : state) {
        QElapsedTimer clock;
        double visibleMs = 0;
        auto opened = QObject::connect(w.report(), &QuickRep::previewOpened, [&](PreviewWindow *p) {
            QObject::connect(p, &PreviewWindow::pageAdded, p, [&, p](int count) {
                if (count != 1)
                    return;
                p->pageArea()->widget()->repaint();
                visibleMs = clock.nsecsElapsed() / 1e6;
                p->close();
            });
        });
        w.form->Table1.First();
        clock.start();
        w.form->N10->trigger();
        QObject::disconnect(opened);
        state.SetIterationTime(visibleMs / 1000.0);
    }
}
BENCHMARK(BM_PrintFirstPageWindowShown)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// The floor: the Section's rows, every field, read in chainage order.
void BM_PrintReadFloor(benchmark::State &state)
{
    Window &w = window(false);
    sqlite3 *db = floorsql::open(w.supportsFile());
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        const int rows = floorsql::readSection(db, w.line);
        state.SetIterationTime(clock.nsecsElapsed() / 1e9);
        if (rows != supportCount())
            state.SkipWithError("the floor did not read every Support");
    }
    sqlite3_close(db);
}
BENCHMARK(BM_PrintReadFloor)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char **argv)
{
    return runWindowBenchmarks(argc, argv, [] {
        // The windows go before the application object.
        for (auto &w : windows)
            w.reset();
    });
}
