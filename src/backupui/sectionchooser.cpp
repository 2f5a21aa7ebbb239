#include "sectionchooser.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace backupui {

SectionChooser::SectionChooser(const QList<backup::BackupSection> &sections, QWidget *parent)
    : QDialog(parent), m_sections(sections)
{
    setObjectName(QStringLiteral("SectionChooser"));
    setWindowTitle(QStringLiteral("Восстановить участок"));
    resize(360, 320);
    auto *layout = new QVBoxLayout(this);
    list = new QTableWidget(int(sections.size()), 2, this);
    list->setObjectName(QStringLiteral("list"));
    list->setHorizontalHeaderLabels({QStringLiteral("Участок"), QStringLiteral("Опор")});
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->verticalHeader()->hide();
    list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 6);
    list->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int row = 0; row < sections.size(); ++row) {
        list->setItem(row, 0, new QTableWidgetItem(sections[row].name));
        auto *count = new QTableWidgetItem(QString::number(sections[row].supports));
        count->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        list->setItem(row, 1, count);
    }
    layout->addWidget(list, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    restoreButton = new QPushButton(QStringLiteral("Восстановить"), this);
    restoreButton->setObjectName(QStringLiteral("restoreButton"));
    restoreButton->setDefault(true);
    cancelButton = new QPushButton(QStringLiteral("Отмена"), this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    buttons->addWidget(restoreButton);
    buttons->addWidget(cancelButton);
    layout->addLayout(buttons);

    connect(restoreButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(list, &QTableWidget::itemDoubleClicked, this, &QDialog::accept);
    const auto enable = [this] { restoreButton->setEnabled(chosen().has_value()); };
    connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this, enable);
    if (!sections.isEmpty())
        list->selectRow(0);
    enable();
}

std::optional<qint64> SectionChooser::chosen() const
{
    const QModelIndexList rows = list->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    return m_sections.at(rows.first().row()).key;
}

std::optional<qint64> chooseSection(QWidget *parent, const QList<backup::BackupSection> &sections)
{
    SectionChooser chooser(sections, parent);
    if (chooser.exec() != QDialog::Accepted)
        return std::nullopt;
    return chooser.chosen();
}

} // namespace backupui
