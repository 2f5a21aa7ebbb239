#include "quickrep.h"

#include "data/regionalsettings.h"
#include "data/table.h"
#include "previewwindow.h"
#include "printprogress.h"
#include "printseams.h"
#include "data/errors.h"
#include "toolkit/dialogs.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLocale>
#include <QPainter>
#include <QPrintEngine>
#include <QPrinter>

#include <algorithm>

namespace {

const QString kNoPrinter = QStringLiteral(
    "No printer is installed, or the printer cannot be used. Install a printer, or choose one that works in the "
    "printer setup.");
const QString kPrinterWontStart = QStringLiteral(
    "The printer could not be started, so nothing was printed. Check that it is switched on and connected, or "
    "choose another one in the printer setup.");
const QString kPrinterStopped =
    QStringLiteral("The printer did not accept the next page; the print job was abandoned.");
const QString kPrinterUnfinished =
    QStringLiteral("The print job could not be finished; the report may not have been printed completely.");
const QString kNothingInRange = QStringLiteral(
    "No page of the report lies within the chosen print range, so nothing was printed. Choose the pages again in "
    "the printer setup.");
const QString kChosenPrinterGone = QStringLiteral(
    "The printer \"%1\" chosen in the printer setup is not available any more, so nothing was printed. Choose a "
    "printer in the printer setup.");

// The print engine property under which Qt's CUPS printer keeps the job
// options its print dialog sets (page set, job priority, banners, ...).
const auto kJobOptions = QPrintEngine::PrintEnginePropertyKey(0xfe00);

// Keeps the finished pages inside the print range, to be sent once the run is whole.
class RangeSink : public report::PageSink
{
public:
    explicit RangeSink(const PrintSettings &range) : m_range(range) {}
    void pageFinished(report::ReportPage &&page, int pageNumber) override
    {
        if (m_range.inRange(pageNumber))
            pages.push_back(std::move(page));
    }
    std::vector<report::ReportPage> pages;

private:
    PrintSettings m_range;
};

// Gives up a print job that was begun: the printer drops it; a PDF that was
// being written is removed, so no half report is left behind.
void abandon(QPainter &painter, QPrinter &printer)
{
    const bool aborted = printer.abort();
    if (painter.isActive())
        painter.end();
    if (!aborted && printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty())
        QFile::remove(printer.outputFileName());
}

// Sends the pages inside the range to the printer as one job, a sheet each,
// and tells the user when they could not all be sent. True when the job was
// handed over whole.
bool sendPages(QPrinter &printer, const std::vector<report::ReportPage> &pages, const PrintSettings &range)
{
    std::vector<const report::ReportPage *> chosen;
    for (std::size_t i = 0; i < pages.size(); ++i)
        if (range.inRange(int(i) + 1))
            chosen.push_back(&pages[i]);
    if (chosen.empty()) {
        toolkit::messageDlg(kNothingInRange, toolkit::MessageKind::Information, toolkit::BoxButton::Ok);
        return false;
    }
    // Qt leaves the page order to the program.
    if (printer.pageOrder() == QPrinter::LastPageFirst)
        std::reverse(chosen.begin(), chosen.end());
    QPainter painter;
    if (!painter.begin(&printer)) {
        toolkit::showErrorBox(kPrinterWontStart);
        return false;
    }
    const double pixelsPerMm = printer.resolution() / 25.4;
    const QSizeF paper = printer.paperRect(QPrinter::DevicePixel).size();
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        if (i > 0 && !printer.newPage()) {
            abandon(painter, printer);
            toolkit::showErrorBox(kPrinterStopped);
            return false;
        }
        report::renderPageFitted(painter, *chosen[i], paper, pixelsPerMm);
    }
    if (!painter.end()) {
        toolkit::showErrorBox(kPrinterUnfinished);
        return false;
    }
    return true;
}

// Sends a preview's pages into it, for as long as it is there and shows the
// report's own pages.
class PreviewSink : public report::PageSink
{
public:
    explicit PreviewSink(PreviewWindow *window) : m_window(window) {}
    void pageFinished(report::ReportPage &&page, int) override
    {
        if (m_window && !m_window->isLoaded())
            m_window->addPage(std::move(page));
    }

private:
    QPointer<PreviewWindow> m_window;
};

// Clears a flag however the scope is left.
class FlagScope
{
public:
    explicit FlagScope(bool &flag) : m_flag(flag) { m_flag = true; }
    ~FlagScope() { m_flag = false; }

private:
    bool &m_flag;
};

// How often a generation brings the windows that show its data set up to date.
constexpr qint64 kRefreshIntervalMs = 100;

// Passes the pages on and counts them.
class CountingSink : public report::PageSink
{
public:
    explicit CountingSink(report::PageSink &sink) : m_sink(sink) {}
    void pageFinished(report::ReportPage &&page, int pageNumber) override
    {
        m_sink.pageFinished(std::move(page), pageNumber);
        ++pages;
    }
    int pages = 0;

private:
    report::PageSink &m_sink;
};

// A data set's followers muted while held, told once when let go.
class ControlsMuted
{
public:
    explicit ControlsMuted(Table &table) : m_table(table) { hold(); }
    ~ControlsMuted() { release(); }
    ControlsMuted(const ControlsMuted &) = delete;
    ControlsMuted &operator=(const ControlsMuted &) = delete;

    void hold()
    {
        if (!m_held)
            m_table.DisableControls();
        m_held = true;
    }
    void release()
    {
        if (m_held)
            m_table.EnableControls();
        m_held = false;
    }

private:
    Table &m_table;
    bool m_held = false;
};

} // namespace

QuickRep::QuickRep(Table &dataSet, QObject *parent) : QObject(parent), m_dataSet(dataSet) {}

QuickRep::~QuickRep()
{
    delete m_preview.data();
}

void QuickRep::setBands(QRBand *pageHeader, QRBand *title, QRBand *columnHeader, QRBand *detail, QRBand *pageFooter)
{
    m_pageHeader = pageHeader;
    m_title = title;
    m_columnHeader = columnHeader;
    m_detail = detail;
    m_pageFooter = pageFooter;
}

QString QuickRep::textOf(QRPrintable *element, int pageNumber)
{
    switch (element->kind()) {
    case QRPrintable::Kind::Label:
        return static_cast<QRLabel *>(element)->Caption();
    case QRPrintable::Kind::SysData: {
        auto *sys = static_cast<QRSysData *>(element);
        if (sys->data() == QRSysData::Data::PageNumber)
            return sys->Text + QString::number(pageNumber);
        return sys->Text + m_dateText;
    }
    case QRPrintable::Kind::DBText: {
        auto *text = static_cast<QRDBText *>(element);
        if (m_emptyRow || !text->DataField)
            return QString();
        QString value;
        try {
            value = text->DataField->DisplayText();
            // The hook runs only for a text that will be seen.
            if (!value.isEmpty() && text->OnPrint)
                text->OnPrint(element, value);
        } catch (const SystemError &) {
            // A field that cannot be read or formatted prints nothing on this row.
            value.clear();
        }
        return value;
    }
    case QRPrintable::Kind::Shape:
        break;
    }
    return QString();
}

bool QuickRep::generate(report::PageSink &sink, const Hooks &hooks)
{
    FlagScope generating(m_generating);
    QString format = RegionalSettings::instance().shortDateFormat();
    if (format.isEmpty())
        format = QLocale::system().dateFormat(QLocale::ShortFormat);
    m_dateText = QLocale::system().toString(report::reportToday(), format);

    CountingSink counted(sink);
    report::BandEngine engine(counted, m_pageHeader, m_columnHeader, m_pageFooter,
                              [this](QRPrintable *e, int page) { return textOf(e, page); });
    auto stopped = [&] { return hooks.stop && hooks.stop(); };
    Table &t = m_dataSet;
    // Events are processed after each finished page (a few milliseconds of
    // rows: the preview shows it, a "Cancel" or a closed preview stops the
    // run at once), not before every row. The windows that follow the data
    // set (the main window's grid, the support editor's fields) are not told
    // of every row the walk passes: they are brought up to date every tenth
    // of a second, often enough to look alive and rarely enough to cost
    // little, and once more at the end.
    ControlsMuted muted(t);
    QElapsedTimer sinceRefresh;
    int pagesSeen = -1;
    auto pump = [&] {
        if (!hooks.processEvents)
            return;
        const bool refresh = !sinceRefresh.isValid() || sinceRefresh.elapsed() >= kRefreshIntervalMs;
        if (!refresh && counted.pages == pagesSeen)
            return;
        pagesSeen = counted.pages;
        if (refresh) {
            muted.release();
            sinceRefresh.start();
        }
        QCoreApplication::processEvents();
        muted.hold();
    };

    t.First();
    if (t.IsEmpty()) {
        // A page even for an empty view: the title and one row of empty boxes.
        engine.printBand(m_title);
        m_emptyRow = true;
        engine.printBand(m_detail);
        m_emptyRow = false;
        engine.finish();
        return true;
    }

    pump();
    if (stopped())
        return false;
    engine.printBand(m_title);
    engine.printBand(m_columnHeader);
    int done = 0;
    while (t.Active() && !t.Eof()) {
        pump();
        if (stopped())
            return false;
        // The user may have changed the Section or deleted Supports meanwhile:
        // generation goes on with the view as it is now, to its end.
        if (!t.Active() || t.Eof() || t.IsEmpty())
            break;
        engine.printBand(m_detail);
        t.Next();
        ++done;
        const int count = t.RecordCount();
        const int percent = count > 0 ? std::min(100, int(qint64(done) * 100 / count)) : 100;
        if (hooks.progress)
            hooks.progress(percent);
    }
    engine.finish();
    return true;
}

void QuickRep::Preview()
{
    QCoreApplication::processEvents();
    if (m_preview || m_generating) {
        // One preview at a time; a second "Печать" must not change the report
        // the open one stands for, not even the title it was given.
        for (auto &[label, caption] : m_captionsInUse)
            label->SetCaption(caption);
        if (m_preview && !m_preview->isClosing()) {
            m_preview->showMaximized();
            m_preview->raise();
            m_preview->activateWindow();
        }
        return;
    }

    m_captionsInUse.clear();
    for (QRBand *band : {m_pageHeader, m_title, m_columnHeader, m_detail, m_pageFooter})
        if (band)
            for (QRPrintable *e : band->elements())
                if (e->kind() == QRPrintable::Kind::Label)
                    m_captionsInUse.emplace_back(static_cast<QRLabel *>(e), static_cast<QRLabel *>(e)->Caption());

    auto *window = new PreviewWindow(this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    m_preview = window;
    window->setPrintRangeAtGeneration(m_settings);
    window->showMaximized();
    emit previewOpened(window);

    // Whatever way the command ends, the window does not outlive it.
    struct Closer
    {
        QPointer<PreviewWindow> &window;
        ~Closer()
        {
            if (window && !window->isBusy())
                delete window.data();
        }
    } closer{m_preview};

    PreviewSink sink(window);
    Hooks hooks;
    hooks.stop = [this] { return !m_preview || m_preview->stopRequested(); };
    hooks.progress = [this](int percent) {
        if (m_preview)
            m_preview->reportProgress(percent);
    };
    generate(sink, hooks);
    if (m_preview)
        m_preview->generationFinished();

    if (m_preview && !m_preview->isClosing()) {
        QEventLoop loop;
        connect(m_preview, &PreviewWindow::closed, &loop, &QEventLoop::quit);
        connect(m_preview, &QObject::destroyed, &loop, &QEventLoop::quit);
        // QCoreApplication::exit ends this loop as well: the program is quitting.
        loop.exec();
    }
}

void QuickRep::applySettings(QPrinter &printer) const
{
    if (!m_settings.printerName.isEmpty() && printer.outputFormat() == QPrinter::NativeFormat)
        printer.setPrinterName(m_settings.printerName);
    printer.setFullPage(true); // the painter's origin is the paper's corner
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageOrientation(m_settings.orientation);
    printer.setCopyCount(std::max(1, m_settings.copies));
    printer.setCollateCopies(m_settings.collate);
    printer.setPageOrder(m_settings.pageOrder);
    printer.setColorMode(m_settings.colorMode);
    printer.setDuplex(m_settings.duplex);
    printer.setPaperSource(QPrinter::Upper);
    printer.setDocName(QString());
    if (!m_settings.jobOptions.isEmpty())
        printer.printEngine()->setProperty(kJobOptions, m_settings.jobOptions);
}

// A printer with the print settings; nullptr, after the user was told why,
// when there is none or the one chosen in the printer setup has gone.
std::unique_ptr<QPrinter> QuickRep::preparedPrinter()
{
    std::unique_ptr<QPrinter> printer = report::printSystem().createPrinter();
    if (!printer) {
        toolkit::showErrorBox(kNoPrinter);
        return nullptr;
    }
    applySettings(*printer);
    // A printer name the print system no longer knows is kept silently, and
    // the job would go to some other printer.
    if (!m_settings.printerName.isEmpty() && printer->outputFormat() == QPrinter::NativeFormat
        && printer->printerName() != m_settings.printerName) {
        toolkit::showErrorBox(kChosenPrinterGone.arg(m_settings.printerName));
        return nullptr;
    }
    return printer;
}

bool QuickRep::Print(QWidget *parent)
{
    if (m_generating)
        return false;
    std::unique_ptr<QPrinter> printer = preparedPrinter();
    if (!printer)
        return false;

    // The pages are made first and handed to the printer only when the run
    // is whole: the print system takes a job once it is closed and cannot
    // take back part of one, so "Cancel" must come before anything is sent.
    RangeSink kept(m_settings);
    {
        PrintProgressDialog progress(parent);
        progress.show();
        progress.raise();
        Hooks hooks;
        hooks.stop = [&] { return progress.cancelled(); };
        hooks.progress = [&](int percent) { progress.setProgress(percent); };
        if (!generate(kept, hooks))
            return false;
    }
    return sendPages(*printer, kept.pages, PrintSettings());
}

bool QuickRep::printPages(const std::vector<report::ReportPage> &pages, const PrintSettings &range, QWidget *parent)
{
    Q_UNUSED(parent);
    std::unique_ptr<QPrinter> printer = preparedPrinter();
    return printer && sendPages(*printer, pages, range);
}

bool QuickRep::PrinterSetup(int lastPage, QWidget *parent)
{
    std::unique_ptr<QPrinter> printer = report::printSystem().createPrinter();
    if (!printer) {
        toolkit::showErrorBox(kNoPrinter);
        return false;
    }
    applySettings(*printer);
    lastPage = std::max(1, lastPage);
    printer->setPrintRange(m_settings.allPages ? QPrinter::AllPages : QPrinter::PageRange);
    if (!report::printSystem().runPrintDialog(*printer, lastPage, parent))
        return false;
    m_settings.printerName = printer->outputFormat() == QPrinter::NativeFormat ? printer->printerName() : QString();
    m_settings.copies = std::max(1, printer->copyCount());
    m_settings.orientation = printer->pageLayout().orientation();
    m_settings.collate = printer->collateCopies();
    m_settings.pageOrder = printer->pageOrder();
    m_settings.colorMode = printer->colorMode();
    m_settings.duplex = printer->duplex();
    m_settings.jobOptions = printer->printEngine()->property(kJobOptions).toStringList();
    if (printer->printRange() == QPrinter::PageRange) {
        m_settings.allPages = false;
        m_settings.fromPage = std::max(1, printer->fromPage());
        m_settings.toPage = std::max(m_settings.fromPage, printer->toPage());
    } else {
        m_settings.allPages = true;
    }
    return true;
}

PreviewWindow *QuickRep::previewWindow() const
{
    return m_preview.data();
}
