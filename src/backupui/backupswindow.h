#pragma once

#include "backup/backupfile.h"

#include <QDialog>
#include <optional>

class KorTables;
class QLabel;
class QPushButton;
class QTableView;

namespace backupui {

class BackupListModel;

// "Резервные копии": the alias's backups, newest first, with "Создать копию",
// "Восстановить участок..." (a Section of the chosen backup comes back as a
// new Section) and "Восстановить всё..." (both tables replaced by the
// backup, after a confirmation and a backup of the present state; refused
// while another copy of the program has the alias open). For tables on a
// server it says that backups are the server's job and offers nothing else.
class BackupsWindow : public QDialog
{
    Q_OBJECT
public:
    explicit BackupsWindow(KorTables &tables, QWidget *parent = nullptr);
    ~BackupsWindow() override;

    void refresh();
    void createClick();
    void restoreSectionClick();
    void restoreAllClick();

    QLabel *folderLabel = nullptr;
    QTableView *view = nullptr;
    BackupListModel *model = nullptr;
    QPushButton *createButton = nullptr;
    QPushButton *restoreSectionButton = nullptr;
    QPushButton *restoreAllButton = nullptr;
    QPushButton *closeButton = nullptr;

private:
    std::optional<backup::BackupInfo> selected() const;
    void select(const QString &path);
    void updateButtons();
    // The refusal of a full restore while another copy of the program has the alias open.
    void refuseWhileShared() const;

    KorTables &m_tables;
    QString m_alias;
};

} // namespace backupui
