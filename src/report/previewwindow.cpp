#include "previewwindow.h"

#include "pagefile.h"
#include "printseams.h"
#include "toolkit/dialogs.h"
#include "toolkit/guard.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QFileInfo>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>

#include <cmath>

namespace {

const QString kPageFileFilter = QStringLiteral("Korozia report pages (*.krp)");
const QString kPdfFilter = QStringLiteral("PDF documents (*.pdf)");

// The tool bar's images, drawn here so the window needs no image files.
QIcon toolIcon(const QString &name)
{
    QPixmap pixmap(20, 20);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QPen pen(Qt::black, 1.4);
    p.setPen(pen);
    auto pageShape = [&](const QRectF &r) {
        p.setBrush(Qt::white);
        p.drawRect(r);
    };
    auto triangle = [&](bool left, double x) {
        QPainterPath path;
        if (left) {
            path.moveTo(x + 6, 4);
            path.lineTo(x, 10);
            path.lineTo(x + 6, 16);
        } else {
            path.moveTo(x, 4);
            path.lineTo(x + 6, 10);
            path.lineTo(x, 16);
        }
        path.closeSubpath();
        p.setBrush(Qt::darkBlue);
        p.drawPath(path);
    };
    if (name == u"ZoomFit" || name == u"Zoom100" || name == u"ZoomToWidth") {
        if (name == u"ZoomFit")
            pageShape(QRectF(5, 2, 10, 15));
        else if (name == u"ZoomToWidth")
            pageShape(QRectF(1, 5, 18, 12));
        else {
            QFont f = p.font();
            f.setPixelSize(9);
            f.setBold(true);
            p.setFont(f);
            p.drawText(QRectF(0, 0, 20, 20), Qt::AlignCenter, QStringLiteral("1:1"));
        }
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(9, 9, 7, 7));
        p.drawLine(QPointF(15, 15), QPointF(19, 19));
    } else if (name == u"FirstPage") {
        p.drawLine(QPointF(4, 4), QPointF(4, 16));
        triangle(true, 6);
    } else if (name == u"PreviousPage") {
        triangle(true, 7);
    } else if (name == u"ToolButton2") {
        triangle(false, 7);
    } else if (name == u"LastPage") {
        triangle(false, 8);
        p.drawLine(QPointF(16, 4), QPointF(16, 16));
    } else if (name == u"PrintSetup" || name == u"Print") {
        pageShape(QRectF(5, 2, 10, 6));
        p.setBrush(Qt::lightGray);
        p.drawRect(QRectF(2, 8, 16, 7));
        pageShape(QRectF(5, 13, 10, 5));
        if (name == u"PrintSetup") {
            p.setBrush(Qt::darkGreen);
            p.drawEllipse(QRectF(12, 10, 6, 6));
        }
    } else if (name == u"SaveReport") {
        p.setBrush(Qt::darkBlue);
        p.drawRect(QRectF(3, 3, 14, 14));
        pageShape(QRectF(6, 3, 8, 6));
    } else if (name == u"LoadReport") {
        p.setBrush(QColor(230, 200, 90));
        p.drawRect(QRectF(2, 6, 16, 11));
        p.drawRect(QRectF(2, 4, 7, 2));
    }
    return QIcon(pixmap);
}

} // namespace

// The page area's content: the page shown, white, at the zoom, with its
// outline and its shadow.
class PageView : public QWidget
{
public:
    explicit PageView(PreviewWindow *window) : QWidget(nullptr), m_window(window) {}

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        const QSize image = m_window->imageSize();
        const int w = image.width() - 4;
        const int h = image.height() - 4;
        p.fillRect(QRect(0, 0, w, h), Qt::white);
        p.fillRect(QRect(w, 2, 2, h), Qt::black); // the shadow along the right edge
        p.fillRect(QRect(2, h, w, 2), Qt::black); // and along the bottom
        if (const report::ReportPage *page = m_window->shownPage()) {
            p.setRenderHint(QPainter::TextAntialiasing);
            report::renderPage(p, *page, page->paper.width() > 0 ? w / page->paper.width() : 1.0);
        }
        p.setPen(QPen(Qt::black, 0));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRect(0, 0, w - 1, h - 1));
    }

private:
    PreviewWindow *m_window;
};

PreviewWindow::PreviewWindow(QuickRep *report, QWidget *parent) : QMainWindow(parent), m_report(report)
{
    setObjectName(QStringLiteral("PreviewWindow"));
    setWindowTitle(QStringLiteral("Print Preview"));

    m_toolBar = addToolBar(QStringLiteral("Tools"));
    m_toolBar->setObjectName(QStringLiteral("ToolBar1"));
    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);
    m_toolBar->setContextMenuPolicy(Qt::PreventContextMenu);
    m_toolBar->toggleViewAction()->setVisible(false);

    auto makeAction = [&](const QString &name, const QString &hint, void (PreviewWindow::*handler)()) {
        auto *action = new QAction(toolIcon(name), hint, this);
        action->setObjectName(name);
        // The hint is a tooltip only: the status bar keeps its two panels.
        action->setToolTip(hint);
        m_toolBar->addAction(action);
        toolkit::connectGuarded(action, &QAction::triggered, this, handler);
        return action;
    };
    ZoomFit = makeAction(QStringLiteral("ZoomFit"), QStringLiteral("Zoom to fit"), &PreviewWindow::ZoomFitClick);
    Zoom100 = makeAction(QStringLiteral("Zoom100"), QStringLiteral("100%"), &PreviewWindow::Zoom100Click);
    ZoomToWidth =
        makeAction(QStringLiteral("ZoomToWidth"), QStringLiteral("Zoom to width"), &PreviewWindow::ZoomToWidthClick);
    auto *zooms = new QActionGroup(this);
    zooms->setExclusive(true);
    for (QAction *a : {ZoomFit, Zoom100, ZoomToWidth}) {
        a->setCheckable(true);
        zooms->addAction(a);
    }
    ZoomToWidth->setChecked(true);
    m_toolBar->addSeparator();
    FirstPage = makeAction(QStringLiteral("FirstPage"), QStringLiteral("First page"), &PreviewWindow::FirstPageClick);
    PreviousPage = makeAction(QStringLiteral("PreviousPage"), QStringLiteral("Previous page"),
                              &PreviewWindow::PreviousPageClick);
    ToolButton2 = makeAction(QStringLiteral("ToolButton2"), QStringLiteral("Next page"), &PreviewWindow::ToolButton2Click);
    LastPage = makeAction(QStringLiteral("LastPage"), QStringLiteral("Last page"), &PreviewWindow::LastPageClick);
    m_toolBar->addSeparator();
    PrintSetup = makeAction(QStringLiteral("PrintSetup"), QStringLiteral("Printer setup"), &PreviewWindow::PrintSetupClick);
    Print = makeAction(QStringLiteral("Print"), QStringLiteral("Print"), &PreviewWindow::PrintClick);
    PrintSetup->setEnabled(false);
    Print->setEnabled(false);
    m_toolBar->addSeparator();
    SaveReport = makeAction(QStringLiteral("SaveReport"), QStringLiteral("Save Report"), &PreviewWindow::SaveReportClick);
    LoadReport = makeAction(QStringLiteral("LoadReport"), QStringLiteral("Load Report"), &PreviewWindow::LoadReportClick);
    m_toolBar->addSeparator();
    ExitButton = new QAction(QStringLiteral("&Close"), this);
    ExitButton->setObjectName(QStringLiteral("ExitButton"));
    // A tool button shows the icon text, whose "&" is kept only when it is set
    // explicitly: the underlined C and Alt+C.
    ExitButton->setIconText(ExitButton->text());
    m_toolBar->addAction(ExitButton);
    if (auto *button = qobject_cast<QToolButton *>(m_toolBar->widgetForAction(ExitButton)))
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    toolkit::connectGuarded(ExitButton, &QAction::triggered, this, &PreviewWindow::ExitButtonClick);

    m_area = new QScrollArea(this);
    m_area->setObjectName(QStringLiteral("PageArea"));
    m_area->setAlignment(Qt::AlignCenter);
    m_area->setWidgetResizable(false);
    m_area->setBackgroundRole(QPalette::Dark);
    m_view = new PageView(this);
    m_area->setWidget(m_view);
    m_area->installEventFilter(this);
    setCentralWidget(m_area);

    m_progressPanel = new QLabel(QStringLiteral("0%"), this);
    m_progressPanel->setObjectName(QStringLiteral("ProgressPanel"));
    m_progressPanel->setFixedWidth(40);
    m_progressPanel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_pageInfoPanel = new QLabel(QStringLiteral("Page"), this);
    m_pageInfoPanel->setObjectName(QStringLiteral("PageInfoPanel"));
    statusBar()->addWidget(m_progressPanel);
    statusBar()->addWidget(m_pageInfoPanel, 1);
    statusBar()->setSizeGripEnabled(false);

    auto key = [&](QKeySequence sequence, void (PreviewWindow::*handler)()) {
        auto *shortcut = new QShortcut(sequence, this);
        shortcut->setContext(Qt::WindowShortcut);
        toolkit::connectGuarded(shortcut, &QShortcut::activated, this, handler);
    };
    key(QKeySequence(Qt::Key_Escape), &PreviewWindow::ExitButtonClick);
    key(QKeySequence(Qt::Key_PageUp), &PreviewWindow::PreviousPageClick);
    key(QKeySequence(Qt::CTRL | Qt::Key_PageUp), &PreviewWindow::FirstPageClick);
    key(QKeySequence(Qt::Key_PageDown), &PreviewWindow::ToolButton2Click);
    key(QKeySequence(Qt::CTRL | Qt::Key_PageDown), &PreviewWindow::LastPageClick);
    key(QKeySequence(Qt::Key_Home), &PreviewWindow::FirstPageClick);
    key(QKeySequence(Qt::Key_End), &PreviewWindow::LastPageClick);

    updateImage();
}

PreviewWindow::~PreviewWindow() = default;

namespace {

QByteArray pack(report::ReportPage &&page)
{
    std::vector<report::ReportPage> one;
    one.push_back(std::move(page));
    QByteArray packed = qCompress(report::encodePages(one), 1);
    packed.squeeze(); // the compressor leaves room for the worst case
    return packed;
}

report::ReportPage unpack(const QByteArray &packed)
{
    report::DecodedPages decoded = report::decodePages(qUncompress(packed));
    // Packed here from a page in memory: it always reads back.
    return decoded.pages.empty() ? report::ReportPage() : std::move(decoded.pages.front());
}

} // namespace

const report::ReportPage *PreviewWindow::shownPage() const
{
    if (m_currentPage < 1 || m_currentPage > pageCount())
        return nullptr;
    if (m_unpackedNumber != m_currentPage) {
        m_unpacked = unpack(m_packed[std::size_t(m_currentPage - 1)]);
        m_unpackedNumber = m_currentPage;
    }
    return &m_unpacked;
}

std::vector<report::ReportPage> PreviewWindow::pages() const
{
    std::vector<report::ReportPage> result;
    result.reserve(m_packed.size());
    for (const QByteArray &packed : m_packed)
        result.push_back(unpack(packed));
    return result;
}

qsizetype PreviewWindow::packedBytes() const
{
    qsizetype bytes = 0;
    for (const QByteArray &packed : m_packed)
        bytes += packed.capacity() + qsizetype(sizeof(QByteArray));
    return bytes;
}

void PreviewWindow::setPages(const std::vector<report::ReportPage> &pages)
{
    m_packed.clear();
    for (report::ReportPage page : pages)
        m_packed.push_back(pack(std::move(page)));
    m_unpackedNumber = 0;
}

QSize PreviewWindow::pagePixels() const
{
    const report::ReportPage *page = shownPage();
    const QSizeF paper = page ? page->paper : QSizeF(210.0, 297.0);
    return QSize(int(std::lround(paper.width() / 25.4 * logicalDpiX())),
                 int(std::lround(paper.height() / 25.4 * logicalDpiY())));
}

QSize PreviewWindow::imageSize() const
{
    const QSize page = pagePixels();
    return QSize(int(std::lround(page.width() * m_zoom / 100.0)) + 4,
                 int(std::lround(page.height() * m_zoom / 100.0)) + 4);
}

QString PreviewWindow::progressText() const
{
    return m_progressPanel->text();
}

QString PreviewWindow::pageInfoText() const
{
    return m_pageInfoPanel->text();
}

void PreviewWindow::resetScroll()
{
    m_area->horizontalScrollBar()->setValue(0);
    m_area->verticalScrollBar()->setValue(0);
}

void PreviewWindow::updateImage()
{
    m_view->resize(imageSize());
    m_view->update();
}

bool PreviewWindow::setZoom(int percent)
{
    if (percent < 2 || percent > 2000)
        return false;
    m_zoom = percent;
    updateImage();
    resetScroll();
    return true;
}

void PreviewWindow::setMode(ZoomMode mode)
{
    m_mode = mode;
    ZoomFit->setChecked(mode == ZoomMode::Fit);
    Zoom100->setChecked(mode == ZoomMode::Percent);
    ZoomToWidth->setChecked(mode == ZoomMode::Width);
    applyMode();
}

void PreviewWindow::applyMode()
{
    const QSize area = m_area->maximumViewportSize();
    const QSize page = pagePixels();
    if (page.width() <= 0 || page.height() <= 0)
        return;
    switch (m_mode) {
    case ZoomMode::Fit:
        setZoom(std::min(int(std::lround(double(area.width()) / page.width() * 95)),
                         int(std::lround(double(area.height()) / page.height() * 95))));
        break;
    case ZoomMode::Width:
        setZoom(int(std::lround(double(area.width()) / page.width() * 90)));
        break;
    case ZoomMode::Percent:
        setZoom(100);
        break;
    }
}

bool PreviewWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_area && event->type() == QEvent::Resize && m_mode != ZoomMode::Percent)
        applyMode();
    return QMainWindow::eventFilter(watched, event);
}

void PreviewWindow::renewPageInfo()
{
    if (m_packed.empty())
        m_pageInfoPanel->setText(QStringLiteral("Page"));
    else
        m_pageInfoPanel->setText(QStringLiteral("Page %1 of %2").arg(m_currentPage).arg(pageCount()));
}

void PreviewWindow::showPage(int page)
{
    if (page >= 1 && page <= pageCount() && page != m_currentPage) {
        const QSize before = pagePixels();
        m_currentPage = page;
        if (pagePixels() != before && m_mode != ZoomMode::Percent)
            applyMode();
        updateImage();
        resetScroll();
    }
    renewPageInfo();
}

void PreviewWindow::addPage(report::ReportPage &&page)
{
    m_packed.push_back(pack(std::move(page)));
    if (!m_shown && pageCount() >= m_currentPage) {
        // The page shown has just become available: show it at zoom to width.
        m_shown = true;
        setMode(ZoomMode::Width);
        updateImage();
    }
    renewPageInfo();
    emit pageAdded(pageCount());
}

void PreviewWindow::reportProgress(int percent)
{
    if (percent == 0 || percent == 100) {
        m_progressPanel->clear();
        m_lastProgress = percent;
    } else if (percent >= m_lastProgress + 5) {
        m_progressPanel->setText(QString::number(percent) + u'%');
        m_lastProgress = percent;
    }
}

void PreviewWindow::generationFinished()
{
    if (m_loaded)
        return; // the loaded file's state stands
    m_finished = true;
    PrintSetup->setEnabled(true);
    Print->setEnabled(true);
    emit finished();
}

void PreviewWindow::ZoomFitClick()
{
    setMode(ZoomMode::Fit);
}

void PreviewWindow::Zoom100Click()
{
    setMode(ZoomMode::Percent);
}

void PreviewWindow::ZoomToWidthClick()
{
    setMode(ZoomMode::Width);
}

void PreviewWindow::FirstPageClick()
{
    showPage(1);
}

void PreviewWindow::PreviousPageClick()
{
    showPage(m_currentPage - 1);
}

void PreviewWindow::ToolButton2Click()
{
    showPage(m_currentPage + 1);
}

void PreviewWindow::LastPageClick()
{
    showPage(pageCount());
}

void PreviewWindow::PrintSetupClick()
{
    if (!m_finished || m_loaded || m_busy)
        return;
    ++m_busy;
    m_report->PrinterSetup(pageCount(), this);
    --m_busy;
}

void PreviewWindow::PrintClick()
{
    if (!m_finished || m_busy)
        return;
    // While a print job runs the other printing and loading commands wait.
    ++m_busy;
    const bool setup = PrintSetup->isEnabled();
    PrintSetup->setEnabled(false);
    Print->setEnabled(false);
    LoadReport->setEnabled(false);
    struct Restore
    {
        PreviewWindow *w;
        bool setup;
        ~Restore()
        {
            --w->m_busy;
            w->PrintSetup->setEnabled(setup);
            w->Print->setEnabled(true);
            w->LoadReport->setEnabled(true);
        }
    } restore{this, setup};
    if (m_loaded)
        m_report->printPages(pages(), m_rangeAtGeneration, this);
    else
        m_report->Print(this);
}

void PreviewWindow::SaveReportClick()
{
    if (!m_finished || m_packed.empty())
        return; // nothing is written while pages are still being made
    QString filter = kPageFileFilter;
    QString path = report::fileDialogs().saveFileName(this, QStringLiteral("Save report"),
                                                      kPageFileFilter + QStringLiteral(";;") + kPdfFilter, &filter);
    if (path.isEmpty())
        return;
    QFileInfo info(path);
    const bool pdf = info.suffix().compare(u"pdf", Qt::CaseInsensitive) == 0
                     || (info.suffix().isEmpty() && filter == kPdfFilter);
    if (info.suffix().isEmpty())
        path += pdf ? QStringLiteral(".pdf") : QStringLiteral(".krp");
    const std::vector<report::ReportPage> all = pages();
    const QString error = pdf ? report::writePdf(path, all) : report::writePageFile(path, all);
    if (!error.isEmpty())
        toolkit::showErrorBox(QStringLiteral("The report could not be saved to \"%1\": %2").arg(path, error));
}

void PreviewWindow::LoadReportClick()
{
    if (m_busy)
        return;
    const QString path = report::fileDialogs().openFileName(this, QStringLiteral("Load report"), kPageFileFilter);
    if (path.isEmpty())
        return;
    if (!QFileInfo(path).isFile()) {
        toolkit::showPlainMessage(QStringLiteral("File does not exist"));
        return;
    }
    std::vector<report::ReportPage> pages;
    const QString error = report::readPageFile(path, pages);
    if (!error.isEmpty()) {
        toolkit::showPlainMessage(error); // the pages shown stay as they were
        return;
    }
    setPages(pages);
    m_loaded = true; // a report still being generated stops
    m_finished = true;
    m_shown = true;
    m_currentPage = 0;
    PrintSetup->setEnabled(false);
    Print->setEnabled(true);
    m_currentPage = 1;
    if (m_mode != ZoomMode::Percent)
        applyMode();
    updateImage();
    resetScroll();
    renewPageInfo();
}

void PreviewWindow::ExitButtonClick()
{
    close();
}

void PreviewWindow::closeEvent(QCloseEvent *event)
{
    m_closing = true;
    event->accept();
    emit closed();
}
