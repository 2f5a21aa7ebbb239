#include "backuplistmodel.h"

#include "data/regionalsettings.h"

#include <QBrush>
#include <QPalette>

namespace backupui {

BackupListModel::BackupListModel(QObject *parent) : QAbstractTableModel(parent) {}

void BackupListModel::setBackups(const QList<backup::BackupInfo> &backups)
{
    beginResetModel();
    m_backups = backups;
    endResetModel();
}

int BackupListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_backups.size());
}

int BackupListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString BackupListModel::sizeText(qint64 bytes)
{
    constexpr qint64 kKilobyte = 1024;
    constexpr qint64 kMegabyte = 1024 * kKilobyte;
    if (bytes < kMegabyte)
        return QStringLiteral("%1 КБ").arg((bytes + kKilobyte - 1) / kKilobyte);
    QString text = QString::number(double(bytes) / kMegabyte, 'f', 1);
    text.replace(u'.', RegionalSettings::instance().decimalSeparator());
    return text + QStringLiteral(" МБ");
}

QString BackupListModel::timeText(const QDateTime &utc)
{
    return utc.toLocalTime().toString(RegionalSettings::instance().shortDateFormat() + QStringLiteral(" HH:mm:ss"));
}

QVariant BackupListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const backup::BackupInfo &b = m_backups.at(index.row());
    const bool ours = b.problem.isEmpty();
    if (role == Qt::TextAlignmentRole)
        return index.column() >= SectionsColumn ? int(Qt::AlignRight | Qt::AlignVCenter)
                                                : int(Qt::AlignLeft | Qt::AlignVCenter);
    if (role == Qt::ForegroundRole && !ours)
        return QBrush(QPalette().color(QPalette::Disabled, QPalette::Text));
    if (role == Qt::ToolTipRole)
        return ours ? b.path : b.problem;
    if (role != Qt::DisplayRole)
        return {};
    switch (Column(index.column())) {
    case DateColumn:
        return timeText(b.created);
    case ReasonColumn:
        return ours ? b.reason : b.problem;
    case SectionsColumn:
        return ours ? QVariant(b.sections) : QVariant();
    case SupportsColumn:
        return ours ? QVariant(b.supports) : QVariant();
    case SizeColumn:
        return sizeText(b.size);
    case ColumnCount:
        break;
    }
    return {};
}

QVariant BackupListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (Column(section)) {
    case DateColumn:
        return QStringLiteral("Дата и время");
    case ReasonColumn:
        return QStringLiteral("Причина");
    case SectionsColumn:
        return QStringLiteral("Участков");
    case SupportsColumn:
        return QStringLiteral("Опор");
    case SizeColumn:
        return QStringLiteral("Размер");
    case ColumnCount:
        break;
    }
    return {};
}

} // namespace backupui
