// Backups of an alias whose one Section holds N Supports (KOROZIA_BENCH_SIZE;
// 100,000 by default, 500 in the smoke run): the backup the clearing takes
// before it deletes anything, and "Создать копию" clicked in the real backups
// window (offscreen), list brought up to date included. The floor copies both
// table files with SQLite's online backup (sqlite3_backup_* in one step each)
// over connections set up as the program sets up its own.
#include "app/appfixture.h"
#include "benchsize.h"
#include "windowbench.h"

#include "backupui/backupswindow.h"
#include "backupui/commands.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>

namespace {

struct Alias
{
    TempAlias home;
    ScriptedDialogs dialogs;
    std::unique_ptr<TForm1> form;

    Alias()
    {
        {
            Seeder s;
            s.addSupports(s.addSection(QStringLiteral("Большой участок")), benchSize(100000, 500));
        }
        form = std::make_unique<TForm1>();
    }
};

std::unique_ptr<Alias> g_alias;

Alias &alias()
{
    if (!g_alias)
        g_alias = std::make_unique<Alias>();
    return *g_alias;
}

void BM_BackupBeforeClearing(benchmark::State &state)
{
    alias();
    const backup::Reason reason{backup::Reason::Kind::Clearing, QStringLiteral("Большой участок")};
    // What the clear pane's "Удалить" runs before it deletes anything.
    for (auto _ : state)
        if (!backupui::backupBefore(QStringLiteral("kor"), reason))
            state.SkipWithError("the backup failed");
}
BENCHMARK(BM_BackupBeforeClearing)->Unit(benchmark::kMillisecond);

void BM_CreateCopyInTheWindow(benchmark::State &state)
{
    backupui::BackupsWindow window(alias().form->tables(), alias().form.get());
    window.show();
    for (auto _ : state) {
        window.createButton->click();
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_CreateCopyInTheWindow)->Unit(benchmark::kMillisecond);

sqlite3 *openAsTheProgram(const QByteArray &path, int flags)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.constData(), &db, flags, nullptr) != SQLITE_OK)
        qFatal("the floor cannot open %s", path.constData());
    sqlite3_busy_timeout(db, 5000);
    sqlite3_exec(db, "PRAGMA trusted_schema = OFF; PRAGMA cell_size_check = ON; PRAGMA synchronous = FULL;", nullptr,
                 nullptr, nullptr);
    return db;
}

void BM_BackupFloor(benchmark::State &state)
{
    const QString folder = alias().home.defaultFolder();
    QTemporaryDir out;
    for (auto _ : state) {
        for (const char *table : {"line.db", "base_kor.db"}) {
            sqlite3 *from = openAsTheProgram(QFile::encodeName(folder + QLatin1Char('/') + QLatin1String(table)),
                                             SQLITE_OPEN_READONLY);
            const QByteArray target = QFile::encodeName(out.filePath(QLatin1String(table)));
            QFile::remove(out.filePath(QLatin1String(table)));
            sqlite3 *to = openAsTheProgram(target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
            sqlite3_backup *copy = sqlite3_backup_init(to, "main", from, "main");
            if (!copy || sqlite3_backup_step(copy, -1) != SQLITE_DONE || sqlite3_backup_finish(copy) != SQLITE_OK)
                qFatal("the floor's backup failed: %s", sqlite3_errmsg(to));
            sqlite3_close(to);
            sqlite3_close(from);
        }
    }
}
BENCHMARK(BM_BackupFloor)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return runWindowBenchmarks(argc, argv, [] { g_alias.reset(); });
}
