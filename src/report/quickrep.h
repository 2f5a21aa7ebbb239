#pragma once

#include "bandengine.h"
#include "elements.h"
#include "page.h"

#include <QObject>
#include <QPageLayout>
#include <QPointer>
#include <QPrinter>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class QPainter;
class QWidget;
class Table;
class PreviewWindow;

// The print settings of the report: they live in memory for the run and are
// changed only by the printer setup.
struct PrintSettings
{
    QString printerName; // empty: the system's default printer
    int copies = 1;
    QPageLayout::Orientation orientation = QPageLayout::Portrait;
    // The range starts as all pages: a report asked for is a report printed
    // whole, unless the user narrows it in the printer setup.
    bool allPages = true;
    int fromPage = 1;
    int toPage = 1;
    // The rest of the print dialog's choices, kept as the user made them.
    bool collate = true;
    QPrinter::PageOrder pageOrder = QPrinter::FirstPageFirst;
    QPrinter::ColorMode colorMode = QPrinter::Color;
    QPrinter::DuplexMode duplex = QPrinter::DuplexNone;
    QStringList jobOptions; // the print system's own (page set, job priority, ...)

    bool inRange(int page) const { return allPages || (page >= fromPage && page <= toPage); }
    friend bool operator==(const PrintSettings &, const PrintSettings &) = default;
};

// The report: A4 portrait, 12.7 mm margins all round, one column, the page
// header on page 1 too and the page footer on the last page too, a page even
// for an empty support view. It prints its data set's records directly, in
// the view's order, from wherever the view stands.
class QuickRep : public QObject
{
    Q_OBJECT
public:
    explicit QuickRep(Table &dataSet, QObject *parent = nullptr);
    ~QuickRep() override;

    void setBands(QRBand *pageHeader, QRBand *title, QRBand *columnHeader, QRBand *detail, QRBand *pageFooter);
    Table &DataSet() const { return m_dataSet; }

    PrintSettings &printSettings() { return m_settings; }
    const PrintSettings &printSettings() const { return m_settings; }

    // "Печать" after its title: opens the preview, generates the pages into
    // it while the program stays usable, and returns once the preview is
    // closed or the program is quitting. While a preview is open (or the
    // report is being generated) it brings the preview to the front and does
    // nothing else.
    void Preview();
    PreviewWindow *previewWindow() const;
    bool isGenerating() const { return m_generating; }

    struct Hooks
    {
        std::function<bool()> stop;           // asked before each row
        std::function<void(int)> progress;    // per cent, after each row
        bool processEvents = true;            // before starting, after each page, every 100 ms
    };
    // One pass over the data set from its first record: true when it ran to
    // the end, false when it was stopped. The date is taken once.
    bool generate(report::PageSink &sink, const Hooks &hooks);

    // The report generated again for the printer of the print settings; only
    // the pages inside the print range are sent, as one job once the run is
    // whole. A "Printing progress" window shows how far it is; its "Cancel"
    // ends the run before anything reaches the printer. True when the job
    // was sent whole.
    bool Print(QWidget *parent);
    // Pages already made (a loaded file), each scaled to the printer's page,
    // within the given range.
    bool printPages(const std::vector<report::ReportPage> &pages, const PrintSettings &range, QWidget *parent);
    // The system's print dialog over the print settings; confirming stores
    // the printer, copies, orientation and range; printing nothing.
    bool PrinterSetup(int lastPage, QWidget *parent);

signals:
    // The preview has just been opened, before any page is generated.
    void previewOpened(PreviewWindow *window);

private:
    QString textOf(QRPrintable *element, int pageNumber);
    void applySettings(QPrinter &printer) const;
    std::unique_ptr<QPrinter> preparedPrinter();

    Table &m_dataSet;
    QRBand *m_pageHeader = nullptr;
    QRBand *m_title = nullptr;
    QRBand *m_columnHeader = nullptr;
    QRBand *m_detail = nullptr;
    QRBand *m_pageFooter = nullptr;
    PrintSettings m_settings;
    QPointer<PreviewWindow> m_preview;
    bool m_generating = false;
    bool m_emptyRow = false;
    std::vector<std::pair<QRLabel *, QString>> m_captionsInUse; // those of the open preview
    QString m_dateText;
};
