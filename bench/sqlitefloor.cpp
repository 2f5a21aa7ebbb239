#include "sqlitefloor.h"

#include <QtGlobal>

#include <cmath>
#include <sqlite3.h>
#include <vector>

namespace floorsql {

void check(int rc, sqlite3 *db, int expected)
{
    if (rc != expected)
        qFatal("sqlite: %s", db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
}

sqlite3 *open(const QString &path)
{
    sqlite3 *db = nullptr;
    check(sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr), db);
    check(sqlite3_exec(db, "PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL; PRAGMA busy_timeout = 5000;",
                       nullptr, nullptr, nullptr),
          db);
    return db;
}

sqlite3_stmt *prepare(sqlite3 *db, const char *sql)
{
    sqlite3_stmt *statement = nullptr;
    check(sqlite3_prepare_v2(db, sql, -1, &statement, nullptr), db);
    return statement;
}

void seedSupports(const QString &path, qint64 line, int count, int measuredEvery)
{
    sqlite3 *db = open(path);
    check(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), db);
    sqlite3_stmt *insert = prepare(db, "INSERT INTO base_kor (Kilometr, Nomeropory, Tipopory, R_opory, U_izmer, Line) "
                                       "VALUES (?, ?, 'ЖБК', 200, ?, ?)");
    for (int i = 0; i < count; ++i) {
        sqlite3_bind_double(insert, 1, 100.0 + i * 0.06);
        sqlite3_bind_int(insert, 2, i % 30000 + 1);
        if (i % measuredEvery == 0 || i == count - 1)
            sqlite3_bind_double(insert, 3, 1.0 + (i % 700) / 100.0);
        else
            sqlite3_bind_null(insert, 3);
        sqlite3_bind_int64(insert, 4, line);
        check(sqlite3_step(insert), db, SQLITE_DONE);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
    sqlite3_close(db);
}

int readSection(sqlite3 *db, qint64 line)
{
    sqlite3_stmt *select = prepare(db, "SELECT I, Kilometr, Nomeropory, \"Index\", Tipopory, R_opory, U_izmer, U_ras, "
                                       "I_opory, Line FROM base_kor WHERE Line IS ? ORDER BY Kilometr, I");
    sqlite3_bind_int64(select, 1, line);
    int rows = 0;
    double sum = 0;
    while (sqlite3_step(select) == SQLITE_ROW) {
        sum += double(sqlite3_column_int64(select, 0)) + double(sqlite3_column_int64(select, 2));
        sum += sqlite3_column_bytes(select, 3) + sqlite3_column_bytes(select, 4);
        for (int c : {1, 5, 6, 7, 8})
            if (sqlite3_column_type(select, c) != SQLITE_NULL)
                sum += sqlite3_column_double(select, c);
        ++rows;
    }
    sqlite3_finalize(select);
    return sum == -1.0 ? -1 : rows; // the sum is used, so that nothing is left unread
}

int calculate(sqlite3 *db, qint64 line)
{
    struct Row
    {
        sqlite3_int64 id;
        double km;
        double measured;
        bool isMeasured;
        double resistance;
    };
    check(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), db);
    std::vector<Row> rows;
    sqlite3_stmt *select =
        prepare(db, "SELECT I, Kilometr, U_izmer, R_opory FROM base_kor WHERE Line IS ? ORDER BY Kilometr, I");
    sqlite3_bind_int64(select, 1, line);
    while (sqlite3_step(select) == SQLITE_ROW)
        rows.push_back({sqlite3_column_int64(select, 0), sqlite3_column_double(select, 1),
                        sqlite3_column_double(select, 2), sqlite3_column_type(select, 2) != SQLITE_NULL,
                        sqlite3_column_double(select, 3)});
    sqlite3_finalize(select);

    sqlite3_stmt *update = prepare(db, "UPDATE base_kor SET U_ras = ?, I_opory = ? WHERE I = ?");
    std::size_t a = 0;
    int written = 0;
    while (!rows.empty() && a + 1 < rows.size()) {
        std::size_t b = a + 1;
        while (b + 1 < rows.size() && !rows[b].isMeasured)
            ++b;
        const float k1 = float(rows[a].km);
        const float u1 = float(rows[a].measured);
        const float slope = float((rows[b].measured - u1) / (rows[b].km - k1));
        for (std::size_t s = a; s <= b; ++s) {
            const double u = std::nearbyint(((rows[s].km - k1) * slope + u1) * 10.0) / 10.0;
            const double current = std::nearbyint(u / rows[s].resistance * 1000.0 * 1000.0) / 1000.0;
            sqlite3_bind_double(update, 1, u);
            sqlite3_bind_double(update, 2, current);
            sqlite3_bind_int64(update, 3, rows[s].id);
            check(sqlite3_step(update), db, SQLITE_DONE);
            sqlite3_reset(update);
            ++written;
        }
        a = b;
    }
    sqlite3_finalize(update);
    check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
    return written;
}

int startUp(const QString &folder)
{
    sqlite3 *sections = open(folder + QStringLiteral("/line.db"));
    sqlite3 *supports = open(folder + QStringLiteral("/base_kor.db"));
    for (sqlite3 *db : {sections, supports}) {
        sqlite3_stmt *quick = prepare(db, "PRAGMA quick_check");
        while (sqlite3_step(quick) == SQLITE_ROW) {
        }
        sqlite3_finalize(quick);
    }
    sqlite3_stmt *lines = prepare(sections, "SELECT N_line, Line FROM line ORDER BY N_line");
    sqlite3_int64 first = -1;
    while (sqlite3_step(lines) == SQLITE_ROW)
        if (first < 0)
            first = sqlite3_column_int64(lines, 0);
    sqlite3_finalize(lines);

    struct Key
    {
        double km;
        sqlite3_int64 id;
    };
    std::vector<Key> keys;
    sqlite3_stmt *select = prepare(supports, "SELECT I, Kilometr FROM base_kor WHERE Line IS ? ORDER BY Kilometr, I");
    sqlite3_bind_int64(select, 1, first);
    while (sqlite3_step(select) == SQLITE_ROW)
        keys.push_back({sqlite3_column_double(select, 1), sqlite3_column_int64(select, 0)});
    sqlite3_finalize(select);

    sqlite3_stmt *row = prepare(supports, "SELECT * FROM base_kor WHERE I = ?");
    for (std::size_t i = 0; i < keys.size() && i < 64; ++i) {
        sqlite3_bind_int64(row, 1, keys[i].id);
        while (sqlite3_step(row) == SQLITE_ROW) {
        }
        sqlite3_reset(row);
    }
    sqlite3_finalize(row);
    sqlite3_close(supports);
    sqlite3_close(sections);
    return int(keys.size());
}

} // namespace floorsql
