#include "importdialog.h"

#include "progresswindow.h"

#include "exchange/sections.h"
#include "toolkit/guard.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QVBoxLayout>

using exchange::Column;
using exchange::CsvFormat;
using exchange::Encoding;

namespace exchangeui {

namespace {

template <typename T>
void selectData(QComboBox *box, T value)
{
    const int i = box->findData(QVariant::fromValue(value));
    if (i >= 0)
        box->setCurrentIndex(i);
}

QLabel *label(const QString &text, QWidget *parent)
{
    return new QLabel(text, parent);
}

} // namespace

ImportDialog::ImportDialog(const QString &path, const CsvFormat &detected, std::optional<CurrentSection> current,
                           QWidget *parent)
    : QDialog(parent), m_path(path)
{
    setObjectName(QStringLiteral("ImportDialog"));
    setWindowTitle(QStringLiteral("Импорт опор"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label(QStringLiteral("Файл: %1").arg(QDir::toNativeSeparators(path)), this));

    auto *formatRow = new QGridLayout;
    encodingBox = new QComboBox(this);
    encodingBox->setObjectName(QStringLiteral("encodingBox"));
    for (Encoding e : {Encoding::Utf8, Encoding::Utf8Bom, Encoding::Windows1251, Encoding::Utf16})
        encodingBox->addItem(exchange::encodingName(e), int(e));
    separatorBox = new QComboBox(this);
    separatorBox->setObjectName(QStringLiteral("separatorBox"));
    for (char s : {';', ',', '\t'})
        separatorBox->addItem(exchange::separatorName(s), int(s));
    decimalBox = new QComboBox(this);
    decimalBox->setObjectName(QStringLiteral("decimalBox"));
    decimalBox->addItem(QStringLiteral(","), int(','));
    decimalBox->addItem(QStringLiteral("."), int('.'));
    headingsBox = new QCheckBox(QStringLiteral("Первая строка — заголовки"), this);
    headingsBox->setObjectName(QStringLiteral("headingsBox"));
    formatRow->addWidget(label(QStringLiteral("Кодировка:"), this), 0, 0);
    formatRow->addWidget(encodingBox, 0, 1);
    formatRow->addWidget(label(QStringLiteral("Разделитель полей:"), this), 0, 2);
    formatRow->addWidget(separatorBox, 0, 3);
    formatRow->addWidget(label(QStringLiteral("Десятичный разделитель:"), this), 0, 4);
    formatRow->addWidget(decimalBox, 0, 5);
    formatRow->addWidget(headingsBox, 1, 0, 1, 6);
    layout->addLayout(formatRow);

    preview = new QTableWidget(this);
    preview->setObjectName(QStringLiteral("preview"));
    preview->setEditTriggers(QAbstractItemView::NoEditTriggers);
    preview->setMinimumSize(640, 260);
    layout->addWidget(preview, 1);

    auto *targetBox = new QGroupBox(QStringLiteral("Куда импортировать"), this);
    auto *targetLayout = new QGridLayout(targetBox);
    currentTarget = new QRadioButton(
        current ? QStringLiteral("текущий участок «%1»").arg(current->name) : QStringLiteral("текущий участок"),
        targetBox);
    currentTarget->setObjectName(QStringLiteral("currentTarget"));
    newTarget = new QRadioButton(QStringLiteral("новый участок:"), targetBox);
    newTarget->setObjectName(QStringLiteral("newTarget"));
    newName = new QLineEdit(targetBox);
    newName->setObjectName(QStringLiteral("newName"));
    newName->setMaxLength(20);
    newName->setText(exchange::cutToSize(QFileInfo(path).completeBaseName(), 20));
    replaceBox = new QCheckBox(QStringLiteral("заменить опоры участка"), targetBox);
    replaceBox->setObjectName(QStringLiteral("replaceBox"));
    targetLayout->addWidget(currentTarget, 0, 0, 1, 2);
    targetLayout->addWidget(newTarget, 1, 0);
    targetLayout->addWidget(newName, 1, 1);
    targetLayout->addWidget(replaceBox, 2, 0, 1, 2);
    layout->addWidget(targetBox);
    if (current) {
        currentTarget->setChecked(true);
        currentTarget->setProperty("section", current->number);
    } else {
        currentTarget->setEnabled(false);
        newTarget->setChecked(true);
    }
    const auto targetChanged = [this] {
        newName->setEnabled(newTarget->isChecked());
        // A new Section has no Supports to replace.
        replaceBox->setEnabled(currentTarget->isChecked());
    };
    connect(newTarget, &QRadioButton::toggled, this, targetChanged);
    targetChanged();

    calculateBox = new QCheckBox(QStringLiteral("Расчитать после импорта"), this);
    calculateBox->setObjectName(QStringLiteral("calculateBox"));
    calculateBox->setChecked(true);
    layout->addWidget(calculateBox);

    problemsLabel = new QLabel(this);
    problemsLabel->setObjectName(QStringLiteral("problemsLabel"));
    problemsLabel->setWordWrap(true);
    problemsView = new QPlainTextEdit(this);
    problemsView->setObjectName(QStringLiteral("problemsView"));
    problemsView->setReadOnly(true);
    problemsView->setMaximumHeight(140);
    problemsLabel->hide();
    problemsView->hide();
    layout->addWidget(problemsLabel);
    layout->addWidget(problemsView);

    auto *buttons = new QDialogButtonBox(this);
    importButton = buttons->addButton(QStringLiteral("Импорт"), QDialogButtonBox::AcceptRole);
    importButton->setObjectName(QStringLiteral("importButton"));
    cancelButton = buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    importButton->setDefault(true);
    layout->addWidget(buttons);
    toolkit::connectGuarded(importButton, &QPushButton::clicked, this, &ImportDialog::ImportClick);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    selectData(encodingBox, int(detected.encoding));
    selectData(separatorBox, int(detected.separator));
    selectData(decimalBox, int(detected.decimal.unicode()));
    headingsBox->setChecked(detected.headings);
    reloadPreview();
    const auto reload = [this] { toolkit::runGuarded([this] { reloadPreview(); }); };
    connect(encodingBox, &QComboBox::currentIndexChanged, this, reload);
    connect(separatorBox, &QComboBox::currentIndexChanged, this, reload);
    connect(headingsBox, &QCheckBox::toggled, this, reload);
}

ImportDialog::~ImportDialog() = default;

CsvFormat ImportDialog::format() const
{
    CsvFormat f;
    f.encoding = Encoding(encodingBox->currentData().toInt());
    f.separator = char(separatorBox->currentData().toInt());
    f.decimal = QChar(decimalBox->currentData().toInt());
    f.headings = headingsBox->isChecked();
    return f;
}

exchange::ImportSettings ImportDialog::settings() const
{
    exchange::ImportSettings s;
    s.format = format();
    for (QComboBox *box : columnBoxes)
        s.columns.append(Column(box->currentData().toInt()));
    return s;
}

exchange::ImportTarget ImportDialog::target() const
{
    exchange::ImportTarget t;
    if (currentTarget->isChecked())
        t.section = currentTarget->property("section").toLongLong();
    else
        t.newSectionName = newName->text();
    t.replace = currentTarget->isChecked() && replaceBox->isChecked();
    return t;
}

bool ImportDialog::calculateAfterwards() const
{
    return calculateBox->isChecked();
}

void ImportDialog::showProblems(const QString &text)
{
    problemsLabel->setVisible(!text.isEmpty());
    problemsView->setVisible(!text.isEmpty());
    problemsView->setPlainText(text);
}

void ImportDialog::reloadPreview()
{
    preview->clear();
    preview->setRowCount(0);
    preview->setColumnCount(0);
    columnBoxes.clear();
    showProblems(QString());
    const CsvFormat f = format();
    exchange::CsvPreview p;
    try {
        p = exchange::readPreview(m_path, f, kPreviewRows);
    } catch (const exchange::ExchangeError &e) {
        problemsLabel->setText(QStringLiteral("Файл не читается с этими настройками:"));
        showProblems(e.message());
        return;
    }
    const QVector<Column> mapping = exchange::defaultMapping(p, f.headings);
    preview->setColumnCount(p.columns);
    preview->setRowCount(1 + int(p.rows.size()));
    QStringList headers;
    for (int c = 0; c < p.columns; ++c)
        headers << (f.headings && c < p.headings.size() ? p.headings[c] : QStringLiteral("Столбец %1").arg(c + 1));
    preview->setHorizontalHeaderLabels(headers);
    QStringList rowLabels{QStringLiteral("Поле")};
    for (int r = 0; r < p.rows.size(); ++r)
        rowLabels << QString::number(r + 1);
    preview->setVerticalHeaderLabels(rowLabels);
    for (int c = 0; c < p.columns; ++c) {
        auto *box = new QComboBox(preview);
        box->setObjectName(QStringLiteral("column%1").arg(c + 1));
        box->addItem(exchange::columnCaption(Column::Skip), int(Column::Skip));
        for (Column column : exchange::gridColumns())
            box->addItem(exchange::columnCaption(column), int(column));
        selectData(box, int(mapping[c]));
        preview->setCellWidget(0, c, box);
        columnBoxes.append(box);
        for (int r = 0; r < p.rows.size(); ++r)
            if (c < p.rows[r].size())
                preview->setItem(r + 1, c, new QTableWidgetItem(p.rows[r][c]));
    }
    preview->resizeColumnsToContents();
}

void ImportDialog::ImportClick()
{
    showProblems(QString());
    ProgressWindow progress(this, QStringLiteral("Проверка файла..."));
    exchange::ImportPlan plan = exchange::checkImport(m_path, settings(), progress.progress());
    if (!plan.ok()) {
        problemsLabel->setText(QStringLiteral("Ничего не записано: %1. Исправьте файл или выбор столбцов.")
                                   .arg(exchange::countText(plan.problemCount, QStringLiteral("ошибка"),
                                                            QStringLiteral("ошибки"), QStringLiteral("ошибок"))));
        showProblems(plan.problemReport());
        return;
    }
    m_plan = std::move(plan);
    accept();
}

} // namespace exchangeui
