#include "commands.h"

#include "backupswindow.h"
#include "checkwindow.h"

#include "backup/take.h"
#include "toolkit/dialogs.h"

namespace backupui {

void explained(const QString &failure, const std::function<void()> &step)
{
    try {
        step();
    } catch (const backup::BackupError &e) {
        throw backup::BackupError(failure + e.message());
    }
}

bool backupBefore(const QString &alias, const backup::Reason &reason)
{
    if (backup::tablesOnAServer(alias))
        return true;
    try {
        backup::takeBackup(alias, reason);
        return true;
    } catch (const backup::BackupError &e) {
        const QString question =
            QStringLiteral("Не удалось создать резервную копию: %1. Продолжить без копии?").arg(e.message());
        return toolkit::messageDlg(question, toolkit::MessageKind::Confirmation,
                                   toolkit::BoxButton::Yes | toolkit::BoxButton::No)
               == toolkit::BoxButton::Yes;
    }
}

void backupAtStartUp(const QString &alias)
{
    if (backup::tablesOnAServer(alias))
        return;
    const std::optional<QDateTime> newest = backup::newestBackupTime(alias);
    if (newest && newest->secsTo(backup::currentTime()) < kStartUpBackupAfterSecs)
        return;
    try {
        backup::takeBackup(alias, backup::Reason{backup::Reason::Kind::StartUp, {}});
    } catch (const SystemError &e) {
        toolkit::messageDlg(QStringLiteral("Не удалось создать резервную копию при запуске: %1. "
                                           "Программа работает без неё.")
                                .arg(e.message()),
                            toolkit::MessageKind::Warning, toolkit::BoxButton::Ok);
    }
}

void showBackups(QWidget *parent, KorTables &tables)
{
    BackupsWindow window(tables, parent);
    window.exec();
}

void showDatabaseCheck(QWidget *parent, KorTables &tables)
{
    CheckWindow window(tables, parent);
    window.run();
    window.exec();
}

} // namespace backupui
