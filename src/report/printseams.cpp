#include "printseams.h"

#include <QFileDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>

namespace report {

PrintSystem::~PrintSystem() = default;

std::unique_ptr<QPrinter> PrintSystem::createPrinter()
{
    // Without any installed printer QPrinter quietly falls back to PDF
    // output with no file name, and printing would then do nothing at all.
    if (QPrinterInfo::availablePrinterNames().isEmpty())
        return nullptr;
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    if (printer->outputFormat() != QPrinter::NativeFormat || !printer->isValid())
        return nullptr;
    return printer;
}

bool PrintSystem::runPrintDialog(QPrinter &printer, int lastPage, QWidget *parent)
{
    QPrintDialog dialog(&printer, parent);
    dialog.setOptions(QAbstractPrintDialog::PrintPageRange | QAbstractPrintDialog::PrintCollateCopies
                      | QAbstractPrintDialog::PrintShowPageSize);
    dialog.setMinMax(1, lastPage);
    dialog.setFromTo(1, lastPage);
    return dialog.exec() == QDialog::Accepted;
}

FileDialogs::~FileDialogs() = default;

QString FileDialogs::saveFileName(QWidget *parent, const QString &caption, const QString &filters,
                                  QString *selectedFilter)
{
    return QFileDialog::getSaveFileName(parent, caption, QString(), filters, selectedFilter);
}

QString FileDialogs::openFileName(QWidget *parent, const QString &caption, const QString &filters)
{
    return QFileDialog::getOpenFileName(parent, caption, QString(), filters);
}

namespace {

PrintSystem *g_printSystem = nullptr;
FileDialogs *g_fileDialogs = nullptr;
std::optional<QDate> g_today;

} // namespace

PrintSystem &printSystem()
{
    static PrintSystem real;
    return g_printSystem ? *g_printSystem : real;
}

PrintSystem *installPrintSystem(PrintSystem *system)
{
    return std::exchange(g_printSystem, system);
}

FileDialogs &fileDialogs()
{
    static FileDialogs real;
    return g_fileDialogs ? *g_fileDialogs : real;
}

FileDialogs *installFileDialogs(FileDialogs *dialogs)
{
    return std::exchange(g_fileDialogs, dialogs);
}

QDate reportToday()
{
    return g_today ? *g_today : QDate::currentDate();
}

void setReportToday(std::optional<QDate> date)
{
    g_today = date;
}

} // namespace report
