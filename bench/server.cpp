// The alias "kor" on a database server (the tests' private server, on a Unix
// socket): a fill of 10,000 Supports in one bulk scope, "Расчитать" over
// 10,000, opening a Section of 100,000 and one Post, each beside a floor of
// plain libpq calls doing the same writes or reads on the same server.
#include "calc/fpu.h"
#include "calc/leakage.h"
#include "data/kortables.h"
#include "store/tablefile.h"
#include "support/privatepostgres.h"
#include "support/tempalias.h"

#include "benchsize.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>
#include <libpq-fe.h>
#include <memory>

namespace {

int scaled(int count)
{
    return benchSize(count, 100);
}

struct Section
{
    TempAlias home;
    std::unique_ptr<KorTables> db = std::make_unique<KorTables>();
    qint64 number = 0;

    explicit Section(int count)
    {
        db->open();
        db->Table2.Append();
        db->Table2Line->SetAsString(QStringLiteral("Участок"));
        db->Table2.Post();
        number = db->Table2N_line->AsInteger();
        Table::BulkScope bulk(db->Table1);
        for (int i = 0; i < count; ++i)
            append(i, count);
    }
    // The first and the last Support and one in a hundred are measured.
    void append(int i, int count)
    {
        db->Table1.Append();
        db->Table1Kilometr->SetAsFloat(100.0 + i * 0.06);
        db->Table1Nomeropory->SetAsInteger(i % 30000 + 1);
        db->Table1R_opory->SetAsFloat(200);
        if (i % 100 == 0 || i == count - 1)
            db->Table1U_izmer->SetAsFloat(1.0 + (i % 700) / 100.0);
        db->Table1.Post();
    }
    void newSection()
    {
        db->Table2.Append();
        db->Table2Line->SetAsString(QStringLiteral("Ещё"));
        db->Table2.Post();
        number = db->Table2N_line->AsInteger();
    }
};

// A plain libpq connection to the same server, as the same role.
struct Floor
{
    PGconn *conn = nullptr;
    explicit Floor(const TempAlias &home)
    {
        PrivatePostgres *server = PrivatePostgres::instance();
        const QByteArray info = QStringLiteral("host='%1' port=%2 dbname=%3 user=%4")
                                    .arg(server->socketFolder())
                                    .arg(server->port())
                                    .arg(PrivatePostgres::database(), home.serverUser())
                                    .toUtf8();
        conn = PQconnectdb(info.constData());
    }
    ~Floor() { PQfinish(conn); }
    void exec(const char *sql) { PQclear(PQexec(conn, sql)); }
    // The statement once per row, pipelined, in one transaction.
    void pipelined(const char *sql, int rows, const std::function<QList<QByteArray>(int)> &params)
    {
        exec("BEGIN");
        PQclear(PQprepare(conn, "floor", sql, 0, nullptr));
        PQenterPipelineMode(conn);
        for (int i = 0; i < rows; ++i) {
            const QList<QByteArray> values = params(i);
            std::vector<const char *> pointers;
            for (const QByteArray &v : values)
                pointers.push_back(v.isNull() ? nullptr : v.constData());
            PQsendQueryPrepared(conn, "floor", int(pointers.size()), pointers.data(), nullptr, nullptr, 0);
        }
        PQpipelineSync(conn);
        for (int done = 0; done < rows;) {
            if (PGresult *r = PQgetResult(conn)) {
                ++done;
                PQclear(r);
                PQclear(PQgetResult(conn)); // the end of that statement's results
            }
        }
        PQclear(PQgetResult(conn)); // the sync
        PQexitPipelineMode(conn);
        exec("COMMIT");
        exec("DEALLOCATE floor");
    }
};

QByteArray number(double d)
{
    return QByteArray::number(d, 'g', 17);
}

void BM_ServerFill(benchmark::State &state)
{
    const int count = scaled(10000);
    Section section(0);
    for (auto _ : state) {
        state.PauseTiming();
        section.newSection();
        state.ResumeTiming();
        Table::BulkScope bulk(section.db->Table1);
        for (int i = 0; i < count; ++i)
            section.append(i, count);
    }
    state.counters["supports"] = section.db->Table1.RecordCount();
}
BENCHMARK(BM_ServerFill)->Unit(benchmark::kMillisecond);

void BM_LibpqInsertFloor(benchmark::State &state)
{
    const int count = scaled(10000);
    Section section(0);
    Floor floor(section.home);
    for (auto _ : state) {
        floor.pipelined("INSERT INTO base_kor (kilometr, nomeropory, r_opory, u_izmer, line) VALUES "
                        "($1, $2, $3, $4, $5)",
                        count, [&](int i) {
                            return QList<QByteArray>{number(100.0 + i * 0.06), QByteArray::number(i % 30000 + 1),
                                                     "200", i % 100 == 0 || i == count - 1 ? number(1.0 + (i % 700) / 100.0)
                                                                         : QByteArray(),
                                                     QByteArray::number(section.number)};
                        });
    }
}
BENCHMARK(BM_LibpqInsertFloor)->Unit(benchmark::kMillisecond);

// Before every run the calculated values are wiped by another connection, so
// that the calculation writes every Support again.
void BM_ServerCalculate(benchmark::State &state)
{
    Section section(scaled(10000));
    Floor floor(section.home);
    for (auto _ : state) {
        state.PauseTiming();
        floor.exec("UPDATE base_kor SET u_ras = NULL, i_opory = NULL");
        state.ResumeTiming();
        QString refusal;
        calc::calculateLeakage(*section.db, [&](const QString &message) { refusal = message; });
        if (!refusal.isEmpty()) {
            state.SkipWithError(refusal.toUtf8().constData());
            break;
        }
    }
    state.counters["supports"] = section.db->Table1.RecordCount();
    // Every Support has a resistance and the Section measured ends, so every
    // one must have its current written again: this counts the ones left blank.
    PGresult *blank = PQexec(floor.conn, "SELECT count(*) FROM base_kor WHERE i_opory IS NULL OR u_ras IS NULL");
    state.counters["left_blank"] = PQntuples(blank) == 1 ? atof(PQgetvalue(blank, 0, 0)) : -1;
    PQclear(blank);
}
BENCHMARK(BM_ServerCalculate)->Unit(benchmark::kMillisecond);

// The calculation's writes: the potential and the current of every Support by its key.
void BM_LibpqUpdateFloor(benchmark::State &state)
{
    const int count = scaled(10000);
    Section section(count);
    Floor floor(section.home);
    PGresult *keys = PQexec(floor.conn, "SELECT i FROM base_kor ORDER BY kilometr");
    for (auto _ : state) {
        floor.pipelined("UPDATE base_kor SET u_ras = $1, i_opory = $2 WHERE i = $3", PQntuples(keys), [&](int i) {
            return QList<QByteArray>{number(1.0 + i * 1e-4), number(5.0 + i * 1e-3), PQgetvalue(keys, i, 0)};
        });
    }
    PQclear(keys);
}
BENCHMARK(BM_LibpqUpdateFloor)->Unit(benchmark::kMillisecond);

void BM_ServerOpenSection(benchmark::State &state)
{
    Section section(scaled(100000));
    section.db.reset();
    for (auto _ : state) {
        auto db = std::make_unique<KorTables>();
        db->open();
        benchmark::DoNotOptimize(db->Table1.RecordCount());
        benchmark::DoNotOptimize(db->Table1Kilometr->AsFloat());
        state.PauseTiming();
        db.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ServerOpenSection)->Unit(benchmark::kMillisecond);

// Reading the whole Section in chainage order, every field, in binary form.
void BM_LibpqReadSectionFloor(benchmark::State &state)
{
    Section section(scaled(100000));
    Floor floor(section.home);
    const QByteArray line = QByteArray::number(section.number);
    const char *values[] = {line.constData()};
    for (auto _ : state) {
        PGresult *r = PQexecParams(floor.conn,
                                   "SELECT i, kilometr, nomeropory, \"Index\", tipopory, r_opory, u_izmer, u_ras, "
                                   "i_opory FROM base_kor WHERE line = $1 ORDER BY kilometr, i",
                                   1, nullptr, values, nullptr, nullptr, 1);
        long bytes = 0;
        for (int row = 0; row < PQntuples(r); ++row)
            for (int column = 0; column < 9; ++column)
                bytes += PQgetlength(r, row, column);
        benchmark::DoNotOptimize(bytes);
        PQclear(r);
    }
}
BENCHMARK(BM_LibpqReadSectionFloor)->Unit(benchmark::kMillisecond);

void BM_ServerSinglePost(benchmark::State &state)
{
    Section section(scaled(10000));
    int i = 0;
    for (auto _ : state)
        section.append(i++, 0);
}
BENCHMARK(BM_ServerSinglePost)->Unit(benchmark::kMicrosecond);

void BM_LibpqSinglePostFloor(benchmark::State &state)
{
    Section section(scaled(10000));
    Floor floor(section.home);
    const QByteArray line = QByteArray::number(section.number);
    int i = 0;
    for (auto _ : state) {
        const QByteArray km = number(100.0 + i++ * 0.06);
        const char *values[] = {km.constData(), "1", "200", line.constData()};
        PQclear(PQexecParams(floor.conn,
                             "INSERT INTO base_kor (kilometr, nomeropory, r_opory, line) VALUES ($1, $2, $3, $4) "
                             "RETURNING i",
                             4, nullptr, values, nullptr, nullptr, 1));
    }
}
BENCHMARK(BM_LibpqSinglePostFloor)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    qputenv("KOROZIA_TEST_BACKEND", "postgresql");
    if (!PrivatePostgres::instance()) {
        qWarning("no database server: %s", qPrintable(PrivatePostgres::unavailable()));
        return 0;
    }
    calc::initFloatingPoint();
    return runBenchmarks<QCoreApplication>(argc, argv);
}
