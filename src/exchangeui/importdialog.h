#pragma once

#include "exchange/supportimport.h"

#include <QDialog>
#include <QList>

#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTableWidget;

namespace exchangeui {

// The Section the import dialog offers as its target, when there is one.
struct CurrentSection
{
    qint64 number = 0;
    QString name;
};

// The import dialog: what was detected in the file (encoding, field and
// decimal separators, headings), a preview of its first rows with a choice of
// field over each column, the target Section, and the options. "Импорт"
// checks every row of the file; with any problem it lists them here and
// writes nothing, otherwise the dialog is accepted with the checked rows.
class ImportDialog : public QDialog
{
    Q_OBJECT
public:
    ImportDialog(const QString &path, const exchange::CsvFormat &detected, std::optional<CurrentSection> current,
                 QWidget *parent = nullptr);
    ~ImportDialog() override;

    exchange::ImportSettings settings() const;
    exchange::ImportTarget target() const;
    bool calculateAfterwards() const;
    // The rows checked by "Импорт", once the dialog was accepted.
    const exchange::ImportPlan &plan() const { return m_plan; }

    // Checks the file with the choices made; accepts the dialog when no row has a problem.
    void ImportClick();

    QComboBox *encodingBox = nullptr;
    QComboBox *separatorBox = nullptr;
    QComboBox *decimalBox = nullptr;
    QCheckBox *headingsBox = nullptr;    // "Первая строка — заголовки"
    QTableWidget *preview = nullptr;     // row 0: the field choice of each column
    QList<QComboBox *> columnBoxes;
    QRadioButton *currentTarget = nullptr; // "текущий участок «…»"
    QRadioButton *newTarget = nullptr;     // "новый участок"
    QLineEdit *newName = nullptr;
    QCheckBox *replaceBox = nullptr;   // "заменить опоры участка"
    QCheckBox *calculateBox = nullptr; // "Расчитать после импорта"
    QLabel *problemsLabel = nullptr;
    QPlainTextEdit *problemsView = nullptr;
    QPushButton *importButton = nullptr;
    QPushButton *cancelButton = nullptr;

    static constexpr int kPreviewRows = 20;

private:
    exchange::CsvFormat format() const;
    void reloadPreview();
    void showProblems(const QString &text);

    QString m_path;
    exchange::ImportPlan m_plan;
};

} // namespace exchangeui
