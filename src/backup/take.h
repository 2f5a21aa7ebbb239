#pragma once

#include "backupfile.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace backup {

// The folder of an alias's backups: $XDG_DATA_HOME/korozia/backups/<alias>,
// never the alias's own folder.
QString backupFolder(const QString &alias);

// Takes a consistent backup of both tables of the alias: while no Support
// can be written (so no Section can be deleted either), read transactions
// are begun on both files, so the pair shows one moment; the Supports' file
// is copied page by page with SQLite's online backup, the Sections are
// written beside them. The copy is made under a hidden temporary name,
// checked with PRAGMA quick_check and only then renamed into place, so a
// kill at any moment leaves no partial backup listed; the live tables are
// only read. Older backups are then thinned out (see keptBackups). Throws
// BackupError with the reason in the user's words; a failure leaves nothing
// behind.
BackupInfo takeBackup(const QString &alias, const Reason &reason);

// Every file of the backup folder that looks like a backup, newest first; a
// file that is not a backup of this program is listed with its problem.
QList<BackupInfo> listBackups(const QString &alias);

// The backups of the alias as their files' names tell when each was taken,
// without opening them: cheap enough for every start-up and every backup.
struct NamedBackup
{
    QString path;
    QDateTime created; // UTC
};
QList<NamedBackup> namedBackups(const QString &alias);
// When the newest backup of the alias was taken; nullopt when there is none.
std::optional<QDateTime> newestBackupTime(const QString &alias);

// Whether the alias keeps its tables on a server (its configuration names a
// driver other than SQLite): backups are then the server's job.
bool tablesOnAServer(const QString &alias);

// The clock of the backups: UTC now, or what a test sets (nullptr restores it).
QDateTime currentTime();
void setClockForTests(std::function<QDateTime()> clock);
// A test's full disk: a backup that would need more than this many bytes
// fails as SQLite fails on a full disk (0: no limit).
void setSizeLimitForTests(qint64 bytes);

} // namespace backup
