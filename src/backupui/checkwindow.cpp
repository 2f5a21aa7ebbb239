#include "checkwindow.h"

#include "busycursor.h"
#include "commands.h"

#include "data/kortables.h"
#include "toolkit/dialogs.h"
#include "toolkit/guard.h"

#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace backupui {

namespace {

// Findings shown per file; SQLite stops at 100 itself.
constexpr int kShownFindings = 20;

} // namespace

QString describeCheck(const backup::DatabaseCheck &check)
{
    QStringList lines;
    for (const backup::DatabaseCheck::FileFindings &file : check.files) {
        if (file.problems.isEmpty()) {
            lines << QStringLiteral("%1: ошибок нет.").arg(file.file);
            continue;
        }
        lines << QStringLiteral("%1: найдено ошибок: %2").arg(file.file).arg(file.problems.size());
        for (const QString &problem : file.problems.mid(0, kShownFindings))
            lines << QStringLiteral("    ") + problem;
    }
    if (check.orphans == 0) {
        lines << QStringLiteral("Опор без участка нет.");
    } else {
        QStringList named;
        for (const QVariant &section : check.missingSections)
            named << (section.isValid() ? QStringLiteral("№%1").arg(section.toLongLong()) : QStringLiteral("пустой номер"));
        lines << QStringLiteral("Опор без участка: %1 (в поле Line: %2).").arg(check.orphans).arg(named.join(QStringLiteral(", ")));
        lines << QStringLiteral("Их можно собрать в новый участок «%1», чтобы увидеть и решить, что с ними делать.")
                     .arg(backup::kNoSectionName);
    }
    return lines.join(u'\n');
}

CheckWindow::CheckWindow(KorTables &tables, QWidget *parent)
    : QDialog(parent), m_tables(tables), m_alias(tables.Table1.DatabaseName())
{
    setObjectName(QStringLiteral("CheckWindow"));
    setWindowTitle(QStringLiteral("Проверка базы"));
    resize(560, 320);
    auto *layout = new QVBoxLayout(this);
    report = new QPlainTextEdit(this);
    report->setObjectName(QStringLiteral("report"));
    report->setReadOnly(true);
    layout->addWidget(report, 1);
    auto *buttons = new QHBoxLayout;
    gatherButton = new QPushButton(QStringLiteral("Собрать в участок «%1»").arg(backup::kNoSectionName), this);
    gatherButton->setObjectName(QStringLiteral("gatherButton"));
    gatherButton->setAutoDefault(false);
    gatherButton->setEnabled(false);
    closeButton = new QPushButton(QStringLiteral("Закрыть"), this);
    closeButton->setObjectName(QStringLiteral("closeButton"));
    buttons->addWidget(gatherButton);
    buttons->addStretch(1);
    buttons->addWidget(closeButton);
    layout->addLayout(buttons);
    toolkit::connectGuarded(gatherButton, &QPushButton::clicked, this, &CheckWindow::gatherClick);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::accept);
}

void CheckWindow::run()
{
    {
        BusyCursor busy;
        explained(QStringLiteral("Не удалось проверить базу: "), [&] { m_result = backup::checkDatabase(m_alias); });
    }
    report->setPlainText(describeCheck(m_result));
    gatherButton->setEnabled(m_result.orphans > 0);
}

void CheckWindow::gatherClick()
{
    backup::GatheredSupports gathered;
    {
        BusyCursor busy;
        explained(QStringLiteral("Не удалось собрать опоры: "), [&] { gathered = backup::gatherOrphans(m_alias); });
    }
    if (gathered.supports > 0) {
        m_tables.Table2.Locate(gathered.section);
        m_tables.Table1.First();
    }
    toolkit::messageDlg(QStringLiteral("Опор перенесено в участок «%1»: %2.").arg(backup::kNoSectionName).arg(gathered.supports),
                        toolkit::MessageKind::Information, toolkit::BoxButton::Ok);
    run();
}

} // namespace backupui
