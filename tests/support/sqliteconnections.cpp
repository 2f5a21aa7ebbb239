#include "sqliteconnections.h"

#include <QFileInfo>
#include <QHash>
#include <sqlite3.h>

namespace sqliteconnections {

namespace {

struct Watched
{
    QString path;
    int refusals = 0;
    bool failAfterCommit = false;
    bool failing = false;
};

QHash<sqlite3 *, Watched> &open()
{
    static QHash<sqlite3 *, Watched> connections;
    return connections;
}

int failingStatement(void *connection)
{
    const auto it = open().constFind(static_cast<sqlite3 *>(connection));
    return it != open().cend() && it->failing ? 1 : 0;
}

int commitHook(void *connection)
{
    auto *db = static_cast<sqlite3 *>(connection);
    auto it = open().find(db);
    if (it == open().end())
        return 0;
    if (it->refusals > 0) {
        --it->refusals;
        return 1;
    }
    if (it->failAfterCommit) {
        // The commit goes through; the statements that follow it are
        // interrupted from their first step on.
        it->failAfterCommit = false;
        it->failing = true;
        sqlite3_progress_handler(db, 1, &failingStatement, db);
    }
    return 0;
}

int closed(unsigned, void *, void *connection, void *)
{
    open().remove(static_cast<sqlite3 *>(connection));
    return 0;
}

int opened(sqlite3 *db, const char **, const sqlite3_api_routines *)
{
    const char *file = sqlite3_db_filename(db, "main");
    open().insert(db, Watched{QFileInfo(QString::fromUtf8(file ? file : "")).canonicalFilePath(), 0});
    sqlite3_commit_hook(db, &commitHook, db);
    sqlite3_trace_v2(db, SQLITE_TRACE_CLOSE, &closed, nullptr);
    return SQLITE_OK;
}

} // namespace

void watch()
{
    static const bool watching = [] {
        return sqlite3_auto_extension(reinterpret_cast<void (*)()>(&opened)) == SQLITE_OK;
    }();
    Q_UNUSED(watching);
}

void run(const QString &path, const QString &sql)
{
    const QString file = QFileInfo(path).canonicalFilePath();
    for (auto it = open().cbegin(); it != open().cend(); ++it)
        if (it->path == file)
            sqlite3_exec(it.key(), sql.toUtf8().constData(), nullptr, nullptr, nullptr);
}

qint64 value(const QString &path, const QString &sql)
{
    const QString file = QFileInfo(path).canonicalFilePath();
    for (auto it = open().cbegin(); it != open().cend(); ++it) {
        if (it->path != file)
            continue;
        sqlite3_stmt *statement = nullptr;
        qint64 result = -1;
        if (sqlite3_prepare_v2(it.key(), sql.toUtf8().constData(), -1, &statement, nullptr) == SQLITE_OK
            && sqlite3_step(statement) == SQLITE_ROW)
            result = sqlite3_column_int64(statement, 0);
        sqlite3_finalize(statement);
        return result;
    }
    return -1;
}

void refuseCommits(const QString &path, int commits)
{
    const QString file = QFileInfo(path).canonicalFilePath();
    for (Watched &w : open())
        if (w.path == file)
            w.refusals = commits;
}

void failAfterNextCommit(const QString &path, bool refuse)
{
    const QString file = QFileInfo(path).canonicalFilePath();
    for (auto it = open().begin(); it != open().end(); ++it) {
        if (it->path != file)
            continue;
        it->failAfterCommit = refuse;
        if (!refuse && it->failing) {
            it->failing = false;
            sqlite3_progress_handler(it.key(), 0, nullptr, nullptr);
        }
    }
}

} // namespace sqliteconnections
