#include "retention.h"

#include "take.h"

#include <QFile>
#include <QSet>
#include <algorithm>
#include <numeric>

namespace backup {

QVector<bool> keptBackups(const QVector<QDateTime> &created, const QDateTime &now)
{
    QVector<int> newestFirst(created.size());
    std::iota(newestFirst.begin(), newestFirst.end(), 0);
    std::stable_sort(newestFirst.begin(), newestFirst.end(), [&](int a, int b) {
        return created[a] != created[b] ? created[a] > created[b] : a > b;
    });
    const QDate today = now.toLocalTime().date();
    const int thisMonth = today.year() * 12 + today.month() - 1;
    QVector<bool> kept(created.size(), false);
    QSet<qint64> days;
    QSet<int> months;
    for (int rank = 0; rank < newestFirst.size(); ++rank) {
        const int i = newestFirst[rank];
        const QDate day = created[i].toLocalTime().date();
        const int month = day.year() * 12 + day.month() - 1;
        const bool recentDay = day.daysTo(today) < kKeptDays;
        const bool recentMonth = thisMonth - month < kKeptMonths;
        if (rank < kKeptNewest)
            kept[i] = true;
        if (recentDay && !days.contains(day.toJulianDay()))
            kept[i] = true;
        if (recentMonth && !months.contains(month))
            kept[i] = true;
        days.insert(day.toJulianDay());
        months.insert(month);
    }
    return kept;
}

void applyRetention(const QString &alias, const QDateTime &now)
{
    const QList<NamedBackup> backups = namedBackups(alias);
    QVector<QDateTime> created;
    for (const NamedBackup &b : backups)
        created << b.created;
    const QVector<bool> kept = keptBackups(created, now);
    for (int i = 0; i < backups.size(); ++i) {
        if (kept[i])
            continue;
        // Only a backup of this program is removed, whatever its name says.
        try {
            BackupReader{backups[i].path};
        } catch (const BackupError &e) {
            qWarning("%s", e.what());
            continue;
        }
        if (!QFile::remove(backups[i].path))
            qWarning("The old backup '%s' cannot be removed", qPrintable(backups[i].path));
    }
}

} // namespace backup
