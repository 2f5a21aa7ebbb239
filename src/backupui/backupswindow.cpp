#include "backupswindow.h"

#include "backuplistmodel.h"
#include "busycursor.h"
#include "commands.h"
#include "sectionchooser.h"

#include "backup/restore.h"
#include "backup/take.h"
#include "data/kortables.h"
#include "store/presence.h"
#include "toolkit/dialogs.h"
#include "toolkit/guard.h"

#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace backupui {

namespace {

void inform(const QString &text)
{
    toolkit::messageDlg(text, toolkit::MessageKind::Information, toolkit::BoxButton::Ok);
}

const QString kRestoreFailed = QStringLiteral("Не удалось восстановить копию: ");

} // namespace

BackupsWindow::BackupsWindow(KorTables &tables, QWidget *parent)
    : QDialog(parent), m_tables(tables), m_alias(tables.Table1.DatabaseName())
{
    setObjectName(QStringLiteral("BackupsWindow"));
    setWindowTitle(QStringLiteral("Резервные копии"));
    resize(640, 400);
    auto *layout = new QVBoxLayout(this);

    folderLabel = new QLabel(this);
    folderLabel->setObjectName(QStringLiteral("folderLabel"));
    folderLabel->setWordWrap(true);
    folderLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(folderLabel);

    model = new BackupListModel(this);
    view = new QTableView(this);
    view->setObjectName(QStringLiteral("view"));
    view->setModel(model);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->verticalHeader()->hide();
    // One line of text a row, as in the program's grids.
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    // At most a few dozen rows: every column but the reason fits its texts.
    view->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    view->horizontalHeader()->setSectionResizeMode(BackupListModel::ReasonColumn, QHeaderView::Stretch);
    layout->addWidget(view, 1);

    auto *buttons = new QHBoxLayout;
    auto button = [&](const char *name, const QString &text) {
        auto *b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        buttons->addWidget(b);
        return b;
    };
    createButton = button("createButton", QStringLiteral("Создать копию"));
    restoreSectionButton = button("restoreSectionButton", QStringLiteral("Восстановить участок..."));
    restoreAllButton = button("restoreAllButton", QStringLiteral("Восстановить всё..."));
    buttons->addStretch(1);
    closeButton = button("closeButton", QStringLiteral("Закрыть"));
    layout->addLayout(buttons);

    toolkit::connectGuarded(createButton, &QPushButton::clicked, this, &BackupsWindow::createClick);
    toolkit::connectGuarded(restoreSectionButton, &QPushButton::clicked, this, &BackupsWindow::restoreSectionClick);
    toolkit::connectGuarded(restoreAllButton, &QPushButton::clicked, this, &BackupsWindow::restoreAllClick);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { updateButtons(); });

    if (backup::tablesOnAServer(m_alias)) {
        folderLabel->setText(QStringLiteral("Таблицы базы «%1» находятся на сервере: резервные копии делает сервер.")
                                 .arg(m_alias));
        view->hide();
        for (QPushButton *b : {createButton, restoreSectionButton, restoreAllButton})
            b->hide();
        return;
    }
    folderLabel->setText(QStringLiteral("Копии хранятся в папке %1").arg(QDir::toNativeSeparators(backup::backupFolder(m_alias))));
    refresh();
}

BackupsWindow::~BackupsWindow() = default;

void BackupsWindow::refresh()
{
    const std::optional<backup::BackupInfo> current = selected();
    model->setBackups(backup::listBackups(m_alias));
    if (current)
        select(current->path);
    else if (model->rowCount() > 0)
        view->selectRow(0);
    updateButtons();
}

std::optional<backup::BackupInfo> BackupsWindow::selected() const
{
    const QModelIndexList rows = view->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    return model->backupAt(rows.first().row());
}

void BackupsWindow::select(const QString &path)
{
    for (int row = 0; row < model->rowCount(); ++row)
        if (model->backupAt(row).path == path)
            view->selectRow(row);
}

void BackupsWindow::updateButtons()
{
    const std::optional<backup::BackupInfo> chosen = selected();
    const bool restorable = chosen && chosen->problem.isEmpty();
    restoreSectionButton->setEnabled(restorable);
    restoreAllButton->setEnabled(restorable);
}

void BackupsWindow::createClick()
{
    backup::BackupInfo made;
    {
        BusyCursor busy;
        explained(QStringLiteral("Не удалось создать резервную копию: "),
                  [&] { made = backup::takeBackup(m_alias, backup::Reason{}); });
    }
    model->setBackups(backup::listBackups(m_alias));
    select(made.path);
    updateButtons();
}

void BackupsWindow::restoreSectionClick()
{
    const std::optional<backup::BackupInfo> chosen = selected();
    if (!chosen)
        return;
    QList<backup::BackupSection> sections;
    explained(kRestoreFailed, [&] {
        BusyCursor busy;
        backup::BackupReader reader(chosen->path);
        reader.checkIntegrity();
        sections = reader.sections();
    });
    if (sections.isEmpty()) {
        inform(QStringLiteral("В копии от %1 нет участков.").arg(BackupListModel::timeText(chosen->created)));
        return;
    }
    const std::optional<qint64> key = chooseSection(this, sections);
    if (!key)
        return;
    backup::RestoredSection restored;
    explained(kRestoreFailed, [&] {
        BusyCursor busy;
        restored = backup::restoreSection(m_alias, chosen->path, *key);
    });
    m_tables.Table2.Locate(restored.key);
    m_tables.Table1.First();
    inform(QStringLiteral("Участок «%1» восстановлен из копии от %2 как новый участок, опор: %3.")
               .arg(restored.name, BackupListModel::timeText(chosen->created))
               .arg(restored.supports));
}

void BackupsWindow::refuseWhileShared() const
{
    toolkit::messageDlg(QStringLiteral("Восстановить всё нельзя, пока база «%1» открыта в другой копии программы. "
                                       "Закройте другие копии и повторите.")
                            .arg(m_alias),
                        toolkit::MessageKind::Warning, toolkit::BoxButton::Ok);
}

void BackupsWindow::restoreAllClick()
{
    const std::optional<backup::BackupInfo> chosen = selected();
    if (!chosen)
        return;
    if (!store::ExclusiveAliasUse(m_alias).acquired()) {
        refuseWhileShared();
        return;
    }
    explained(kRestoreFailed, [&] {
        BusyCursor busy;
        backup::BackupReader(chosen->path).checkIntegrity();
    });
    const QString question = QStringLiteral("Заменить все участки и опоры копией от %1 (участков: %2, опор: %3)? "
                                            "Нынешнее состояние будет сохранено в новой резервной копии.")
                                 .arg(BackupListModel::timeText(chosen->created))
                                 .arg(chosen->sections)
                                 .arg(chosen->supports);
    if (toolkit::messageDlg(question, toolkit::MessageKind::Confirmation,
                            toolkit::BoxButton::Yes | toolkit::BoxButton::No)
        != toolkit::BoxButton::Yes)
        return;
    // Held from the backup of the present state to the end of the restore.
    const store::ExclusiveAliasUse exclusive(m_alias);
    if (!exclusive.acquired()) {
        refuseWhileShared();
        return;
    }
    if (!backupBefore(m_alias, backup::Reason{backup::Reason::Kind::Restore, {}}))
        return;

    const std::optional<qint64> section = m_tables.Table2.CurrentKey();
    backup::RestoredTables restored;
    {
        BusyCursor busy;
        // The window's cursors let go of the files, and read them anew
        // afterwards, whatever happened.
        m_tables.Table1.SetActive(false);
        m_tables.Table2.SetActive(false);
        try {
            explained(kRestoreFailed, [&] { restored = backup::restoreAll(m_alias, chosen->path); });
        } catch (...) {
            m_tables.open();
            throw;
        }
        m_tables.open();
        if (section)
            m_tables.Table2.Locate(*section);
    }
    refresh();
    inform(QStringLiteral("Восстановлено из копии от %1: участков %2, опор %3.")
               .arg(BackupListModel::timeText(chosen->created))
               .arg(restored.sections)
               .arg(restored.supports));
}

} // namespace backupui
