#include "exportfiledialog.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>

namespace exchangeui {

QString ExportFileDialog::xlsxFilter()
{
    return QStringLiteral("Книга Excel (*.xlsx)");
}

QString ExportFileDialog::semicolonCsvFilter()
{
    return QStringLiteral("CSV, разделитель «;» (*.csv)");
}

QString ExportFileDialog::commaCsvFilter()
{
    return QStringLiteral("CSV, разделитель «,» (*.csv)");
}

ExportFileDialog::ExportFileDialog(QWidget *parent, const QString &suggestedName) : QFileDialog(parent)
{
    setObjectName(QStringLiteral("ExportFileDialog"));
    setWindowTitle(QStringLiteral("Экспорт"));
    // Qt's own dialog, so that the choice of Sections can stand in it.
    setOption(QFileDialog::DontUseNativeDialog);
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    setNameFilters({xlsxFilter(), semicolonCsvFilter(), commaCsvFilter()});
    selectNameFilter(xlsxFilter());
    setDefaultSuffix(QStringLiteral("xlsx"));
    if (!suggestedName.isEmpty())
        selectFile(suggestedName + QStringLiteral(".xlsx"));

    auto *scope = new QWidget(this);
    auto *row = new QHBoxLayout(scope);
    row->setContentsMargins(0, 0, 0, 0);
    currentSection = new QRadioButton(QStringLiteral("текущий участок"), scope);
    currentSection->setObjectName(QStringLiteral("currentSection"));
    allSections = new QRadioButton(QStringLiteral("все участки"), scope);
    allSections->setObjectName(QStringLiteral("allSections"));
    currentSection->setChecked(true);
    auto *group = new QButtonGroup(scope);
    group->addButton(currentSection);
    group->addButton(allSections);
    row->addWidget(currentSection);
    row->addWidget(allSections);
    row->addStretch(1);
    // Qt's own dialog lays itself out on a grid: the choice takes a row under the file types.
    if (auto *grid = qobject_cast<QGridLayout *>(layout())) {
        const int r = grid->rowCount();
        grid->addWidget(new QLabel(QStringLiteral("Экспортировать:"), this), r, 0);
        grid->addWidget(scope, r, 1, 1, grid->columnCount() - 1);
    }
    connect(this, &QFileDialog::filterSelected, this, &ExportFileDialog::filterChosen);
}

void ExportFileDialog::filterChosen(const QString &filter)
{
    const QString suffix = filter == xlsxFilter() ? QStringLiteral("xlsx") : QStringLiteral("csv");
    setDefaultSuffix(suffix);
}

ExportChoice ExportFileDialog::choice() const
{
    ExportChoice c;
    const QStringList files = selectedFiles();
    c.path = files.isEmpty() ? QString() : files.first();
    const QString filter = selectedNameFilter();
    c.format = filter == commaCsvFilter()       ? exchange::ExportFormat::CsvComma
               : filter == semicolonCsvFilter() ? exchange::ExportFormat::CsvSemicolon
                                                : exchange::ExportFormat::Xlsx;
    c.allSections = allSections->isChecked();
    return c;
}

} // namespace exchangeui
