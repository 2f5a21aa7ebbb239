// "Load Report" in the preview window of a page file of 1 KB per Support
// (100 MB at 100,000), made of the smallest items, the loader's worst case;
// and the floor: the same file read with plain C in 1 MB chunks.
#include "report/reportfixture.h"
#include "benchsize.h"

#include "report/pagefile.h"
#include "report/previewwindow.h"
#include "report/printseams.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <vector>

namespace {

class FixedFile : public report::FileDialogs
{
public:
    QString openFileName(QWidget *, const QString &, const QString &) override { return path; }
    QString path;
};

// The page file, made once per run.
const QString &pageFile()
{
    static const QString path = [] {
        const qint64 target = qint64(benchSize(100000, 300)) * 1000;
        const quint32 perPage = 20000;
        const quint32 pages = quint32(std::max<qint64>(1, target / (qint64(perPage) * 37)));
        const QString made = QDir::temp().filePath(QStringLiteral("korozia-bench-%1.krp").arg(QCoreApplication::applicationPid()));
        QFile out(made);
        if (!out.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(made));
        out.write(smallestItemsPageFile(pages, perPage));
        std::atexit([] { QFile::remove(pageFile()); });
        return made;
    }();
    return path;
}

void BM_LoadReport(benchmark::State &state)
{
    ReportFixture f;
    f.addSection(QStringLiteral("A"));
    FixedFile files;
    files.path = pageFile();
    report::FileDialogs *previous = report::installFileDialogs(&files);
    {
        PreviewWindow w(f.form->QuickRep1);
        for (auto _ : state) {
            w.LoadReport->trigger();
            if (!w.isLoaded())
                state.SkipWithError("the page file was not loaded");
        }
        state.counters["file_MB"] = double(QFileInfo(files.path).size()) / (1 << 20);
    }
    report::installFileDialogs(previous);
}
BENCHMARK(BM_LoadReport)->Unit(benchmark::kMillisecond)->Iterations(3);

// The floor: the file read in 1 MB chunks with plain C, nothing decoded.
void BM_RawReadPageFile(benchmark::State &state)
{
    const QByteArray path = QFile::encodeName(pageFile());
    std::vector<char> buffer(1 << 20);
    for (auto _ : state) {
        FILE *file = std::fopen(path.constData(), "rb");
        size_t total = 0;
        for (size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0;)
            total += got;
        std::fclose(file);
        benchmark::DoNotOptimize(total);
    }
}
BENCHMARK(BM_RawReadPageFile)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char **argv)
{
    return runBenchmarks<QApplication>(argc, argv);
}
