#pragma once

#include <QDateTime>
#include <QString>
#include <QVector>

namespace backup {

// Which backups are kept at `now`, given when each was taken (any order):
// the 20 newest, the newest of each of the last 30 days and the newest of
// each of the last 12 months (today and this month included; days and
// months of local time). Backups of equal time are ranked by their place
// in the list, later ones first.
QVector<bool> keptBackups(const QVector<QDateTime> &created, const QDateTime &now);

inline constexpr int kKeptNewest = 20;
inline constexpr int kKeptDays = 30;
inline constexpr int kKeptMonths = 12;

// Removes the alias's backups that keptBackups does not keep. Files that are
// not backups of this program are never touched.
void applyRetention(const QString &alias, const QDateTime &now);

} // namespace backup
