// "Импорт опор..." and "Экспорт..." on the user's path: the real main window,
// the real menu handlers, the real import dialog (offscreen), the file dialogs
// answered through their seam. 100,000 rows (200 in the smoke run).
//
// The floors are plain C over the SQLite C API with the program's settings
// (WAL, synchronous=FULL): for the import, the same rows inserted in one
// transaction; for the export, the same rows read and written as CSV text
// with stdio. import_MB is the resident memory an import adds at its peak.
#include "app/appfixture.h"
#include "benchsize.h"
#include "windowbench.h"

#include "exchangeui/filechooser.h"
#include "exchangeui/importdialog.h"

#include <benchmark/benchmark.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <fstream>
#include <sqlite3.h>
#include <string>

namespace {

int rowCount()
{
    return benchSize(100000, 200);
}

class Chooser : public exchangeui::FileChooser
{
public:
    Chooser() : m_previous(exchangeui::installFileChooser(this)) {}
    ~Chooser() override { exchangeui::installFileChooser(m_previous); }
    std::optional<QString> importFile(QWidget *) override { return importPath; }
    std::optional<exchangeui::ExportChoice> exportFile(QWidget *, const QString &) override { return choice; }
    QString importPath;
    exchangeui::ExportChoice choice;

private:
    exchangeui::FileChooser *m_previous;
};

// The file an engineer imports: headings, ";" and decimal commas, a
// measurement at every tenth Support.
struct Row
{
    int number;
    double km;
    std::optional<double> measured;
};

std::vector<Row> rows()
{
    std::vector<Row> list;
    for (int i = 0; i < rowCount(); ++i)
        list.push_back({i % 30000 + 1, 100.0 + i * 0.06, i % 10 == 0 ? std::optional<double>(2.0 + i % 7) : std::nullopt});
    return list;
}

QString writeImportFile(const QString &folder)
{
    const QString path = folder + QStringLiteral("/опоры.csv");
    std::ofstream out(path.toStdString(), std::ios::binary);
    out << "\xEF\xBB\xBF№ опоры;Тип опоры;Пикетаж, км;Замер U, B;R опоры, Ом\r\n";
    for (const Row &r : rows()) {
        std::string km = QString::number(r.km, 'g', 17).replace(u'.', u',').toStdString();
        out << r.number << ";ЖБК;" << km << ';';
        if (r.measured)
            out << *r.measured;
        out << ";200\r\n";
    }
    return path;
}

// Resident memory now and at its peak since the last reset, in kB.
qint64 statusKb(const char *key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(status, line))
        if (line.rfind(prefix, 0) == 0)
            return std::stoll(line.substr(prefix.size()));
    return 0;
}

void resetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

void BM_ImportThroughTheMenu(benchmark::State &state)
{
    QTemporaryDir dir;
    Chooser chooser;
    chooser.importPath = writeImportFile(dir.path());
    double peakMb = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto window = std::make_unique<WindowFixture>([](Seeder &s) { s.addSection(QStringLiteral("Пустой")); });
        window->dialogs().answer(toolkit::BoxButton::Ok); // the summary
        QTimer::singleShot(0, [] {
            auto *d = qobject_cast<exchangeui::ImportDialog *>(QApplication::activeModalWidget());
            if (!d)
                qFatal("no import dialog");
            d->calculateBox->setChecked(false);
            d->importButton->click();
        });
        resetPeak();
        const qint64 before = statusKb("VmRSS");
        state.ResumeTiming();
        QElapsedTimer timer;
        timer.start();
        window->form().actionImport->trigger();
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        state.PauseTiming();
        peakMb = std::max(peakMb, (statusKb("VmHWM") - before) / 1024.0);
        if (window->form().Table1.RecordCount() != rowCount())
            state.SkipWithError("the import is not whole");
        window.reset();
        state.ResumeTiming();
    }
    state.counters["import_MB"] = peakMb;
}
BENCHMARK(BM_ImportThroughTheMenu)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// ---------------------------------------------------------------- floors

void check(int rc, sqlite3 *db, int expected = SQLITE_OK)
{
    if (rc != expected)
        qFatal("sqlite: %s", sqlite3_errmsg(db));
}

sqlite3_stmt *prepare(sqlite3 *db, const char *sql)
{
    sqlite3_stmt *statement = nullptr;
    check(sqlite3_prepare_v2(db, sql, -1, &statement, nullptr), db);
    return statement;
}

sqlite3 *openSupports(const QString &path)
{
    sqlite3 *db = nullptr;
    check(sqlite3_open(path.toUtf8().constData(), &db), db);
    check(sqlite3_exec(db, "PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL;", nullptr, nullptr, nullptr), db);
    return db;
}

void BM_ImportFloor(benchmark::State &state)
{
    const std::vector<Row> list = rows();
    for (auto _ : state) {
        state.PauseTiming();
        auto home = std::make_unique<TempAlias>();
        {
            Seeder s; // the program's own empty tables
            s.addSection(QStringLiteral("Пустой"));
        }
        sqlite3 *db = openSupports(home->defaultFolder() + QStringLiteral("/base_kor.db"));
        state.ResumeTiming();
        check(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), db);
        sqlite3_stmt *insert = prepare(db, "INSERT INTO base_kor (Kilometr, Nomeropory, Tipopory, R_opory, U_izmer, "
                                            "Line) VALUES (?,?,?,?,?,1)");
        for (const Row &r : list) {
            sqlite3_bind_double(insert, 1, r.km);
            sqlite3_bind_int(insert, 2, r.number);
            sqlite3_bind_text(insert, 3, "ЖБК", -1, SQLITE_STATIC);
            sqlite3_bind_double(insert, 4, 200.0);
            if (r.measured)
                sqlite3_bind_double(insert, 5, *r.measured);
            else
                sqlite3_bind_null(insert, 5);
            check(sqlite3_step(insert), db, SQLITE_DONE);
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
        state.PauseTiming();
        sqlite3_close(db);
        home.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ImportFloor)->Unit(benchmark::kMillisecond)->Iterations(3);

// One alias with a Section of the benchmark's size for the export benchmarks.
TempAlias &exportHome()
{
    static TempAlias alias;
    static bool seeded = false;
    if (!seeded) {
        seeded = true;
        Seeder s;
        s.addSupports(s.addSection(QStringLiteral("Большой участок")), rowCount());
    }
    return alias;
}

void exportThroughTheMenu(benchmark::State &state, exchange::ExportFormat format, const char *name)
{
    exportHome();
    QTemporaryDir dir;
    Chooser chooser;
    chooser.choice = {dir.filePath(QString::fromLatin1(name)), format, false};
    ScriptedDialogs dialogs;
    TForm1 form;
    form.show();
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        form.actionExport->trigger();
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        if (QFileInfo(chooser.choice.path).size() < rowCount() * 10)
            state.SkipWithError("the file is not whole");
    }
}

void BM_ExportCsvThroughTheMenu(benchmark::State &state)
{
    exportThroughTheMenu(state, exchange::ExportFormat::CsvSemicolon, "out.csv");
}
BENCHMARK(BM_ExportCsvThroughTheMenu)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ExportXlsxThroughTheMenu(benchmark::State &state)
{
    exportThroughTheMenu(state, exchange::ExportFormat::Xlsx, "out.xlsx");
}
BENCHMARK(BM_ExportXlsxThroughTheMenu)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ExportFloor(benchmark::State &state)
{
    exportHome();
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("floor.csv")).toStdString();
    for (auto _ : state) {
        sqlite3 *db = openSupports(exportHome().defaultFolder() + QStringLiteral("/base_kor.db"));
        sqlite3_stmt *select = prepare(db, "SELECT Nomeropory, \"Index\", Tipopory, Kilometr, U_izmer, U_ras, "
                                            "R_opory, I_opory FROM base_kor WHERE Line = 1 ORDER BY Kilometr, I");
        FILE *out = std::fopen(path.c_str(), "wb");
        std::fputs("\xEF\xBB\xBF№ опоры;Индекс;Тип опоры;Пикетаж, км;Замер U, B;Расчетное U, B;R опоры, Ом;Ток утечки, мА\r\n",
                   out);
        while (sqlite3_step(select) == SQLITE_ROW) {
            std::fprintf(out, "%d", sqlite3_column_int(select, 0));
            for (int c = 1; c < 8; ++c) {
                std::fputc(';', out);
                if (sqlite3_column_type(select, c) == SQLITE_NULL)
                    continue;
                if (c < 3)
                    std::fputs(reinterpret_cast<const char *>(sqlite3_column_text(select, c)), out);
                else
                    std::fprintf(out, "%.17g", sqlite3_column_double(select, c));
            }
            std::fputs("\r\n", out);
        }
        std::fclose(out);
        sqlite3_finalize(select);
        sqlite3_close(db);
    }
}
BENCHMARK(BM_ExportFloor)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char **argv)
{
    return runWindowBenchmarks(argc, argv, [] {});
}
