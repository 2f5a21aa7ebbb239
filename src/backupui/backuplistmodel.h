#pragma once

#include "backup/backupfile.h"

#include <QAbstractTableModel>

namespace backupui {

// The backups of an alias as the backups window lists them, newest first:
// date and time, reason, Sections, Supports, size. A file that is not a
// backup of this program shows its problem in place of the reason.
class BackupListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { DateColumn, ReasonColumn, SectionsColumn, SupportsColumn, SizeColumn, ColumnCount };

    explicit BackupListModel(QObject *parent = nullptr);

    void setBackups(const QList<backup::BackupInfo> &backups);
    const backup::BackupInfo &backupAt(int row) const { return m_backups.at(row); }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // "12 КБ", "3,4 МБ", with the regional decimal separator.
    static QString sizeText(qint64 bytes);
    // The local date (short regional format) and time of a UTC moment.
    static QString timeText(const QDateTime &utc);

private:
    QList<backup::BackupInfo> m_backups;
};

} // namespace backupui
