// The hazard report of a 10,000-Support Section (about 213 pages): page 1
// visible in the preview after "Печать", all pages generated into the
// preview, printing to PDF, and the memory of the pages. The smoke run uses
// a short Section.
#include "report/reportfixture.h"
#include "benchsize.h"

#include "report/previewwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>

namespace {

int supportCount()
{
    return benchSize(10000, 300);
}

ReportFixture &fixture()
{
    static ReportFixture *f = [] {
        auto *made = new ReportFixture;
        made->addSection(QStringLiteral("Длинный участок"));
        made->form->QRLabel8->SetCaption(reportTitle(QStringLiteral("Длинный участок")));
        made->addPlainSupports(supportCount());
        return made;
    }();
    return *f;
}

// From "Печать" until page 1 has been painted in the preview.
void BM_FirstPageVisible(benchmark::State &state)
{
    ReportFixture &f = fixture();
    for (auto _ : state) {
        QElapsedTimer clock;
        double visibleMs = 0;
        auto opened = QObject::connect(f.form->QuickRep1, &QuickRep::previewOpened, [&](PreviewWindow *w) {
            QObject::connect(w, &PreviewWindow::pageAdded, w, [&, w](int count) {
                if (count != 1)
                    return;
                w->pageArea()->widget()->repaint(); // painted now, not at the next event
                visibleMs = clock.nsecsElapsed() / 1e6;
                w->close();
            });
        });
        clock.start();
        f.form->QuickRep1->Preview();
        QObject::disconnect(opened);
        state.SetIterationTime(visibleMs / 1000.0);
        state.counters["visible_ms"] = visibleMs;
    }
}
BENCHMARK(BM_FirstPageVisible)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// From "Печать" until the last page is in the preview, events processed before every row.
void BM_AllPagesInPreview(benchmark::State &state)
{
    ReportFixture &f = fixture();
    for (auto _ : state) {
        QElapsedTimer clock;
        double doneMs = 0;
        qint64 bytes = 0;
        int pages = 0;
        auto opened = QObject::connect(f.form->QuickRep1, &QuickRep::previewOpened, [&](PreviewWindow *w) {
            QObject::connect(w, &PreviewWindow::finished, w, [&, w] {
                doneMs = clock.nsecsElapsed() / 1e6;
                pages = w->pageCount();
                bytes = w->packedBytes();
                QTimer::singleShot(0, w, &QWidget::close);
            });
        });
        clock.start();
        f.form->QuickRep1->Preview();
        QObject::disconnect(opened);
        state.SetIterationTime(doneMs / 1000.0);
        state.counters["pages"] = pages;
        state.counters["page_MB"] = double(bytes) / (1024.0 * 1024.0);
    }
}
BENCHMARK(BM_AllPagesInPreview)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// "Print" to a PDF file: generated again straight onto the printer.
void BM_PrintToPdf(benchmark::State &state)
{
    ReportFixture &f = fixture();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("report.pdf"));
    PdfPrintSystem printers(path);
    for (auto _ : state) {
        if (!f.form->QuickRep1->Print(nullptr))
            state.SkipWithError("printing failed");
    }
    state.counters["pdf_MB"] = double(QFileInfo(path).size()) / (1024.0 * 1024.0);
    state.counters["pages"] = pdfPageCount(path);
}
BENCHMARK(BM_PrintToPdf)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

int main(int argc, char **argv)
{
    return runBenchmarks<QApplication>(argc, argv);
}
