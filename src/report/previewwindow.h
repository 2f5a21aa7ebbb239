#pragma once

#include "page.h"
#include "quickrep.h"

#include <QMainWindow>

#include <vector>

class QAction;
class QLabel;
class QScrollArea;
class QToolBar;
class PageView;

// The report's preview: the pages made so far (or those of a loaded file)
// with zoom and paging, the printer setup, printing, saving and loading.
// Its texts are English, unlike the rest of the program.
class PreviewWindow : public QMainWindow
{
    Q_OBJECT
public:
    enum class ZoomMode { Fit, Width, Percent };

    explicit PreviewWindow(QuickRep *report, QWidget *parent = nullptr);
    ~PreviewWindow() override;

    // The page source, fed by the report while it generates.
    void addPage(report::ReportPage &&page);
    void reportProgress(int percent);
    void generationFinished();
    void setPrintRangeAtGeneration(const PrintSettings &settings) { m_rangeAtGeneration = settings; }

    // Generation stops when the window is closed or its pages were replaced.
    bool stopRequested() const { return m_closing || m_loaded; }
    bool isClosing() const { return m_closing; }
    bool isBusy() const { return m_busy > 0; }
    bool isFinished() const { return m_finished; }
    bool isLoaded() const { return m_loaded; }

    // The pages are kept packed (a page file's encoding, compressed): a
    // long report costs a few hundred bytes a Support, and the page shown
    // is unpacked when it is asked for.
    std::vector<report::ReportPage> pages() const;
    int pageCount() const { return int(m_packed.size()); }
    // The memory the packed pages take.
    qsizetype packedBytes() const;
    int currentPage() const { return m_currentPage; }
    const report::ReportPage *shownPage() const;
    int zoom() const { return m_zoom; }
    ZoomMode zoomMode() const { return m_mode; }
    QString progressText() const;
    QString pageInfoText() const;
    QScrollArea *pageArea() const { return m_area; }
    // The page's size on the screen at zoom 100, in pixels.
    QSize pagePixels() const;
    // The page image: the page at the zoom plus its outline and shadow.
    QSize imageSize() const;

    // Paging and zoom, as the buttons and keys do them.
    bool setZoom(int percent);
    void showPage(int page);

    // The tool bar, left to right.
    QAction *ZoomFit;
    QAction *Zoom100;
    QAction *ZoomToWidth;
    QAction *FirstPage;
    QAction *PreviousPage;
    QAction *ToolButton2;
    QAction *LastPage;
    QAction *PrintSetup;
    QAction *Print;
    QAction *SaveReport;
    QAction *LoadReport;
    QAction *ExitButton;
    QToolBar *toolBar() const { return m_toolBar; }

    void ZoomFitClick();
    void Zoom100Click();
    void ZoomToWidthClick();
    void FirstPageClick();
    void PreviousPageClick();
    void ToolButton2Click();
    void LastPageClick();
    void PrintSetupClick();
    void PrintClick();
    void SaveReportClick();
    void LoadReportClick();
    void ExitButtonClick();

signals:
    void closed();
    void pageAdded(int count);
    void finished(); // generation has ended and printing is possible

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setMode(ZoomMode mode);
    void applyMode();
    void renewPageInfo();
    void updateImage();
    void resetScroll();

    QuickRep *m_report;
    QToolBar *m_toolBar;
    QScrollArea *m_area;
    PageView *m_view;
    QLabel *m_progressPanel;
    QLabel *m_pageInfoPanel;

    void setPages(const std::vector<report::ReportPage> &pages);

    std::vector<QByteArray> m_packed;
    mutable int m_unpackedNumber = 0; // the page m_unpacked holds; 0: none
    mutable report::ReportPage m_unpacked;
    PrintSettings m_rangeAtGeneration;
    int m_currentPage = 1;
    int m_zoom = 100;
    ZoomMode m_mode = ZoomMode::Width;
    int m_lastProgress = 0;
    int m_busy = 0;
    bool m_shown = false;
    bool m_finished = false;
    bool m_loaded = false;
    bool m_closing = false;
};
