#pragma once

#include <QDate>
#include <QString>

#include <memory>
#include <optional>

class QPrinter;
class QWidget;

// The report's ways out to the system: the printer, the system's print
// dialog, the file dialogs and today's date. The program uses the real ones;
// tests install their own so that nothing waits for a user or a printer.
namespace report {

class PrintSystem
{
public:
    virtual ~PrintSystem();
    // A printer for one print run or one printer setup; nullptr when the
    // system has no printer that can be used. Only called when one is needed:
    // making a printer asks the print system, which may take its time.
    virtual std::unique_ptr<QPrinter> createPrinter();
    // The system's print dialog on the printer: the page range from 1 to
    // lastPage, the selection disabled, print to file hidden. True when the
    // user confirmed it; the printer then holds the choices.
    virtual bool runPrintDialog(QPrinter &printer, int lastPage, QWidget *parent);
};

class FileDialogs
{
public:
    virtual ~FileDialogs();
    // An empty name: the user cancelled. selectedFilter receives the filter chosen.
    virtual QString saveFileName(QWidget *parent, const QString &caption, const QString &filters,
                                 QString *selectedFilter);
    virtual QString openFileName(QWidget *parent, const QString &caption, const QString &filters);
};

// The installed seams (the real ones when none is installed). install...
// returns the one installed before; nullptr restores the real one.
PrintSystem &printSystem();
PrintSystem *installPrintSystem(PrintSystem *system);
FileDialogs &fileDialogs();
FileDialogs *installFileDialogs(FileDialogs *dialogs);

// The date the report prints: the system's, unless a test has set one.
QDate reportToday();
void setReportToday(std::optional<QDate> date);

} // namespace report
