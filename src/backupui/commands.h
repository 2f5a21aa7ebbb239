#pragma once

#include "backup/backupfile.h"

#include <QString>

class KorTables;
class QWidget;

namespace backupui {

// Takes a backup before a command that deletes or replaces many records.
// When it fails the user is asked "Не удалось создать резервную копию:
// <reason>. Продолжить без копии?"; false on "&No" (the command then ends
// with nothing changed). Tables on a server are backed up by the server:
// nothing is taken here.
bool backupBefore(const QString &alias, const backup::Reason &reason);

// At start-up: a backup when the newest one is older than 24 hours (or
// there is none). A failure is told once, as a warning, and the program goes on.
void backupAtStartUp(const QString &alias);
inline constexpr qint64 kStartUpBackupAfterSecs = 24 * 3600;

// "Сервис" > "Резервные копии...": the backups window. What it restores is
// shown by the window's own cursors afterwards.
void showBackups(QWidget *parent, KorTables &tables);

// "Сервис" > "Проверка базы...": the check of the tables and its window.
void showDatabaseCheck(QWidget *parent, KorTables &tables);

// Runs a step of a command, giving a BackupError the beginning of the
// sentence it ends ("Не удалось восстановить копию: " + reason).
void explained(const QString &failure, const std::function<void()> &step);

} // namespace backupui
