#pragma once

#include "backup/check.h"

#include <QDialog>

class KorTables;
class QPlainTextEdit;
class QPushButton;

namespace backupui {

// "Проверка базы": what the check of the tables found, and the offer to
// gather the Supports whose Section does not exist into "Без участка",
// where the user can see them and decide.
class CheckWindow : public QDialog
{
    Q_OBJECT
public:
    explicit CheckWindow(KorTables &tables, QWidget *parent = nullptr);

    // Checks the tables and shows what was found.
    void run();
    void gatherClick();
    const backup::DatabaseCheck &result() const { return m_result; }

    QPlainTextEdit *report = nullptr;
    QPushButton *gatherButton = nullptr;
    QPushButton *closeButton = nullptr;

private:
    KorTables &m_tables;
    QString m_alias;
    backup::DatabaseCheck m_result;
};

// The report of a check, one finding a line.
QString describeCheck(const backup::DatabaseCheck &check);

} // namespace backupui
