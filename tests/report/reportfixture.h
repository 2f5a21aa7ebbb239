#pragma once

#include "data/kortables.h"
#include "report/page.h"
#include "report/print.h"
#include "report/printseams.h"
#include "support/tempalias.h"

#include <QPrinter>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class PreviewWindow;
// A page file of pages holding only the smallest items (boxes, 37 bytes
// each in the file): the worst case for the loader's memory and time.
QByteArray smallestItemsPageFile(quint32 pages, quint32 itemsPerPage);

// One Support as a test writes it; an empty optional is a blank value.
struct SupportRow
{
    double km = 0;
    int number = 1;
    QString index;
    QString type;
    std::optional<double> resistance;
    std::optional<double> measured;
    std::optional<double> calculated;
    std::optional<double> current;
};

// The program's cursors over a store in a temporary alias, with the report
// form on them, as the main window holds them.
struct ReportFixture
{
    TempAlias home;
    std::unique_ptr<KorTables> db;
    std::unique_ptr<TQRListForm> form;

    ReportFixture();
    ~ReportFixture();

    void addSection(const QString &name);
    void addSupports(const std::vector<SupportRow> &rows);
    // n Supports numbered 1..n at 1 km spacing, currents below the limit.
    void addPlainSupports(int n);
};

// Printing goes to a PDF file instead of a printer; the print dialog is
// answered by the test.
class PdfPrintSystem : public report::PrintSystem
{
public:
    explicit PdfPrintSystem(const QString &path);
    ~PdfPrintSystem() override;
    std::unique_ptr<QPrinter> createPrinter() override;
    bool runPrintDialog(QPrinter &printer, int lastPage, QWidget *parent) override;

    QString path;
    bool noPrinter = false;
    // Answer of the print dialog: nullopt cancels; otherwise all pages
    // (from, to = 0) or the range.
    std::optional<std::pair<int, int>> dialogAnswer;
    int dialogLastPage = 0;
    int dialogCalls = 0;
    QPrinter::PrintRange dialogRangeShown = QPrinter::AllPages;

private:
    report::PrintSystem *m_previous;
};

// The file dialogs answered by the test: both return path; the save dialog
// reports saveFilter as chosen (the first filter when it is empty).
class ScriptedFiles : public report::FileDialogs
{
public:
    ScriptedFiles();
    ~ScriptedFiles() override;
    QString saveFileName(QWidget *, const QString &caption, const QString &filters, QString *selected) override;
    QString openFileName(QWidget *, const QString &caption, const QString &filters) override;

    QString path;
    QString saveFilter;
    QString lastFilters;
    QStringList captions;

private:
    report::FileDialogs *m_previous;
};

// The standard output of a tool; a failure of the current test when it fails.
QByteArray runTool(const QString &program, const QStringList &args);

// A word of pdftotext -bbox, positions in millimetres.
struct PdfWord
{
    int page;
    double xMin, yMin, xMax, yMax;
    QString text;
};
int pdfPageCount(const QString &path);
std::vector<PdfWord> pdfWords(const QString &path);
// The texts pdftohtml marks bold, per page (from its XML output).
struct PdfText
{
    int page;
    double top; // millimetres
    QString text;
    bool bold;
};
std::vector<PdfText> pdfTexts(const QString &path);
// The support number in the first column of each row of a page, with the top
// of its text, top to bottom.
std::vector<std::pair<QString, double>> firstColumn(const std::vector<PdfWord> &words, int page);

// Runs "Печать" and, once the pages are all made, the body with the open
// window; then closes it if the body did not. Returns when "Печать" returns;
// false when the body never ran.
bool withPreview(ReportFixture &f, const std::function<void(PreviewWindow &)> &body);

// The pages of one generation, collected without any window.
std::vector<report::ReportPage> generatePages(QuickRep &report);
