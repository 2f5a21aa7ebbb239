#pragma once

#include <QString>

// Every SQLite connection this test process opens from now on, whoever opens
// it (the store through Qt's driver included), so that a test can make the
// store's connections to one table file refuse as a failing disk or a
// read-only file would, without any setting of the store for tests.
namespace sqliteconnections {

// Starts watching; connections opened before are not seen. Idempotent.
void watch();

// Runs a statement on every open connection whose main file is the path.
void run(const QString &path, const QString &sql);
// The first value of a statement on the first such connection, or -1.
qint64 value(const QString &path, const QString &sql);
// The next `commits` commits of the connections to the path are refused.
void refuseCommits(const QString &path, int commits);
// After the next commit of a connection to the path, every statement that
// connection runs fails, as on a connection lost just after the commit;
// with `refuse` false they run again.
void failAfterNextCommit(const QString &path, bool refuse = true);

} // namespace sqliteconnections
