#pragma once

#include "filechooser.h"

#include <QFileDialog>

class QRadioButton;

namespace exchangeui {

// The export's save dialog: Qt's own file dialog with the three file types
// and, under them, the choice between the current Section (what the support
// grid shows) and every Section. The file name takes the type's extension.
class ExportFileDialog : public QFileDialog
{
    Q_OBJECT
public:
    explicit ExportFileDialog(QWidget *parent = nullptr, const QString &suggestedName = QString());

    static QString xlsxFilter();         // "Книга Excel (*.xlsx)"
    static QString semicolonCsvFilter(); // "CSV, разделитель «;» (*.csv)"
    static QString commaCsvFilter();     // "CSV, разделитель «,» (*.csv)"

    // The choice once the dialog was accepted.
    ExportChoice choice() const;

    QRadioButton *currentSection = nullptr; // "текущий участок"
    QRadioButton *allSections = nullptr;    // "все участки"

private:
    void filterChosen(const QString &filter);
};

} // namespace exchangeui
