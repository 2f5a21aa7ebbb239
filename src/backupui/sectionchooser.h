#pragma once

#include "backup/backupfile.h"

#include <QDialog>
#include <optional>

class QPushButton;
class QTableWidget;

namespace backupui {

// "Восстановить участок": the Sections of a backup with the number of
// their Supports; the one chosen is restored.
class SectionChooser : public QDialog
{
    Q_OBJECT
public:
    SectionChooser(const QList<backup::BackupSection> &sections, QWidget *parent = nullptr);

    std::optional<qint64> chosen() const;

    QTableWidget *list = nullptr;
    QPushButton *restoreButton = nullptr;
    QPushButton *cancelButton = nullptr;

private:
    QList<backup::BackupSection> m_sections;
};

// Shows the chooser modally; the key of the Section chosen, nullopt when cancelled.
std::optional<qint64> chooseSection(QWidget *parent, const QList<backup::BackupSection> &sections);

} // namespace backupui
