#pragma once

#include <QStringList>

// Runs SQL statements on a table file with an SQLite connection of the
// test's own (only while the store has the file closed), failing the test
// on the first statement that fails.
void sqlOn(const QString &path, const QStringList &statements);
